#include "metadata/core/config_objects.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>

#include "foundation/core/memory_stream.h"
#include "foundation/core/numeric_helpers.h"
#include "foundation/runtime/interlocked.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/identifiers.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_builder.h"
#include "foundation/text/string_helpers.h"
#include "metadata/core/object_selections.h"

namespace brn {

namespace {

constexpr int32_t kAlreadyExistsError = 400;
constexpr int32_t kMaximumReachedError = 405;
constexpr int32_t kCapacityStep = 8;

// The process-wide counter behind MakeUniqueIdentifier.
std::atomic<int32_t> uniqueNameCounter{0};

}  // namespace

TBRNConfigObjects::TBRNConfigObjects(TBRNConfigRoot* config) : TBRNConfigObject(config) {}

TBRNConfigObjects::~TBRNConfigObjects() {
  // Last first, each out of the list before it is freed (a reference list
  // holds nothing to free).
  while (!ownedItems_.empty()) {
    Items.pop_back();
    ownedItems_.pop_back();
  }
}

void TBRNConfigObjects::growCapacity(int32_t needed) {
  if (needed <= Capacity) return;
  Capacity = RoundUpToMultiple(needed, kCapacityStep);
  Items.reserve(size_t(Capacity));
}

void TBRNConfigObjects::renumberFrom(int32_t index) {
  for (int32_t i = MaxInteger(index, 0); i < Count(); ++i) Items[size_t(i)]->Index = i;
}

void TBRNConfigObjects::reserveOne() {
  Items.reserve(Items.size() + 1);
  ownedItems_.reserve(Items.size() + 1);
}

void TBRNConfigObjects::insertOwned(int32_t index, std::unique_ptr<TBRNConfigObject> object) {
  // Both lists have room first, so that they never differ.
  reserveOne();
  Items.insert(Items.begin() + index, object.get());
  ownedItems_.insert(ownedItems_.begin() + index, std::move(object));
}

std::unique_ptr<TBRNConfigObject> TBRNConfigObjects::takeOwned(int32_t index) {
  std::unique_ptr<TBRNConfigObject> object = std::move(ownedItems_[size_t(index)]);
  ownedItems_.erase(ownedItems_.begin() + index);
  Items.erase(Items.begin() + index);
  return object;
}

// ---- How an owning list holds its members (a reference list overrides each)

bool TBRNConfigObjects::OwnsItems() const {
  return true;
}

void TBRNConfigObjects::takeOver(TBRNConfigObject* object) {
  adoptNewMember(object);
}

void TBRNConfigObjects::placeMember(int32_t index, TBRNConfigObject* object) {
  // Room first: once the list has taken the object over, nothing may fail.
  reserveOne();
  insertOwned(index, std::unique_ptr<TBRNConfigObject>(object));
  renumberFrom(index);
  memberAdded(object);
}

TBRNConfigObject* TBRNConfigObjects::unplaceMember(int32_t index) {
  TBRNConfigObject* object = takeOwned(index).release();
  renumberFrom(index);
  if (object != nullptr) object->Index = -1;
  SetModified(true);
  return object;
}

void TBRNConfigObjects::dropLastMember() {
  Items.pop_back();
  ownedItems_.pop_back();
}

void TBRNConfigObjects::appendNewMember() {
  std::unique_ptr<TBRNConfigObject> object(NewItem());
  if (object == nullptr) throw std::logic_error("SetCount: the collection makes no members");
  object->Index = Count();
  insertOwned(Count(), std::move(object));
}

void TBRNConfigObjects::membershipEdited() {
  SetModified(true);
}

void TBRNConfigObjects::checkNameAmongMembers(const TBRNConfigObject* member,
                                              const std::string& newName) {
  for (TBRNConfigObject* other : Items) {
    if (other != nullptr && other != member && TextEqualsIgnoreCase(other->GetName(), newName)) {
      RaiseAlreadyExists(other);
    }
  }
}

void TBRNConfigObjects::passFlagToMembers(void (TBRNConfigObject::*setter)(bool), bool value) {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr) (member->*setter)(value);
  }
}

void TBRNConfigObjects::assignMember(int32_t index, TBRNConfigObject* source, bool copyState) {
  Items[size_t(index)]->Assign(source, copyState);
}

bool TBRNConfigObjects::sameMember(const TBRNConfigObject* mine, const TBRNConfigObject* theirs,
                                   bool compareIDs) const {
  return mine->IsEqual(theirs, compareIDs);
}

void TBRNConfigObjects::validateMembers() {
  // A list that holds exactly its maximum is valid: only more than that is
  // an error (AddObject refuses the member beyond the maximum).
  if (Count() > GetMaxCount()) RaiseMaximumReached();
  CheckDuplicates();
  for (TBRNConfigObject* member : Items) member->Validate();
}

void TBRNConfigObjects::reassignMemberIDs() {
  for (TBRNConfigObject* member : Items) member->ReassignID();
}

int64_t TBRNConfigObjects::membersMemorySize() const {
  int64_t size = 0;
  for (TBRNConfigObject* member : Items) size += member->GetMemorySize();
  return size;
}

int32_t TBRNConfigObjects::membersObjectCount() const {
  int32_t count = 0;
  for (TBRNConfigObject* member : Items) count += member->GetObjectCount();
  return count;
}

void TBRNConfigObjects::saveMembers(TBRNMemoryStream& stream, bool structureOnly) {
  int32_t stored = 0;
  for (TBRNConfigObject* member : Items) {
    if (!member->System) ++stored;
  }
  stream.WriteInteger(stored);
  for (TBRNConfigObject* member : Items) {
    if (!member->System) member->SaveToStream(stream, structureOnly);
  }
}

TBRNConfigObject* TBRNConfigObjects::CreateItem() {
  return nullptr;
}

void TBRNConfigObjects::CheckDuplicate(TBRNConfigObject* object) {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr && member != object && SameKey(object, member)) {
      RaiseAlreadyExists(member);
    }
  }
}

bool TBRNConfigObjects::SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const {
  return TextEqualsIgnoreCase(a->GetName(), b->GetName());
}

void TBRNConfigObjects::RaiseAlreadyExists(const TBRNConfigObject* object) const {
  std::string parentType = GetParentTypeName();
  std::string parentName = GetParentName();
  std::string text =
      !parentType.empty() && !parentName.empty()
          ? FormatText("The %s %s already exists in the %s %s",
                       {object->GetObjectTypeName(), object->GetName(), parentType, parentName})
          : FormatText("The %s %s already exists",
                       {object->GetObjectTypeName(), object->GetName()});
  throw EBRNException(kAlreadyExistsError, text);
}

void TBRNConfigObjects::RaiseNotFoundByID(int32_t id) const {
  RaiseNotFoundByName(IntegerToString(id));
  throw std::logic_error("RaiseNotFoundByName returned");
}

void TBRNConfigObjects::RaiseNotFoundByName(const std::string& name) const {
  std::string parentType = GetParentTypeName();
  std::string parentName = GetParentName();
  std::string text = !parentType.empty() && !parentName.empty()
                         ? FormatText("The %s %s does not exist in the %s %s",
                                      {GetObjectTypeName(), name, parentType, parentName})
                         : FormatText("The %s %s does not exist", {GetObjectTypeName(), name});
  throw EBRNException(kObjectNotFoundError, text);
}

void TBRNConfigObjects::RaiseMaximumReached() const {
  std::string parentType = GetParentTypeName();
  std::string parentName = GetParentName();
  std::string maximum = IntegerToString(GetMaxCount());
  std::string text =
      !parentType.empty() && !parentName.empty()
          ? FormatText("The maximum number of %ss in the %s %s has been reached (%s)",
                       {GetObjectTypeName(), parentType, parentName, maximum})
          : FormatText("The maximum number of %ss has been reached (%s)",
                       {GetObjectTypeName(), maximum});
  throw EBRNException(kMaximumReachedError, text);
}

int32_t TBRNConfigObjects::GetMaxCount() const {
  return kUnlimitedCount;
}

void TBRNConfigObjects::Changed() {}

TBRNConfigObject* TBRNConfigObjects::FindByID(int32_t id, bool raiseIfMissing) const {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr && member->ID == id) return member;
  }
  if (raiseIfMissing) RaiseNotFoundByID(id);
  return nullptr;
}

TBRNConfigObject* TBRNConfigObjects::FindByName(const std::string& name,
                                                bool raiseIfMissing) const {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr && TextEqualsIgnoreCase(member->GetName(), name)) return member;
  }
  if (raiseIfMissing) RaiseNotFoundByName(name);
  return nullptr;
}

TBRNConfigObject* TBRNConfigObjects::FindByLoadedName(const std::string& name,
                                                      bool raiseIfMissing) const {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr && TextEqualsIgnoreCase(member->LoadedName, name)) return member;
  }
  if (raiseIfMissing) RaiseNotFoundByName(name);
  return nullptr;
}

void TBRNConfigObjects::Clear() {
  while (!Items.empty()) dropLastMember();
  membershipEdited();
  Changed();
}

TBRNConfigObject* TBRNConfigObjects::NewItem() {
  TBRNConfigObject* object = CreateItem();
  if (object == nullptr) return nullptr;
  object->Owner = this;
  object->SetSystem(System);
  object->SetTransient(Transient);
  object->SetTemporary(Temporary);
  return object;
}

void TBRNConfigObjects::adoptNewMember(TBRNConfigObject* object) {
  // Two slots owning one object would free it twice.
  if (std::find(Items.begin(), Items.end(), object) != Items.end()) {
    throw std::invalid_argument("AddObject: the object is already a member");
  }
  CheckMaximum();
  CheckDuplicate(object);
  object->Owner = this;
  if (System && !object->System) object->SetSystem(true);
  if (Transient && !object->Transient) object->SetTransient(true);
  if (!object->Transient) {
    object->AssignID();
  } else if (object->ID == 0) {
    object->SetID(IncrementCounter(TransientCounter, 1));
  }
  object->Validate();
}

void TBRNConfigObjects::memberAdded(TBRNConfigObject* object) {
  if (!object->System && !object->Transient) SetModified(true);
  // Referrer lists built before the addition may lack the new member.
  if (Config != nullptr) Config->AdvanceChangeEpoch();
}

void TBRNConfigObjects::AddObject(TBRNConfigObject* object) {
  if (object == nullptr) throw std::invalid_argument("AddObject: no object");
  takeOver(object);
  growCapacity(Count() + 1);
  placeMember(Count(), object);
  Changed();
}

void TBRNConfigObjects::InsertObject(int32_t index, TBRNConfigObject* object) {
  if (object == nullptr) throw std::invalid_argument("InsertObject: no object");
  if (index < 0 || index > Count()) throw std::out_of_range("InsertObject: index out of range");
  takeOver(object);
  growCapacity(Count() + 1);
  placeMember(index, object);
  Changed();
}

void TBRNConfigObjects::CheckNewName(const TBRNConfigObject* member, const std::string& newName) {
  ValidateIdentifier(newName);
  checkNameAmongMembers(member, newName);
}

TBRNConfigObject* TBRNConfigObjects::RemoveObject(int32_t index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("RemoveObject: index out of range");
  TBRNConfigObject* object = unplaceMember(index);
  // The object left the list: links cached to it are looked up again.
  if (Config != nullptr) Config->AdvanceChangeEpoch();
  Changed();
  return object;
}

std::string TBRNConfigObjects::GetSQLSeparator() const {
  return ",\r\n";
}

std::string TBRNConfigObjects::GetSystemTableName() const {
  return "";
}

void TBRNConfigObjects::SetCount(int32_t n) {
  if (n < 0) throw std::invalid_argument("SetCount: negative count");
  while (Count() > n) dropLastMember();
  if (n > Count()) {
    growCapacity(n);
    while (Count() < n) appendNewMember();
  }
}

void TBRNConfigObjects::SetCountModified(int32_t n) {
  if (n == Count()) return;
  SetCount(n);
  membershipEdited();
}

void TBRNConfigObjects::CheckMaximum() const {
  if (Count() >= GetMaxCount()) RaiseMaximumReached();
}

void TBRNConfigObjects::CheckDuplicates() const {
  int32_t count = Count();
  if (KeyImpliesEqualNames()) {
    // Every catalog read validates its schemas: a thousand tables compared
    // pairwise cost a million name copies. Sorted by name, duplicates are
    // neighbours within a run of equal names.
    std::vector<std::string> names(static_cast<size_t>(count));
    std::vector<int32_t> order(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      names[size_t(i)] = Items[size_t(i)]->GetName();
      order[size_t(i)] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
      return CompareTextIgnoreCase(names[size_t(a)], names[size_t(b)]) < 0;
    });
    // Raises for the same pair as the pairwise walk would: the lowest first
    // member of a duplicate pair, with its lowest partner.
    int32_t bestFirst = count, bestPartner = count;
    for (size_t run = 0; run < order.size();) {
      size_t end = run + 1;
      while (end < order.size() && TextEqualsIgnoreCase(names[size_t(order[run])],
                                                        names[size_t(order[end])]))
        ++end;
      // Within a run the indexes ascend (stable sort).
      for (size_t a = run; a < end; ++a) {
        for (size_t b = run; b < end; ++b) {
          int32_t i = order[a], j = order[b];
          if (i == j || i > bestFirst || (i == bestFirst && j >= bestPartner)) continue;
          if (SameKey(Items[size_t(i)], Items[size_t(j)])) {
            bestFirst = i;
            bestPartner = j;
          }
        }
      }
      run = end;
    }
    if (bestFirst < count) RaiseAlreadyExists(Items[size_t(bestPartner)]);
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    for (int32_t j = 0; j < count; ++j) {
      if (i != j && SameKey(Items[size_t(i)], Items[size_t(j)]))
        RaiseAlreadyExists(Items[size_t(j)]);
    }
  }
}

void TBRNConfigObjects::Detach(TBRNConfigObject* object) {
  if (object == nullptr || object->Index < 0 || object->Index >= Count() ||
      Items[size_t(object->Index)] != object) {
    throw std::invalid_argument("Detach: the object is not a member");
  }
  RemoveObject(object->Index);
  object->Detached = true;
}

std::string TBRNConfigObjects::MakeUniqueName(const std::string& prefix) const {
  std::string candidate;
  for (int32_t counter = 1; counter <= 2147483646; ++counter) {
    candidate = prefix + IntegerToString(counter);
    if (FindByName(candidate, false) == nullptr) break;
  }
  return candidate;
}

std::string TBRNConfigObjects::MakeUniqueIdentifier(const std::string& prefix) const {
  for (;;) {
    int32_t value = AtomicIncrementCounter(uniqueNameCounter, 1);
    std::string candidate = MakeIdentifier(prefix + IntegerToString(value));
    if (FindByLoadedName(candidate, false) == nullptr) return candidate;
  }
}

bool TBRNConfigObjects::HasName() const {
  return false;
}

void TBRNConfigObjects::AssignID() {}

std::string TBRNConfigObjects::GetObjectTypeName() const {
  return "object";
}

// The flags of a list that only points at objects are its own: passing them
// on would, for instance, stop a selected object from ever being stored.
void TBRNConfigObjects::SetSystem(bool value) {
  TBRNConfigObject::SetSystem(value);
  passFlagToMembers(&TBRNConfigObject::SetSystem, value);
}

void TBRNConfigObjects::SetTransient(bool value) {
  TBRNConfigObject::SetTransient(value);
  passFlagToMembers(&TBRNConfigObject::SetTransient, value);
}

void TBRNConfigObjects::SetTemporary(bool value) {
  TBRNConfigObject::SetTemporary(value);
  passFlagToMembers(&TBRNConfigObject::SetTemporary, value);
}

void TBRNConfigObjects::SaveToStream(TBRNMemoryStream& stream, bool structureOnly) {
  saveMembers(stream, structureOnly);
}

void TBRNConfigObjects::LoadFromStream(TBRNMemoryStream& stream) {
  loadMembers(stream);
  Changed();
}

void TBRNConfigObjects::loadMembers(TBRNMemoryStream& stream) {
  int32_t count = readStoredCount(stream, GetMaxCount(), kMinStoredRecordSize);
  if (count > 0 && Count() == 0) {
    SetCount(count);
    for (int32_t i = 0; i < count; ++i) {
      TBRNConfigObject* member = Items[size_t(i)];
      member->Index = i;
      member->LoadFromStream(stream);
    }
    return;
  }

  // Merge-load: every member whose ID the stream still holds is kept (the
  // same object, so pointers held elsewhere stay valid) and moved to the
  // position of its record; the members after the last System member that
  // the stream no longer holds are reported to the root and freed.
  for (TBRNConfigObject* member : Items) member->Loaded = false;
  int32_t first = 0;
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items[size_t(i)]->System) first = i + 1;
  }
  for (int32_t j = 0; j < count; ++j) {
    int32_t position = first + j;
    int32_t id = PeekStoredID(stream);
    std::unique_ptr<TBRNConfigObject> kept;
    for (int32_t k = position; k < Count(); ++k) {
      if (Items[size_t(k)]->ID == id) {
        kept = takeOwned(k);
        break;
      }
    }
    if (kept == nullptr) {
      kept.reset(NewItem());
      if (kept == nullptr)
        throw std::logic_error("LoadFromStream: the collection makes no members");
    }
    growCapacity(Count() + 1);
    TBRNConfigObject* member = kept.get();
    insertOwned(position, std::move(kept));
    member->Index = position;
    member->LoadFromStream(stream);
  }
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TBRNConfigObject* member = Items[size_t(i)];
    if (member->Loaded || member->System) continue;
    if (Config != nullptr) Config->OnObjectUnloaded(member);
    takeOwned(i);
  }
  renumberFrom(0);
}

void TBRNConfigObjects::Assign(const TBRNConfigObject* source, bool copyState) {
  auto* other = dynamic_cast<const TBRNConfigObjects*>(source);
  if (other == nullptr || other == this) return;
  SetCountModified(other->Count());
  for (int32_t i = 0; i < Count(); ++i) assignMember(i, other->GetItem(i), copyState);
}

bool TBRNConfigObjects::IsEqual(const TBRNConfigObject* other, bool compareIDs) const {
  auto* list = dynamic_cast<const TBRNConfigObjects*>(other);
  if (list == nullptr) return false;
  // Counts first: a comparison never reads beyond the other's members, and a
  // list with members added or removed is not equal.
  if (Count() != list->Count()) return false;
  for (int32_t i = 0; i < Count(); ++i) {
    TBRNConfigObject* mine = Items[size_t(i)];
    TBRNConfigObject* theirs = list->GetItem(i);
    if (!sameMember(mine, theirs, compareIDs)) return false;
  }
  return true;
}

void TBRNConfigObjects::Validate() {
  TBRNConfigObject::Validate();
  validateMembers();
}

void TBRNConfigObjects::ReassignID() {
  reassignMemberIDs();
}

void TBRNConfigObjects::ResetAllLinks() {
  ResetLinks();
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr) member->ResetAllLinks();
  }
}

void TBRNConfigObjects::Compile() {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr) member->Compile();
  }
}

void TBRNConfigObjects::Uncompile() {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr) member->Uncompile();
  }
}

void TBRNConfigObjects::AddToSelection(TBRNSelectedConfigObjects* selection) {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr) member->AddToSelection(selection);
  }
}

void TBRNConfigObjects::RegisterReferenceTo(TBRNConfigObject* target) {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr && member != target) member->RegisterReferenceTo(target);
  }
}

void TBRNConfigObjects::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr) member->ReplaceReferencedID(target, newID);
  }
}

void TBRNConfigObjects::ReplaceReferencedName(TBRNConfigObject* target,
                                              const std::string& newName) {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr) member->ReplaceReferencedName(target, newName);
  }
}

void TBRNConfigObjects::RemoveReferenceTo(TBRNConfigObject* target) {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr) member->RemoveReferenceTo(target);
  }
}

bool TBRNConfigObjects::IsReferencedBy(TBRNConfigObject* x) {
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr && member->IsReferencedBy(x)) return true;
  }
  return false;
}

int64_t TBRNConfigObjects::GetMemorySize() const {
  return TBRNConfigObject::GetMemorySize() + int64_t(Capacity) * 4 + membersMemorySize();
}

int32_t TBRNConfigObjects::GetObjectCount() const {
  // The list itself plus each member's own count (which includes the
  // member): every object is counted once.
  return 1 + membersObjectCount();
}

namespace {

template <typename TextOf>
std::string joinMemberTexts(const std::vector<TBRNConfigObject*>& items,
                            const std::string& separator, TextOf textOf) {
  TBRNStringBuilder builder;
  for (TBRNConfigObject* member : items) {
    if (member == nullptr || member->Internal) continue;
    std::string text = textOf(member);
    if (!text.empty()) AppendWithSeparator(text, builder, separator);
  }
  return builder.GetText();
}

}  // namespace

std::string TBRNConfigObjects::GetCreateSQL(bool option1, bool option2) {
  return joinMemberTexts(Items, GetSQLSeparator(), [&](TBRNConfigObject* member) {
    return member->GetCreateSQL(option1, option2);
  });
}

std::string TBRNConfigObjects::GetDropSQL(bool option1, bool option2) {
  return joinMemberTexts(Items, GetSQLSeparator(), [&](TBRNConfigObject* member) {
    return member->GetDropSQL(option1, option2);
  });
}

std::string TBRNDependencies::GetSystemTableName() const {
  return "Dependencies";
}

}  // namespace brn
