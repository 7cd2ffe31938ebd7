#pragma once

#include <cstdint>

#include "metadata/core/config_object.h"
#include "metadata/core/object_selections.h"

namespace brn {

// Small helpers for the referrer and dependency lists of catalog objects.

// Adds referrer to target's referrers unless it is there already.
inline void AddReferrerOnce(TBRNConfigObject* target, TBRNConfigObject* referrer) {
  TBRNSelectedConfigObjects* referrers = target->GetReferrers();
  for (int32_t i = 0; i < referrers->Count(); ++i) {
    if (referrers->GetItem(i) == referrer) return;
  }
  referrers->AddObject(referrer);
}

// Whether list (may be nullptr) holds object itself.
inline bool SelectionHolds(const TBRNSelectedConfigObjects* list, const TBRNConfigObject* object) {
  if (list == nullptr) return false;
  for (int32_t i = 0; i < list->Count(); ++i) {
    if (list->GetItem(i) == object) return true;
  }
  return false;
}

// Sorts list (may be nullptr) by ID and drops repeated IDs.
inline void SortUniqueByID(TBRNSelectedConfigObjects* list) {
  if (list == nullptr) return;
  list->SortByID();
  list->RemoveDuplicateIDs();
}

}  // namespace brn
