#include "sessions/session_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/values/param_value.h"
#include "sessions/manager_interfaces.h"
#include "sessions/test_session.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::TestEngineSession;

// A session that records what reaches its callbacks.
class RecordingSession {
 public:
  RecordingSession() : Session(new TestEngineSession(&Engine)) {
    Session->Events.OnProgress = [this](int32_t percent, bool& proceed) {
      Reports.push_back(percent);
      if (StopAfter >= 0 && int32_t(Reports.size()) > StopAfter) proceed = false;
    };
    Session->Events.OnStatusMessage = [this](const std::string& text) { Status.push_back(text); };
    Session->Events.OnLogMessage = [this](const std::string& text) { Log.push_back(text); };
  }

  TBRNEngineManager Engine;
  TestEngineSession* Session;  // owned by the engine
  std::vector<int32_t> Reports;
  std::vector<std::string> Status;
  std::vector<std::string> Log;
  int32_t StopAfter = -1;
};

TEST(SessionProgress, OnlyTheOutermostBracketReports) {
  RecordingSession r;
  TestEngineSession& s = *r.Session;
  s.Ticks = 100;
  s.BeginProgress();
  s.Ticks = 5000;
  s.BeginProgress();  // nested: no report, percentage untouched
  EXPECT_TRUE(s.UpdateProgress(50));
  EXPECT_TRUE(s.ForceProgress(60));
  s.StatusMessage("inner", true);  // dropped inside a nested bracket
  s.LogMessage("log always");
  s.EndProgress();
  EXPECT_EQ(r.Reports, (std::vector<int32_t>{0}));
  EXPECT_EQ(s.GetElapsedTime(), 0);  // still open

  s.StatusMessage("outer", true);
  s.StatusMessage("outer, not inside", false);
  EXPECT_TRUE(s.UpdateProgress(70));  // 4900 ms since the begin: reports
  s.Ticks = 5500;
  EXPECT_TRUE(s.UpdateProgress(80));  // within the interval: not reported
  EXPECT_TRUE(s.ForceProgress(85));   // forced
  s.Ticks = 6100;
  s.EndProgress();
  EXPECT_EQ(r.Reports, (std::vector<int32_t>{0, 70, 85, 100}));
  EXPECT_EQ(r.Status, (std::vector<std::string>{"outer"}));
  EXPECT_EQ(r.Log, (std::vector<std::string>{"log always"}));
  EXPECT_EQ(s.GetElapsedTime(), 6000);

  // Unmatched end: nothing happens.
  s.EndProgress();
  EXPECT_EQ(s.Progress->Level, 0);
  EXPECT_EQ(r.Reports.size(), 4u);
  s.StatusMessage("outside", false);
  EXPECT_EQ(r.Status.back(), "outside");
}

TEST(SessionProgress, UserStopReachesTheCaller) {
  RecordingSession r;
  TestEngineSession& s = *r.Session;
  r.StopAfter = 1;
  s.BeginProgress();
  s.Ticks = 2000;
  EXPECT_FALSE(s.UpdateProgress(10));
  s.EndProgress();
}

TEST(SessionManager, DefaultsAndCallbacksWhenNoneIsSet) {
  TBRNEngineManager engine;
  auto* s = new TestEngineSession(&engine);
  EXPECT_EQ(s->RecordLockRetryCount, 15);
  EXPECT_EQ(s->RecordLockWaitTime, 100);
  EXPECT_EQ(s->ODBCVersion, 3);
  EXPECT_EQ(s->GetProgressTimeInterval(), 1000);
  std::string user = "u", password = "p";
  bool proceed = true;
  EXPECT_FALSE(s->PromptLogin(user, password, proceed));
  EXPECT_EQ(user, "u");
  EXPECT_EQ(password, "p");
  EXPECT_TRUE(s->DoProgress(10));
  s->OpenSession("ident", "name", "desc");
  EXPECT_TRUE(s->Opened);
  EXPECT_EQ(s->Identity, "ident");
  EXPECT_EQ(s->SessionDescription, "desc");
  s->CloseSession();
  EXPECT_FALSE(s->Opened);
}

TEST(SessionManager, ScriptPauseSuspendsEveryOtherCallback) {
  RecordingSession r;
  TestEngineSession& s = *r.Session;
  int pauses = 0;
  s.Events.OnScriptPause = [&](int32_t line, const std::exception*, bool) {
    ++pauses;
    EXPECT_EQ(line, 12);
    s.StatusMessage("while paused", false);
    s.ForceProgress(5);
    s.DoScriptPause(13, nullptr, false);  // nested pause reaches nobody
    throw std::runtime_error("debugger closed");
  };
  EXPECT_THROW(s.DoScriptPause(12, nullptr, true), std::runtime_error);
  EXPECT_EQ(pauses, 1);
  EXPECT_TRUE(r.Status.empty());
  s.StatusMessage("after", false);
  EXPECT_EQ(r.Status, (std::vector<std::string>{"after"}));
}

// A store over a map of files, reading and writing in the chunks asked for.
class MemoryStore : public TBRNStoreManager {
 public:
  void ListFiles(const std::string&) override {}
  int64_t BeginReadFile(const std::string& name) override {
    Current = name;
    Offset = 0;
    return int64_t(Files[name].size());
  }
  uint32_t ReadFile(TBRNMemoryStream& target, uint32_t count) override {
    ++Chunks;
    const std::string& data = Files[Current];
    uint32_t n = uint32_t(std::min<size_t>(count, data.size() - Offset));
    if (FailRead) n = 0;
    target.Write(data.data() + Offset, int32_t(n));
    Offset += n;
    return n;
  }
  void CancelReadFile() override { ++Cancels; }
  void EndReadFile() override { ++Ends; }
  void BeginWriteFile(const std::string& name) override {
    Current = name;
    Files[name].clear();
  }
  uint32_t WriteFile(TBRNMemoryStream& source, uint32_t count) override {
    ++Chunks;
    std::string chunk(count, '\0');
    source.Read(chunk.data(), int32_t(count));
    Files[Current] += chunk;
    return count;
  }
  void CancelWriteFile() override {
    ++Cancels;
    Files.erase(Current);
  }
  void EndWriteFile() override { ++Ends; }
  void CopyFile(const std::string&, const std::string&) override {}
  void RenameFile(const std::string&, const std::string&) override {}
  void DeleteFile(const std::string&) override {}
  void CloseStore(bool force) override {
    ++Closes;
    TBRNStoreManager::CloseStore(force);
    if (FailClose) throw EBRNException(1306, "Error with the store Backups (close failed)");
  }

  std::map<std::string, std::string> Files;
  std::string Current;
  size_t Offset = 0;
  int Chunks = 0, Cancels = 0, Ends = 0, Closes = 0;
  bool FailRead = false;
  bool FailClose = false;
};

class StoreCopy : public ::testing::Test {
 protected:
  StoreCopy() { r.Session->Store = &store; }
  RecordingSession r;
  MemoryStore store;
};

TEST_F(StoreCopy, FileToStreamInChunksOf64K) {
  const struct {
    size_t size;
    int chunks;
  } cases[] = {{0, 0}, {65536, 1}, {65537, 2}, {200000, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    std::string data(c.size, 'x');
    for (size_t i = 0; i < c.size; ++i) data[i] = char(i * 7);
    store.Files["f.bin"] = data;
    store.Chunks = 0;
    r.Reports.clear();
    r.Status.clear();
    TBRNMemoryStream target;
    r.Session->SaveStoreFileToStream("Backups", "f.bin", target);
    EXPECT_EQ(store.Chunks, c.chunks);
    ASSERT_EQ(size_t(target.GetSize()), c.size);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(target.GetMemory()), c.size), data);
    EXPECT_EQ(r.Reports.front(), 0);
    EXPECT_EQ(r.Reports.back(), 100);
    EXPECT_EQ(r.Status, (std::vector<std::string>{
                            "Copying the file f.bin in the store Backups...",
                            "The file f.bin in the store Backups was copied successfully"}));
  }
  EXPECT_FALSE(store.Opened);
}

TEST_F(StoreCopy, StreamToFileCopiesOnlyWhatFollowsThePosition) {
  TBRNMemoryStream source;
  std::string data(70000, 'a');
  data[0] = 'S';
  source.Write(data.data(), int32_t(data.size()));
  source.SetPosition(1);
  r.Session->SaveStreamToStoreFile("Backups", "g.bin", source);
  EXPECT_EQ(store.Files["g.bin"], data.substr(1));
  EXPECT_EQ(store.Chunks, 2);
  EXPECT_EQ(store.Ends, 1);
}

TEST_F(StoreCopy, FailureCancelsClosesAndRaises1306) {
  store.Files["f.bin"] = std::string(1000, 'x');
  store.FailRead = true;
  TBRNMemoryStream target;
  EBRNException e =
      CaughtError([&] { r.Session->SaveStoreFileToStream("Backups", "f.bin", target); });
  EXPECT_EQ(e.ErrorCode, 1306);
  EXPECT_EQ(e.ErrorMessage,
            "Error with the store Backups (Error reading the file f.bin from the input stream)");
  EXPECT_EQ(store.Cancels, 1);
  EXPECT_EQ(store.Closes, 1);
  EXPECT_EQ(r.Session->Progress->Level, 0);
  EXPECT_EQ(r.Status.back(), "The copy of the file f.bin in the store Backups did not complete");
}

TEST_F(StoreCopy, UserStopEndsAfterTheCurrentChunkWithoutError) {
  store.Files["f.bin"] = std::string(300000, 'x');
  r.Session->SetProgressTimeInterval(0);
  r.StopAfter = 1;  // the begin report, then the first chunk's answers stop
  TBRNMemoryStream target;
  r.Session->SaveStoreFileToStream("Backups", "f.bin", target);
  EXPECT_EQ(target.GetSize(), 65536);
  EXPECT_EQ(r.Status.back(), "The copy of the file f.bin in the store Backups did not complete");
  EXPECT_EQ(store.Ends, 1);
}

// A store that fails to close fails a copy that went well; after a failed
// copy the copy's own error reaches the caller. The store is closed once
// either way and the status never claims success.
TEST_F(StoreCopy, CloseFailureReachesTheCallerUnlessACopyErrorIsUnwinding) {
  const struct {
    bool toStream;
    bool failRead;
    const char* error;
  } cases[] = {
      {true, false, "Error with the store Backups (close failed)"},
      {false, false, "Error with the store Backups (close failed)"},
      {true, true,
       "Error with the store Backups (Error reading the file f.bin from the input stream)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    SCOPED_TRACE(c.toStream);
    store.Files["f.bin"] = std::string(1000, 'x');
    store.FailRead = c.failRead;
    store.FailClose = true;
    store.Closes = 0;
    TBRNMemoryStream stream;
    stream.Write("abc", 3);
    stream.SetPosition(0);
    EBRNException e = CaughtError([&] {
      if (c.toStream) {
        r.Session->SaveStoreFileToStream("Backups", "f.bin", stream);
      } else {
        r.Session->SaveStreamToStoreFile("Backups", "f.bin", stream);
      }
    });
    EXPECT_EQ(e.ErrorCode, 1306);
    EXPECT_EQ(e.ErrorMessage, c.error);
    EXPECT_EQ(store.Closes, 1);
    EXPECT_EQ(r.Session->Progress->Level, 0);
    EXPECT_EQ(r.Status.back(), "The copy of the file f.bin in the store Backups did not complete");
  }
}

TEST(StoreFilesList, StreamRoundTripDropsOnlyTheDescription) {
  TBRNStoreFilesList list;
  auto* plain = new TBRNStoreFile();
  plain->Name = "notes.txt";
  plain->Description = "not streamed";
  plain->CreatedOn = 11;
  plain->Size = 22;
  plain->Modified = 33;
  list.Add(plain);
  auto* backup = new TBRNStoreFile();
  backup->Kind = 1;
  backup->Name = "b.BRNBkp";
  backup->Description = "nightly";
  backup->DatabaseName = "Sales";
  backup->DatabasePath = "/data/sales/";
  backup->CreatedOn = 44;
  backup->CreatedBy = "Admin";
  backup->CompressionLevel = 6;
  backup->Size = 55;
  backup->Modified = 66;
  backup->IncludesCatalog = true;
  backup->CatalogVersion = 20500;
  backup->Tables = {"Orders\t12", "Lines\t3"};
  list.Add(backup);
  auto* update = new TBRNStoreFile(*backup);
  update->Kind = 2;
  list.Add(update);
  auto* odd = new TBRNStoreFile(*backup);
  odd->Kind = 9;
  list.Add(odd);

  TBRNMemoryStream stream;
  list.SaveToStream(stream);
  stream.SetPosition(0);
  TBRNStoreFilesList read;
  read.LoadFromStream(stream);
  ASSERT_EQ(read.GetCount(), 4);
  EXPECT_EQ(stream.GetRemaining(), 0);
  EXPECT_EQ(read.GetItem(0).Modified, 33);
  EXPECT_EQ(read.GetItem(0).Description, "");
  const TBRNStoreFile& b = read.GetItem(1);
  EXPECT_EQ(b.DatabasePath, "/data/sales/");
  EXPECT_EQ(b.CreatedBy, "Admin");
  EXPECT_EQ(b.CompressionLevel, 6);
  EXPECT_TRUE(b.IncludesCatalog);
  EXPECT_EQ(b.CatalogVersion, 20500);
  EXPECT_EQ(b.Tables, backup->Tables);
  EXPECT_EQ(b.Description, "");
  EXPECT_FALSE(read.GetItem(2).IncludesCatalog);  // not streamed for updates
  EXPECT_EQ(read.GetItem(2).Tables.size(), 2u);
  EXPECT_EQ(read.GetItem(3).Kind, 9);
  EXPECT_EQ(read.GetItem(3).DatabaseName, "");

  TBRNStoreFilesList copy;
  copy.Assign(list);
  EXPECT_EQ(copy.GetItem(1).Description, "nightly");
  EXPECT_EQ(copy.GetItem(1).Tables, backup->Tables);
}

TEST(StoreFilesList, DamagedCountsAreRefused) {
  TBRNMemoryStream stream;
  stream.WriteInteger(1000000);  // records that are not there
  stream.SetPosition(0);
  TBRNStoreFilesList list;
  EXPECT_THROW(list.LoadFromStream(stream), std::runtime_error);

  TBRNMemoryStream cut;
  cut.WriteInteger(1);
  cut.WriteInteger(1);
  cut.WriteInteger(500);  // a name longer than the stream
  cut.SetPosition(0);
  EXPECT_THROW(list.LoadFromStream(cut), std::runtime_error);
  EXPECT_EQ(list.GetCount(), 0);
}

// A statement that counts its frees.
class CountedStatement : public TBRNStatementManager {
 public:
  explicit CountedStatement(int& frees) : Frees(frees) {}
  ~CountedStatement() override { ++Frees; }
  bool GetSensitive() override { return false; }
  void GetPlan(std::string&) override {}
  int32_t GetRowsAffected() override { return 0; }
  int32_t GetExecutionTime() override { return 0; }
  bool GetExecutionResult() override { return true; }
  TBRNCursor* ExecuteStatement() override { return nullptr; }
  int& Frees;
};

class EmptyDatabase : public TBRNDatabaseManager {
 public:
  TBRNCursor* OpenTable(const std::string&, const std::string&, bool, bool) override {
    return nullptr;
  }
  TBRNStatementManager* PrepareStatement(const std::string&) override { return nullptr; }
  TBRNProcedureManager* PrepareProcedure(const std::string&) override { return nullptr; }
  TBRNScriptManager* PrepareScript(const std::string&) override { return nullptr; }
  void StartTransaction(const TBRNStringsList&, int32_t) override {}
  void Commit(bool, bool) override {}
  void Rollback() override {}
};

TEST(DatabaseManager, CloseFreesEverythingStillRegistered) {
  int frees = 0;
  EmptyDatabase database;
  database.OpenDatabase(kBRNLockShared);
  EXPECT_TRUE(database.Opened);
  auto* statement = new CountedStatement(frees);
  EXPECT_NE(statement->Params, nullptr);
  EXPECT_TRUE(statement->RequestSensitive);
  database.Statements.AddObject(statement, false);
  database.Statements.AddObject(new CountedStatement(frees), false);
  database.CloseDatabase(false);
  EXPECT_FALSE(database.Opened);
  EXPECT_EQ(frees, 2);
  EXPECT_EQ(database.Statements.Count > 0 ? database.Statements.FindObject(1) : nullptr, nullptr);
}

}  // namespace
}  // namespace brn

namespace brn {
namespace {

// A database object that counts its frees.
class CountedObject : public TBRNHandleObject {
 public:
  explicit CountedObject(int& frees) : Frees(frees) {}
  ~CountedObject() override { ++Frees; }
  int& Frees;
};

// Two open databases of one session, each with objects in its tables and
// the frees of each database's objects counted apart.
class SessionHandles : public ::testing::Test {
 protected:
  SessionHandles() : Session(new TestEngineSession(&Engine)) {
    First.OpenDatabase(kBRNLockShared);
    Second.OpenDatabase(kBRNLockShared);
  }
  // Registers a new object in the table of database and gives it a
  // session-wide handle in index; returns that handle.
  int32_t Open(TBRNDatabaseManager& database, TBRNHandleObjects& table,
               TBRNSessionHandleIndex& index) {
    auto* object = new CountedObject(&database == &First ? FirstFrees : SecondFrees);
    table.AddObject(object, false);
    return index.Add(&database, object->Handle);
  }

  TBRNEngineManager Engine;
  TestEngineSession* Session;  // owned by the engine
  EmptyDatabase First;
  EmptyDatabase Second;
  int FirstFrees = 0;
  int SecondFrees = 0;
};

TEST_F(SessionHandles, ClosingADatabaseFreesExactlyItsObjectsAndDropsTheirHandles) {
  int32_t firstCursor = Open(First, First.Cursors, Session->Cursors);
  int32_t secondCursor = Open(Second, Second.Cursors, Session->Cursors);
  int32_t firstCursorToo = Open(First, First.Cursors, Session->Cursors);
  int32_t firstStatement = Open(First, First.Statements, Session->Statements);
  int32_t secondStatement = Open(Second, Second.Statements, Session->Statements);
  int32_t firstScript = Open(First, First.Scripts, Session->Scripts);
  EXPECT_EQ((std::vector<int32_t>{firstCursor, secondCursor, firstCursorToo}),
            (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(Session->Cursors.Find(secondCursor), Second.Cursors.FindObject(1));
  EXPECT_EQ(Session->Statements.Find(firstStatement), First.Statements.FindObject(1));

  TBRNDatabaseManager* first = &First;
  Session->CloseDatabase(first);
  EXPECT_FALSE(First.Opened);
  EXPECT_EQ(FirstFrees, 4);
  EXPECT_EQ(SecondFrees, 0);
  for (int32_t handle : {firstCursor, firstCursorToo}) {
    EXPECT_EQ(Session->Cursors.Find(handle), nullptr);
    EXPECT_EQ(Session->Cursors.GetTarget(handle).Database, nullptr);
  }
  EXPECT_EQ(Session->Statements.Find(firstStatement), nullptr);
  EXPECT_EQ(Session->Scripts.Find(firstScript), nullptr);
  EXPECT_EQ(Session->Cursors.GetCount(), 1);
  EXPECT_EQ(Session->Statements.GetCount(), 1);
  EXPECT_EQ(Session->Scripts.GetCount(), 0);
  EXPECT_EQ(Session->Cursors.Find(secondCursor), Second.Cursors.FindObject(1));
  EXPECT_EQ(Session->Statements.Find(secondStatement), Second.Statements.FindObject(1));

  // The freed handles are handed out again, lowest first.
  EXPECT_EQ(Open(Second, Second.Cursors, Session->Cursors), 1);
  TBRNDatabaseManager* second = &Second;
  Session->CloseDatabase(second);
  EXPECT_EQ(SecondFrees, 3);
  EXPECT_EQ(Session->Cursors.GetCount(), 0);
}

TEST_F(SessionHandles, RemovingAHandleLeavesTheObjectToItsDatabase) {
  int32_t handle = Open(First, First.Procedures, Session->Procedures);
  TBRNSessionHandleTarget target = Session->Procedures.Remove(handle);
  EXPECT_EQ(target.Database, &First);
  EXPECT_EQ(target.Handle, 1);
  EXPECT_EQ(FirstFrees, 0);
  EXPECT_NE(First.Procedures.FindObject(1), nullptr);
  EXPECT_EQ(Session->Procedures.Find(handle), nullptr);
  EXPECT_EQ(Session->Procedures.Remove(handle).Database, nullptr);
  // The object may be given a session-wide handle again.
  EXPECT_EQ(Session->Procedures.Add(&First, 1), handle);
}

TEST_F(SessionHandles, MisuseLeavesTheIndexUnchanged) {
  int32_t handle = Open(First, First.Cursors, Session->Cursors);
  First.Cursors.AddObject(new CountedObject(FirstFrees), false);
  TBRNSessionHandleIndex small(1, &TBRNDatabaseManager::Cursors);
  ASSERT_EQ(small.Add(&First, 1), 1);
  const struct {
    const char* what;
    std::function<void()> add;
    bool logicError;
  } cases[] = {
      {"no object under the handle", [&] { Session->Cursors.Add(&First, 7); }, true},
      {"no database", [&] { Session->Cursors.Add(nullptr, 1); }, true},
      {"the other table's kind", [&] { Session->Statements.Add(&First, 1); }, true},
      {"a second handle for one object", [&] { Session->Cursors.Add(&First, 1); }, true},
      {"capacity exceeded", [&] { small.Add(&First, 2); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.logicError) {
      EXPECT_THROW(c.add(), std::logic_error);
    } else {
      EXPECT_THROW(c.add(), std::runtime_error);
    }
  }
  EXPECT_EQ(Session->Cursors.GetCount(), 1);
  EXPECT_EQ(Session->Statements.GetCount(), 0);
  EXPECT_EQ(small.GetCount(), 1);
  EXPECT_EQ(Session->Cursors.GetTarget(handle).Handle, 1);
  EXPECT_EQ(Session->Cursors.Find(2), nullptr);
  EXPECT_EQ(small.Find(2), nullptr);
  EXPECT_EQ(FirstFrees, 0);
}

}  // namespace
}  // namespace brn
