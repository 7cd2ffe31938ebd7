#include "metadata/modules/module_bound_object.h"

#include "metadata/core/object_selections.h"
#include "metadata/modules/text_filters.h"

namespace brn {

TBRNModule* TBRNModuleBoundObject::GetModule() {
  return Binding.GetModule(this, ModuleName);
}

void TBRNModuleBoundObject::SetModule(TBRNModule* module) {
  Binding.CacheModule(module, this);
  if (module->Name == ModuleName) return;
  ModuleName = module->Name;
  SetModified(true);
}

void TBRNModuleBoundObject::Close() {
  Binding.Close();
}

void TBRNModuleBoundObject::ResetLinks() {
  Binding.ResetModule();
  TBRNConfigObject::ResetLinks();
}

void TBRNModuleBoundObject::RegisterReferenceTo(TBRNConfigObject* target) {
  if (IsModuleNamed(target, ModuleName)) target->GetReferrers()->AddObject(this);
}

void TBRNModuleBoundObject::ReplaceReferencedName(TBRNConfigObject* target,
                                                  const std::string& newName) {
  if (!IsModuleNamed(target, ModuleName)) return;
  ModuleName = newName;
  SetModified(true);
}

}  // namespace brn
