// The configuration commands on jobs, and the preparation and run of one
// job by a server's job thread.
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/locks/log_manager.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/config/config.h"
#include "metadata/config/jobs.h"
#include "sessions/config/config_command_frame.h"
#include "sessions/config/config_object_lock.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/config_lock_manager.h"
#include "sessions/local/local_session_manager.h"
#include "storage/rows/execution_seam.h"

namespace brn {

namespace {

// Operation codes of the log events of a job thread.
constexpr int32_t kOperationPrepareJob = 93;
constexpr int32_t kOperationExecuteJob = 94;

TBRNJob* findJob(TBRNConfig& config, const std::string& name) {
  return static_cast<TBRNJob*>(config.Jobs->FindByName(name, true));
}

}  // namespace

// ---- Definition

TBRNJob* TBRNLocalSessionManager::BeginCreateJob(const std::string& name) {
  TBRNConfig* config = Config.get();
  return static_cast<TBRNJob*>(
      BeginCreateObject(*this, ConfigStatementText("CREATE JOB %s", name), [&] {
        std::unique_ptr<TBRNConfigObject> job(config->Jobs->NewItem());
        job->SetName(name);
        static_cast<TBRNJob*>(job.get())->SetLockNumber(config->NextJobLockNumber());
        return job;
      }));
}

void TBRNLocalSessionManager::EndCreateJob(TBRNJob* job) {
  EndCreateObject(*this, *Config->Jobs, job);
}

void TBRNLocalSessionManager::CancelCreateJob(TBRNJob* job) {
  CancelCreateObject(*this, *Config->Jobs, job);
}

TBRNJob* TBRNLocalSessionManager::BeginAlterJob(const std::string& name) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("ALTER JOB %s", name));
  // The Exclusive lock keeps the job from running (or being altered
  // elsewhere) until End or Cancel.
  return static_cast<TBRNJob*>(BeginAlterConfigObject(
      *this, [&] { return findJob(*Config, name); },
      [this](TBRNConfigObject* job) {
        ConfigLockManager->LockObject(static_cast<TBRNJob*>(job), ltExclusive, -1);
      }));
}

void TBRNLocalSessionManager::EndAlterJob(TBRNJob* job) {
  ConfigLockManager->UnlockObject(job, ltExclusive);
  EndAlterObject(*this, job);
}

void TBRNLocalSessionManager::CancelAlterJob(TBRNJob* job) {
  if (job != nullptr) {
    try {
      ConfigLockManager->UnlockObject(job, ltExclusive);
    } catch (...) {
      // The cancel goes on; the reload below is what matters.
    }
  }
  CancelAlterObject(*this, job);
}

void TBRNLocalSessionManager::DropJob(const std::string& name) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("DROP JOB %s", name));
  std::unique_ptr<TBRNConfigObject> dropped;
  TBRNConfigUpdateBracket update(*this);
  TBRNJob* job = findJob(*Config, name);
  TBRNStatusStages stages(ReportDrop(*this, job));
  if (!IsSystemUser()) job->CheckNotSystem();
  job->CheckNotReferenced("dropped");
  {
    TBRNConfigObjectLock lock(*ConfigLockManager, job, ltExclusive);
    Config->Jobs->Detach(job);
    dropped.reset(job);
  }
  update.Commit();
  stages.Complete();
}

void TBRNLocalSessionManager::RenameJob(const std::string& name, const std::string& newName) {
  RunConfigChecks(*this, kConfigChecksChange,
                  ConfigStatementText("RENAME JOB %s TO %s", name, newName));
  TBRNConfigUpdateBracket update(*this);
  TBRNJob* job = findJob(*Config, name);
  TBRNStatusStages stages(ReportRename(*this, job));
  if (!IsSystemUser()) job->CheckNotSystem();
  Config->Jobs->CheckNewName(job, newName);
  {
    TBRNConfigObjectLock lock(*ConfigLockManager, job, ltExclusive);
    job->SetName(newName);
  }
  update.Commit();
  stages.Complete();
}

// ---- Switching

void TBRNLocalSessionManager::EnableJobByName(const std::string& name) {
  RunConfigChecks(*this, kConfigCheckLogin | kConfigCheckAdministrator,
                  ConfigStatementText("ENABLE JOB %s", name));
  TBRNConfigReadBracket read(*this);
  TBRNJob* job = findJob(*Config, name);
  if (!IsSystemUser()) job->CheckNotSystem();
  job->Enabled = true;
  ReportEnabled(job);
}

void TBRNLocalSessionManager::EnableAllJobsInSession() {
  RunConfigChecks(*this, kConfigCheckLogin | kConfigCheckAdministrator, "ENABLE JOBS");
  TBRNConfigReadBracket read(*this);
  for (int32_t i = 0; i < Config->Jobs->Count(); ++i) {
    TBRNJob* job = Config->Jobs->GetJob(i);
    if (!IsSystemUser()) job->CheckNotSystem();
    job->Enabled = true;
    ReportEnabled(job);
  }
}

void TBRNLocalSessionManager::DisableJobByName(const std::string& name) {
  RunConfigChecks(*this, kConfigCheckLogin | kConfigCheckAdministrator,
                  ConfigStatementText("DISABLE JOB %s", name));
  TBRNConfigReadBracket read(*this);
  TBRNJob* job = findJob(*Config, name);
  if (!IsSystemUser()) job->CheckNotSystem();
  job->Enabled = false;
  ReportDisabled(job);
}

void TBRNLocalSessionManager::DisableAllJobsInSession() {
  RunConfigChecks(*this, kConfigCheckLogin | kConfigCheckAdministrator, "DISABLE JOBS");
  TBRNConfigReadBracket read(*this);
  for (int32_t i = 0; i < Config->Jobs->Count(); ++i) {
    TBRNJob* job = Config->Jobs->GetJob(i);
    if (!IsSystemUser()) job->CheckNotSystem();
    job->Enabled = false;
    ReportDisabled(job);
  }
}

bool TBRNLocalSessionManager::IsJobEnabledByName(const std::string& name) {
  TBRNConfigReadBracket read(*this);
  auto* job = static_cast<TBRNJob*>(Config->Jobs->FindByName(name, false));
  return job != nullptr && job->Enabled;
}

void TBRNLocalSessionManager::InvalidateJobsTable() {
  if (ConfigurationDatabase == nullptr || ConfigurationDatabase->Catalog == nullptr) return;
  TBRNSchema* schema = ConfigurationDatabase->Catalog->InformationSchema;
  if (schema == nullptr) return;
  TBRNConfigObject* table = schema->BaseTables->FindByName(Config->Jobs->GetSystemTableName(), false);
  if (table != nullptr) ConfigurationDatabase->SetSystemTableFilled(table, false);
}

void TBRNLocalSessionManager::ResetJob(const std::string& name) {
  RunConfigChecks(*this, kConfigChecksChange, ConfigStatementText("RESET JOB %s", name));
  TBRNConfigUpdateBracket update(*this);
  TBRNJob* job = findJob(*Config, name);
  if (!IsSystemUser()) job->CheckNotSystem();
  {
    TBRNConfigObjectLock lock(*ConfigLockManager, job, ltExclusive);
    job->SetLastRun(0);
  }
  update.Commit();
  ReportReset(job);
}

// ---- Running one job

TBRNJob* TBRNLocalSessionManager::PrepareJob(const std::string& name) {
  try {
    RunConfigChecks(*this, kConfigCheckLogin | kConfigCheckAdministrator,
                    ConfigStatementText("PREPARE JOB %s", name));
    TBRNConfigReadBracket read(*this);
    TBRNJob* job = findJob(*Config, name);
    job->Compile();
    return job;
  } catch (const std::exception& error) {
    LogOperationError(error, kOperationPrepareJob);
    return nullptr;
  }
}

void TBRNLocalSessionManager::ExecuteJob(TBRNJob* job) {
  if (job == nullptr) throw std::invalid_argument("ExecuteJob needs a prepared job");
  try {
    RunConfigChecks(*this, kConfigCheckLogin | kConfigCheckAdministrator,
                    ConfigStatementText("EXECUTE JOB %s", job->Name));
    // One place at a time runs a job.
    TBRNConfigObjectLock lock(*ConfigLockManager, job, ltExclusive);
    WriteLogEvent(lcInformation, kOperationExecuteJob, 0,
                  FormatText("Job: %s Description: %s", {job->Name, job->Description}));
    if (!job->Body->Compiled) job->Compile();
    {
      TBRNEvaluationContext context;
      TBRNEvaluationScope scope(*Evaluator, context);
      Evaluator->ExecuteRoutine(job->Body->Root);
    }
    // The update may reload the configuration; the job is found again by
    // its ID (the lock keeps it from being dropped meanwhile).
    const int32_t jobID = job->ID;
    TBRNConfigUpdateBracket update(*this);
    auto* stamped = static_cast<TBRNJob*>(Config->Jobs->FindByID(jobID, true));
    stamped->SetLastRun(CurrentTimestamp(false));
    update.Commit();
  } catch (const std::exception& error) {
    LogOperationError(error, kOperationExecuteJob);
  }
}

}  // namespace brn
