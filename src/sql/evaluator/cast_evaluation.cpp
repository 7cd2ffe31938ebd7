// CAST: plain assignment, or, with format options, formatting to text and
// parsing from text with a date format, a time format with its AM and PM
// words, a decimal character and the words for TRUE and FALSE.
#include <cstdint>
#include <string>

#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/types/date_format.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/function_routines.h"
#include "sql/tree/expr_token.h"

namespace brn::evaluation {

namespace {

// Argument positions of a CAST node.
constexpr int32_t kValueArgument = 0;
constexpr int32_t kDateFormatArgument = 2;
constexpr int32_t kTimeFormatArgument = 3;
constexpr int32_t kDecimalCharArgument = 4;
constexpr int32_t kBooleanWordsArgument = 5;

TBRNExprToken* ArgumentOrNil(const TBRNExprToken* Node, int32_t Index) {
  return Index < Node->ArgumentCount() ? Node->Argument(Index) : nullptr;
}

// The text of an option node (evaluated), or Default when it is absent. A
// NULL option reads as empty text.
std::string OptionText(TBRNExprEvaluator& E, TBRNExprToken* Option, const char* Default) {
  if (Option == nullptr) return Default;
  E.EvaluateToken(Option);
  return Option->Value->GetAsString();
}

struct CastOptions {
  TBRNDateFormat DateFormat;
  TBRNTimeFormat TimeFormat;
  char DecimalChar = '.';
  std::string TrueWord = "TRUE";
  std::string FalseWord = "FALSE";
};

void ReadOptions(TBRNExprEvaluator& E, TBRNExprToken* Node, CastOptions& Options) {
  const std::string dateFormat =
      OptionText(E, ArgumentOrNil(Node, kDateFormatArgument), "yyyy-mm-dd");
  TBRNExprToken* time = ArgumentOrNil(Node, kTimeFormatArgument);
  const std::string timeFormat = OptionText(E, time, "hh:mm:ss.zzz");
  const std::string am = OptionText(E, time == nullptr ? nullptr : ArgumentOrNil(time, 0), "AM");
  const std::string pm = OptionText(E, time == nullptr ? nullptr : ArgumentOrNil(time, 1), "PM");
  ParseDateFormat(dateFormat, Options.DateFormat);
  ParseTimeFormat(timeFormat, am, pm, Options.TimeFormat);
  const std::string decimalChar = OptionText(E, ArgumentOrNil(Node, kDecimalCharArgument), ".");
  if (!decimalChar.empty()) Options.DecimalChar = decimalChar[0];
  if (TBRNExprToken* words = ArgumentOrNil(Node, kBooleanWordsArgument)) {
    Options.TrueWord = OptionText(E, ArgumentOrNil(words, 0), "TRUE");
    Options.FalseWord = OptionText(E, ArgumentOrNil(words, 1), "FALSE");
  }
}

// Character data or a CLOB.
bool IsTextValue(const TBRNValue& Value) {
  return Value.GetDataType() == dtChar ||
         (Value.GetDataType() == dtLob && Value.GetSubType() == stClob);
}

// V formatted by its own type for a character target.
std::string FormatValue(const TBRNValue& Value, const CastOptions& Options) {
  switch (Value.GetDataType()) {
    case dtBoolean:
      return Value.GetAsBoolean() ? Options.TrueWord : Options.FalseWord;
    case dtFloat:
      return FormatFloatWithSeparator(Options.DecimalChar, Value.GetAsFloat());
    case dtDecimal:
      return FormatDecimalWithSeparator(Options.DecimalChar, Value.GetAsDecimal());
    case dtDate:
      return FormatDateByFormat(Value.GetAsDate(), Options.DateFormat);
    case dtTime:
      return FormatTimeByFormat(Value.GetAsTime(), Options.TimeFormat);
    case dtTimestamp:
      return FormatTimestampByFormat(Options.DateFormat, Options.TimeFormat,
                                     Value.GetAsTimestamp());
    default:
      return Value.GetAsString();
  }
}

// A text that does not read as the target type: the conversion error,
// naming the text (never the previous row's result).
[[noreturn]] void RaiseUnreadable(const std::string& Text) {
  RaiseConversionFailure("value", Text, TBRNValue::ConversionDetail(Text, true));
}

// V's text parsed by the target's type and written; false for a target
// type that is not parsed (it is assigned instead).
bool ParseInto(TBRNValue& Result, const std::string& Text, const CastOptions& Options) {
  switch (Result.GetDataType()) {
    case dtBoolean: {
      bool value = false;
      if (!ParseBooleanByWords(Text, Options.TrueWord, Options.FalseWord, value))
        RaiseUnreadable(Text);
      Result.SetAsBoolean(value);
      return true;
    }
    case dtFloat: {
      double value = 0;
      if (!ParseFloatWithSeparator(Text, Options.DecimalChar, value)) RaiseUnreadable(Text);
      Result.SetAsFloat(value);
      return true;
    }
    case dtDecimal: {
      int64_t value = 0;
      if (!ParseDecimalWithSeparator(Text, Options.DecimalChar, value)) RaiseUnreadable(Text);
      Result.SetAsDecimal(value);
      return true;
    }
    case dtDate: {
      int32_t value = 0;
      if (!ParseDateByFormat(Text, Options.DateFormat, value)) RaiseUnreadable(Text);
      Result.SetAsDate(value);
      return true;
    }
    case dtTime: {
      int32_t value = 0;
      if (!ParseTimeByFormat(Text, Options.TimeFormat, value)) RaiseUnreadable(Text);
      Result.SetAsTime(value);
      return true;
    }
    case dtTimestamp: {
      int64_t value = 0;
      if (!ParseTimestampByFormat(Text, Options.DateFormat, Options.TimeFormat, value))
        RaiseUnreadable(Text);
      Result.SetAsTimestamp(value);
      return true;
    }
    default:
      return false;
  }
}

bool HasOptions(const TBRNExprToken* Node) {
  for (int32_t i = kDateFormatArgument; i <= kBooleanWordsArgument; ++i)
    if (ArgumentOrNil(Node, i) != nullptr) return true;
  return false;
}

}  // namespace

void EvaluateCast(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* source = EvaluatedArgument(E, Node, kValueArgument);
  if (StopsOnNull(E, Node, source)) return;
  TBRNValue& result = *Node->Value;
  const TBRNValue& value = *source->Value;
  if (!HasOptions(Node)) {
    result.Assign(value);
    return;
  }
  // Under the engine's own NULL rules too, a NULL has nothing to format or
  // to read: it stays NULL, as plain assignment keeps it.
  if (value.GetNull()) {
    result.SetNull(true);
    return;
  }
  CastOptions options;
  ReadOptions(E, Node, options);
  if (IsTextValue(result)) {
    result.SetAsString(FormatValue(value, options));
    return;
  }
  // The formats describe text: a value of another type (a date cast to a
  // timestamp, an integer to a Boolean) converts as it would without them,
  // instead of having its own literal text read by a user format.
  if (!IsTextValue(value) || !ParseInto(result, value.GetAsString(), options)) result.Assign(value);
}

}  // namespace brn::evaluation
