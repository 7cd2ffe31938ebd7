#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "metadata/core/config_object.h"

namespace brn {

// "Unlimited" member count.
inline constexpr int32_t kUnlimitedCount = 2147483647;
// The error of a lookup that finds no member ("does not exist").
inline constexpr int32_t kObjectNotFoundError = 401;

// A list of metadata objects. It has no ID, name or description of its own.
// The class itself is an owning collection: it holds each member in a
// unique_ptr, frees it, gives it Owner = the collection and Index = its
// position, and stores, copies, compares and validates its members. A
// reference list (TBRNReferenceList below) is the same list over views of
// objects owned elsewhere, without any of those duties. Whichever the kind,
// the members are read through the same views (Items, GetItem, the lookups
// and walks), and the kind is fixed by the list's type.
//
// Stored form (owning collections only): int32 N, the number of members that
// are not System, then the record of each such member in list order.
//
// Not thread-safe: used by the thread of the session that owns the root.
class TBRNConfigObjects : public TBRNConfigObject {
 public:
  explicit TBRNConfigObjects(TBRNConfigRoot* config);
  // An owning collection frees every member, last first.
  ~TBRNConfigObjects() override;

  int32_t Count() const { return int32_t(Items.size()); }
  int32_t GetCapacity() const { return Capacity; }
  // True for an owning collection, false for a reference list.
  virtual bool OwnsItems() const;
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
  // Whether SameKey holds only for members whose names are equal ignoring
  // case, so that duplicates can be looked for among equal names alone.
  virtual bool KeyImpliesEqualNames() const { return true; }
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
  // Slots 0 .. Count-1: views of the members. An owning collection holds
  // them in ownedItems_ in the same order, so only a reference list may
  // reorder or edit Items directly.
  std::vector<TBRNConfigObject*> Items;
  int32_t Capacity = 0;  // grows only, in steps of 8

  void growCapacity(int32_t needed);
  void renumberFrom(int32_t index);

  // How the list holds its members: an owning collection here, a reference
  // list in TBRNReferenceList.
  //
  // AddObject and InsertObject: the checks and adoption before the object
  // enters (may raise; the caller still owns the object), then its entry at
  // index (cannot fail).
  virtual void takeOver(TBRNConfigObject* object);
  virtual void placeMember(int32_t index, TBRNConfigObject* object);
  // RemoveObject: the member leaves; an owning list hands it to the caller.
  virtual TBRNConfigObject* unplaceMember(int32_t index);
  // Clear and SetCount: the last member leaves (an owning list frees it).
  virtual void dropLastMember();
  // SetCount: a new last slot (a NewItem member, or an empty reference).
  virtual void appendNewMember();
  // After Clear and SetCountModified.
  virtual void membershipEdited();
  virtual void checkNameAmongMembers(const TBRNConfigObject* member, const std::string& newName);
  virtual void passFlagToMembers(void (TBRNConfigObject::*setter)(bool), bool value);
  virtual void assignMember(int32_t index, TBRNConfigObject* source, bool copyState);
  virtual bool sameMember(const TBRNConfigObject* mine, const TBRNConfigObject* theirs,
                          bool compareIDs) const;
  virtual void validateMembers();
  virtual void reassignMemberIDs();
  virtual int64_t membersMemorySize() const;
  virtual int32_t membersObjectCount() const;
  virtual void saveMembers(TBRNMemoryStream& stream, bool structureOnly);
  virtual void loadMembers(TBRNMemoryStream& stream);
  // Owner, flags, ID and validation of a new member of an owning collection.
  void adoptNewMember(TBRNConfigObject* object);
  // Marks the root modified and advances its change epoch after an addition.
  void memberAdded(TBRNConfigObject* object);

 private:
  // The owned members, in the order of Items (empty in a reference list).
  std::vector<std::unique_ptr<TBRNConfigObject>> ownedItems_;

  // Room for one more entry in Items and ownedItems_.
  void reserveOne();
  // The two lists of an owning collection change together.
  void insertOwned(int32_t index, std::unique_ptr<TBRNConfigObject> object);
  std::unique_ptr<TBRNConfigObject> takeOwned(int32_t index);
};

// A list that only points at objects owned elsewhere, over any collection
// class: it frees nothing and leaves its members' Owner, Index, IDs and flags
// alone; it is not stored (saving writes nothing, loading only runs
// Changed), compares by identity, copies references and validates nothing
// of its members. Its own flags are its own: passing them on would, for
// instance, stop a selected object from ever being stored.
template <typename TBase>
class TBRNReferenceList : public TBase {
 public:
  using TBase::TBase;

  bool OwnsItems() const override { return false; }

 protected:
  void takeOver(TBRNConfigObject*) override {}
  void placeMember(int32_t index, TBRNConfigObject* object) override {
    this->Items.insert(this->Items.begin() + index, object);
  }
  TBRNConfigObject* unplaceMember(int32_t index) override {
    TBRNConfigObject* object = this->Items[size_t(index)];
    this->Items.erase(this->Items.begin() + index);
    return object;
  }
  void dropLastMember() override { this->Items.pop_back(); }
  void appendNewMember() override { this->Items.push_back(nullptr); }
  void membershipEdited() override {}
  void checkNameAmongMembers(const TBRNConfigObject*, const std::string&) override {}
  void passFlagToMembers(void (TBRNConfigObject::*)(bool), bool) override {}
  void assignMember(int32_t index, TBRNConfigObject* source, bool) override {
    this->Items[size_t(index)] = source;
  }
  bool sameMember(const TBRNConfigObject* mine, const TBRNConfigObject* theirs,
                  bool) const override {
    return mine == theirs;
  }
  void validateMembers() override {}
  void reassignMemberIDs() override {}
  int64_t membersMemorySize() const override { return 0; }
  int32_t membersObjectCount() const override { return 0; }
  void saveMembers(TBRNMemoryStream&, bool) override {}
  void loadMembers(TBRNMemoryStream&) override {}
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
