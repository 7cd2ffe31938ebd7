#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/float_date.h"

namespace brn {

// The platform's Variant type codes.
using TVarType = uint16_t;
inline constexpr TVarType varEmpty = 0;
inline constexpr TVarType varNull = 1;
inline constexpr TVarType varSmallint = 2;
inline constexpr TVarType varInteger = 3;
inline constexpr TVarType varSingle = 4;
inline constexpr TVarType varDouble = 5;
inline constexpr TVarType varCurrency = 6;
inline constexpr TVarType varDate = 7;
inline constexpr TVarType varOleStr = 8;
inline constexpr TVarType varBoolean = 11;
inline constexpr TVarType varShortInt = 16;
inline constexpr TVarType varByte = 17;
inline constexpr TVarType varWord = 18;
inline constexpr TVarType varLongWord = 19;
inline constexpr TVarType varInt64 = 20;
inline constexpr TVarType varStrArg = 72;
inline constexpr TVarType varString = 256;
// Flag over an element type: a one-dimensional array of that element.
inline constexpr TVarType varArray = 0x2000;
inline constexpr TVarType varTypeMask = 0x0FFF;

// A tagged variant of the platform: one datum of the types above. Only byte
// arrays (varArray | varByte) are supported as arrays, which is all the
// engine exchanges. A currency is an int64 scaled by 10000; a date is a
// TDateTime; a wide string holds UTF-16 code units.
class TVariant {
 public:
  TVariant() = default;  // Empty

  static TVariant Null();
  static TVariant FromSmallInt(int16_t value);
  static TVariant FromInteger(int32_t value);
  static TVariant FromSingle(float value);
  static TVariant FromDouble(double value);
  static TVariant FromCurrency(int64_t scaled);
  static TVariant FromDate(TDateTime value);
  static TVariant FromOleStr(std::u16string_view value);
  static TVariant FromStrArg(std::u16string_view value);
  static TVariant FromBoolean(bool value);
  static TVariant FromShortInt(int8_t value);
  static TVariant FromByte(uint8_t value);
  static TVariant FromWord(uint16_t value);
  static TVariant FromLongWord(uint32_t value);
  static TVariant FromInt64(int64_t value);
  static TVariant FromString(std::string_view value);
  static TVariant FromByteArray(std::vector<uint8_t> bytes);

  TVarType VType() const { return Type; }
  bool IsEmptyOrNull() const { return Type == varEmpty || Type == varNull; }
  bool IsArray() const { return (Type & varArray) != 0; }

  // Readers of the held datum; each throws std::logic_error when the
  // variant holds another type.
  int16_t AsSmallInt() const;
  int32_t AsInteger() const;
  float AsSingle() const;
  double AsDouble() const;
  int64_t AsCurrency() const;
  TDateTime AsDate() const;
  const std::u16string& AsWideString() const;  // varOleStr, varStrArg
  bool AsBoolean() const;
  int8_t AsShortInt() const;
  uint8_t AsByte() const;
  uint16_t AsWord() const;
  uint32_t AsLongWord() const;
  int64_t AsInt64() const;
  const std::string& AsString() const;  // varString
  const std::vector<uint8_t>& AsByteArray() const;

 private:
  // A variant of an integer type (and of currency), held in Data.Int.
  static TVariant OfInteger(TVarType type, int64_t value);
  void Check(TVarType expected) const;

  TVarType Type = varEmpty;
  union {
    int64_t Int = 0;
    double Real;
    float Single;
    bool Bool;
  } Data;
  std::string Ansi;
  std::u16string Wide;
  std::vector<uint8_t> Bytes;
};

// Windows-1252 text of UTF-16 code units; a unit without a byte in the page
// becomes '?'.
std::string WideToAnsi(std::u16string_view text);

}  // namespace brn
