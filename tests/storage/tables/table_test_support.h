// A database and its sessions for the tests of the schema-object managers:
// a real lock file and real table files in a temporary folder, a real
// catalog, the test evaluator, and a session environment that records what
// the managers ask of it.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/core/digest.h"
#include "foundation/files/file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/locks/lock_manager.h"
#include "foundation/test_support.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/triggers.h"
#include "metadata/config/config.h"
#include "sql/parser/expr_parser.h"
#include "sql/validator/expr_validator.h"
#include "storage/files/table_file_test_support.h"
#include "storage/rows/execution_seam.h"
#include "storage/rows/row_evaluator_support.h"
#include "storage/tables/table_environment.h"

namespace brn::testing {

// The column name of table (exact name); std::invalid_argument when there is
// none.
inline TBRNColumn* ColumnNamed(TBRNBaseTable* table, const std::string& name) {
  for (int32_t i = 0; i < table->Columns->Count(); ++i) {
    if (table->Columns->GetItem(i)->Name == name) return table->Columns->GetItem(i);
  }
  throw std::invalid_argument("no column " + name);
}

// An index of kind type (kIndexOrdinary ...) on the named columns of table,
// owned by table.
inline TBRNIndex* AddTableIndex(TBRNBaseTable* table, const std::string& name,
                                const std::vector<std::string>& columns, int32_t type) {
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
  index->Name = name;
  index->SetIndexType(type);
  for (const std::string& columnName : columns) {
    std::unique_ptr<TBRNIndexColumn> entry(
        static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    entry->SetColumn(ColumnNamed(table, columnName));
    index->Columns->AddObject(entry.get());
    entry.release();
  }
  table->Indexes->AddObject(index.get());
  return index.release();
}

// A constraint of kind type on the named columns of table, owned by table,
// without an enforcing index.
inline TBRNConstraint* AddTableConstraint(TBRNBaseTable* table, const std::string& name,
                                          int32_t type, const std::vector<std::string>& columns) {
  std::unique_ptr<TBRNConstraint> constraint(
      static_cast<TBRNConstraint*>(table->Constraints->NewItem()));
  constraint->Name = name;
  constraint->SetConstraintType(type);
  for (const std::string& columnName : columns) {
    std::unique_ptr<TBRNConstraintColumn> entry(
        static_cast<TBRNConstraintColumn*>(constraint->Columns->NewItem()));
    entry->SetColumn(ColumnNamed(table, columnName));
    constraint->Columns->AddObject(entry.get());
    entry.release();
  }
  table->Constraints->AddObject(constraint.get());
  return constraint.release();
}

// A primary key or unique constraint (type) with its enforcing index, both
// named name.
inline TBRNConstraint* AddTableKey(TBRNBaseTable* table, const std::string& name, int32_t type,
                                   const std::vector<std::string>& columns) {
  TBRNConstraint* key = AddTableConstraint(table, name, type, columns);
  TBRNIndex* index = AddTableIndex(table, name, columns,
                                   type == kConstraintPrimaryKey ? kIndexPrimaryKey : kIndexUnique);
  index->SetOwnerConstraint(key);
  key->SetEnforcingIndex(index);
  return key;
}

// A foreign key on columns of table referring to key of target, with its
// own index, entered in the key's list of referring foreign keys.
inline TBRNConstraint* AddTableForeignKey(TBRNBaseTable* table, const std::string& name,
                                          const std::vector<std::string>& columns,
                                          TBRNBaseTable* target, TBRNConstraint* key) {
  TBRNConstraint* foreignKey = AddTableConstraint(table, name, kConstraintForeignKey, columns);
  foreignKey->SetTargetTable(target);
  for (int32_t i = 0; i < key->Columns->Count(); ++i) {
    std::unique_ptr<TBRNTargetTableColumn> entry(
        static_cast<TBRNTargetTableColumn*>(foreignKey->TargetTableColumns->NewItem()));
    entry->SetColumn(key->Columns->GetItem(i)->GetColumn());
    foreignKey->TargetTableColumns->AddObject(entry.get());
    entry.release();
  }
  foreignKey->SetTargetConstraint(key);
  TBRNIndex* index = AddTableIndex(table, name, columns, kIndexForeignKey);
  index->SetOwnerConstraint(foreignKey);
  foreignKey->SetEnforcingIndex(index);
  std::unique_ptr<TBRNSourceConstraint> source(
      static_cast<TBRNSourceConstraint*>(key->SourceConstraints->NewItem()));
  source->SetSourceTable(table);
  source->SetSourceConstraint(foreignKey);
  key->SourceConstraints->AddObject(source.get());
  source.release();
  return foreignKey;
}

// The folder and the file manager of one database, shared by the sessions
// of one process: one file manager shares each open file between them, so
// that their byte-range locks contend as two processes' would.
struct TestDatabaseFiles {
  TBRNEnvironment Environment;
  TempFolder Folder;
  TBRNOSFileManager Files{&Environment};

  std::string PathOf(const std::string& name) const { return Folder.Path + name; }
  bool Exists(const std::string& name) { return Files.FileExists(PathOf(name)); }
};

// A lock manager that keeps its slot number itself.
class TestSessionLocks : public TBRNLockManager {
 public:
  using TBRNLockManager::TBRNLockManager;
  int32_t Slot = 0;
  int32_t GetSessionSlot() override { return Slot; }
  void SetSessionSlot(int32_t slot) override { Slot = slot; }
};

// A column of a test table.
struct TestColumn {
  std::string Name;
  TBRNDataTypeCode Type = dtInteger;
  int32_t Length = 0;
  TBRNDataSubType SubType = stDefault;
};

// One session on a database of files: its own catalog (the same calls in
// two sessions define the same tables, with the same IDs and lock numbers),
// its own slot in the database lock file "<database>.BRNLck", and every
// answer of the environment in a field.
class TestTableEnvironment : public TBRNTableEnvironment {
 public:
  struct PrivilegeCheck {
    TBRNPrivilegedConfigObject* Object;
    int32_t Kind;
    std::string Statement;
  };
  struct FailedOperation {
    int32_t OperationCode;
    int32_t ErrorCode;
    std::string Message;
  };

  TestTableEnvironment(TestDatabaseFiles& database, std::string databaseName = "Shop")
      : Database(database), DatabaseName(std::move(databaseName)) {
    Config.Parser = &Parser;
    Config.Validator = &Validator;
    Catalog = std::make_unique<TBRNCatalog>(&Config);
    Catalog->SetVersion(kNewestFormatVersion);
    Catalog->Name = DatabaseName;
    Locks = std::make_unique<TestSessionLocks>(Catalog.get(), &Database.Files);
    Locks->SetLockFileName(Database.PathOf(DatabaseName + ".BRNLck"));
    Locks->Open();
  }
  ~TestTableEnvironment() override {
    // Managers registered with catalog objects go before the catalog.
    Locks->Close();
  }

  TestDatabaseFiles& Database;
  std::string DatabaseName;
  TBRNExprParser Parser;
  TBRNExprValidator Validator{false};
  TBRNConfig Config;
  std::unique_ptr<TBRNCatalog> Catalog;
  std::unique_ptr<TestSessionLocks> Locks;
  RowEvaluator Evaluator;
  TBRNTableSettings Settings;
  // The wait of object locks in ms (-1: the object's retry bounds only).
  int32_t LockTimeout = 2000;
  // Read lock bytes taken in the lock file (each a lock and, later, an
  // unlock call of the system).
  int32_t ReadLocksTaken = 0;
  // The file manager of table files; the database's when nullptr (a test
  // puts a fault-injecting manager here).
  TBRNFileManager* TableFiles = nullptr;
  // A privilege check fails with 503 while set; each check is recorded.
  bool RefusePrivileges = false;
  std::vector<PrivilegeCheck> PrivilegeChecks;
  std::vector<FailedOperation> FailedOperations;
  std::vector<std::string> Warnings;
  std::vector<std::string> Messages;
  std::vector<int32_t> Progress;
  int32_t CancelAfter = -1;  // progress calls answered true before a false
  std::vector<TBRNUser*> Users;
  // The database's table managers, set by the test that makes them.
  TBRNSchemaObjectManagers* TableManagers = nullptr;
  TBRNDigest Signature = DigestOf("brn_watermark");
  TBRNDigest Password = DigestOf("quillharbor");

  // ---- Catalog helpers
  // A base table of the Default schema with columns and the next lock
  // number; call Finish once its keys and indexes are added.
  TBRNBaseTable* AddTable(const std::string& name, const std::vector<TestColumn>& columns) {
    auto table = std::make_unique<TBRNBaseTable>(Catalog.get());
    table->Name = name;
    for (const TestColumn& wanted : columns) {
      auto column = std::make_unique<TBRNColumn>(Catalog.get());
      column->Name = wanted.Name;
      column->SetDataType(wanted.Type);
      if (wanted.SubType != stDefault) column->SetSubType(wanted.SubType);
      if (wanted.Length != 0) column->SetLength(wanted.Length);
      table->Columns->AddObject(column.get());
      column.release();
    }
    table->SetLockNumber(Catalog->NextTableLockNumber());
    Catalog->DefaultSchema->BaseTables->AddObject(table.get());
    return table.release();
  }
  // An index of kind type (kIndexOrdinary ...) on the named columns.
  TBRNIndex* AddIndex(TBRNBaseTable* table, const std::string& name,
                      const std::vector<std::string>& columns, int32_t type = kIndexOrdinary) {
    return AddTableIndex(table, name, columns, type);
  }
  // A primary key constraint with its enforcing index, both named name.
  TBRNConstraint* AddPrimaryKey(TBRNBaseTable* table, const std::string& name,
                                const std::vector<std::string>& columns) {
    return AddTableKey(table, name, kConstraintPrimaryKey, columns);
  }
  // Validates the table and stamps its structure checksum.
  void Finish(TBRNBaseTable* table) {
    table->Validate();
    table->UpdateStructureChecksum();
  }
  // The usual test table: ID INTEGER (primary key "PK"), Name CHAR(20)
  // indexed by "ByName", and Notes CLOB when withBlob.
  TBRNBaseTable* AddItemsTable(const std::string& name, bool withBlob) {
    std::vector<TestColumn> columns{{"ID", dtInteger}, {"Name", dtChar, 20}};
    if (withBlob) columns.push_back({"Notes", dtLob, 0, stClob});
    TBRNBaseTable* table = AddTable(name, columns);
    AddPrimaryKey(table, "PK", {"ID"});
    AddIndex(table, "ByName", {"Name"});
    Finish(table);
    return table;
  }

  // ---- TBRNTableEnvironment
  TBRNCatalog* GetCatalog() override { return Catalog.get(); }
  std::string GetDatabaseName() const override { return DatabaseName; }
  std::string GetSchemaFolder(const std::string&) override { return Database.Folder.Path; }
  TBRNFileManager* GetSchemaFileManager(const std::string&) override {
    return TableFiles != nullptr ? TableFiles : &Database.Files;
  }
  TBRNSchemaObjectManagers* GetTableManagers() override { return TableManagers; }
  bool LockObject(TBRNLockable* object, uint8_t lockType) override {
    bool taken = Locks->LockObject(object, lockType, LockTimeout);
    if (taken && lockType == ltRead) ++ReadLocksTaken;
    return taken;
  }
  void UnlockObject(TBRNLockable* object, uint8_t lockType) override {
    Locks->UnlockObject(object, lockType);
  }
  const TBRNTableSettings& GetTableSettings() const override { return Settings; }
  TBRNExpressionEvaluator& GetEvaluator() override { return Evaluator; }
  std::unique_ptr<TBRNEvaluationContext> CreateEvaluationContext() override {
    return std::make_unique<TBRNEvaluationContext>();
  }
  void CheckPrivilege(TBRNPrivilegedConfigObject* object, int32_t kind,
                      const std::string& statementName) override {
    PrivilegeChecks.push_back({object, kind, statementName});
    if (RefusePrivileges)
      throw EBRNException(503,
                          "The current user does not have the proper privileges to perform this "
                          "operation (" +
                              statementName + ")");
  }
  void PushUser(TBRNUser* user) override {
    Users.push_back(user != nullptr ? user : Config.SystemUser);
  }
  void PopUser() override {
    if (Users.empty()) throw std::logic_error("PopUser without PushUser");
    Users.pop_back();
  }
  TBRNUser* GetCurrentUser() override { return Users.empty() ? nullptr : Users.back(); }
  TBRNUser* GetObjectOwner(TBRNPrivilegedConfigObject*) override { return Config.SystemUser; }
  void LogFailedOperation(int32_t operationCode, const EBRNException& error) override {
    FailedOperations.push_back({operationCode, error.ErrorCode, error.what()});
  }
  void WriteWarningEvent(const std::string& text) override { Warnings.push_back(text); }
  void LogMessage(const std::string& text) override { Messages.push_back(text); }
  bool UpdateProgress(int32_t percent) override {
    Progress.push_back(percent);
    return CancelAfter < 0 || int32_t(Progress.size()) <= CancelAfter;
  }
  [[noreturn]] void RaiseBackupError(const std::string& text) override {
    throw EBRNException(1300, "Error backing up (" + text + ")");
  }
  [[noreturn]] void RaiseRestoreError(const std::string& text) override {
    throw EBRNException(1301, "Error restoring (" + text + ")");
  }
  const TBRNDigest& GetSignatureDigest() const override { return Signature; }
  bool IsValidSignature(const TBRNDigest& digest) const override {
    return digest.Equals(Signature);
  }
  const TBRNDigest& GetEncryptionDigest() const override { return Password; }
  std::string GetFileExtension(TBRNTableFileKind kind) const override {
    switch (kind) {
      case TBRNTableFileKind::Rows:
        return ".BRNTbl";
      case TBRNTableFileKind::Indexes:
        return ".BRNIdx";
      case TBRNTableFileKind::Blobs:
        return ".BRNBlb";
      default:
        return ".BRNPbl";
    }
  }

  // True when another session could take the object's lock of lockType
  // for this session's slot byte now (tried once through a fresh lock
  // manager of the database, released at once).
  bool LockByteFree(TBRNLockable* object, uint8_t lockType) {
    auto stream = Database.Files.OpenFile(Locks->GetLockFileName(), false, false, true);
    int64_t offset = object->GetLockOffset(lockType) + Locks->Slot - 1;
    if (!stream->SetRangeLock(true, offset, 1)) return false;
    stream->SetRangeLock(false, offset, 1);
    return true;
  }
};

}  // namespace brn::testing
