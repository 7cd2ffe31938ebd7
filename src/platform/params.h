#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/variant.h"

namespace brn {

// The field types of the data-access components.
enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftGuid,
};

// The direction of a component parameter.
enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// One parameter of a component: name, field type, direction, size and
// value. Bound is set once a value was assigned.
class TParam {
 public:
  TParam(std::string name, TFieldType dataType, TParamType paramType)
      : Name(std::move(name)), DataType(dataType), ParamType(paramType) {}

  const TVariant& GetValue() const { return value_; }
  // Stores the value and marks the parameter bound.
  void SetValue(const TVariant& value);
  void Clear();
  bool IsNull() const { return value_.IsEmptyOrNull(); }

  std::string Name;
  TFieldType DataType;
  TParamType ParamType;
  int32_t Size = 0;
  bool Bound = false;

 private:
  TVariant value_;
};

// An ordered list of parameters; it owns them. Not guarded.
class TParams {
 public:
  int32_t Count() const { return int32_t(items_.size()); }
  TParam& Get(int32_t index) const { return *items_.at(size_t(index)); }
  TParam& CreateParam(TFieldType dataType, const std::string& name, TParamType paramType);
  void Clear() { items_.clear(); }
  // The first parameter of that name, case ignored; nullptr when none.
  TParam* FindParam(const std::string& name) const;
  // Copies the value (and bound flag) of every parameter of source to the
  // parameter of the same name here; names found only on one side are left.
  void AssignValues(const TParams& source);

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};

}  // namespace brn
