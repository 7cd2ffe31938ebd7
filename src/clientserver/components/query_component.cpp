#include "clientserver/components/query_component.h"

#include <exception>
#include <utility>

#include "clientserver/components/component_error.h"
#include "clientserver/components/param_conversion.h"
#include "clientserver/components/session_component.h"
#include "foundation/text/exception.h"
#include "foundation/text/sql_text_scanner.h"
#include "foundation/values/param_value.h"
#include "sessions/manager_interfaces.h"
#include "sessions/session_manager.h"
#include "storage/cursors/cursor.h"

namespace brn {

namespace {

// Characters 0 to 32 removed at both ends.
std::string trimControl(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
  return text.substr(first, last - first);
}

std::string joinLines(const TStringList& lines) {
  std::string text;
  for (int32_t i = 0; i < lines.Count(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines.Get(i);
  }
  return text;
}

}  // namespace

void CopyParams(const TParams& source, TParams& target) {
  if (&source == &target) return;
  target.Clear();
  for (int32_t i = 0; i < source.Count(); ++i) {
    const TParam& from = source.Get(i);
    TParam& to = target.CreateParam(from.DataType, from.Name, from.ParamType);
    to.Size = from.Size;
    if (from.Bound) to.SetValue(from.GetValue());
  }
}

TBRNQuery::TBRNQuery(TComponent* owner) : TBRNDBDataSet(owner) {
  SQL.OnChange = [this] { sqlChanged(); };
}

TBRNQuery::~TBRNQuery() {
  try {
    CancelAndClose();
  } catch (...) {
    // A destructor cannot report; the statement goes with the query.
  }
  SQL.OnChange = nullptr;
}

void TBRNQuery::SetSQLText(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (trimControl(text) == trimControl(joinLines(SQL))) return;
  SQL.Assign(lines);
}

void TBRNQuery::sqlChanged() {
  const std::string text = joinLines(SQL);
  if (trimControl(text) == trimControl(lastText_)) return;
  lastText_ = text;
  if (IsLoading()) {
    scanSQL(false);
    return;
  }
  CancelAndClose();
  scanSQL(ParamCheck || IsDesigning());
  DataEvent(dePropertyChange);
}

void TBRNQuery::scanSQL(bool collectParams) {
  const std::string text = joinLines(SQL);
  int32_t position = 1;
  std::string processed;
  std::vector<std::string> names;
  ParseSQLText(text, position, processed, false, ';',
               [&](std::string_view name) { names.emplace_back(name); });
  processedText_ = processed;
  if (!collectParams) return;
  // The new list keeps the values of same-named parameters of the old one.
  TParams fresh;
  for (const std::string& name : names) fresh.CreateParam(ftUnknown, name, ptInput);
  fresh.AssignValues(Params);
  CopyParams(fresh, Params);
}

void TBRNQuery::SetRequestSensitive(bool value) {
  if (value == requestSensitive_) return;
  CheckInactive();
  Unprepare();
  requestSensitive_ = value;
}

void TBRNQuery::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  CheckInactive();
  readOnly_ = value;
}

void TBRNQuery::SetPrepared(bool value) {
  if (value == GetPrepared()) return;
  CheckInactive();
  if (value) {
    if (processedText_.empty()) DatabaseError("No SQL statement specified");
    if (BeforePrepare) BeforePrepare(this);
    try {
      statement_.reset(GetDatabase()->GetHandle()->PrepareStatement(processedText_));
      TBRNParamValues& values = *statement_->Params;
      const int32_t count = std::min(values.GetCount(), Params.Count());
      for (int32_t i = 0; i < count; ++i) {
        TParam& param = Params.Get(i);
        const auto* engine = static_cast<const TBRNParamValue*>(values.GetItem(i));
        param.ParamType = EngineDirectionToParamType(engine->GetDirection());
        if (param.DataType == ftUnknown) SetParamTypeFromEngine(param, *engine);
      }
    } catch (...) {
      statement_.reset();
      RaiseAsComponentError();
    }
    if (AfterPrepare) AfterPrepare(this);
  } else {
    if (BeforeUnPrepare) BeforeUnPrepare(this);
    statement_.reset();
    if (AfterUnPrepare) AfterUnPrepare(this);
  }
}

void TBRNQuery::Unprepare() {
  try {
    SetPrepared(false);
  } catch (const EBRNAbortException&) {
  } catch (const EDatabaseError&) {
    throw;
  } catch (const std::exception& error) {
    throw EBRNError(error);
  }
}

TBRNCursor* TBRNQuery::CreateCursor() {
  if (GetHandedCursor() != nullptr) return GetHandedCursor();
  return prepareAndExecute();
}

TBRNCursor* TBRNQuery::prepareAndExecute() {
  if (SQL.Count() == 0) DatabaseError("No SQL statement specified");
  try {
    SetPrepared(true);
    if (GetDataSource() != nullptr) setParamsFromDataSource();
    return executeStatement();
  } catch (...) {
    RaiseAsComponentError();
  }
}

TBRNCursor* TBRNQuery::executeStatement() {
  statement_->RequestSensitive = requestSensitive_;
  TBRNSessionManager* manager = GetDatabase()->GetSession()->SessionManager();
  // The reports reach this query only while its statement runs; whatever
  // the session had installed comes back afterwards.
  const TBRNSessionEvents saved = manager->Events;
  manager->Events.OnProgress = nullptr;
  manager->Events.OnStatusMessage = nullptr;
  manager->Events.OnLogMessage = nullptr;
  if (OnProgress)
    manager->Events.OnProgress = [this](int32_t percent, bool& proceed) {
      OnProgress(this, percent, proceed);
    };
  if (OnStatusMessage)
    manager->Events.OnStatusMessage = [this](const std::string& text) {
      OnStatusMessage(this, text);
    };
  if (OnLogMessage)
    manager->Events.OnLogMessage = [this](const std::string& text) { OnLogMessage(this, text); };
  executing_ = true;
  TBRNCursor* cursor = nullptr;
  try {
    ParamsToEngineValues(Params, *statement_->Params);
    cursor = statement_->ExecuteStatement();
    EngineValuesToParams(Params, *statement_->Params);
  } catch (...) {
    executing_ = false;
    manager->Events.OnProgress = saved.OnProgress;
    manager->Events.OnStatusMessage = saved.OnStatusMessage;
    manager->Events.OnLogMessage = saved.OnLogMessage;
    throw;
  }
  executing_ = false;
  manager->Events.OnProgress = saved.OnProgress;
  manager->Events.OnStatusMessage = saved.OnStatusMessage;
  manager->Events.OnLogMessage = saved.OnLogMessage;
  if (cursor != nullptr && cursor->ReadOnly) readOnly_ = true;
  std::string plan;
  statement_->GetPlan(plan);
  Plan.Clear();
  if (!plan.empty()) Plan.Add(plan);
  rowsAffected_ = statement_->GetRowsAffected();
  executionTime_ = statement_->GetExecutionTime() / 1000.0;
  executionResult_ = statement_->GetExecutionResult();
  return cursor;
}

bool TBRNQuery::ProgressInstalled() const {
  if (GetDatabase() == nullptr || GetDatabase()->GetSession() == nullptr) return false;
  TBRNSessionManager* manager = GetDatabase()->GetSession()->SessionManager();
  return manager != nullptr && executing_ && static_cast<bool>(manager->Events.OnProgress);
}

void TBRNQuery::ExecSQL() {
  CheckInactive();
  SetDatabaseFlag(0, true);
  try {
    OpenWithCursor(prepareAndExecute());
  } catch (...) {
    SetDatabaseFlag(0, false);
    throw;
  }
}

void TBRNQuery::CancelAndClose() {
  TBRNDBDataSet::CancelAndClose();
  Unprepare();
}

bool TBRNQuery::SetDatabaseFlag(int32_t bit, bool value) {
  const bool previous = TBRNDBDataSet::SetDatabaseFlag(bit, value);
  // The statement lives on the held database only.
  if (!value && GetDatabase() == nullptr && GetPrepared()) {
    if (BeforeUnPrepare) BeforeUnPrepare(this);
    statement_.reset();
    if (AfterUnPrepare) AfterUnPrepare(this);
  }
  return previous;
}

// ---- Master and detail

TDataSet* TBRNQueryDataLink::GetDetailDataSet() {
  return &query_;
}

void TBRNQueryDataLink::ActiveChanged() {
  if (query_.GetActive()) query_.MasterChanged();
}

void TBRNQueryDataLink::RecordChanged(TField* field) {
  if (field == nullptr && query_.GetActive()) query_.MasterChanged();
}

void TBRNQuery::SetDataSource(TDataSource* source) {
  if (source != nullptr && source->GetDataSet() == this)
    DatabaseError("Circular data links are not allowed");
  dataLink_.SetDataSource(source);
}

void TBRNQuery::MasterChanged() {
  TDataSet* master = dataLink_.GetDataSet();
  if (master == nullptr || !master->GetActive() || master->GetState() == dsSetKey) return;
  Close();
  Open();
}

void TBRNQuery::setParamsFromDataSource() {
  TDataSet* master = dataLink_.GetDataSet();
  if (master == nullptr) return;
  for (int32_t i = 0; i < Params.Count(); ++i) {
    TParam& param = Params.Get(i);
    if (param.Bound) continue;
    TField& field = master->FieldByName(param.Name);
    AssignParamFromField(param, field);
    param.Bound = false;
  }
}

int32_t ExecSQLThrough(TBRNQuery& query, const std::string& sessionName,
                       const std::string& databaseName, const std::string& sql, TParams* params) {
  query.Close();
  query.SetSessionName(sessionName);
  query.SetDatabaseName(databaseName);
  query.SetSQLText(sql);
  query.SetRequestSensitive(true);
  if (params != nullptr) CopyParams(*params, query.Params);
  query.ExecSQL();
  const int32_t rows = query.GetRowsAffected();
  if (params != nullptr) CopyParams(query.Params, *params);
  return rows;
}

}  // namespace brn
