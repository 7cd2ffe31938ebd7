#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "metadata/core/config_object.h"

namespace brn {

// "Unlimited" member count.
inline constexpr int32_t kUnlimitedCount = 2147483647;
// The error of a lookup that finds no member ("does not exist").
inline constexpr int32_t kObjectNotFoundError = 401;

// A list of metadata objects that either owns and frees its members or only
// points at objects owned elsewhere. It has no ID, name or description of its
// own. Members of an owning collection have Owner = the collection and Index =
// their position; a non-owning list leaves both untouched.
//
// Stored form (owning collections only): int32 N, the number of members that
// are not System, then the record of each such member in list order.
//
// Not thread-safe: used by the thread of the session that owns the root.
class TBRNConfigObjects : public TBRNConfigObject {
 public:
  // ownsItems is fixed for the collection's life (selections and reference
  // lists pass false).
  explicit TBRNConfigObjects(TBRNConfigRoot* config, bool ownsItems = true);
  // An owning collection frees every member.
  ~TBRNConfigObjects() override;

  int32_t Count() const { return int32_t(Items.size()); }
  int32_t GetCapacity() const { return Capacity; }
  bool OwnsItems() const { return OwnsItemsFlag; }
  // The member at index (0 <= index < Count, not checked).
  TBRNConfigObject* GetItem(int32_t index) const { return Items[size_t(index)]; }
  int32_t TransientCounter = 0;

  // Factory of the member kind: a new object with the collection's root, owned
  // by the caller (nil in the base).
  virtual TBRNConfigObject* CreateItem();
  // Raises 400 for the first member with the same key as object.
  virtual void CheckDuplicate(TBRNConfigObject* object);
  // Names equal ignoring case and trailing blanks; classes compare other keys.
  virtual bool SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const;
  // 400 "The %s %s already exists[ in the %s %s]".
  [[noreturn]] virtual void RaiseAlreadyExists(const TBRNConfigObject* object) const;
  // 401 "The %s %s does not exist[ in the %s %s]".
  [[noreturn]] virtual void RaiseNotFoundByID(int32_t id) const;
  [[noreturn]] virtual void RaiseNotFoundByName(const std::string& name) const;
  // 405 "The maximum number of %ss[ in the %s %s] has been reached (%s)".
  [[noreturn]] virtual void RaiseMaximumReached() const;
  virtual int32_t GetMaxCount() const;
  // Hook run after every change of membership.
  virtual void Changed();
  virtual TBRNConfigObject* FindByID(int32_t id, bool raiseIfMissing) const;
  virtual TBRNConfigObject* FindByName(const std::string& name, bool raiseIfMissing) const;
  virtual TBRNConfigObject* FindByLoadedName(const std::string& name, bool raiseIfMissing) const;
  virtual void Clear();
  // CreateItem with Owner = the collection and the collection's System,
  // Transient and Temporary flags; not added. The caller owns it.
  virtual TBRNConfigObject* NewItem();
  // Owning: checks the maximum and duplicates, takes over the object (Owner,
  // flags, ID), validates it and appends it. On success the collection owns
  // the object; when a check or the validation raises, the caller still owns
  // it (after a failed validation it carries its new Owner and ID).
  // Non-owning: appends.
  virtual void AddObject(TBRNConfigObject* object);
  virtual void InsertObject(int32_t index, TBRNConfigObject* object);
  virtual void CheckNewName(const TBRNConfigObject* member, const std::string& newName);
  // Takes the member out without freeing it; the caller owns it afterwards.
  virtual TBRNConfigObject* RemoveObject(int32_t index);
  virtual std::string GetSQLSeparator() const;
  // The system information table that lists this kind (empty in the base).
  virtual std::string GetSystemTableName() const;

  // Shrinking frees (when owning) the members beyond n, last first; growing
  // fills the new slots with NewItem objects (when owning).
  void SetCount(int32_t n);
  void SetCountModified(int32_t n);
  // Raises 405 when Count has reached GetMaxCount (before an addition).
  void CheckMaximum() const;
  // Raises 400 for the first pair of members with the same key.
  void CheckDuplicates() const;
  // RemoveObject(object->Index) and marks the object Detached.
  void Detach(TBRNConfigObject* object);
  // Prefix followed by 1, 2, ...: the first text that no member's name equals.
  std::string MakeUniqueName(const std::string& prefix) const;
  // MakeIdentifier(prefix + the next value of the process-wide name
  // counter), repeated while some member's LoadedName equals it.
  // The counter is atomic: several threads may call this at once, each on
  // a collection of its own session.
  std::string MakeUniqueIdentifier(const std::string& prefix) const;

  // Overrides of the object base.
  bool HasName() const override;
  void AssignID() override;
  std::string GetObjectTypeName() const override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  // Owning: an empty collection reads its members in order; otherwise a
  // merge-load keeps every member whose ID the stream still holds (same
  // object, new position) and reports to the root and frees the others.
  // The count is checked against the bytes that remain and GetMaxCount before
  // anything is allocated.
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  // Equal counts and pairwise equal members (owning) or the same references.
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  // Raises 405 only when more than GetMaxCount members are held.
  void Validate() override;
  void ReassignID() override;
  void ResetAllLinks() override;
  void Compile() override;
  void Uncompile() override;
  void AddToSelection(TBRNSelectedConfigObjects* selection) override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void RemoveReferenceTo(TBRNConfigObject* target) override;
  bool IsReferencedBy(TBRNConfigObject* x) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  // Members that are not Internal, non-empty texts joined by GetSQLSeparator.
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;

 protected:
  // Slots 0 .. Count-1; owning raw pointers when OwnsItemsFlag.
  std::vector<TBRNConfigObject*> Items;
  int32_t Capacity = 0;  // grows only, in steps of 8
  bool OwnsItemsFlag;

  void growCapacity(int32_t needed);
  void renumberFrom(int32_t index);
  // Frees an owned object (or forgets a referenced one).
  void releaseItem(TBRNConfigObject*& object);
  // Owner, flags, ID and validation of a new member of an owning collection.
  void adoptNewMember(TBRNConfigObject* object);
  // Marks the root modified and advances its change epoch after an addition.
  void memberAdded(TBRNConfigObject* object);
};

// A collection whose members are TItem objects, at most MaxCount of them.
// CreateItem makes a TItem with the collection's catalog when the base has
// one (catalog objects), else with its root. TItem must be complete where
// the collection is constructed.
template <typename TItem, typename TBase = TBRNConfigObjects, int32_t MaxCount = kUnlimitedCount>
class TBRNCollection : public TBase {
 public:
  using TBase::TBase;

  TBRNConfigObject* CreateItem() override {
    if constexpr (requires(TBase & base) { base.Catalog; }) {
      return new TItem(this->Catalog);
    } else {
      return new TItem(this->Config);
    }
  }
  int32_t GetMaxCount() const override { return MaxCount; }
};

// Names and defines the "Dependencies" system table: pairs of an object and a
// dependent object.
class TBRNDependencies : public TBRNConfigObjects {
 public:
  using TBRNConfigObjects::TBRNConfigObjects;
  std::string GetSystemTableName() const override;
};

}  // namespace brn
