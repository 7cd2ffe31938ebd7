// The catalog statements on tables, indexes, triggers and table grants when
// a write fails: the session's catalog, the catalog file and the table files
// stay as they were, the failure stage is reported, and the same statement
// succeeds once the disk works again. DROP TABLE and RENAME TABLE keep the
// table's files with the table the catalog file lists.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/catalog/indexes.h"
#include "metadata/catalog/triggers.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "sessions/ddl/view_routine_test_support.h"
#include "sessions/local/config_manager.h"
#include "storage/rows/row_values.h"
#include "storage/tables/table_manager.h"
#include "storage/tables/table_manager_test_support.h"

namespace brn::testing {
namespace {

using Db = TBRNLocalDatabaseManager;

// Where a table file's header keeps its change counter, and the row file's
// header the time it was written. Putting the index file back moves both,
// so that other sessions drop what they cached of the table.
constexpr size_t kChangeCounterOffset = 41;
constexpr size_t kRowFileTimestampOffset = 67;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every file under folder (the catalog and the table files) with its
// bytes, a table file's change counter and write time zeroed. The ".Old"
// copies are left out: they are working copies of the statements.
std::map<std::string, std::string> FolderFiles(TBRNFileManager& files, const std::string& folder) {
  std::map<std::string, std::string> found;
  for (const auto& file : files.Files) {
    if (file->Name.rfind(folder, 0) != 0 || EndsWith(file->Name, ".Old")) continue;
    std::string bytes = FileBytes(files, file->Name);
    if ((EndsWith(file->Name, ".BRNTbl") || EndsWith(file->Name, ".BRNIdx")) &&
        bytes.size() >= kChangeCounterOffset + 4) {
      bytes.replace(kChangeCounterOffset, 4, 4, '\0');
    }
    if (EndsWith(file->Name, ".BRNTbl") && bytes.size() >= kRowFileTimestampOffset + 8) {
      bytes.replace(kRowFileTimestampOffset, 8, 8, '\0');
    }
    found[file->Name] = std::move(bytes);
  }
  return found;
}

// The folder of the database's files: the catalog file's.
std::string FolderOf(Db& database) {
  const std::string catalog = database.GetCatalogFileName();
  return catalog.substr(0, catalog.find_last_of("\\/") + 1);
}

// The names of the files that differ between two listings (with where
// they differ), for readable failures.
std::vector<std::string> ChangedFiles(const std::map<std::string, std::string>& before,
                                      const std::map<std::string, std::string>& after) {
  std::vector<std::string> changed;
  for (const auto& [name, bytes] : after) {
    auto old = before.find(name);
    if (old == before.end()) {
      changed.push_back(name + " (new)");
    } else if (old->second != bytes) {
      size_t at = 0;
      while (at < bytes.size() && at < old->second.size() && bytes[at] == old->second[at]) ++at;
      changed.push_back(name + " (from byte " + std::to_string(at) + ")");
    }
  }
  for (const auto& [name, bytes] : before) {
    if (after.count(name) == 0) changed.push_back(name + " (gone)");
  }
  return changed;
}

// The tables of the session's catalog with what these statements change:
// names, stored names, indexes, triggers with their Enabled flags, and the
// grants.
std::vector<std::string> Snapshot(Db& database) {
  std::vector<std::string> lines;
  auto add = [&](const std::string& kind, TBRNConfigObjects& tables) {
    for (int32_t i = 0; i < tables.Count(); ++i) {
      auto* table = static_cast<TBRNBaseTable*>(tables.GetItem(i));
      lines.push_back(kind + " " + table->Name + " stored as " + table->LoadedName);
      for (int32_t j = 0; j < table->Indexes->Count(); ++j) {
        auto* index = static_cast<TBRNIndex*>(table->Indexes->GetItem(j));
        lines.push_back("  index " + index->Name + " " + std::to_string(index->IndexType));
      }
      for (int32_t j = 0; j < table->Triggers->Count(); ++j) {
        auto* trigger = static_cast<TBRNTrigger*>(table->Triggers->GetItem(j));
        lines.push_back("  trigger " + trigger->Name + " " + std::to_string(trigger->ActionType) +
                        (trigger->Enabled ? " on" : " off"));
      }
      for (int32_t j = 0; j < table->Privileges->Count(); ++j) {
        TBRNPrivilege* grant = table->Privileges->GetPrivilege(j);
        lines.push_back("  grant " + std::to_string(grant->Kind) + " to " + grant->GranteeName);
      }
    }
  };
  add("table", *database.Catalog->DefaultSchema->BaseTables);
  add("temporary", *database.Catalog->DefaultSchema->TemporaryTables);
  return lines;
}

// The IDs of the rows of table, read through a fresh open of its manager.
std::vector<int32_t> RowIDs(Db& database, const std::string& name) {
  auto* table = static_cast<TBRNBaseTable*>(
      database.Catalog->DefaultSchema->BaseTables->FindByName(name, true));
  auto* manager = static_cast<TBRNTableManager*>(
      database.TableManagers->OpenManager(table, kBRNLockTypeShared));
  std::vector<int32_t> ids = ReadRowIDs(*manager);
  manager->Close(false, true);
  return ids;
}

// A begin step, the filling of what it returned, then its commit step, or
// its rollback step when the commit raised (as the executor does).
template <typename Object>
void RunThreeStep(const std::function<Object*(TBRNBaseTable*&)>& begin,
                  const std::function<void(TBRNBaseTable*, Object*)>& fill,
                  const std::function<void(TBRNBaseTable*, Object*)>& commit,
                  const std::function<void(TBRNBaseTable*, Object*)>& rollback) {
  TBRNBaseTable* table = nullptr;
  Object* object = begin(table);
  try {
    fill(table, object);
    commit(table, object);
  } catch (...) {
    rollback(table, object);
    throw;
  }
}

struct TableFaultTest : ViewRoutineTest {
  // An open database name holding table T1 (ID, Name) with rows 1 to 3,
  // its index ByID, its trigger Audit and a Select grant to Bob.
  Db& OpenTableDatabase(const std::string& name) {
    TBRNDatabaseContainer* entry = AddDatabase(*Session, name, "/config/" + name);
    entry->ApplyDefaultGrants();
    Db& database = *Session->GetDatabaseManager(entry);
    database.OpenDatabase(kBRNLockShared);
    CreateTable(database, "T1");
    auto* table = static_cast<TBRNBaseTable*>(
        database.Catalog->DefaultSchema->BaseTables->FindByName("T1", true));
    auto* manager = static_cast<TBRNTableManager*>(database.TableManagers->GetManager(table));
    manager->SetCreatingFiles(true);
    database.TableManagers->OpenManager(table, kBRNLockTypeShared);
    manager->SetCreatingFiles(false);
    for (int32_t id : {1, 2, 3}) InsertRawRow(*manager, id, false);
    manager->Close(false, true);
    CreateIndex(database, "T1", "ByID");
    RunThreeStep<TBRNTrigger>(
        [&](TBRNBaseTable*& t) { return database.CreateTrigger("T1", t, "Audit"); },
        [](TBRNBaseTable*, TBRNTrigger* g) {
          g->Definition->SetText("TRIGGER \"Audit\" BEGIN END");
        },
        [&](TBRNBaseTable* t, TBRNTrigger* g) { database.CommitCreateTrigger(t, g); },
        [&](TBRNBaseTable* t, TBRNTrigger* g) { database.RollbackCreateTrigger(t, g); });
    database.GrantPrivilege("Bob", "T1", 0, pkSelect);
    return database;
  }

  static void CreateTable(Db& database, const std::string& name) {
    TBRNBaseTable* table = database.CreateTable(name);
    try {
      DefineColumns(database, table);
      database.CommitCreateTable(table);
    } catch (...) {
      database.RollbackCreateTable(table);
      throw;
    }
  }
  static void DefineColumns(Db& database, TBRNBaseTable* table) {
    for (auto [columnName, type, length] :
         {std::tuple{"ID", dtInteger, 0}, std::tuple{"Name", dtChar, 20}}) {
      auto column = std::make_unique<TBRNColumn>(database.Catalog.get());
      column->Name = columnName;
      column->SetDataType(type);
      if (length != 0) column->SetLength(length);
      table->Columns->AddObject(column.get());
      column.release();
    }
  }
  // An ordinary index name over the ID column of table.
  static void CreateIndex(Db& database, const std::string& table, const std::string& name) {
    RunThreeStep<TBRNIndex>(
        [&](TBRNBaseTable*& t) { return database.CreateIndex(table, t, name); },
        [](TBRNBaseTable* t, TBRNIndex* index) {
          std::unique_ptr<TBRNIndexColumn> entry(
              static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
          entry->SetColumn(static_cast<TBRNColumn*>(t->Columns->FindByName("ID", true)));
          index->Columns->AddObject(entry.get());
          entry.release();
        },
        [&](TBRNBaseTable* t, TBRNIndex* index) { database.CommitCreateIndex(t, index); },
        [&](TBRNBaseTable* t, TBRNIndex* index) { database.RollbackCreateIndex(t, index); });
  }

  void SetUp() override {
    Session->ConfigManager->BeginUpdate();
    auto user = std::make_unique<TBRNUser>(Session->Config.get());
    user->SetName("Bob");
    user->SetPassword("secret");
    user->SetLockNumber(Session->Config->NextUserLockNumber());
    Session->Config->Users->AddObject(user.get());
    user.release();
    Session->ConfigManager->CommitUpdate();
  }
};

TEST_F(TableFaultTest, EachStatementLeavesCatalogAndFilesAsBeforeWhenItsWriteFails) {
  // Where the fault hits: the catalog file, or T1's row file for the
  // statement that writes no catalog.
  enum class Target { Catalog, Rows };
  struct Case {
    std::string Name;
    Target FaultOn;
    std::string FailureText;  // the failure stage reported
    std::function<void(Db&)> Run;
  };
  const std::vector<Case> cases = {
      {"CreateTable", Target::Catalog, "The creation of the table T9 did not complete",
       [](Db& d) { CreateTable(d, "T9"); }},
      {"DropTable", Target::Catalog, "The drop of the table T1 did not complete",
       [](Db& d) { d.DropTable("T1"); }},
      {"RenameTable", Target::Catalog, "The rename of the table T1 did not complete",
       [](Db& d) { d.RenameTable("T1", "T8"); }},
      {"EmptyTable", Target::Rows, "The empty of the table T1 did not complete",
       [](Db& d) { d.EmptyTable("T1", false); }},
      {"CreateIndex", Target::Catalog, "The creation of the index ByName did not complete",
       [](Db& d) { CreateIndex(d, "T1", "ByName"); }},
      {"AlterIndex", Target::Catalog, "The alteration of the index ByID did not complete",
       [](Db& d) {
         RunThreeStep<TBRNIndex>(
             [&](TBRNBaseTable*& t) { return d.AlterIndex("T1", t, "ByID"); },
             [](TBRNBaseTable*, TBRNIndex* index) { index->SetIndexType(kIndexUnique); },
             [&](TBRNBaseTable* t, TBRNIndex* index) { d.CommitAlterIndex(t, index); },
             [&](TBRNBaseTable* t, TBRNIndex* index) { d.RollbackAlterIndex(t, index); });
       }},
      {"DropIndex", Target::Catalog, "The drop of the index ByID did not complete",
       [](Db& d) { d.DropIndex("T1", "ByID"); }},
      {"RenameIndex", Target::Catalog, "The rename of the index ByID did not complete",
       [](Db& d) { d.RenameIndex("T1", "ByID", "ByKey"); }},
      {"CreateTrigger", Target::Catalog, "The creation of the trigger Stamp did not complete",
       [](Db& d) {
         RunThreeStep<TBRNTrigger>(
             [&](TBRNBaseTable*& t) { return d.CreateTrigger("T1", t, "Stamp"); },
             [](TBRNBaseTable*, TBRNTrigger* g) {
               g->Definition->SetText("TRIGGER \"Stamp\" BEGIN END");
             },
             [&](TBRNBaseTable* t, TBRNTrigger* g) { d.CommitCreateTrigger(t, g, 0); },
             [&](TBRNBaseTable* t, TBRNTrigger* g) { d.RollbackCreateTrigger(t, g); });
       }},
      {"AlterTrigger", Target::Catalog, "The alteration of the trigger Audit did not complete",
       [](Db& d) {
         RunThreeStep<TBRNTrigger>(
             [&](TBRNBaseTable*& t) { return d.AlterTrigger("T1", t, "Audit"); },
             [](TBRNBaseTable*, TBRNTrigger* g) { g->SetActionType(kTriggerUpdate); },
             [&](TBRNBaseTable* t, TBRNTrigger* g) { d.CommitAlterTrigger(t, g); },
             [&](TBRNBaseTable* t, TBRNTrigger* g) { d.RollbackAlterTrigger(t, g); });
       }},
      {"DropTrigger", Target::Catalog, "The drop of the trigger Audit did not complete",
       [](Db& d) { d.DropTrigger("T1", "Audit"); }},
      {"RenameTrigger", Target::Catalog, "The rename of the trigger Audit did not complete",
       [](Db& d) { d.RenameTrigger("T1", "Audit", "Watch"); }},
      {"GrantOnTable", Target::Catalog,
       "The grant of the privilege Delete on the table T1 did not complete",
       [](Db& d) { d.GrantPrivilege("Bob", "T1", 0, pkDelete); }},
      {"RevokeOnTable", Target::Catalog,
       "The revoke of the privilege Select on the table T1 did not complete",
       [](Db& d) { d.RevokePrivilege("Bob", "T1", 0, pkSelect); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Db& database = OpenTableDatabase(c.Name);
    const std::string folder = FolderOf(database);
    const std::map<std::string, std::string> filesBefore = FolderFiles(*Engine.Faults, folder);
    const std::vector<std::string> before = Snapshot(database);
    ASSERT_EQ(filesBefore.count(database.GetCatalogFileName()), 1u);
    ASSERT_EQ(filesBefore.count(folder + "T1.BRNTbl"), 1u);

    // The first write of the file fails; putting things back succeeds.
    const std::string target =
        c.FaultOn == Target::Catalog ? database.GetCatalogFileName() : folder + "T1.BRNTbl";
    Engine.Faults->Arm({TBRNFaultAction::FailWrite, 1, false, ENOSPC, 0, target});
    Statuses.clear();
    EXPECT_THROW(c.Run(database), EBRNException);
    Engine.Faults->Disarm();
    ASSERT_FALSE(Statuses.empty());
    EXPECT_EQ(Statuses.back(), c.FailureText);
    EXPECT_EQ(Snapshot(database), before);
    EXPECT_EQ(ChangedFiles(filesBefore, FolderFiles(*Engine.Faults, folder)),
              std::vector<std::string>{});
    EXPECT_FALSE(database.CatalogManager->InUpdate);

    ASSERT_NO_THROW(c.Run(database));
    EXPECT_NE(Statuses.back().find("successfully"), std::string::npos) << Statuses.back();
    EXPECT_TRUE(Snapshot(database) != before || FolderFiles(*Engine.Faults, folder) != filesBefore);
    database.CloseDatabase(true);
  }
}

// CREATE TABLE over files a table of that name left behind: a failing
// catalog write puts those files back where they were and leaves no new
// ones; once it succeeds they are ".Old" copies and the new table's own
// empty files open.
TEST_F(TableFaultTest, CreateTableOverLeftFilesIsAllOrNothing) {
  Db& database = OpenTableDatabase("Left");
  const std::string folder = FolderOf(database);
  {
    auto file = Engine.Faults->CreateFile(folder + "T9.BRNTbl", true, false, false);
    ASSERT_EQ(file->Write("left behind", 11), 11);
  }
  const std::map<std::string, std::string> filesBefore = FolderFiles(*Engine.Faults, folder);

  Engine.Faults->Arm({TBRNFaultAction::FailWrite, 1, false, ENOSPC, 0,
                      database.GetCatalogFileName()});
  EXPECT_THROW(CreateTable(database, "T9"), EBRNException);
  Engine.Faults->Disarm();
  EXPECT_EQ(ChangedFiles(filesBefore, FolderFiles(*Engine.Faults, folder)),
            std::vector<std::string>{});
  EXPECT_EQ(FileBytes(*Engine.Faults, folder + "T9.BRNTbl.Old"), "");

  ASSERT_NO_THROW(CreateTable(database, "T9"));
  EXPECT_EQ(FileBytes(*Engine.Faults, folder + "T9.BRNTbl.Old"), "left behind");
  EXPECT_EQ(RowIDs(database, "T9"), std::vector<int32_t>{});
  database.CloseDatabase(true);
  database.OpenDatabase(kBRNLockShared);
  EXPECT_EQ(RowIDs(database, "T9"), std::vector<int32_t>{});
}

// DROP TABLE deletes the files only once the catalog file no longer lists
// the table, and RENAME TABLE renames them back when the catalog write
// fails: either way the next open of the database finds T1 with its rows.
TEST_F(TableFaultTest, DropAndRenameKeepTheFilesWithTheListedTableWhenTheCommitFails) {
  struct Case {
    std::string Name;
    std::function<void(Db&)> Run;
    std::string NameAfter;  // the table's name once the statement succeeded
  };
  const std::vector<Case> cases = {
      {"Drop", [](Db& d) { d.DropTable("T1"); }, ""},
      {"Rename", [](Db& d) { d.RenameTable("T1", "T8"); }, "T8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Db& database = OpenTableDatabase(c.Name);
    const std::string folder = FolderOf(database);
    auto tableFiles = [&](const std::string& table) {
      std::vector<std::string> names;
      for (const auto& [name, bytes] : FolderFiles(*Engine.Faults, folder)) {
        if (name.rfind(folder + table + ".", 0) == 0) names.push_back(name);
      }
      return names;
    };
    const std::vector<std::string> files = tableFiles("T1");
    ASSERT_FALSE(files.empty());

    Engine.Faults->Arm(
        {TBRNFaultAction::FailWrite, 1, true, ENOSPC, 0, database.GetCatalogFileName()});
    EXPECT_THROW(c.Run(database), EBRNException);
    Engine.Faults->Disarm();
    database.CloseDatabase(true);
    database.OpenDatabase(kBRNLockShared);
    EXPECT_EQ(tableFiles("T1"), files);
    EXPECT_TRUE(tableFiles("T8").empty());
    EXPECT_EQ(RowIDs(database, "T1"), (std::vector<int32_t>{1, 2, 3}));

    c.Run(database);
    database.CloseDatabase(true);
    database.OpenDatabase(kBRNLockShared);
    EXPECT_TRUE(tableFiles("T1").empty());
    EXPECT_EQ(database.Catalog->DefaultSchema->BaseTables->FindByName("T1", false), nullptr);
    if (!c.NameAfter.empty()) {
      EXPECT_EQ(tableFiles(c.NameAfter).size(), files.size());
      EXPECT_EQ(RowIDs(database, c.NameAfter), (std::vector<int32_t>{1, 2, 3}));
    }
    database.CloseDatabase(true);
  }
}

// Statements that keep their change in the session: an armed fault on the
// catalog file cannot hit them, and the file stays as it is.
TEST_F(TableFaultTest, SessionOnlyStatementsNeverWriteTheCatalogFile) {
  struct Case {
    std::string Name;
    std::string SuccessText;
    std::function<void(Db&)> Run;
    std::function<void(Db&)> Prepare = [](Db&) {};
  };
  const std::vector<Case> cases = {
      {"CreateTemporaryTable", "The temporary table Tmp was created successfully",
       [](Db& d) {
         TBRNBaseTable* table = d.CreateTemporaryTable("Tmp", true);
         try {
           DefineColumns(d, table);
           d.CommitCreateTemporaryTable(table);
         } catch (...) {
           d.RollbackCreateTemporaryTable(table);
           throw;
         }
       }},
      {"DisableTrigger", "The trigger Audit was disabled successfully",
       [](Db& d) { d.DisableTrigger("T1", "Audit"); }},
      {"DisableTriggers", "The trigger Audit was disabled successfully",
       [](Db& d) { d.DisableTriggers("T1"); }},
      {"EnableTrigger", "The trigger Audit was enabled successfully",
       [](Db& d) { d.EnableTrigger("T1", "Audit"); }, [](Db& d) { d.DisableTriggers("T1"); }},
      {"EnableTriggers", "The trigger Audit was enabled successfully",
       [](Db& d) { d.EnableTriggers("T1"); }, [](Db& d) { d.DisableTriggers("T1"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Db& database = OpenTableDatabase(c.Name);
    c.Prepare(database);
    const std::string folder = FolderOf(database);
    const std::map<std::string, std::string> filesBefore = FolderFiles(*Engine.Faults, folder);
    const std::vector<std::string> before = Snapshot(database);
    Engine.Faults->Arm(
        {TBRNFaultAction::FailWrite, 1, true, ENOSPC, 0, database.GetCatalogFileName()});
    Statuses.clear();
    ASSERT_NO_THROW(c.Run(database));
    Engine.Faults->Disarm();
    ASSERT_FALSE(Statuses.empty());
    EXPECT_EQ(Statuses.back(), c.SuccessText);
    EXPECT_NE(Snapshot(database), before);
    EXPECT_EQ(FolderFiles(*Engine.Faults, folder), filesBefore);
    database.CloseDatabase(true);
  }
}

}  // namespace
}  // namespace brn::testing
