#include "sessions/config/config_command_frame.h"

#include <stdexcept>
#include <utility>

#include "foundation/text/string_helpers.h"
#include "metadata/config/config.h"
#include "metadata/core/config_objects.h"
#include "sessions/local/config_manager.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

TBRNConfigManager& configManager(TBRNLocalSessionManager& session) {
  if (!session.ConfigManager) throw std::logic_error("The session has no configuration file");
  return *session.ConfigManager;
}

}  // namespace

std::string ConfigStatementText(const std::string& pattern, const std::string& name) {
  return FormatText(pattern, {name});
}

std::string ConfigStatementText(const std::string& pattern, const std::string& name,
                                const std::string& other) {
  return FormatText(pattern, {name, other});
}

void RunConfigChecks(TBRNLocalSessionManager& session, uint32_t checks,
                     const std::string& statement) {
  if ((checks & kConfigCheckLogin) != 0) session.RequireLogin(statement);
  if ((checks & kConfigCheckAdministrator) != 0) session.RequireAdministrator(statement);
  if ((checks & kConfigCheckWritable) != 0) session.RequireWritableConfig(statement);
}

// ---- The configuration bracket

void BeginConfigUpdate(TBRNLocalSessionManager& session) {
  configManager(session).BeginUpdate();
}

void CommitConfigUpdate(TBRNLocalSessionManager& session) {
  configManager(session).CommitUpdate();
}

void CancelConfigUpdate(TBRNLocalSessionManager& session) {
  TBRNConfigManager& manager = configManager(session);
  if (!manager.InUpdate) return;
  // A change in memory need not have set the modified flag (an object
  // changed before it was added, a flag the setters do not track): the
  // flag makes the cancel reload the configuration in every case.
  session.Config->SetModified(true);
  manager.CancelUpdate();
}

TBRNConfigUpdateBracket::TBRNConfigUpdateBracket(TBRNLocalSessionManager& session)
    : session_(session) {
  BeginConfigUpdate(session_);
}

TBRNConfigUpdateBracket::~TBRNConfigUpdateBracket() {
  if (!open_) return;
  try {
    CancelConfigUpdate(session_);
  } catch (...) {
    // The error that left the scope is the one to report.
  }
}

void TBRNConfigUpdateBracket::Commit() {
  CommitConfigUpdate(session_);
  open_ = false;
}

void TBRNConfigUpdateBracket::Release() {
  open_ = false;
}

TBRNConfigReadBracket::TBRNConfigReadBracket(TBRNLocalSessionManager& session) : session_(session) {
  configManager(session_).BeginRead();
}

TBRNConfigReadBracket::~TBRNConfigReadBracket() {
  session_.ConfigManager->EndRead();
}

// ---- Status stages

TBRNStageReporter ReportCreate(TBRNLocalSessionManager& session, const TBRNConfigObject* object) {
  return
      [&session, object](TBRNOperationStage stage) { session.ReportCreateStatus(stage, object); };
}

TBRNStageReporter ReportAlter(TBRNLocalSessionManager& session, const TBRNConfigObject* object,
                              const std::string& detail) {
  return [&session, object, detail](TBRNOperationStage stage) {
    session.ReportAlterStatus(stage, object, detail);
  };
}

TBRNStageReporter ReportDrop(TBRNLocalSessionManager& session, const TBRNConfigObject* object) {
  return [&session, object](TBRNOperationStage stage) { session.ReportDropStatus(stage, object); };
}

TBRNStageReporter ReportRename(TBRNLocalSessionManager& session, const TBRNConfigObject* object) {
  return
      [&session, object](TBRNOperationStage stage) { session.ReportRenameStatus(stage, object); };
}

TBRNStatusStages::TBRNStatusStages(TBRNStageReporter reporter) : reporter_(std::move(reporter)) {
  reporter_(osStarting);
}

TBRNStatusStages::~TBRNStatusStages() {
  if (reported_) return;
  try {
    reporter_(osNotCompleted);
  } catch (...) {
    // A failing status text must not hide the failure it reports.
  }
}

void TBRNStatusStages::Complete() {
  reported_ = true;
  reporter_(osCompleted);
}

void TBRNStatusStages::Release() {
  reported_ = true;
}

void TBRNStatusStages::Fail() {
  reported_ = true;
  reporter_(osNotCompleted);
}

// ---- Three-call CREATE and ALTER

TBRNConfigObject* BeginCreateObject(
    TBRNLocalSessionManager& session, const std::string& statement,
    const std::function<std::unique_ptr<TBRNConfigObject>()>& makeObject) {
  RunConfigChecks(session, kConfigChecksChange, statement);
  TBRNConfigUpdateBracket update(session);
  std::unique_ptr<TBRNConfigObject> object = makeObject();
  session.ReportCreateStatus(osStarting, object.get());
  update.Release();
  return object.release();
}

void EndCreateObject(TBRNLocalSessionManager& session, TBRNConfigObjects& collection,
                     TBRNConfigObject* object) {
  collection.AddObject(object);
  CommitConfigUpdate(session);
  session.ReportCreateStatus(osCompleted, object);
}

void CancelCreateObject(TBRNLocalSessionManager& session, TBRNConfigObjects& collection,
                        TBRNConfigObject* object) {
  try {
    if (object != nullptr) session.ReportCreateStatus(osNotCompleted, object);
  } catch (...) {
    // The object is freed and the update cancelled whatever the status does.
  }
  if (object != nullptr && !IsMemberOf(collection, object)) delete object;
  CancelConfigUpdate(session);
}

void EndAlterObject(TBRNLocalSessionManager& session, const TBRNConfigObject* object) {
  CommitConfigUpdate(session);
  session.ReportAlterStatus(osCompleted, object);
}

void CancelAlterObject(TBRNLocalSessionManager& session, const TBRNConfigObject* object) {
  try {
    session.ReportAlterStatus(osNotCompleted, object);
  } catch (...) {
    // The update is cancelled whatever the status does.
  }
  CancelConfigUpdate(session);
}

bool IsMemberOf(const TBRNConfigObjects& collection, const TBRNConfigObject* object) {
  for (int32_t i = 0; i < collection.Count(); ++i)
    if (collection.GetItem(i) == object) return true;
  return false;
}

}  // namespace brn
