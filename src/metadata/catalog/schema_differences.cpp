#include "metadata/catalog/schema_differences.h"

#include <algorithm>

#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"

namespace brn {

std::unique_ptr<TBRNSchemaObjects> TBRNSchemaObjects::CreateForSchema(TBRNSchema* schema) {
  return std::make_unique<TBRNSchemaObjects>(schema);
}

TBRNSchemaObjects::TBRNSchemaObjects(TBRNSchema* schema)
    : TBRNSelectedConfigObjects(schema->Config), Schema(schema) {
  Owner = schema;
}

TBRNSchemaObjects::~TBRNSchemaObjects() {
  // Each Clear takes its difference off the list.
  while (!cloneHolders_.empty()) cloneHolders_.back()->Clear();
}

void TBRNSchemaObjects::CollectObjects() {
  const TBRNConfigObjects* lists[] = {Schema->BaseTables.get(), Schema->Views.get(),
                                      Schema->Functions.get(), Schema->Procedures.get()};
  for (const TBRNConfigObjects* list : lists) {
    for (int32_t i = 0; i < list->Count(); ++i) list->GetItem(i)->AddToSelection(this);
  }
}

TBRNConfigObject* TBRNSchemaObjects::NewItemLike(TBRNConfigObject* object) {
  TBRNPrivilegedCatalogObjects* list = nullptr;
  if (dynamic_cast<TBRNBaseTable*>(object) != nullptr)
    list = Schema->BaseTables.get();
  else if (dynamic_cast<TBRNView*>(object) != nullptr)
    list = Schema->Views.get();
  else if (dynamic_cast<TBRNProcedure*>(object) != nullptr)
    list = Schema->Procedures.get();
  else if (dynamic_cast<TBRNFunction*>(object) != nullptr)
    list = Schema->Functions.get();
  if (list == nullptr) return nullptr;
  // The clone takes the owner over again when the entry's object is copied
  // into it; an object that names no owner gives an unowned clone.
  auto* privileged = dynamic_cast<TBRNPrivilegedConfigObject*>(object);
  TBRNUser* owner = nullptr;
  if (privileged != nullptr && (privileged->OwnerID != 0 || !privileged->OwnerName.empty()))
    owner = privileged->GetOwner();
  return list->NewItemOwnedBy(owner);
}

// ---------------------------------------------------------------------------
// TBRNSchemaDifference

TBRNSchemaDifference::~TBRNSchemaDifference() {
  detach();
}

void TBRNSchemaDifference::CompareSelections(TBRNSelectedConfigObjects* oldObjects,
                                             TBRNSelectedConfigObjects* newObjects,
                                             char terminator) {
  // Also after a failure: the entries made until then are held too.
  struct Attach {
    TBRNSchemaDifference* Difference;
    TBRNSchemaObjects* Source;
    ~Attach() { Difference->attachTo(Source); }
  } attach{this, dynamic_cast<TBRNSchemaObjects*>(newObjects)};
  TBRNConfigObjectsDifference::CompareSelections(oldObjects, newObjects, terminator);
}

void TBRNSchemaDifference::Clear() {
  detach();
  TBRNConfigObjectsDifference::Clear();
}

void TBRNSchemaDifference::attachTo(TBRNSchemaObjects* source) {
  if (source == nullptr || Clones == nullptr || Clones->Count() == 0 || cloneSource_ != nullptr)
    return;
  cloneSource_ = source;
  source->cloneHolders_.push_back(this);
}

void TBRNSchemaDifference::detach() {
  if (cloneSource_ == nullptr) return;
  std::vector<TBRNSchemaDifference*>& holders = cloneSource_->cloneHolders_;
  holders.erase(std::remove(holders.begin(), holders.end(), this), holders.end());
  cloneSource_ = nullptr;
}

}  // namespace brn
