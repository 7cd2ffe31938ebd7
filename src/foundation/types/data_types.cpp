#include "foundation/types/data_types.h"

#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"

namespace brn {

namespace {

// Fixed storage size by code; codes 1..3 take their declared length instead.
constexpr int32_t fixedSizes[15] = {0, 0, 0, 0, 1, 2, 4, 8, 8, 8, 4, 4, 8, 4, 8};

bool IsKnownCode(int32_t code) {
  return code >= dtNull && code <= dtDayTimeInterval;
}

const char* YearMonthQualifierName(int32_t qualifier) {
  switch (qualifier) {
    case ifMonth:
      return "Month";
    case ifYear:
      return "Year";
    case ifYear | ifMonth:
      return "Year To Month";
    default:
      return nullptr;
  }
}

// The fifteen contiguous day-time qualifiers; anything else has no name and
// is not valid.
const char* DayTimeQualifierName(int32_t qualifier) {
  switch (qualifier) {
    case 8:
      return "MSecond";
    case 16:
      return "Second";
    case 24:
      return "Second To MSecond";
    case 32:
      return "Minute";
    case 48:
      return "Minute To Second";
    case 56:
      return "Minute To MSecond";
    case 64:
      return "Hour";
    case 96:
      return "Hour To Minute";
    case 112:
      return "Hour To Second";
    case 120:
      return "Hour To MSecond";
    case 128:
      return "Day";
    case 192:
      return "Day To Hour";
    case 224:
      return "Day To Minute";
    case 240:
      return "Day To Second";
    case 248:
      return "Day To MSecond";
    default:
      return nullptr;
  }
}

const char* QualifierName(TBRNDataTypeCode dataType, TBRNDataSubType subType) {
  if (dataType == dtYearMonthInterval) return YearMonthQualifierName(subType);
  if (dataType == dtDayTimeInterval) return DayTimeQualifierName(subType);
  return nullptr;
}

// "(arguments)" after a type keyword, built by appending (GCC 12 warns
// wrongly about overlapping copies in chained concatenations here).
void AppendArguments(std::string& text, const std::string& arguments) {
  text.push_back('(');
  text.append(arguments);
  text.push_back(')');
}

}  // namespace

bool IsValidYearMonthQualifier(int32_t qualifier) {
  return YearMonthQualifierName(qualifier) != nullptr;
}

bool IsValidDayTimeQualifier(int32_t qualifier) {
  return DayTimeQualifierName(qualifier) != nullptr;
}

void NormalizeDataType(TBRNDataTypeCode NewType, TBRNDataTypeCode& DataType,
                       TBRNDataSubType& SubType, int32_t& Length, int32_t& DataSize, int32_t& Scale,
                       int32_t& Collation) {
  DataType = NewType;
  switch (NewType) {
    case dtChar:
    case dtBytes:
      if (SubType != stFixed && SubType != stGuid) SubType = stDefault;
      Scale = 0;
      if (NewType == dtBytes) Collation = 0;
      return;
    case dtLob:
      if (SubType != stClob) {
        SubType = stDefault;
        Collation = 0;
      }
      Length = 0;
      DataSize = 0;
      Scale = 0;
      return;
    case dtYearMonthInterval:
      if (!IsValidYearMonthQualifier(SubType)) SubType = 0;
      break;
    case dtDayTimeInterval:
      if (!IsValidDayTimeQualifier(SubType)) SubType = 0;
      break;
    case dtBoolean:
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
    case dtFloat:
    case dtDecimal:
    case dtDate:
    case dtTime:
    case dtTimestamp:
      SubType = stDefault;
      break;
    default:
      // dtNull and unknown codes: only the code changes.
      return;
  }
  Length = 0;
  DataSize = fixedSizes[NewType];
  Scale = 0;
  Collation = 0;
}

void NormalizeDataSubType(TBRNDataTypeCode DataType, TBRNDataSubType NewSubType,
                          TBRNDataSubType& SubType, int32_t& Length, int32_t& DataSize,
                          int32_t& Scale, int32_t& Collation) {
  (void)Scale;
  switch (DataType) {
    case dtChar:
    case dtBytes:
      if (NewSubType == stDefault || NewSubType == stFixed || NewSubType == stGuid) {
        SubType = NewSubType;
        if (NewSubType == stGuid) {
          Length = DataType == dtChar ? GuidTextLength : GuidByteLength;
          DataSize = Length;
        }
      }
      return;
    case dtLob:
      if (NewSubType == stClob) {
        SubType = stClob;
      } else if (NewSubType == stDefault) {
        SubType = stDefault;
        Collation = 0;
      }
      return;
    case dtYearMonthInterval:
      if (IsValidYearMonthQualifier(NewSubType)) SubType = NewSubType;
      return;
    case dtDayTimeInterval:
      if (IsValidDayTimeQualifier(NewSubType)) SubType = NewSubType;
      return;
    default:
      SubType = stDefault;
      return;
  }
}

void NormalizeDataLength(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t NewLength,
                         bool ShortPrefix, int32_t& DataSize, int32_t& Length) {
  switch (DataType) {
    case dtChar:
    case dtBytes:
      Length = NewLength;
      DataSize = NewLength;
      // Saturate rather than overflow: a length this large is refused by the
      // callers' own range checks anyway.
      if (SubType == stDefault) {
        int32_t prefix = ShortPrefix ? 2 : 4;
        DataSize = NewLength > INT32_MAX - prefix ? INT32_MAX : NewLength + prefix;
      }
      return;
    case dtLob:
      Length = NewLength;
      DataSize = NewLength;
      return;
    default:
      Length = 0;
      return;
  }
}

void NormalizeCollation(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t NewCollation,
                        int32_t& Collation) {
  Collation = IsTextDataType(DataType, SubType) ? NewCollation : 0;
}

void NormalizeScale(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t NewScale,
                    int32_t& Scale) {
  (void)SubType;
  if (DataType != dtDecimal) {
    Scale = 0;
  } else if (NewScale >= 0 && NewScale <= 4) {
    Scale = NewScale;
  }
}

std::string DataTypeName(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  const char* unknown = "Unknown";
  switch (DataType) {
    case dtChar:
    case dtBytes: {
      bool text = DataType == dtChar;
      if (SubType == stDefault) return text ? "VarChar" : "VarByte";
      if (SubType == stFixed) return text ? "Char" : "Byte";
      if (SubType == stGuid) return "GUID";
      return unknown;
    }
    case dtLob:
      if (SubType == stDefault) return "BLOB";
      if (SubType == stClob) return "CLOB";
      return unknown;
    case dtBoolean:
      return "Boolean";
    case dtSmallInt:
      return "SmallInt";
    case dtInteger:
      return "Integer";
    case dtBigInt:
      return "BigInt";
    case dtFloat:
      return "Float";
    case dtDecimal:
      return "Decimal";
    case dtDate:
      return "Date";
    case dtTime:
      return "Time";
    case dtTimestamp:
      return "Timestamp";
    case dtYearMonthInterval:
    case dtDayTimeInterval: {
      const char* qualifier = QualifierName(DataType, SubType);
      return qualifier ? std::string("Interval ") + qualifier : unknown;
    }
    default:
      return unknown;
  }
}

std::string DataTypeDefinition(TBRNDataTypeCode DataType, TBRNDataSubType SubType, int32_t Length,
                               int32_t Scale) {
  std::string text;
  switch (DataType) {
    case dtChar:
    case dtBytes: {
      bool isText = DataType == dtChar;
      if (SubType == stGuid) {
        text = "GUID";
      } else {
        text = SubType == stFixed ? (isText ? "Char" : "Byte") : (isText ? "VarChar" : "VarByte");
        if (Length != 0) AppendArguments(text, IntegerToString(Length));
      }
      break;
    }
    case dtLob:
      text = SubType == stClob ? "CLOB" : "BLOB";
      break;
    case dtDecimal:
      text = "Decimal";
      if (Scale != 0) AppendArguments(text, "19," + IntegerToString(Scale));
      break;
    case dtYearMonthInterval:
    case dtDayTimeInterval:
      if (QualifierName(DataType, SubType) == nullptr) return std::string();
      text = DataTypeName(DataType, SubType);
      break;
    default:
      if (!IsKnownCode(DataType) || DataType == dtNull) return std::string();
      text = DataTypeName(DataType, SubType);
      break;
  }
  return UpperCaseText(text);
}

std::string IntervalQualifierText(TBRNDataTypeCode DataType, TBRNDataSubType SubType) {
  const char* qualifier = QualifierName(DataType, SubType);
  return qualifier ? UpperCaseText(qualifier) : std::string();
}

int32_t DataTypeStorageSize(TBRNDataTypeCode DataType, int32_t Size) {
  if (DataType >= dtChar && DataType <= dtLob) return Size;
  return IsKnownCode(DataType) ? fixedSizes[DataType] : 0;
}

}  // namespace brn
