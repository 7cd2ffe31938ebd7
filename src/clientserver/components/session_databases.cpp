// The session component's side of its database components: the temporary
// databases that OpenDatabase creates, their use counts, and binding the
// components of an auto-session's owner.
#include <memory>
#include <stdexcept>

#include "clientserver/components/data_set_component.h"
#include "clientserver/components/database_component.h"
#include "clientserver/components/query_component.h"
#include "clientserver/components/session_component.h"
#include "foundation/text/collation.h"

namespace brn {

TBRNDatabase* TBRNSession::FindDatabase(const std::string& databaseName) {
  for (int32_t i = 0; i < GetDatabaseCount(); ++i) {
    TBRNDatabase* database = GetDatabase(i);
    if (TextEqualsIgnoreCase(database->GetDatabaseName(), databaseName)) return database;
  }
  return nullptr;
}

TBRNDatabase* TBRNSession::OpenDatabase(const std::string& databaseName) {
  SetConnected(true);
  TBRNDatabase* database = FindDatabase(databaseName);
  std::unique_ptr<TBRNDatabase> created;
  if (database == nullptr) {
    created = std::make_unique<TBRNDatabase>(this);
    created->SetSessionName(GetSessionName());
    created->temporary_ = true;
    created->SetDatabaseName(databaseName);
    created->SetDatabase(databaseName);
    created->SetKeepConnection(KeepConnections);
    database = created.get();
  }
  database->Open();
  ++database->useCount_;
  // From here the session (its owner) frees it.
  created.release();
  return database;
}

void TBRNSession::CloseDatabase(TBRNDatabase* database) {
  if (database->useCount_ > 0) --database->useCount_;
  if (database->useCount_ > 0 || database->keepConnection_) return;
  if (database->temporary_) {
    if (!database->destroying_) delete database;
  } else {
    database->Close();
  }
}

int32_t TBRNSession::Execute(const std::string& sql, TParams* params, TBRNQuery* query) {
  SetConnected(true);
  std::unique_ptr<TBRNQuery> temporary;
  if (query == nullptr) {
    temporary = std::make_unique<TBRNQuery>(nullptr);
    query = temporary.get();
    query->OnProgress = [this](TComponent*, int32_t percent, bool& proceed) {
      DoProgress(percent, proceed);
    };
    query->OnStatusMessage = [this](TComponent*, const std::string& text) { DoStatusMessage(text); };
    query->OnLogMessage = [this](TComponent*, const std::string& text) { DoLogMessage(text); };
  }
  return ExecSQLThrough(*query, GetSessionName(), "Configuration", sql, params);
}

void TBRNSession::BindOwnerComponents() {
  TComponent* owner = GetOwner();
  if (owner == nullptr) return;
  for (int32_t i = 0; i < owner->GetComponentCount(); ++i) {
    if (auto* dataSet = dynamic_cast<TBRNDBDataSet*>(owner->GetComponent(i))) {
      if (!TextEqualsIgnoreCase(dataSet->GetSessionName(), GetSessionName()))
        dataSet->SetSessionName(GetSessionName());
    } else if (auto* database = dynamic_cast<TBRNDatabase*>(owner->GetComponent(i))) {
      if (!TextEqualsIgnoreCase(database->GetSessionName(), GetSessionName()))
        database->SetSessionName(GetSessionName());
    }
  }
}

TBRNSession* FindOwnerAutoSession(TComponent* owner) {
  if (owner == nullptr) return nullptr;
  for (int32_t i = 0; i < owner->GetComponentCount(); ++i) {
    auto* session = dynamic_cast<TBRNSession*>(owner->GetComponent(i));
    if (session != nullptr && session->GetAutoSessionName()) return session;
  }
  return nullptr;
}

void TBRNSession::bindInsertedComponent(TComponent*) {
  // A component is still being constructed when its owner is told of it, so
  // it cannot be recognised here; database and dataset components look for
  // the auto-session of their owner in their own constructors instead.
}

void TBRNSession::releaseDatabases() {
  for (int32_t i = GetDatabaseCount() - 1; i >= 0; --i) {
    if (i >= GetDatabaseCount()) continue;
    TBRNDatabase* database = GetDatabase(i);
    if (database->temporary_)
      delete database;
    else
      database->Close();
  }
}

}  // namespace brn
