#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "platform/datasets/connection.h"

namespace brn {

class TBRNDatabaseManager;
class TBRNQuery;
class TBRNSession;
class TParams;

// What a database component needs of the datasets registered with it:
// CancelAndClose cancels pending changes, closes the dataset and leaves the
// database's client list.
class TBRNDatabaseClient {
 public:
  virtual void CancelAndClose() = 0;

 protected:
  ~TBRNDatabaseClient() = default;
};

// One element of StartTransactionForTables: only strings name tables.
using TBRNTableArgument = std::variant<std::string, int64_t, double, bool>;

// The connection component for one engine database within one session.
// DatabaseName is how the datasets of the session refer to it; Database
// names the engine database it opens. Registered datasets are its clients.
//
// Invariants: Connected exactly while the handle exists; InTransaction only
// while connected; the component is in the database list of the session it
// references (nullptr only while it is being destroyed).
//
// Ownership: the handle is the session manager's and is given back through
// its CloseDatabase; the session component is only referenced (told of its
// freeing through FreeNotification).
//
// Threads: the application's thread only, like its session.
class TBRNDatabase : public TCustomConnection {
 public:
  explicit TBRNDatabase(TComponent* owner);
  ~TBRNDatabase() override;

  static constexpr const char* kEngineVersion = "2.14 Build 5";
  std::string GetEngineVersion() const { return kEngineVersion; }

  bool GetConnected() const override { return handle_ != nullptr; }

  const std::string& GetDatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& value);
  const std::string& GetDatabase() const { return database_; }
  void SetDatabase(const std::string& value);
  bool GetKeepConnection() const { return keepConnection_; }
  // Turning it off closes the database when no OpenDatabase use remains.
  void SetKeepConnection(bool value);
  const std::string& GetSessionName() const { return sessionName_; }
  void SetSessionName(const std::string& value);

  TBRNSession* GetSession() const { return session_; }
  TBRNDatabaseManager* GetHandle() const { return handle_; }
  bool GetInTransaction() const { return inTransaction_; }
  const std::vector<std::string>& GetTransactionTables() const { return transactionTables_; }
  bool GetTemporary() const { return temporary_; }
  int32_t GetUseCount() const { return useCount_; }

  // Tables empty means every table; timeoutMs is the lock wait (-1 none).
  virtual void StartTransaction(const std::vector<std::string>& tables, int32_t timeoutMs);
  virtual void StartTransactionForTables(const std::vector<TBRNTableArgument>& tables,
                                         int32_t timeoutMs);
  virtual void Commit(bool forceFlush);
  virtual void Rollback();

  // Runs sql through query (or a temporary query given this database's
  // report events) on this database; params, when given, go in and their
  // output values come back. Answers the rows affected.
  int32_t Execute(const std::string& sql, TParams* params = nullptr, TBRNQuery* query = nullptr);
  std::function<void(TComponent* sender, int32_t percentDone, bool& proceed)> OnProgress;
  std::function<void(TComponent* sender, const std::string& message)> OnStatusMessage;
  std::function<void(TComponent* sender, const std::string& message)> OnLogMessage;

  // Cancels and closes every registered dataset, the last first.
  void CloseDataSets();

  // "Cannot perform this operation on a closed database" when closed.
  void CheckOpen() const;

 protected:
  void DoConnect() override;
  void DoDisconnect() override;
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  // The session component's database bookkeeping and the session's own
  // assignment of its reference during auto-session binding.
  friend class TBRNSession;

  void bindSession(bool mustExist);
  void checkUniqueName(const std::string& name);
  void endTransaction(bool commit, bool forceFlush);

  TBRNSession* session_ = nullptr;
  TBRNDatabaseManager* handle_ = nullptr;
  std::string databaseName_;
  std::string database_;
  std::string sessionName_;
  std::vector<std::string> transactionTables_;
  int32_t useCount_ = 0;
  bool keepConnection_ = true;
  bool temporary_ = false;
  bool inTransaction_ = false;
  bool destroying_ = false;
};

}  // namespace brn
