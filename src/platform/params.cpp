#include "platform/params.h"

#include <strings.h>

namespace brn {

void TParam::SetValue(const TVariant& value) {
  value_ = value;
  Bound = true;
}

void TParam::Clear() {
  value_ = TVariant::Null();
}

TParam& TParams::CreateParam(TFieldType dataType, const std::string& name, TParamType paramType) {
  items_.push_back(std::make_unique<TParam>(name, dataType, paramType));
  return *items_.back();
}

TParam* TParams::FindParam(const std::string& name) const {
  for (const auto& param : items_)
    if (strcasecmp(param->Name.c_str(), name.c_str()) == 0) return param.get();
  return nullptr;
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& from : source.items_) {
    TParam* to = FindParam(from->Name);
    if (to == nullptr) continue;
    to->SetValue(from->GetValue());
    to->Bound = from->Bound;
  }
}

}  // namespace brn
