#include "metadata/schema_differences.h"

#include "metadata/routines.h"
#include "metadata/schemas.h"
#include "metadata/tables.h"
#include "metadata/views.h"

namespace brn {

std::unique_ptr<TBRNSchemaObjects> TBRNSchemaObjects::CreateForSchema(TBRNSchema* schema) {
  return std::make_unique<TBRNSchemaObjects>(schema);
}

TBRNSchemaObjects::TBRNSchemaObjects(TBRNSchema* schema)
    : TBRNSelectedConfigObjects(schema->Config), Schema(schema) {
  Owner = schema;
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

}  // namespace brn
