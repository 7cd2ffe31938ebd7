#include "clientserver/components/database_component.h"

#include <exception>
#include <memory>

#include "clientserver/components/component_error.h"
#include "clientserver/components/engine_component.h"
#include "clientserver/components/query_component.h"
#include "clientserver/components/session_component.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "foundation/text/string_list.h"
#include "sessions/manager_interfaces.h"
#include "sessions/session_manager.h"

namespace brn {

namespace {

bool sameText(const std::string& a, const std::string& b) { return TextEqualsIgnoreCase(a, b); }

TBRNSession* findSession(const std::string& name, bool mustExist) {
  TBRNEngineInstance* instance = TBRNEngineInstance::Get();
  if (instance == nullptr) {
    if (mustExist) DatabaseError(FormatText("Session name '%s' is not valid", {name}));
    return nullptr;
  }
  return mustExist ? instance->GetSession(name) : instance->FindSession(name);
}

}  // namespace

TBRNDatabase::TBRNDatabase(TComponent* owner) : TCustomConnection(owner) {
  // An auto-session of the same owner takes the component.
  session_ = FindOwnerAutoSession(owner);
  if (session_ == nullptr) {
    if (auto* ownerSession = dynamic_cast<TBRNSession*>(owner))
      session_ = ownerSession;
    else
      session_ = findSession("", false);
  }
  if (session_ != nullptr) {
    sessionName_ = session_->GetSessionName();
    session_->FreeNotification(this);
    session_->AddDatabase(this);
  }
  keepConnection_ = true;
}

TBRNDatabase::~TBRNDatabase() {
  destroying_ = true;
  try {
    DoDisconnect();
  } catch (...) {
    // A destructor cannot report; the handle is given back regardless.
  }
  if (session_ != nullptr) {
    session_->RemoveDatabase(this);
    session_->RemoveFreeNotification(this);
    session_ = nullptr;
  }
}

void TBRNDatabase::SetDatabaseName(const std::string& value) {
  if (IsLoading()) {
    databaseName_ = value;
    return;
  }
  if (sameText(value, databaseName_)) return;
  if (GetConnected()) DatabaseError("Cannot perform this operation on an open database");
  checkUniqueName(value);
  databaseName_ = value;
}

void TBRNDatabase::SetDatabase(const std::string& value) {
  if (sameText(value, database_)) return;
  if (GetConnected()) DatabaseError("Cannot perform this operation on an open database");
  database_ = value;
}

void TBRNDatabase::SetKeepConnection(bool value) {
  if (keepConnection_ == value) return;
  keepConnection_ = value;
  if (!value && useCount_ == 0) Close();
}

void TBRNDatabase::SetSessionName(const std::string& value) {
  if (IsLoading()) {
    sessionName_ = value;
    return;
  }
  if (value == sessionName_) return;
  if (GetConnected()) DatabaseError("Cannot perform this operation on an open database");
  sessionName_ = value;
  bindSession(false);
}

void TBRNDatabase::bindSession(bool mustExist) {
  if (destroying_) return;
  TBRNSession* found = findSession(sessionName_, mustExist);
  if (found != nullptr && found != session_) {
    if (session_ != nullptr) {
      session_->RemoveDatabase(this);
      session_->RemoveFreeNotification(this);
    }
    session_ = found;
    session_->FreeNotification(this);
    session_->AddDatabase(this);
  }
  try {
    checkUniqueName(databaseName_);
  } catch (...) {
    databaseName_.clear();
    throw;
  }
  if (mustExist && session_ != nullptr) session_->SetConnected(true);
}

void TBRNDatabase::checkUniqueName(const std::string& name) {
  if (name.empty() || session_ == nullptr) return;
  TBRNDatabase* other = nullptr;
  for (int32_t i = 0; i < session_->GetDatabaseCount(); ++i) {
    TBRNDatabase* candidate = session_->GetDatabase(i);
    if (candidate != this && sameText(candidate->databaseName_, name)) {
      other = candidate;
      break;
    }
  }
  if (other == nullptr) return;
  if (!other->temporary_ || other->useCount_ > 0)
    DatabaseError(FormatText("Database name '%s' already exists", {name}));
  // An unused temporary component gives its name up.
  delete other;
}

void TBRNDatabase::DoConnect() {
  if (GetConnected()) return;
  if (databaseName_.empty()) DatabaseError("Database name is missing");
  bindSession(true);
  try {
    session_->SetConnected(true);
    handle_ = session_->GetSessionManager().OpenDatabase(database_, kBRNLockShared);
  } catch (...) {
    RaiseAsComponentError();
  }
}

void TBRNDatabase::DoDisconnect() {
  if (!GetConnected()) return;
  try {
    CloseDataSets();
    if (handle_ != nullptr && session_ != nullptr && session_->SessionManager() != nullptr)
      session_->SessionManager()->CloseDatabase(handle_);
  } catch (const EBRNAbortException&) {
    // The user already knows why the close stopped.
  } catch (const EDatabaseError&) {
    handle_ = nullptr;
    useCount_ = 0;
    inTransaction_ = false;
    throw;
  } catch (const std::exception& error) {
    handle_ = nullptr;
    useCount_ = 0;
    inTransaction_ = false;
    throw EBRNError(error);
  }
  handle_ = nullptr;
  useCount_ = 0;
  inTransaction_ = false;
}

void TBRNDatabase::CloseDataSets() {
  while (GetClientCount() > 0) {
    TComponent* last = GetClient(GetClientCount() - 1);
    if (auto* client = dynamic_cast<TBRNDatabaseClient*>(last)) client->CancelAndClose();
    // A client that did not leave the list on closing is dropped, so that
    // the loop ends.
    if (GetClientCount() > 0 && GetClient(GetClientCount() - 1) == last) UnRegisterClient(last);
  }
}

void TBRNDatabase::Loaded() {
  TCustomConnection::Loaded();
  if (!GetStreamedConnected()) bindSession(false);
}

void TBRNDatabase::Notification(TComponent* component, TOperation operation) {
  TCustomConnection::Notification(component, operation);
  if (operation != TOperation::opRemove || component != session_ || session_ == nullptr) return;
  // The session is past its own destructor here: it closed its databases
  // when it disconnected and no longer lists them, so none of its members
  // may be touched.
  if (session_ == findSession("", false)) return;
  if (GetConnected()) {
    CloseDataSets();
    handle_ = nullptr;
    useCount_ = 0;
    inTransaction_ = false;
  }
  session_ = nullptr;
  sessionName_.clear();
  bindSession(false);
}

void TBRNDatabase::CheckOpen() const {
  if (!GetConnected()) DatabaseError("Cannot perform this operation on a closed database");
}

void TBRNDatabase::StartTransaction(const std::vector<std::string>& tables, int32_t timeoutMs) {
  CheckOpen();
  if (inTransaction_)
    DatabaseError(FormatText("Database '%s' already has an active transaction", {databaseName_}));
  try {
    TBRNStringsList list;
    for (const std::string& table : tables) list.Add(table);
    handle_->StartTransaction(list, timeoutMs);
  } catch (...) {
    RaiseAsComponentError();
  }
  transactionTables_ = tables;
  inTransaction_ = true;
}

void TBRNDatabase::StartTransactionForTables(const std::vector<TBRNTableArgument>& tables,
                                             int32_t timeoutMs) {
  std::vector<std::string> names;
  names.reserve(tables.size());
  for (size_t i = 0; i < tables.size(); ++i) {
    const auto* name = std::get_if<std::string>(&tables[i]);
    if (name == nullptr)
      DatabaseError(FormatText("Invalid table name passed to StartTransaction in position %s",
                               {std::to_string(i)}));
    names.push_back(*name);
  }
  StartTransaction(names, timeoutMs);
}

void TBRNDatabase::Commit(bool forceFlush) {
  CheckOpen();
  endTransaction(true, forceFlush);
}

void TBRNDatabase::Rollback() {
  CheckOpen();
  endTransaction(false, false);
}

void TBRNDatabase::endTransaction(bool commit, bool forceFlush) {
  if (handle_ == nullptr || !inTransaction_)
    DatabaseError(FormatText("Database '%s' has no active transaction", {databaseName_}));
  try {
    if (commit)
      handle_->Commit(forceFlush, false);
    else
      handle_->Rollback();
  } catch (const EBRNAbortException&) {
    // Swallowed: the transaction is over as far as the user is concerned.
  } catch (const EDatabaseError&) {
    throw;
  } catch (const std::exception& error) {
    throw EBRNError(error);
  }
  inTransaction_ = false;
}

int32_t TBRNDatabase::Execute(const std::string& sql, TParams* params, TBRNQuery* query) {
  Open();
  std::unique_ptr<TBRNQuery> temporary;
  if (query == nullptr) {
    temporary = std::make_unique<TBRNQuery>(nullptr);
    query = temporary.get();
    query->OnProgress = OnProgress;
    query->OnStatusMessage = OnStatusMessage;
    query->OnLogMessage = OnLogMessage;
  }
  return ExecSQLThrough(*query, sessionName_, databaseName_, sql, params);
}

}  // namespace brn
