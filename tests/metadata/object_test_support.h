#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "metadata/core/config_objects.h"
#include "metadata/core/config_root.h"
#include "metadata/core/lockable_config_object.h"
#include "metadata/core/object_link.h"
#include "metadata/core/object_selections.h"

namespace brn::testing {

// The names of list's members, in order.
inline std::vector<std::string> NamesOf(const TBRNConfigObjects& list) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.GetItem(i)->GetName());
  return names;
}

// A root with a plain ID counter; it records what merge-loads report.
class TestRoot : public TBRNConfigRoot {
 public:
  int64_t Version = kNewestFormatVersion;
  bool Modified = false;
  int32_t IDCounter = 1;
  std::vector<std::string> Unloaded;  // "name#id" of each reported object

  int64_t GetFormatVersion() const override { return Version; }
  bool GetRootModified() const override { return Modified; }
  void SetRootModified(bool value) override { Modified = value; }
  int32_t NextObjectID() override {
    Modified = true;
    return ++IDCounter;
  }
  void OnObjectUnloaded(TBRNConfigObject* object) override {
    Unloaded.push_back(object->Name + "#" + std::to_string(object->ID));
  }
};

// An object with references to others of its collection by ID (stored after
// the base record as a count and the IDs), a cached partner link and DDL
// text for differences.
class TestTable : public TBRNConfigObject {
 public:
  using TBRNConfigObject::TBRNConfigObject;

  std::vector<int32_t> RefIDs;
  int32_t PartnerID = 0;
  TBRNObjectLink PartnerLink;
  std::string Kept;  // the text of the last difference

  std::string GetObjectTypeName() const override { return "table"; }

  TBRNConfigObjects* collection() const { return dynamic_cast<TBRNConfigObjects*>(Owner); }

  // The partner by its stored ID, cached while the root's epoch holds.
  TestTable* Partner() {
    if (auto* cached = PartnerLink.Get(Config)) return static_cast<TestTable*>(cached);
    TBRNConfigObject* found = collection() ? collection()->FindByID(PartnerID, false) : nullptr;
    PartnerLink.Set(found, Config);
    return static_cast<TestTable*>(found);
  }

  void ResetLinks() override {
    PartnerLink.Reset();
    TBRNConfigObject::ResetLinks();
  }
  void CollectReferrers() override {
    if (collection() != nullptr) collection()->RegisterReferenceTo(this);
  }
  void RegisterReferenceTo(TBRNConfigObject* target) override {
    // Once per reference: a table that references the target twice is
    // registered twice.
    for (int32_t id : RefIDs) {
      if (id == target->ID) target->GetReferrers()->AddObject(this);
    }
  }
  void PropagateNewID(int32_t newID) override {
    if (collection() != nullptr) collection()->ReplaceReferencedID(this, newID);
  }
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override {
    std::replace(RefIDs.begin(), RefIDs.end(), target->ID, newID);
  }
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override {
    TBRNConfigObject::SaveToStream(stream, structureOnly);
    stream.WriteInteger(int32_t(RefIDs.size()));
    for (int32_t id : RefIDs) stream.WriteInteger(id);
  }
  void LoadFromStream(TBRNMemoryStream& stream) override {
    TBRNConfigObject::LoadFromStream(stream);
    RefIDs.assign(size_t(readStoredCount(stream, 1000, 4)), 0);
    for (int32_t& id : RefIDs) id = readStoredInteger(stream);
  }
  void Assign(const TBRNConfigObject* source, bool copyState) override {
    TBRNConfigObject::Assign(source, copyState);
    if (auto* table = dynamic_cast<const TestTable*>(source)) RefIDs = table->RefIDs;
  }
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override {
    auto* table = dynamic_cast<const TestTable*>(other);
    return TBRNConfigObject::IsEqual(other, compareIDs) && table != nullptr &&
           table->RefIDs.size() == RefIDs.size();
  }
  std::string GetCreateSQL(bool, bool) override { return "CREATE TABLE \"" + Name + "\""; }
  std::string GetDropSQL(bool, bool) override { return "DROP TABLE \"" + Name + "\""; }
  void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) override {
    if (kind == kDifferenceCreate) {
      Kept = GetCreateSQL(false, false);
    } else if (kind == kDifferenceDrop) {
      Kept = GetDropSQL(false, false);
    } else {
      Kept = other->Description == Description ? ""
                                               : "ALTER TABLE \"" + Name + "\"" + terminator +
                                                     "COMMENT '" + other->Description + "'";
    }
  }
  std::string GetAlterSQL() override { return Kept; }
};

// An owning list of test tables with a chosen kind word and maximum.
class TestTables : public TBRNConfigObjects {
 public:
  explicit TestTables(TBRNConfigRoot* config, std::string kind = "table",
                      int32_t maxCount = kUnlimitedCount)
      : TBRNConfigObjects(config), Kind(std::move(kind)), MaxCount(maxCount) {}

  std::string Kind;
  int32_t MaxCount;
  int32_t ChangedCalls = 0;

  TestTable* At(int32_t index) const { return static_cast<TestTable*>(GetItem(index)); }
  TBRNConfigObject* CreateItem() override { return new TestTable(Config); }
  std::string GetObjectTypeName() const override { return Kind; }
  int32_t GetMaxCount() const override { return MaxCount; }
  void Changed() override { ++ChangedCalls; }

  // A new named member, added.
  TestTable* Add(const std::string& name, std::vector<int32_t> refs = {}) {
    auto* table = static_cast<TestTable*>(NewItem());
    table->Name = name;
    table->RefIDs = std::move(refs);
    try {
      AddObject(table);
    } catch (...) {
      delete table;
      throw;
    }
    return table;
  }
};

// A selection over one collection.
class TestSelection : public TBRNSelectedConfigObjects {
 public:
  TestSelection(TBRNConfigRoot* config, TestTables* source)
      : TBRNSelectedConfigObjects(config), Source(source) {}
  TestTables* Source;
  void CollectObjects() override { Source->AddToSelection(this); }
  TBRNConfigObject* NewItemLike(TBRNConfigObject*) override { return Source->NewItem(); }
};

// A named owner object, to give collections and members a parent.
class TestOwner : public TBRNConfigObject {
 public:
  TestOwner(TBRNConfigRoot* config, std::string kind, const std::string& name)
      : TBRNConfigObject(config), Kind(std::move(kind)) {
    Name = name;
  }
  std::string Kind;
  std::string GetObjectTypeName() const override { return Kind; }
};

// A lockable object with a user's geometry: its Shared and Exclusive range
// by lock number, Attributes stored.
class TestUser : public TBRNLockableConfigObject {
 public:
  using TBRNLockableConfigObject::TBRNLockableConfigObject;
  int32_t LockNumber = 1;
  bool HasAttributes() const override { return true; }
  std::string GetObjectTypeName() const override { return "user"; }
  int32_t GetLockOffset(uint8_t type) const override {
    return type == ltShared || type == ltExclusive ? NumberedLockOffset(kUserLockBase, LockNumber)
                                                   : 0;
  }
  int32_t GetLockLength(uint8_t type) const override {
    return type == ltShared || type == ltExclusive ? kLockRangeLength : 0;
  }
};

// A lockable object with the configuration root's geometry.
class TestConfiguration : public TBRNLockableConfigObject {
 public:
  explicit TestConfiguration(TBRNConfigRoot* config) : TBRNLockableConfigObject(config) {
    Name = "Config";
  }
  std::string GetObjectTypeName() const override { return "configuration"; }
  int32_t GetLockOffset(uint8_t type) const override {
    if (type == ltRead || type == ltWrite) return kConfigReadLockOffset;
    return type == ltTransaction ? kConfigTransactionLockOffset : 0;
  }
  int32_t GetLockLength(uint8_t type) const override {
    if (type == ltRead || type == ltWrite) return kLockRangeLength;
    return type == ltTransaction ? kConfigTransactionLockLength : 0;
  }
};

// Little-endian record fixtures written by hand, independent of the
// writers under test.
class RecordBuilder {
 public:
  RecordBuilder& Int(int32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(uint32_t(v) >> (8 * i)));
    return *this;
  }
  RecordBuilder& Bool(bool v) {
    bytes_.push_back(v ? 1 : 0);
    return *this;
  }
  RecordBuilder& Str(const std::string& s) {
    Int(int32_t(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // A stream positioned at the start of the bytes.
  void Into(TBRNMemoryStream& stream) const {
    stream.Clear();
    if (!bytes_.empty()) stream.Write(bytes_.data(), int32_t(bytes_.size()));
    stream.SetPosition(0);
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace brn::testing
