#include "metadata/core/object_selections.h"

#include <algorithm>

#include "foundation/core/numeric_helpers.h"

namespace brn {

TBRNSelectedConfigObjects::TBRNSelectedConfigObjects(TBRNConfigRoot* config)
    : TBRNReferenceList(config) {}

void TBRNSelectedConfigObjects::CollectObjects() {}

TBRNConfigObject* TBRNSelectedConfigObjects::NewItemLike(TBRNConfigObject* object) {
  (void)object;
  return nullptr;
}

void TBRNSelectedConfigObjects::SortByID() {
  std::stable_sort(
      Items.begin(), Items.end(),
      [](const TBRNConfigObject* a, const TBRNConfigObject* b) { return a->ID < b->ID; });
}

void TBRNSelectedConfigObjects::SortByCreationOrder() {
  std::stable_sort(Items.begin(), Items.end(),
                   [](const TBRNConfigObject* a, const TBRNConfigObject* b) {
                     if (a->CreationOrder != b->CreationOrder) {
                       return a->CreationOrder < b->CreationOrder;
                     }
                     return a->ID < b->ID;
                   });
}

void TBRNSelectedConfigObjects::RemoveDuplicateIDs() {
  for (int32_t i = Count() - 1; i > 0; --i) {
    if (Items[size_t(i)]->ID == Items[size_t(i) - 1]->ID) Items.erase(Items.begin() + i);
  }
}

void TBRNSelectedConfigObjects::SortByDependencies() {
  if (Sorted) return;
  Clear();
  CollectObjects();
  SortByID();
  AssignCreationOrder();
  SortByCreationOrder();
  Sorted = true;
}

void TBRNSelectedConfigObjects::AssignCreationOrder() {
  for (TBRNConfigObject* member : Items) member->CreationOrder = 0;
  int32_t counter = 0;
  while (counter < Count()) {
    bool placed = false;
    for (TBRNConfigObject* candidate : Items) {
      if (candidate->CreationOrder != 0) continue;
      bool blocked = false;
      for (TBRNConfigObject* other : Items) {
        // The candidate waits for every unplaced member it references.
        if (other != candidate && other->CreationOrder == 0 && other->IsReferencedBy(candidate)) {
          blocked = true;
          break;
        }
      }
      if (!blocked) {
        candidate->CreationOrder = ++counter;
        placed = true;
      }
    }
    if (!placed) {
      // A dependency cycle: the rest in list order.
      for (TBRNConfigObject* member : Items) {
        if (member->CreationOrder == 0) member->CreationOrder = ++counter;
      }
    }
  }
}

std::string TBRNSelectedConfigObjects::GetObjectTypeName() const {
  return "object";
}

std::string TBRNSelectedConfigObjects::GetSystemTableName() const {
  return "ConfigObjects";
}

void TBRNSelectedConfigObjects::Clear() {
  TBRNConfigObjects::Clear();
  Sorted = false;
}

void TBRNSelectedConfigObjects::RegisterReferenceTo(TBRNConfigObject* target) {
  if (Owner == nullptr || target == nullptr) return;
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr && member->ID == target->ID) {
      target->GetReferrers()->AddObject(Owner);
      return;
    }
  }
}

void TBRNSelectedConfigObjects::ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) {
  if (target == nullptr) return;
  for (TBRNConfigObject* member : Items) {
    if (member != nullptr && member->ID == target->ID) {
      member->SetID(newID);
      SortByID();
      return;
    }
  }
}

void TBRNSelectedConfigObjects::ReplaceReferencedName(TBRNConfigObject* target,
                                                      const std::string& newName) {
  (void)target;
  (void)newName;
}

void TBRNSelectedConfigObjects::RemoveReferenceTo(TBRNConfigObject* target) {
  (void)target;
}

TBRNConfigObjectsDifference::TBRNConfigObjectsDifference(TBRNConfigRoot* config)
    : TBRNSelectedConfigObjects(config), Clones(new TBRNSelectedConfigObjects(config)) {}

TBRNConfigObjectsDifference::~TBRNConfigObjectsDifference() {
  Items.clear();
  freeClones();
  DisposeAndNil(Clones);
}

void TBRNConfigObjectsDifference::freeClones() {
  if (Clones == nullptr) return;
  for (int32_t i = Clones->Count() - 1; i >= 0; --i) {
    TBRNConfigObject* clone = Clones->GetItem(i);
    delete clone;
  }
  // Only references remain, to freed objects: drop them.
  Clones->Clear();
}

std::string TBRNConfigObjectsDifference::GetSystemTableName() const {
  return "ConfigDifference";
}

void TBRNConfigObjectsDifference::Clear() {
  TBRNSelectedConfigObjects::Clear();
  freeClones();
}

void TBRNConfigObjectsDifference::CompareSelections(TBRNSelectedConfigObjects* oldObjects,
                                                    TBRNSelectedConfigObjects* newObjects,
                                                    char terminator) {
  Clear();
  oldObjects->SortByDependencies();
  newObjects->SortByDependencies();
  for (int32_t n = 0; n < newObjects->Count(); ++n) {
    TBRNConfigObject* newObject = newObjects->GetItem(n);
    TBRNConfigObject* oldObject = nullptr;
    for (int32_t o = 0; o < oldObjects->Count(); ++o) {
      if (oldObjects->GetItem(o)->IsSameObject(newObject)) {
        oldObject = oldObjects->GetItem(o);
        break;
      }
    }
    if (oldObject == nullptr) {
      TBRNConfigObject* clone = newObjects->NewItemLike(newObject);
      if (clone == nullptr) continue;
      try {
        Clones->AddObject(clone);
      } catch (...) {
        delete clone;
        throw;
      }
      clone->Assign(newObject, false);
      clone->ComputeDifference(kDifferenceCreate, nullptr, terminator);
      AddObject(clone);
    } else {
      oldObject->ComputeDifference(kDifferenceAlter, newObject, terminator);
      if (!oldObject->GetAlterSQL().empty()) AddObject(oldObject);
    }
  }
  for (int32_t o = oldObjects->Count() - 1; o >= 0; --o) {
    TBRNConfigObject* oldObject = oldObjects->GetItem(o);
    bool kept = false;
    for (int32_t n = 0; n < newObjects->Count() && !kept; ++n) {
      kept = newObjects->GetItem(n)->IsSameObject(oldObject);
    }
    if (!kept) {
      oldObject->ComputeDifference(kDifferenceDrop, nullptr, terminator);
      AddObject(oldObject);
    }
  }
}

}  // namespace brn
