#pragma once

#include <cstdint>

namespace brn {

class TBRNConfigObject;

// What every metadata object needs of the root that holds it: the
// configuration of a session, or a catalog. The root outlives every object
// that points at it. A root that is itself a metadata object lists
// TBRNConfigRoot as its first base, so that the epoch is still there while
// its own object part is destroyed.
//
// The change epoch is how cached links between objects stay sound: the root
// advances it whenever objects may have been freed or replaced (every load,
// commit and cancel of the root), every object advances it when it is
// destroyed, and every collection when it takes, frees or gives up a member.
// A link that cached a pointer under an older epoch looks its target up
// again by the stored ID or name (see TBRNObjectLink); referrer lists built
// under an older epoch are built again.
class TBRNConfigRoot {
 public:
  virtual ~TBRNConfigRoot() = default;

  // The stored format version of the root, a fixed-point number scaled by
  // 10000 (2.04 is 20400).
  virtual int64_t GetFormatVersion() const = 0;
  // The modified flag of the whole root.
  virtual bool GetRootModified() const = 0;
  virtual void SetRootModified(bool value) = 0;
  // The next object ID of the root's counter; taking one marks the root
  // modified.
  virtual int32_t NextObjectID() = 0;
  // Called by a merge-load for every object that the stream no longer holds,
  // right before the object is freed.
  virtual void OnObjectUnloaded(TBRNConfigObject* object) { (void)object; }

  // Not virtual, so that objects freed while a root is being destroyed can
  // still advance it.
  // With an epoch parent the sum of both epochs, so that it moves whenever
  // either root's moves.
  uint64_t GetChangeEpoch() const {
    return ChangeEpoch + (EpochParent != nullptr ? EpochParent->GetChangeEpoch() : 0);
  }
  void AdvanceChangeEpoch() { ++ChangeEpoch; }

 protected:
  // A root whose objects also cache links to objects of another root (the
  // objects of a catalog name users of the configuration) follows that
  // root's epoch too. The parent must outlive this root.
  void SetEpochParent(const TBRNConfigRoot* parent) { EpochParent = parent; }

 private:
  uint64_t ChangeEpoch = 1;
  const TBRNConfigRoot* EpochParent = nullptr;
};

}  // namespace brn
