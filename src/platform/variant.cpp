#include "platform/variant.h"

#include <stdexcept>

#include "platform/code_pages.h"

namespace brn {

TVariant TVariant::OfInteger(TVarType type, int64_t value) {
  TVariant v;
  v.Type = type;
  v.Data.Int = value;
  return v;
}

TVariant TVariant::Null() {
  TVariant v;
  v.Type = varNull;
  return v;
}

TVariant TVariant::FromSmallInt(int16_t value) {
  return OfInteger(varSmallint, value);
}

TVariant TVariant::FromInteger(int32_t value) {
  return OfInteger(varInteger, value);
}

TVariant TVariant::FromSingle(float value) {
  TVariant v;
  v.Type = varSingle;
  v.Data.Single = value;
  return v;
}

TVariant TVariant::FromDouble(double value) {
  TVariant v;
  v.Type = varDouble;
  v.Data.Real = value;
  return v;
}

TVariant TVariant::FromCurrency(int64_t scaled) {
  return OfInteger(varCurrency, scaled);
}

TVariant TVariant::FromDate(TDateTime value) {
  TVariant v;
  v.Type = varDate;
  v.Data.Real = value;
  return v;
}

TVariant TVariant::FromOleStr(std::u16string_view value) {
  TVariant v;
  v.Type = varOleStr;
  v.Wide.assign(value);
  return v;
}

TVariant TVariant::FromStrArg(std::u16string_view value) {
  TVariant v = FromOleStr(value);
  v.Type = varStrArg;
  return v;
}

TVariant TVariant::FromBoolean(bool value) {
  TVariant v;
  v.Type = varBoolean;
  v.Data.Bool = value;
  return v;
}

TVariant TVariant::FromShortInt(int8_t value) {
  return OfInteger(varShortInt, value);
}

TVariant TVariant::FromByte(uint8_t value) {
  return OfInteger(varByte, value);
}

TVariant TVariant::FromWord(uint16_t value) {
  return OfInteger(varWord, value);
}

TVariant TVariant::FromLongWord(uint32_t value) {
  return OfInteger(varLongWord, value);
}

TVariant TVariant::FromInt64(int64_t value) {
  return OfInteger(varInt64, value);
}

TVariant TVariant::FromString(std::string_view value) {
  TVariant v;
  v.Type = varString;
  v.Ansi.assign(value);
  return v;
}

TVariant TVariant::FromByteArray(std::vector<uint8_t> bytes) {
  TVariant v;
  v.Type = varArray | varByte;
  v.Bytes = std::move(bytes);
  return v;
}

void TVariant::Check(TVarType expected) const {
  if (Type != expected) throw std::logic_error("Variant does not hold the requested type");
}

int16_t TVariant::AsSmallInt() const {
  Check(varSmallint);
  return int16_t(Data.Int);
}

int32_t TVariant::AsInteger() const {
  Check(varInteger);
  return int32_t(Data.Int);
}

float TVariant::AsSingle() const {
  Check(varSingle);
  return Data.Single;
}

double TVariant::AsDouble() const {
  Check(varDouble);
  return Data.Real;
}

int64_t TVariant::AsCurrency() const {
  Check(varCurrency);
  return Data.Int;
}

TDateTime TVariant::AsDate() const {
  Check(varDate);
  return Data.Real;
}

const std::u16string& TVariant::AsWideString() const {
  if (Type != varStrArg) Check(varOleStr);
  return Wide;
}

bool TVariant::AsBoolean() const {
  Check(varBoolean);
  return Data.Bool;
}

int8_t TVariant::AsShortInt() const {
  Check(varShortInt);
  return int8_t(Data.Int);
}

uint8_t TVariant::AsByte() const {
  Check(varByte);
  return uint8_t(Data.Int);
}

uint16_t TVariant::AsWord() const {
  Check(varWord);
  return uint16_t(Data.Int);
}

uint32_t TVariant::AsLongWord() const {
  Check(varLongWord);
  return uint32_t(Data.Int);
}

int64_t TVariant::AsInt64() const {
  Check(varInt64);
  return Data.Int;
}

const std::string& TVariant::AsString() const {
  Check(varString);
  return Ansi;
}

const std::vector<uint8_t>& TVariant::AsByteArray() const {
  Check(varArray | varByte);
  return Bytes;
}

std::string WideToAnsi(std::u16string_view text) {
  const SingleByteCodePage* page = FindSingleByteCodePage(SystemCodePage);
  std::string result;
  result.reserve(text.size());
  for (char16_t c : text) {
    int32_t b = page != nullptr ? page->FromUnicode(c) : (c < 128 ? int32_t(c) : -1);
    result.push_back(b < 0 ? '?' : char(b));
  }
  return result;
}

}  // namespace brn
