#pragma once

#include <cstdint>

#include "metadata/core/config_root.h"

namespace brn {

class TBRNConfigObject;

// A cached pointer from one metadata object to another (an owning user, a
// referenced object). The holder keeps the stored key (ID or name) itself;
// the link only remembers the pointer together with the root's change epoch
// at the time it was looked up. Get answers the pointer only while the epoch
// is unchanged, so a link never hands out an object that a load, commit,
// cancel or collection change may have freed: the holder then looks the
// target up again by its key and calls Set.
//
// root is the root that holds the target (its change epoch guards the
// pointer). Without a root nothing is cached (Get always answers nil).
class TBRNObjectLink {
 public:
  TBRNConfigObject* Get(const TBRNConfigRoot* root) const {
    if (root == nullptr || Cached == nullptr || Epoch != root->GetChangeEpoch()) return nullptr;
    return Cached;
  }
  void Set(TBRNConfigObject* object, const TBRNConfigRoot* root) {
    Cached = root != nullptr ? object : nullptr;
    Epoch = root != nullptr ? root->GetChangeEpoch() : 0;
  }
  void Reset() {
    Cached = nullptr;
    Epoch = 0;
  }

 private:
  TBRNConfigObject* Cached = nullptr;
  uint64_t Epoch = 0;
};

}  // namespace brn
