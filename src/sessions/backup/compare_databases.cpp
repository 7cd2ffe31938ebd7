// COMPARE DATABASE of a local database and RunStatement.
#include <exception>
#include <memory>
#include <string>

#include "foundation/runtime/clean_up_steps.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/table_differences.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/views.h"
#include "metadata/config/users_roles.h"
#include "sessions/backup/data_execution.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/ddl/ddl_lookups.h"

namespace brn {

namespace {

// The stored objects of the target schema (base tables, views, functions,
// procedures) as the new side of a comparison, whose CREATE entries are
// made in the lists of the compared schema: the difference then holds no
// object of the target's catalog, which may close or go away while the
// difference is still shown.
class TTargetSchemaObjects : public TBRNSelectedConfigObjects {
 public:
  TTargetSchemaObjects(TBRNSchema* target, TBRNSchema* home)
      : TBRNSelectedConfigObjects(home->Config), target_(target), home_(home) {
    Owner = home;
  }

  void CollectObjects() override {
    const TBRNConfigObjects* lists[] = {target_->BaseTables.get(), target_->Views.get(),
                                        target_->Functions.get(), target_->Procedures.get()};
    for (const TBRNConfigObjects* list : lists) {
      for (int32_t i = 0; i < list->Count(); ++i) list->GetItem(i)->AddToSelection(this);
    }
  }

  TBRNConfigObject* NewItemLike(TBRNConfigObject* object) override {
    TBRNPrivilegedCatalogObjects* list = nullptr;
    if (dynamic_cast<TBRNBaseTable*>(object) != nullptr)
      list = home_->BaseTables.get();
    else if (dynamic_cast<TBRNView*>(object) != nullptr)
      list = home_->Views.get();
    else if (dynamic_cast<TBRNProcedure*>(object) != nullptr)
      list = home_->Procedures.get();
    else if (dynamic_cast<TBRNFunction*>(object) != nullptr)
      list = home_->Functions.get();
    if (list == nullptr) return nullptr;
    // Users belong to the configuration, which both catalogs share.
    auto* privileged = dynamic_cast<TBRNPrivilegedConfigObject*>(object);
    TBRNUser* owner = nullptr;
    if (privileged != nullptr && (privileged->OwnerID != 0 || !privileged->OwnerName.empty()))
      owner = privileged->GetOwner();
    return list->NewItemOwnedBy(owner);
  }

 private:
  TBRNSchema* target_;
  TBRNSchema* home_;
};

}  // namespace

bool TBRNLocalDatabaseManager::CompareDatabases(TBRNLocalDatabaseManager& target, char terminator) {
  OpenDatabase(kBRNLockShared);
  std::exception_ptr failure;
  bool targetOpen = false;
  try {
    target.OpenDatabase(kBRNLockShared);
    targetOpen = true;
    TBRNCatalogReadBracket read(*this);
    TBRNCatalogReadBracket readTarget(target);
    TBRNSchema* home = Catalog->DefaultSchema;
    TBRNSchemaObjects current(home);
    TTargetSchemaObjects wanted(target.Catalog->DefaultSchema, home);
    TBRNSchemaDifference& difference = *home->SchemaDifference;
    // Also after a failure: what the comparison made so far holds objects
    // of the target's catalog.
    struct TDropTableDifferences {
      TBRNSchemaDifference& Difference;
      TBRNCatalog* Home;
      // An altered table keeps the text of its difference; the entries it
      // was built from include clones made by the target's tables (objects
      // of the target's catalog), which go now, while that catalog exists.
      ~TDropTableDifferences() {
        for (int32_t i = 0; i < Difference.Count(); ++i) {
          auto* table = dynamic_cast<TBRNBaseTable*>(Difference.GetItem(i));
          if (table != nullptr && table->Catalog == Home) table->GetDifference()->Clear();
        }
      }
    } dropTableDifferences{difference, Catalog.get()};
    difference.CompareSelections(&current, &wanted, terminator);
    // The next read of the table shows this difference.
    InvalidateInformationTable(*this, "SchemaDifference");
  } catch (...) {
    failure = std::current_exception();
  }
  TBRNCleanUpSteps steps;
  if (targetOpen) steps.Run([&] { target.CloseDatabase(false); });
  steps.Run([&] { CloseDatabase(false); });
  if (failure) std::rethrow_exception(failure);
  steps.RaiseFirst();
  return true;
}

void TBRNLocalDatabaseManager::RunStatement(const std::string& sql) {
  if (TBRNDataExecution* execution = FindDataExecution()) {
    execution->RunStatement(*this, sql);
    return;
  }
  // The handle goes also when the execution fails.
  TBRNStatementManager* statement = PrepareStatement(sql);
  Statements.RemoveObject(statement, false);
  std::unique_ptr<TBRNStatementManager> owned(statement);
  owned->ExecuteStatement();
}

}  // namespace brn
