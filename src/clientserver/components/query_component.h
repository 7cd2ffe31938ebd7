#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "clientserver/components/data_set_component.h"
#include "platform/datasets/data_source.h"
#include "platform/params.h"
#include "platform/string_list.h"

namespace brn {

class TBRNQuery;
class TBRNStatementManager;

// The link of a detail query to its master: whenever the master opens or
// moves (not while it takes key values) the query runs again with the
// master's values.
class TBRNQueryDataLink : public TDetailDataLink {
 public:
  explicit TBRNQueryDataLink(TBRNQuery& query) : query_(query) {}
  TDataSet* GetDetailDataSet() override;

 protected:
  void ActiveChanged() override;
  void RecordChanged(TField* field) override;

 private:
  TBRNQuery& query_;
};

// Makes target a copy of source: names, types, directions, sizes, values.
void CopyParams(const TParams& source, TParams& target);

// The dataset component that runs SQL: its text (with ":name" parameter
// markers) is prepared into a statement of the held database, executed,
// and the query opens over the result cursor when there is one.
//
// Invariants: Prepared exactly while the statement exists; the statement
// exists only while usage bit 0 holds the database (open, or an ExecSQL
// running). Changing the SQL text (other than in blanks at both ends),
// RequestSensitive, DatabaseName or SessionName, or closing, unprepares.
//
// Ownership: the query owns SQL, Params, Plan and the statement; the result
// cursor belongs to the statement.
//
// Threads: one thread per query, its session's.
class TBRNQuery : public TBRNDBDataSet {
 public:
  explicit TBRNQuery(TComponent* owner);
  ~TBRNQuery() override;

  std::string GetEngineVersion() const { return kBRNQueryEngineVersion; }
  static constexpr const char* kBRNQueryEngineVersion = "2.14 Build 5";

  // The SQL lines; their change notification rescans the text.
  TStringList SQL;
  void SetSQLText(const std::string& text);
  // The scanner's text: parameter markers replaced by "?".
  const std::string& GetProcessedText() const { return processedText_; }
  TParams Params;
  bool ParamCheck = true;
  bool Constrained = false;
  bool RequestPlan = false;
  TStringList Plan;

  bool GetRequestSensitive() const { return requestSensitive_; }
  void SetRequestSensitive(bool value);
  bool GetReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  bool GetPrepared() const { return statement_ != nullptr; }
  void SetPrepared(bool value);
  void Prepare() { SetPrepared(true); }
  void Unprepare();

  // Executes the SQL; a result cursor leaves the query open over it.
  void ExecSQL();
  int32_t GetRowsAffected() const { return rowsAffected_; }
  double GetExecutionTime() const { return executionTime_; }
  bool GetExecutionResult() const { return executionResult_; }

  using TBRNDataSet::GetUpdateObject;
  using TBRNDataSet::SetUpdateObject;

  bool GetCanModify() const override { return TBRNDBDataSet::GetCanModify() && !readOnly_; }
  void CancelAndClose() override;
  bool SetDatabaseFlag(int32_t bit, bool value) override;

  // Reports while a statement runs; each is installed on the session
  // manager only for the duration of the execution.
  std::function<void(TComponent* sender, int32_t percentDone, bool& proceed)> OnProgress;
  std::function<void(TComponent* sender, const std::string& message)> OnStatusMessage;
  std::function<void(TComponent* sender, const std::string& message)> OnLogMessage;
  TNotifyEvent BeforePrepare, AfterPrepare, BeforeUnPrepare, AfterUnPrepare;

  // The master: parameters not bound take its fields of the same name.
  TDataSource* GetDataSource() const { return dataLink_.GetDataSource(); }
  // "Circular data links are not allowed" when source is linked to this
  // query.
  void SetDataSource(TDataSource* source);
  // Closes and opens again with the master's current values, unless the
  // master is closed or takes key values.
  void MasterChanged();

  // Whether the session manager's progress callback is installed (tests).
  bool ProgressInstalled() const;

 protected:
  TBRNCursor* CreateCursor() override;
  void NameChanging() override { Unprepare(); }

 private:
  void setParamsFromDataSource();
  void sqlChanged();
  void scanSQL(bool collectParams);
  TBRNCursor* prepareAndExecute();
  TBRNCursor* executeStatement();

  std::unique_ptr<TBRNStatementManager> statement_;
  TBRNQueryDataLink dataLink_{*this};
  std::string lastText_;
  std::string processedText_;
  int32_t rowsAffected_ = 0;
  double executionTime_ = 0;
  bool executionResult_ = false;
  bool requestSensitive_ = false;
  bool readOnly_ = false;
  bool executing_ = false;
};

// Runs sql once through query (a caller's, or a temporary one when the
// caller passed none) in the named session and database: params, when
// given, go in as the statement's parameters and come back with their
// output values. Returns the rows affected. The query is closed first.
int32_t ExecSQLThrough(TBRNQuery& query, const std::string& sessionName,
                       const std::string& databaseName, const std::string& sql, TParams* params);

}  // namespace brn
