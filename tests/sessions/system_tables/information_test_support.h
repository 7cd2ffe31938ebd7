// A logged-in administrator session over one open database "Shop", with
// helpers that build catalog objects the way the catalog statements leave
// them and read an "Information" table as a statement does.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/triggers.h"
#include "metadata/catalog/views.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/indexes/index_navigator.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_manager.h"

namespace brn::testing {

inline constexpr const char* kNull = "<NULL>";
using Rows = std::vector<std::vector<std::string>>;

// One column to create: name, type, subtype, declared length, scale and
// NOT NULL.
struct ColumnShape {
  ColumnShape(std::string name, TBRNDataTypeCode dataType, TBRNDataSubType subType = stDefault,
              int32_t length = 0, int32_t scale = 0, bool notNull = false, std::string origin = "")
      : Name(std::move(name)),
        DataType(dataType),
        SubType(subType),
        Length(length),
        Scale(scale),
        NotNull(notNull),
        Origin(std::move(origin)) {}

  std::string Name;
  TBRNDataTypeCode DataType;
  TBRNDataSubType SubType;
  int32_t Length;
  int32_t Scale;
  bool NotNull;
  // The select item a view column comes from (view columns only).
  std::string Origin;
};

// A session with its Configuration tables; "SQLTypes" is added when the
// session's own registration lacks it.
class ConfigurationTablesSession : public TBRNLocalSessionManager {
 public:
  explicit ConfigurationTablesSession(TBRNEngineManager* engine)
      : TBRNLocalSessionManager(engine, false, true) {}
  ~ConfigurationTablesSession() override { CloseSession(); }

  // Opens the Configuration table name as a statement does and answers the
  // listed columns of its rows in primary-key order, NULL as kNull.
  Rows ReadConfiguration(const std::string& name, const std::vector<int32_t>& columns);

 protected:
  void RegisterSystemTables() override {
    TBRNLocalSessionManager::RegisterSystemTables();
    TBRNSchema* schema = ConfigurationDatabase->Catalog->DefaultSchema;
    if (schema->BaseTables->FindByName("SQLTypes", false) == nullptr) {
      RegisterSystemTable(
          *this, ODBCTypesTableDefinition(), false,
          [this](TBRNVirtualTableManager& manager) { ProduceODBCTypes(*this, manager); });
    }
  }
};

// The listed columns (all defined ones when empty) of the rows of manager
// in primary-key order, NULL as kNull; closes manager.
inline Rows ReadRows(TBRNTableManager* manager, const std::vector<int32_t>& columns) {
  Rows rows;
  TBRNIndexNavigator* keys = manager->GetIndexNavigator(0);
  TBRNRowsetRowValues values(manager->GetColumns(), manager);
  bool restart = false;
  for (bool found = keys->First(restart); found; found = keys->Next(restart)) {
    TBRNRowsetRow* row = manager->GetRow(keys->GetRowNumber(), false);
    values.SetRow(row);
    std::vector<int32_t> wanted = columns;
    if (wanted.empty()) {
      for (int32_t i = 1; i < manager->GetColumns()->Count(); ++i) wanted.push_back(i);
    }
    std::vector<std::string> fields;
    for (int32_t i : wanted) {
      TBRNValue* value = values.GetItem(i);
      fields.push_back(value->GetNull() ? kNull : value->GetAsString());
    }
    rows.push_back(fields);
    values.SetRow(nullptr);
    manager->ReleaseRow(row);
  }
  manager->Close(false, true);
  return rows;
}

inline Rows ConfigurationTablesSession::ReadConfiguration(const std::string& name,
                                                          const std::vector<int32_t>& columns) {
  return ReadRows(dynamic_cast<TBRNTableManager*>(
                      ConfigurationDatabase->OpenSchemaObjectManager("", name, false)),
                  columns);
}

struct InformationTableTest : ::testing::Test {
  InformationTableTest() {
    Session->Login("Administrator", "GlenHarbor");
    AddDatabase(*Session, "Shop", Env.Folder.Path + "shop")->ApplyDefaultGrants();
    Db = Open(*Session);
  }

  ~InformationTableTest() override { Session.reset(); }

  static TBRNLocalDatabaseManager* Open(TBRNLocalSessionManager& session) {
    TBRNLocalDatabaseManager* db = session.GetDatabaseManager(
        static_cast<TBRNDatabaseContainer*>(session.Config->Databases->FindByName("Shop", true)));
    db->OpenDatabase(kBRNLockShared);
    return db;
  }

  TBRNBaseTable* Information(const std::string& name) {
    return static_cast<TBRNBaseTable*>(
        Db->Catalog->InformationSchema->BaseTables->FindByName(name, true));
  }
  TBRNBaseTable* Table(const std::string& name) {
    return static_cast<TBRNBaseTable*>(
        Db->Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  }

  static std::unique_ptr<TBRNColumn> NewColumn(TBRNCatalog* catalog, const ColumnShape& wanted) {
    auto column = std::make_unique<TBRNColumn>(catalog);
    column->Name = wanted.Name;
    column->SetDataType(wanted.DataType);
    if (wanted.SubType != stDefault) column->SetSubType(wanted.SubType);
    if (wanted.Length != 0) column->SetLength(wanted.Length);
    if (wanted.Scale != 0) column->SetScale(wanted.Scale);
    if (wanted.NotNull) column->SetNotNull(true);
    if (!wanted.Origin.empty()) column->SetOrigin(wanted.Origin);
    return column;
  }

  // A base table as CREATE TABLE makes it: "__RowID", then columns (by
  // default ID INTEGER and Name VARCHAR(20)), and the internal primary key
  // on "__RowID" unless keys adds the table's own constraints.
  void CreateTable(const std::string& name,
                   const std::function<void(TBRNBaseTable*)>& keys = nullptr,
                   const std::vector<ColumnShape>& columns = {{"ID", dtInteger},
                                                              {"Name", dtChar, stDefault, 20}}) {
    TBRNBaseTable* table = Db->CreateTable(name);
    try {
      table->AddRowIDColumn();
      for (const ColumnShape& wanted : columns) {
        std::unique_ptr<TBRNColumn> column = NewColumn(Db->Catalog.get(), wanted);
        table->Columns->AddObject(column.get());
        column.release();
      }
      if (keys) {
        keys(table);
      } else {
        table->AddPrimaryKey(false);
      }
      Db->CommitCreateTable(table);
    } catch (...) {
      Db->RollbackCreateTable(table);
      throw;
    }
  }

  // A constraint of table on columnName, with its enforcing index of
  // indexType unless that is negative.
  static TBRNConstraint* AddConstraint(TBRNBaseTable* table, const std::string& name, int32_t type,
                                       int32_t indexType, const std::string& columnName = "ID") {
    auto* column = static_cast<TBRNColumn*>(table->Columns->FindByName(columnName, true));
    std::unique_ptr<TBRNConstraint> constraint(
        static_cast<TBRNConstraint*>(table->Constraints->NewItem()));
    constraint->Name = name;
    constraint->SetConstraintType(type);
    if (type != kConstraintCheck) {
      std::unique_ptr<TBRNConstraintColumn> entry(
          static_cast<TBRNConstraintColumn*>(constraint->Columns->NewItem()));
      entry->SetColumn(column);
      constraint->Columns->AddObject(entry.get());
      entry.release();
    }
    table->Constraints->AddObject(constraint.get());
    TBRNConstraint* added = constraint.release();
    if (indexType < 0) return added;
    TBRNIndex* index = AddIndex(table, name, indexType, columnName, false);
    index->SetOwnerConstraint(added);
    added->SetEnforcingIndex(index);
    return added;
  }

  // An index of indexType on columnName of table.
  static TBRNIndex* AddIndex(TBRNBaseTable* table, const std::string& name, int32_t indexType,
                             const std::string& columnName, bool descending) {
    auto* column = static_cast<TBRNColumn*>(table->Columns->FindByName(columnName, true));
    std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
    index->Name = name;
    index->SetIndexType(indexType);
    std::unique_ptr<TBRNIndexColumn> entry(
        static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    entry->SetColumn(column);
    entry->SetCollation(column->Collation);
    if (descending) entry->SetDescending(true);
    index->Columns->AddObject(entry.get());
    entry.release();
    table->Indexes->AddObject(index.get());
    return index.release();
  }

  // Makes link a foreign key to the key constraint of target (its first
  // column) with the given actions.
  static void LinkTo(TBRNConstraint* link, TBRNBaseTable* target, TBRNConstraint* key,
                     uint32_t updateAction = kActionNoAction,
                     uint32_t deleteAction = kActionNoAction) {
    link->SetTargetTable(target);
    std::unique_ptr<TBRNTargetTableColumn> column(
        static_cast<TBRNTargetTableColumn*>(link->TargetTableColumns->NewItem()));
    column->SetColumn(key->Columns->GetItem(0)->GetColumn());
    link->TargetTableColumns->AddObject(column.get());
    column.release();
    link->SetTargetConstraint(key);
    link->SetUpdateAction(updateAction);
    link->SetDeleteAction(deleteAction);
  }

  // Runs add inside a catalog update of the database.
  void UpdateCatalog(const std::function<void(TBRNCatalog&)>& add) {
    Db->CatalogManager->BeginUpdate();
    try {
      add(*Db->Catalog);
    } catch (...) {
      Db->CatalogManager->CancelUpdate();
      throw;
    }
    Db->CatalogManager->CommitUpdate();
  }

  // A view named name with query text and the given columns after
  // "__RowID", owned by owner (nullptr: the current user's default).
  void CreateView(const std::string& name, const std::string& query,
                  const std::vector<ColumnShape>& columns, TBRNUser* owner = nullptr) {
    UpdateCatalog([&](TBRNCatalog& catalog) {
      auto view = owner != nullptr ? std::make_unique<TBRNView>(&catalog, owner)
                                   : std::make_unique<TBRNView>(&catalog);
      view->Name = name;
      view->Definition->SetText(query);
      view->SetLockNumber(catalog.NextTableLockNumber());
      view->AddRowIDColumn();
      for (const ColumnShape& wanted : columns) {
        std::unique_ptr<TBRNColumn> column = NewColumn(&catalog, wanted);
        view->Columns->AddObject(column.get());
        column.release();
      }
      view->ApplyDefaultGrants();
      catalog.DefaultSchema->Views->AddObject(view.get());
      view.release();
    });
  }

  // A routine parameter or result of type with mode.
  static void DescribeParam(TBRNRoutineParam& param, const std::string& name, int32_t mode,
                            TBRNDataTypeCode type, int32_t length = 0) {
    param.Name = name;
    param.SetMode(mode);
    param.SetDataType(type);
    if (length != 0) param.SetLength(length);
  }
  static void AddParam(TBRNRoutine& routine, const std::string& name, int32_t mode,
                       TBRNDataTypeCode type, int32_t length = 0) {
    std::unique_ptr<TBRNRoutineParam> param(
        static_cast<TBRNRoutineParam*>(routine.Params->NewItem()));
    DescribeParam(*param, name, mode, type, length);
    routine.Params->AddObject(param.get());
    param.release();
  }

  void CreateUser(const std::string& name) {
    TBRNUser* user = Session->BeginCreateUser(name);
    user->SetPassword("pw");
    Session->EndCreateUser(user);
  }

  // A second session of the same engine, logged in as name, with "Shop"
  // open.
  std::unique_ptr<TBRNLocalSessionManager> LoginAs(const std::string& name,
                                                   TBRNLocalDatabaseManager*& db) {
    std::unique_ptr<TBRNLocalSessionManager> session = Env.OpenSession("Other" + name);
    session->Login(name, "pw");
    db = Open(*session);
    return session;
  }

  // Opens the Information table name of db as a statement does and answers
  // the listed columns (all defined ones when empty) of its rows in
  // primary-key order, NULL as kNull.
  static Rows Read(TBRNLocalDatabaseManager& db, const std::string& name,
                   const std::vector<int32_t>& columns = {}) {
    return ReadRows(
        dynamic_cast<TBRNTableManager*>(db.OpenSchemaObjectManager("Information", name, false)),
        columns);
  }
  Rows Read(const std::string& name, const std::vector<int32_t>& columns = {}) {
    return Read(*Db, name, columns);
  }

  TestEngine Env;
  std::unique_ptr<TBRNLocalSessionManager> Session = Env.OpenSession();
  TBRNLocalDatabaseManager* Db = nullptr;
};

}  // namespace brn::testing
