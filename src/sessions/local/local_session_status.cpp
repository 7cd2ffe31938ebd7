// Status texts, log events and the lock and statistics snapshots of a local
// session.

#include "sessions/local/local_session_manager.h"

#include <cstdint>
#include <string>

#include "foundation/locks/log_manager.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "metadata/config/databases.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_log_manager.h"
#include "sql/tree/expr.h"

namespace brn {

namespace {

// The words of one kind of operation in its three status texts.
struct StatusWords {
  const char* Starting;    // "Creating"
  const char* Noun;        // "creation"
  const char* Participle;  // "created"
};

constexpr StatusWords kCreateWords{"Creating", "creation", "created"};
constexpr StatusWords kAlterWords{"Altering", "alteration", "altered"};
constexpr StatusWords kDropWords{"Dropping", "drop", "dropped"};
constexpr StatusWords kRenameWords{"Renaming", "rename", "renamed"};
constexpr StatusWords kEmptyWords{"Emptying", "empty", "emptied"};
constexpr StatusWords kVerifyWords{"Verifying", "verify", "verified"};
constexpr StatusWords kOptimizeWords{"Optimizing", "optimization", "optimized"};
constexpr StatusWords kImportWords{"Importing", "import", "imported"};
constexpr StatusWords kExportWords{"Exporting", "export", "exported"};
constexpr StatusWords kBackupWords{"Backing up", "back up", "backed up"};
constexpr StatusWords kRestoreWords{"Restoring", "restore", "restored"};
constexpr StatusWords kMigrateWords{"Migrating", "migrate", "migrated"};
constexpr StatusWords kPublishWords{"Publishing", "publish", "published"};
constexpr StatusWords kUnpublishWords{"Unpublishing", "unpublish", "unpublished"};
constexpr StatusWords kSaveUpdatesWords{"Saving updates for", "updates save", "saved"};
constexpr StatusWords kLoadUpdatesWords{"Loading updates for", "updates load", "loaded"};
constexpr StatusWords kCompareWords{"Comparing", "comparison", "compared"};
constexpr StatusWords kFileCopyWords{"Copying", "copy", "copied"};
constexpr StatusWords kFileRenameWords{"Renaming", "rename", "renamed"};
constexpr StatusWords kFileDeleteWords{"Deleting", "deletion", "deleted"};
constexpr StatusWords kGrantWords{"Granting", "grant", "granted"};
constexpr StatusWords kRevokeWords{"Revoking", "revoke", "revoked"};

// Errors that another session's change causes; never worth more than a
// warning.
constexpr int32_t kRowModifiedError = 1008;
constexpr int32_t kRowNotVisibleError = 1010;

std::string typeOf(const TBRNConfigObject* object) {
  return object->GetObjectTypeName();
}
std::string nameOf(const TBRNConfigObject* object) {
  return object->GetName();
}

// The common texts: "<Verb> the <type> <name>...", "The <noun> of the
// <type> <name> did not complete", "The <type> <name> was <participle>
// successfully". A detail shows in the starting text only.
std::string objectText(TBRNOperationStage stage, const StatusWords& words,
                       const TBRNConfigObject* object, const std::string& detail) {
  switch (stage) {
    case osStarting: {
      std::string name = nameOf(object);
      if (!detail.empty()) name += " - " + detail;
      return FormatText("%s the %s %s...", {words.Starting, typeOf(object), name});
    }
    case osNotCompleted:
      return FormatText("The %s of the %s %s did not complete",
                        {words.Noun, typeOf(object), nameOf(object)});
    default:
      return FormatText("The %s %s was %s successfully",
                        {typeOf(object), nameOf(object), words.Participle});
  }
}

// The texts of an operation that joins two things: "<Verb> the <a> <b>
// <link> the <c> <d>...", "The <noun> of the <a> <b> <link> the <c> <d>
// did not complete", "The <a> <b> was <participle> successfully <link> the
// <c> <d>".
std::string pairText(TBRNOperationStage stage, const StatusWords& words, const std::string& link,
                     const std::string& firstType, const std::string& firstName,
                     const std::string& secondType, const std::string& secondName) {
  switch (stage) {
    case osStarting:
      return FormatText("%s the %s %s " + link + " the %s %s...",
                        {words.Starting, firstType, firstName, secondType, secondName});
    case osNotCompleted:
      return FormatText("The %s of the %s %s " + link + " the %s %s did not complete",
                        {words.Noun, firstType, firstName, secondType, secondName});
    default:
      return FormatText("The %s %s was %s successfully " + link + " the %s %s",
                        {firstType, firstName, words.Participle, secondType, secondName});
  }
}

// The texts of a file in a store: "<Verb> the file <file> in the <type>
// <name>...", "The <noun> of the file <file> in the <type> <name> did not
// complete", "The file <file> in the <type> <name> was <participle>
// successfully".
std::string storeFileText(TBRNOperationStage stage, const StatusWords& words,
                          const TBRNConfigObject* store, const std::string& fileName) {
  switch (stage) {
    case osStarting:
      return FormatText("%s the file %s in the %s %s...",
                        {words.Starting, fileName, typeOf(store), nameOf(store)});
    case osNotCompleted:
      return FormatText("The %s of the file %s in the %s %s did not complete",
                        {words.Noun, fileName, typeOf(store), nameOf(store)});
    default:
      return FormatText("The file %s in the %s %s was %s successfully",
                        {fileName, typeOf(store), nameOf(store), words.Participle});
  }
}

// Milliseconds as seconds in decimal text: 1500 gives "1.5".
std::string secondsText(int64_t elapsedMs) {
  return CurrencyToString(elapsedMs * 10);
}

}  // namespace

// ---- Status texts

void TBRNLocalSessionManager::ReportCreateStatus(TBRNOperationStage stage,
                                                 const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kCreateWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportAlterStatus(TBRNOperationStage stage,
                                                const TBRNConfigObject* object,
                                                const std::string& detail) {
  StatusMessage(objectText(stage, kAlterWords, object, detail), false);
}

void TBRNLocalSessionManager::ReportDropStatus(TBRNOperationStage stage,
                                               const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kDropWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportRenameStatus(TBRNOperationStage stage,
                                                 const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kRenameWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportEmptyStatus(TBRNOperationStage stage,
                                                const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kEmptyWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportVerifyStatus(TBRNOperationStage stage,
                                                 const TBRNConfigObject* object,
                                                 const std::string& detail) {
  StatusMessage(objectText(stage, kVerifyWords, object, detail), false);
}

void TBRNLocalSessionManager::ReportOptimizeStatus(TBRNOperationStage stage,
                                                   const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kOptimizeWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportImportStatus(TBRNOperationStage stage,
                                                 const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kImportWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportExportStatus(TBRNOperationStage stage,
                                                 const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kExportWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportBackupStatus(TBRNOperationStage stage,
                                                 const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kBackupWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportRestoreStatus(TBRNOperationStage stage,
                                                  const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kRestoreWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportMigrateStatus(TBRNOperationStage stage,
                                                  const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kMigrateWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportPublishStatus(TBRNOperationStage stage,
                                                  const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kPublishWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportUnpublishStatus(TBRNOperationStage stage,
                                                    const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kUnpublishWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportSaveUpdatesStatus(TBRNOperationStage stage,
                                                      const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kSaveUpdatesWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportLoadUpdatesStatus(TBRNOperationStage stage,
                                                      const TBRNConfigObject* object) {
  StatusMessage(objectText(stage, kLoadUpdatesWords, object, {}), false);
}

void TBRNLocalSessionManager::ReportCompareStatus(TBRNOperationStage stage,
                                                  const TBRNConfigObject* object,
                                                  const TBRNConfigObject* other) {
  StatusMessage(pairText(stage, kCompareWords, "to", typeOf(object), nameOf(object), typeOf(other),
                         nameOf(other)),
                false);
}

void TBRNLocalSessionManager::ReportFileCopyStatus(TBRNOperationStage stage,
                                                   const TBRNConfigObject* store,
                                                   const std::string& fileName) {
  StatusMessage(storeFileText(stage, kFileCopyWords, store, fileName), false);
}

void TBRNLocalSessionManager::ReportFileRenameStatus(TBRNOperationStage stage,
                                                     const TBRNConfigObject* store,
                                                     const std::string& fileName) {
  StatusMessage(storeFileText(stage, kFileRenameWords, store, fileName), false);
}

void TBRNLocalSessionManager::ReportFileDeleteStatus(TBRNOperationStage stage,
                                                     const TBRNConfigObject* store,
                                                     const std::string& fileName) {
  StatusMessage(storeFileText(stage, kFileDeleteWords, store, fileName), false);
}

void TBRNLocalSessionManager::ReportGrantPrivilegeStatus(TBRNOperationStage stage,
                                                         const TBRNConfigObject* object,
                                                         const std::string& privilegeName) {
  StatusMessage(pairText(stage, kGrantWords, "on", "privilege", privilegeName, typeOf(object),
                         nameOf(object)),
                false);
}

void TBRNLocalSessionManager::ReportRevokePrivilegeStatus(TBRNOperationStage stage,
                                                          const TBRNConfigObject* object,
                                                          const std::string& privilegeName) {
  StatusMessage(pairText(stage, kRevokeWords, "on", "privilege", privilegeName, typeOf(object),
                         nameOf(object)),
                false);
}

void TBRNLocalSessionManager::ReportGrantRoleStatus(TBRNOperationStage stage,
                                                    const TBRNConfigObject* role,
                                                    const TBRNConfigObject* user) {
  StatusMessage(
      pairText(stage, kGrantWords, "on", typeOf(role), nameOf(role), typeOf(user), nameOf(user)),
      false);
}

void TBRNLocalSessionManager::ReportRevokeRoleStatus(TBRNOperationStage stage,
                                                     const TBRNConfigObject* role,
                                                     const TBRNConfigObject* user) {
  StatusMessage(
      pairText(stage, kRevokeWords, "on", typeOf(role), nameOf(role), typeOf(user), nameOf(user)),
      false);
}

void TBRNLocalSessionManager::ReportSettingSet(const std::string& name) {
  StatusMessage(FormatText("The %s %s was %s successfully", {name, "setting", "set"}), false);
}

void TBRNLocalSessionManager::ReportReset(const TBRNConfigObject* object) {
  StatusMessage(
      FormatText("The %s %s was %s successfully", {typeOf(object), nameOf(object), "reset"}),
      false);
}

void TBRNLocalSessionManager::ReportEnabled(const TBRNConfigObject* object) {
  StatusMessage(
      FormatText("The %s %s was %s successfully", {typeOf(object), nameOf(object), "enabled"}),
      false);
}

void TBRNLocalSessionManager::ReportDisabled(const TBRNConfigObject* object) {
  StatusMessage(
      FormatText("The %s %s was %s successfully", {typeOf(object), nameOf(object), "disabled"}),
      false);
}

std::string TBRNLocalSessionManager::GetFixedText(bool fixed) {
  return fixed ? "Fixed" : "Not Fixed";
}

void TBRNLocalSessionManager::ReportExecutionStatus(TBRNOperationStage stage,
                                                    const TBRNExpr& statement, bool timed,
                                                    int64_t elapsedMs, bool rowsKnown,
                                                    int64_t rowsAffected) {
  std::string kind = statement.GetKindName();
  std::string text;
  if (stage == osStarting) {
    text = FormatText("Executing the %s...", {kind});
  } else if (stage == osNotCompleted) {
    if (!timed) {
      text = FormatText("The execution of the %s did not complete", {kind});
    } else if (rowsKnown) {
      text = FormatText(
          "The execution of the %s did not complete, %s rows were affected in %s seconds",
          {kind, BigIntToString(rowsAffected), secondsText(elapsedMs)});
    } else {
      text = FormatText("The execution of the %s did not complete and was stopped at %s seconds",
                        {kind, secondsText(elapsedMs)});
    }
  } else {
    if (!timed) {
      text = FormatText("The %s was executed successfully", {kind});
    } else if (rowsKnown) {
      text = FormatText("The %s was executed successfully, %s rows were affected in %s seconds",
                        {kind, BigIntToString(rowsAffected), secondsText(elapsedMs)});
    } else {
      text = FormatText("The %s was executed successfully in %s seconds",
                        {kind, secondsText(elapsedMs)});
    }
  }
  StatusMessage(text, false);
}

// ---- Log events

void TBRNLocalSessionManager::WriteLogEvent(int32_t category, int32_t operation, int32_t errorCode,
                                            const std::string& message) {
  if (LogManager == nullptr || !LogManager->Opened) return;
  if (errorCode == kRowModifiedError || errorCode == kRowNotVisibleError) category = lcWarning;
  if (category < lcInformation || category > lcError ||
      !IsInSet(SessionSettings->GetLogCategories(), category)) {
    return;
  }
  LogEvent.Category = category;
  LogEvent.Function = operation;
  LogEvent.ErrorCode = errorCode;
  LogEvent.Description = message;
  LogEvent.LogTimeStamp = CurrentTimestamp(false);
  FillLogEvent();
  LogManager->WriteEvent(LogEvent);
}

void TBRNLocalSessionManager::FillLogEvent() {
  LogEvent.Version = Engine->EngineVersion;
  LogEvent.Build = Engine->EngineBuild;
  LogEvent.ProductType = kEngineProductType;
  GetUserName(LogEvent.User);
  LogEvent.Process = Identity;
  LogEvent.ThreadID = int32_t(Engine->Environment->GetThreadId());
  LogEvent.SessionID = Handle;
  LogEvent.SessionName = SessionName;
  LogEvent.SessionDescription = SessionDescription;
}

// ---- Lock and statistics snapshots

namespace {

// Calls visit with every open database of the session except its
// Configuration database.
template <typename TVisit>
void forEachUserDatabase(TBRNLocalSessionManager& session, TVisit visit) {
  int32_t handle = 0;
  TBRNHandleObject* object = nullptr;
  while (session.Databases.NextObject(handle, object)) {
    auto* database = dynamic_cast<TBRNLocalDatabaseManager*>(object);
    if (database == nullptr || database == session.ConfigurationDatabase) continue;
    if (database->OpenCount == 0 || database->Catalog == nullptr) continue;
    visit(*database);
  }
}

}  // namespace

void TBRNLocalSessionManager::BuildLockList() {
  forEachUserDatabase(*this, [this](TBRNLocalDatabaseManager& database) {
    AddDatabaseLocks(LockList, database.GetDatabaseName(), database.Database, *database.Catalog,
                     database.TableManagers.get());
  });
}

void TBRNLocalSessionManager::ClearLockList() {
  LockList.Clear();
}

void TBRNLocalSessionManager::BuildStatistics() {
  forEachUserDatabase(*this, [this](TBRNLocalDatabaseManager& database) {
    AddDatabaseStatistics(StatisticsList, database.GetDatabaseName(), database.TableManagers.get());
  });
}

void TBRNLocalSessionManager::ClearStatistics() {
  StatisticsList.Clear();
}

void TBRNLocalSessionManager::ResetStatistics() {
  forEachUserDatabase(*this, [](TBRNLocalDatabaseManager& database) {
    ResetDatabaseStatistics(database.TableManagers.get());
  });
}

void TBRNLocalSessionManager::ResetSessionStatistics(int32_t sessionId) {
  if (sessionId != Handle)
    throw EBRNException(1107, FormatText("The session ID %s is no longer present on the server",
                                         {IntegerToString(sessionId)}));
  ResetStatistics();
}

}  // namespace brn
