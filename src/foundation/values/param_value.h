#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/values/contained_value.h"
#include "foundation/values/value_list.h"

namespace brn {

// The direction of a parameter.
enum TBRNParamMode : int32_t {
  pmNotSet = 0,
  pmInput = 1,
  pmOutput = 2,
  pmInputOutput = 3,
  pmResult = 4,
};

// One named, typed parameter of a statement, procedure, function or script.
// It holds to its declared length (too-long text or bytes raise error 1011
// rather than being cut), its errors name the parameter, and its stream form
// carries its whole description, so a parameter list needs no other schema on
// the wire or in stored definitions:
//   int32 Direction, Name (int32 length, characters), int32 DataType,
//   SubType, declared length, Scale, Collation, then the value's stream form.
class TBRNParamValue : public TBRNContainedValue {
 public:
  int32_t GetDirection() const { return Direction; }
  void SetDirection(int32_t Value) { Direction = Value; }
  const std::string& GetName() const { return Name; }
  void SetName(std::string_view Value) { Name = Value; }
  // Returned data of an execution: output, input/output and function result.
  bool IsOutput() const;

  [[noreturn]] void RaiseTruncationError(std::string_view Text, bool IncludeText) const override;
  [[noreturn]] void RaiseOutOfRangeError(std::string_view Text, bool IncludeText) const override;
  [[noreturn]] void RaiseConversionError(std::string_view Text, bool IncludeText) const override;
  bool EnforcesDeclaredLength() const override { return true; }
  // With the header.
  void SaveToStream(TBRNMemoryStream& Stream) const override;
  void LoadFromStream(TBRNMemoryStream& Stream) override;

  // The header when WithHeader, then the value's stream form. Loading sets
  // the descriptor in the order type, subtype, length, scale, collation; a
  // negative declared length raises error 1011.
  virtual void SaveParamToStream(TBRNMemoryStream& Stream, bool WithHeader) const;
  virtual void LoadParamFromStream(TBRNMemoryStream& Stream, bool WithHeader);

 protected:
  int32_t Direction = pmNotSet;
  std::string Name;

 private:
  [[noreturn]] void RaiseParamError(const std::string& detail) const;
};

// A list of parameters with lookup by name; it owns its parameters.
class TBRNParamValues : public TBRNValues {
 public:
  // A new parameter, which the list then owns.
  TBRNValue* CreateValue(int32_t Index) override;
  // The first parameter of that name (case and trailing blanks ignored);
  // RaiseParamNotFound when there is none, so never nullptr.
  TBRNParamValue* FindParam(std::string_view Name) const;
  // Frees the parameters of an owning list.
  void ClearParams();
  // Error 401.
  [[noreturn]] virtual void RaiseParamNotFound(std::string_view Name) const;
  // The values of the output parameters alone, in list order, without
  // headers or count: both sides hold the same list.
  virtual void SaveOutputParams(TBRNMemoryStream& Stream) const;
  virtual void LoadOutputParams(TBRNMemoryStream& Stream);

 protected:
  // Direction, name length, five descriptor integers and the NULL flag.
  int32_t MinimumItemStreamSize() const override { return 29; }
};

// A parameter list that refers to parameters owned elsewhere.
class TBRNReferencedParamValues final : public TBRNValueReferences<TBRNParamValues> {};

}  // namespace brn
