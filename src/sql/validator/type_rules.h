#pragma once

#include <bitset>
#include <cstdint>
#include <initializer_list>

#include "foundation/types/data_types.h"

namespace brn {

// A type class: the set of data-type codes and the set of subtypes that a
// node may carry to pass a check. A node belongs to the class when its
// DataType is in Types and its SubType in SubTypes; a code or subtype outside
// 0..255 never belongs. Classes are plain values, built once as constants.
struct TBRNTypeClass {
  std::bitset<256> Types;
  std::bitset<256> SubTypes;

  // The NULL type has no subtypes: it belongs with subtype 0 whatever the
  // subtype set holds, and adds no subtype to a union (so NULL | CLOB does
  // not let a BLOB, type 3 with subtype 0, pass).
  bool Contains(int32_t DataType, int32_t SubType) const {
    if (DataType == dtNull) return Types.test(0) && SubType == stDefault;
    return DataType >= 0 && DataType < 256 && SubType >= 0 && SubType < 256 &&
           Types.test(size_t(DataType)) && SubTypes.test(size_t(SubType));
  }
  bool HasType(int32_t DataType) const {
    return DataType >= 0 && DataType < 256 && Types.test(size_t(DataType));
  }
  bool HasSubType(int32_t SubType) const {
    return SubType >= 0 && SubType < 256 && SubTypes.test(size_t(SubType));
  }
  // The union: the listed types with the union of their subtypes.
  TBRNTypeClass operator|(const TBRNTypeClass& Other) const {
    return {Types | Other.Types, SubTypes | Other.SubTypes};
  }
  bool operator==(const TBRNTypeClass& Other) const = default;
};

// The class of the listed types with the listed subtypes.
TBRNTypeClass TypeClass(std::initializer_list<int32_t> Types,
                        std::initializer_list<int32_t> SubTypes = {stDefault});

// The named classes of the type rules. Char and Bytes stand for the type with
// the subtypes 0, 130 and 140; CLOB is type 3 with 150, BLOB type 3 with 0.
// I = SmallInt, Integer, BigInt; N = I, Float, Decimal. YM is the year-month
// interval with every qualifier (2, 4, 6), YM1 the single-field ones (2, 4);
// DT the day-time interval with all fifteen qualifiers, DT1 the single-field
// ones (8, 16, 32, 64, 128), DTt those without a day field.
namespace type_classes {
extern const TBRNTypeClass Null;
extern const TBRNTypeClass Char;
extern const TBRNTypeClass Bytes;
extern const TBRNTypeClass Clob;
extern const TBRNTypeClass Blob;
extern const TBRNTypeClass Boolean;
extern const TBRNTypeClass I;
extern const TBRNTypeClass N;
extern const TBRNTypeClass Date;
extern const TBRNTypeClass Time;
extern const TBRNTypeClass Timestamp;
extern const TBRNTypeClass YM;
extern const TBRNTypeClass YM1;
extern const TBRNTypeClass DT;
extern const TBRNTypeClass DT1;
extern const TBRNTypeClass DTt;
}  // namespace type_classes

// The year-month class with only the given qualifiers; the day-time class
// likewise.
TBRNTypeClass YearMonthClass(std::initializer_list<int32_t> Qualifiers);
TBRNTypeClass DayTimeClass(std::initializer_list<int32_t> Qualifiers);

// The day-time qualifiers in the order messages name them, with their names.
struct TBRNQualifierName {
  int32_t Qualifier;
  const char* Name;
};
extern const TBRNQualifierName DayTimeQualifierNames[15];
extern const TBRNQualifierName YearMonthQualifierNames[2];

// Whether a day-time qualifier has the day field.
inline constexpr bool HasDayField(int32_t Qualifier) {
  return (Qualifier & ifDay) != 0;
}

}  // namespace brn
