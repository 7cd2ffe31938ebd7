#pragma once

#include <string>

#include "metadata/core/config_object.h"
#include "metadata/modules/module.h"

namespace brn {

// The common part of text filters, word generators and migrators: a
// configuration object served by the module it names. ModuleName is the
// stored key (compared without regard to case); the binding caches the
// module and holds the instance the object opened, closing it on
// destruction. Subclasses store ModuleName in their own records.
//
// Used by the thread of the session that owns the root.
class TBRNModuleBoundObject : public TBRNConfigObject {
 public:
  using TBRNConfigObject::TBRNConfigObject;

  std::string ModuleName;

  // The cached module, else the root's module named ModuleName (401 when
  // there is none).
  TBRNModule* GetModule();
  // Caches it; takes its name (marking modified) when the name differs.
  void SetModule(TBRNModule* module);
  // Closes the instance and releases the module; nothing when none is open.
  void Close();
  bool IsOpen() const { return Binding.IsOpen(); }

  void ResetLinks() override;
  // Registers this object as a referrer of the module it names.
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  // Follows a rename of the module it names.
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;

 protected:
  TBRNModuleBinding Binding;
};

}  // namespace brn
