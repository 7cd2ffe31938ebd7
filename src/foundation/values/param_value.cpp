#include "foundation/values/param_value.h"

#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

TBRNParamValue* ParamAt(const TBRNValues& list, int32_t index) {
  return dynamic_cast<TBRNParamValue*>(list.GetItem(index));
}

}  // namespace

bool TBRNParamValue::IsOutput() const {
  return Direction == pmOutput || Direction == pmInputOutput || Direction == pmResult;
}

void TBRNParamValue::RaiseParamError(const std::string& detail) const {
  RaiseConversionFailure("parameter", Name, detail);
}

void TBRNParamValue::RaiseTruncationError(std::string_view Text, bool IncludeText) const {
  RaiseParamError(TruncationDetail(Text, IncludeText));
}

void TBRNParamValue::RaiseOutOfRangeError(std::string_view Text, bool IncludeText) const {
  RaiseParamError(OutOfRangeDetail(Text, IncludeText));
}

void TBRNParamValue::RaiseConversionError(std::string_view Text, bool IncludeText) const {
  RaiseParamError(ConversionDetail(Text, IncludeText));
}

void TBRNParamValue::SaveToStream(TBRNMemoryStream& Stream) const {
  SaveParamToStream(Stream, true);
}

void TBRNParamValue::LoadFromStream(TBRNMemoryStream& Stream) {
  LoadParamFromStream(Stream, true);
}

void TBRNParamValue::SaveParamToStream(TBRNMemoryStream& Stream, bool WithHeader) const {
  if (WithHeader) {
    Stream.WriteInteger(Direction);
    Stream.WriteString(Name);
    Stream.WriteInteger(DataType);
    Stream.WriteInteger(SubType);
    Stream.WriteInteger(GetDeclaredLength());
    Stream.WriteInteger(Scale);
    Stream.WriteInteger(Collation);
  }
  TBRNContainedValue::SaveToStream(Stream);
}

void TBRNParamValue::LoadParamFromStream(TBRNMemoryStream& Stream, bool WithHeader) {
  if (WithHeader) {
    Direction = Stream.ReadInteger();
    Stream.ReadString(Name);
    SetDataType(TBRNDataTypeCode(Stream.ReadInteger()));
    SetDataSubType(Stream.ReadInteger());
    int32_t length = Stream.ReadInteger();
    // The buffer is sized from the declared length: a negative one, or one
    // beyond what a Char or Bytes type may declare, cannot come from a
    // parameter and must not reach it, NULL or not.
    bool sized = DataType == dtChar || DataType == dtBytes;
    if (length < 0 || (sized && length > MaxDeclaredLength))
      RaiseConversionError(IntegerToString(length), true);
    SetScale(Stream.ReadInteger());
    SetCollation(Stream.ReadInteger());
    // A fixed-width value takes its whole (bounded) width now, NULL or not,
    // so that it never holds fewer bytes than it declares. Other lengths are
    // only a limit and allocate nothing (a LOB's is not bounded).
    if (IsFixedText()) {
      SetLength(length);
    } else {
      SetDeclaredLengthOnly(length);
    }
  }
  TBRNContainedValue::LoadFromStream(Stream);
}

TBRNValue* TBRNParamValues::CreateValue(int32_t Index) {
  (void)Index;
  return new TBRNParamValue();
}

TBRNParamValue* TBRNParamValues::FindParam(std::string_view Name) const {
  for (int32_t i = 0; i < Count; ++i) {
    TBRNParamValue* param = ParamAt(*this, i);
    if (param && TextEqualsIgnoreCase(param->GetName(), Name)) return param;
  }
  RaiseParamNotFound(Name);
  // An override that returns breaks the contract; never hand back nullptr.
  throw std::logic_error("RaiseParamNotFound returned");
}

void TBRNParamValues::ClearParams() {
  if (GetOwnsValues()) FreeValues();
}

void TBRNParamValues::RaiseParamNotFound(std::string_view Name) const {
  throw EBRNException(401, FormatText("The %s %s does not exist", {"parameter", Name}));
}

void TBRNParamValues::SaveOutputParams(TBRNMemoryStream& Stream) const {
  for (int32_t i = 0; i < Count; ++i) {
    const TBRNParamValue* param = ParamAt(*this, i);
    if (param && param->IsOutput()) param->SaveParamToStream(Stream, false);
  }
}

void TBRNParamValues::LoadOutputParams(TBRNMemoryStream& Stream) {
  for (int32_t i = 0; i < Count; ++i) {
    TBRNParamValue* param = ParamAt(*this, i);
    if (param && param->IsOutput()) param->LoadParamFromStream(Stream, false);
  }
}

}  // namespace brn
