// The date and time functions: the current moment and EXTRACT.
#include <cstdint>

#include "foundation/types/date_time.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/function_routines.h"
#include "sql/tree/expr_token.h"

namespace brn::evaluation {

namespace {

// The UTC option is the call's only argument.
bool WantsUTC(const TBRNExprToken* Node) {
  return Node->ArgumentCount() == 1;
}

bool IsDateType(TBRNDataTypeCode Type) {
  return Type == dtDate || Type == dtTimestamp;
}

bool IsTimeType(TBRNDataTypeCode Type) {
  return Type == dtTime || Type == dtTimestamp;
}

// The field of a day-time interval under its own qualifier.
bool DayTimeField(const TBRNValue& Value, TBRNExprOperation Field, int64_t& Result) {
  TBRNDayTimeParts parts;
  SplitDayTimeInterval(Value.GetSubType(), parts, Value.GetAsDayTimeInterval());
  switch (Field) {
    case opExtractDay:
      Result = parts.Days;
      return true;
    case opExtractHour:
      Result = parts.Hours;
      return true;
    case opExtractMinute:
      Result = parts.Minutes;
      return true;
    case opExtractSecond:
      Result = parts.Seconds;
      return true;
    case opExtractMSecond:
      Result = parts.MSeconds;
      return true;
    default:
      return false;
  }
}

// The field Field of Value; false when the value's type has no such field.
bool ExtractField(const TBRNValue& Value, TBRNExprOperation Field, int64_t& Result) {
  const TBRNDataTypeCode type = Value.GetDataType();
  if (type == dtDayTimeInterval) return DayTimeField(Value, Field, Result);
  switch (Field) {
    case opExtractDay:
    case opExtractMonth:
    case opExtractYear: {
      if (type == dtYearMonthInterval) {
        if (Field == opExtractDay) return false;
        TBRNYearMonthParts parts;
        SplitYearMonthInterval(Value.GetAsYearMonthInterval(), Value.GetSubType(), parts);
        Result = Field == opExtractMonth ? parts.Months : parts.Years;
        return true;
      }
      if (!IsDateType(type)) return false;
      TBRNDateParts parts;
      DecodeDayNumber(Value.GetAsDate(), parts);
      Result = Field == opExtractDay     ? parts.Day
               : Field == opExtractMonth ? parts.Month
                                         : parts.Year;
      return true;
    }
    case opExtractDayOfWeek:
    case opExtractDayOfYear:
    case opExtractWeek: {
      if (!IsDateType(type)) return false;
      const int32_t day = Value.GetAsDate();
      Result = Field == opExtractDayOfWeek   ? WeekdayOfDate(day)
               : Field == opExtractDayOfYear ? DayOfYearNumber(day)
                                             : ISOWeekNumber(day);
      return true;
    }
    case opExtractHour:
    case opExtractMinute:
    case opExtractSecond:
    case opExtractMSecond: {
      if (!IsTimeType(type)) return false;
      TBRNTimeParts parts;
      DecodeTimeOfDay(Value.GetAsTime(), parts);
      Result = Field == opExtractHour     ? parts.Hour
               : Field == opExtractMinute ? parts.Minute
               : Field == opExtractSecond ? parts.Second
                                          : parts.MSecond;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

void EvaluateCurrentDate(TBRNExprEvaluator&, TBRNExprToken* Node) {
  Node->Value->SetAsDate(CurrentDate(WantsUTC(Node)));
}

void EvaluateCurrentTime(TBRNExprEvaluator&, TBRNExprToken* Node) {
  Node->Value->SetAsTime(CurrentTime(WantsUTC(Node)));
}

void EvaluateCurrentTimestamp(TBRNExprEvaluator&, TBRNExprToken* Node) {
  Node->Value->SetAsTimestamp(CurrentTimestamp(WantsUTC(Node)));
}

void EvaluateExtract(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* argument = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, argument)) return;
  int64_t field = 0;
  if (!ExtractField(*argument->Value, TBRNExprOperation(Node->Operation), field)) {
    // A type without that field: no result.
    Node->Value->SetNull(true);
    return;
  }
  // A day count of a huge interval may not fit the Integer result: 1011.
  Node->Value->SetAsBigInt(field);
}

}  // namespace brn::evaluation
