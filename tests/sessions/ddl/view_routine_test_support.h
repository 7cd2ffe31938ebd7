// A session logged in as Administrator on an engine whose files live in
// fault-injecting memory, with databases holding a table, views and
// routines stored in their catalog files; and a fake of the view-query and
// routine-body execution that SQL execution provides.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files/fault_file_manager.h"
#include "foundation/text/exception.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/views.h"
#include "metadata/config/users_roles.h"
#include "sessions/databases/database_test_support.h"
#include "sessions/ddl/schema_object_execution.h"

namespace brn::testing {

class FaultEngine : public TBRNEngineManager {
 public:
  FaultEngine() {
    CreateFileManagers();
    Settings->SetConfigPath("/config");
  }
  std::unique_ptr<TBRNFileManager> CreateFileManager() override {
    auto files = std::make_unique<TBRNFaultFileManager>(Environment.get());
    Faults = files.get();
    return files;
  }
  TBRNFaultFileManager* Faults = nullptr;
};

// The bytes of a memory file; empty when there is none.
inline std::string FileBytes(TBRNFileManager& files, const std::string& name) {
  int32_t index = 0;
  if (!files.FindFile(name, index)) return {};
  auto* file = static_cast<TBRNMemoryFile*>(files.Files[size_t(index)].get());
  std::string bytes;
  for (int64_t at = 0; at < file->Size; ++at) {
    const int64_t block = at / TBRNMemoryFile::BlockSize;
    bytes.push_back(char(file->Blocks[size_t(block)][size_t(at % TBRNMemoryFile::BlockSize)]));
  }
  return bytes;
}

// The fake: a view's query reads one source object (a table or a view),
// which its Prepare opens through the database's manager lists and its
// Unprepare closes again; routine bodies record the user they were
// prepared as and fail on request.
class FakeExecution : public TBRNSchemaObjectExecution {
 public:
  FakeExecution() { SetSchemaObjectExecution(this); }
  ~FakeExecution() override { SetSchemaObjectExecution(nullptr); }

  struct Source {
    TBRNSchemaObjectManagers* Managers;
    TBRNPrivilegedSchemaObject* Object;
  };
  std::map<std::string, Source> Sources;  // by view name
  std::vector<std::string> PreparedAs;    // user names, one per body prepared
  bool FailPrepare = false;
  int32_t Unprepared = 0;

  class Query : public TBRNViewQueryManager {
   public:
    explicit Query(Source source) : source_(source) {}
    void Prepare() override {
      result_ = dynamic_cast<TBRNVirtualTableManager*>(
          source_.Managers->OpenManager(source_.Object, kBRNLockTypeShared));
    }
    void Unprepare(bool) override {
      if (result_ != nullptr) result_->Close(false, true);
      result_ = nullptr;
    }
    TBRNVirtualTableManager* GetResultManager() override { return result_; }
    std::unique_ptr<TBRNCursor> ExecuteQuery(const std::string&, bool, bool) override {
      throw std::logic_error("no cursors in the fake");
    }
    void OpenFilterLevel(TBRNCursor&) override {}

   private:
    Source source_;
    TBRNVirtualTableManager* result_ = nullptr;
  };

  std::unique_ptr<TBRNViewQueryManager> CreateViewQueryManager(TBRNViewManager& manager, bool,
                                                               bool) override {
    return std::make_unique<Query>(Sources.at(manager.GetView()->Name));
  }
  void PrepareRoutineBody(TBRNRoutine& routine, TBRNEvaluationContext&) override {
    PreparedAs.push_back(Database->GetCurrentUser()->Name);
    if (FailPrepare) throw EBRNException(9999, "The body of " + routine.Name + " failed");
  }
  void UnprepareRoutineBody(TBRNRoutine&) override { ++Unprepared; }

  // The database whose current user the body sees; set by the test.
  TBRNLocalDatabaseManager* Database = nullptr;
};

struct ViewRoutineTest : ::testing::Test {
  FaultEngine Engine;
  std::unique_ptr<TBRNLocalSessionManager> Session = OpenAdministrator();
  std::vector<std::string> Statuses;

  std::unique_ptr<TBRNLocalSessionManager> OpenAdministrator() {
    auto session = std::make_unique<TBRNLocalSessionManager>(&Engine, false, false);
    session->OpenSession("host", "Tester", "");
    session->Login("Administrator", "GlenHarbor");
    session->Events.OnStatusMessage = [this](const std::string& text) { Statuses.push_back(text); };
    return session;
  }

  // An open database name holding, in its catalog file, table T1 (ID,
  // Name), views V1 over T1 and V2 over V1, function F1 and procedure P1.
  TBRNLocalDatabaseManager* OpenDatabase(const std::string& name) {
    TBRNDatabaseContainer* entry = AddDatabase(*Session, name, "/config/" + name);
    entry->ApplyDefaultGrants();
    TBRNLocalDatabaseManager* database = Session->GetDatabaseManager(entry);
    database->OpenDatabase(kBRNLockShared);
    TBRNCatalog& catalog = *database->Catalog;
    database->CatalogManager->BeginUpdate();
    AddTable(catalog, "T1", false);
    AddView(catalog, "V1", "SELECT * FROM T1");
    AddView(catalog, "V2", "SELECT * FROM V1");
    AddRoutine(catalog, new TBRNFunction(&catalog),
               "FUNCTION F1() RETURNS INTEGER BEGIN RETURN 1; END");
    AddRoutine(catalog, new TBRNProcedure(&catalog), "PROCEDURE P1() BEGIN END");
    database->CatalogManager->CommitUpdate();
    return database;
  }

  static TBRNView* AddView(TBRNCatalog& catalog, const std::string& name,
                           const std::string& query) {
    auto view = std::make_unique<TBRNView>(&catalog);
    view->Name = name;
    view->Definition->SetText(query);
    view->SetLockNumber(catalog.NextTableLockNumber());
    view->ApplyDefaultGrants();
    catalog.DefaultSchema->Views->AddObject(view.get());
    return view.release();
  }
  // Takes routine (new, named by its text) into its list.
  static TBRNRoutine* AddRoutine(TBRNCatalog& catalog, TBRNRoutine* routine,
                                 const std::string& text) {
    std::unique_ptr<TBRNRoutine> owned(routine);
    const bool function = dynamic_cast<TBRNFunction*>(routine) != nullptr;
    owned->Name = text.substr(text.find(' ') + 1, 2);
    owned->Definition->SetText(text);
    owned->SetLockNumber(catalog.NextRoutineLockNumber());
    owned->ApplyDefaultGrants();
    if (function) {
      catalog.DefaultSchema->Functions->AddObject(owned.get());
    } else {
      catalog.DefaultSchema->Procedures->AddObject(owned.get());
    }
    return owned.release();
  }
};

}  // namespace brn::testing
