// CREATE, ALTER, DROP and RENAME of the configuration objects: databases,
// users, roles, jobs, stores, modules, text filters, word generators and
// migrators.
//
// A definition runs Begin (the session checks the rights and opens the
// configuration update), applies the clauses to the working object in their
// order, then End; when a clause or End raises, Cancel gets the working
// object and the exception passes on, so the stored configuration stays as
// it was.

#include <memory>
#include <string>

#include "execution/handlers/handler_frame.h"
#include "foundation/text/string_helpers.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/jobs.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "metadata/modules/text_filters.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/job_schedule_kind.h"

namespace brn::handlers {

namespace {

// Runs apply on what begin answered, then end; cancel when either of the
// two raises. Begin's own failure needs no cancel: it leaves nothing open.
template <typename TObject, typename TApply>
void define(TObject* object, TApply&& apply, void (TBRNLocalSessionManager::*end)(TObject*),
            void (TBRNLocalSessionManager::*cancel)(TObject*), TBRNLocalSessionManager& session) {
  try {
    apply(*object);
    (session.*end)(object);
  } catch (...) {
    try {
      (session.*cancel)(object);
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
}

void applyDescription(TBRNLocalExprEvaluator& evaluator, TBRNConfigObject& object,
                      TBRNExprToken* clause) {
  if (clause != nullptr) object.SetDescription(ClauseText(evaluator, clause));
}

void applyAttributes(TBRNLocalExprEvaluator& evaluator, TBRNLockableConfigObject& object,
                     TBRNExprToken* clause) {
  if (clause != nullptr) object.SetAttributes(ClauseText(evaluator, clause));
}

// ---- Databases: name, PATH (nil: IN MEMORY), catalog encryption,
// DESCRIPTION, ATTRIBUTES.

void applyDatabaseDefinition(TBRNLocalExprEvaluator& evaluator, TBRNDatabaseContainer& database,
                             TBRNExprToken* node) {
  if (TBRNExprToken* path = Child(node, 1)) {
    database.SetInMemory(false);
    database.SetPath(ClauseText(evaluator, path));
  } else {
    database.SetInMemory(true);
    database.SetPath(std::string());
  }
  if (TBRNExprToken* encrypted = Child(node, 2))
    database.SetEncryptedCatalog(ClauseBoolean(evaluator, encrypted));
  applyDescription(evaluator, database, Child(node, 3));
  applyAttributes(evaluator, database, Child(node, 4));
}

void createDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateDatabase(ChildName(node, 0)),
      [&](TBRNDatabaseContainer& database) { applyDatabaseDefinition(evaluator, database, node); },
      &TBRNLocalSessionManager::EndCreateDatabase, &TBRNLocalSessionManager::CancelCreateDatabase,
      session);
}

// ALTER DATABASE fills a transient copy of the stored entry; End takes the
// copy over when it succeeds, Cancel in every other case.
void alterDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  TBRNDatabaseContainer* database = session.BeginAlterDatabase(ChildName(node, 0));
  std::unique_ptr<TBRNDatabaseContainer> copy;
  try {
    copy.reset(TBRNDatabaseContainer::CreateOwned(session.Config.get(), session.CurrentUser));
    copy->Assign(database, false);
    copy->SetTransient(true);
    applyDatabaseDefinition(evaluator, *copy, node);
  } catch (...) {
    try {
      session.CancelAlterDatabase(database, copy.release());
    } catch (...) {
      // The definition's failure is the one to report.
    }
    throw;
  }
  TBRNDatabaseContainer* definition = copy.release();
  try {
    session.EndAlterDatabase(database, definition);
  } catch (...) {
    try {
      session.CancelAlterDatabase(database, definition);
    } catch (...) {
      // End's failure is the one to report.
    }
    throw;
  }
}

void dropDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropDatabase(ChildName(node, 0), Child(node, 1) != nullptr);
}

void renameDatabase(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameDatabase(ChildName(node, 0), ChildName(node, 1));
}

// ---- Users: name, PASSWORD (always), DESCRIPTION, ATTRIBUTES. Roles: name,
// DESCRIPTION, ATTRIBUTES.

void applyUserDefinition(TBRNLocalExprEvaluator& evaluator, TBRNUser& user, TBRNExprToken* node) {
  user.SetPassword(ClauseText(evaluator, Child(node, 1)));
  applyDescription(evaluator, user, Child(node, 2));
  applyAttributes(evaluator, user, Child(node, 3));
}

void applyRoleDefinition(TBRNLocalExprEvaluator& evaluator, TBRNRole& role, TBRNExprToken* node) {
  applyDescription(evaluator, role, Child(node, 1));
  applyAttributes(evaluator, role, Child(node, 2));
}

void createUser(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateUser(ChildName(node, 0)),
      [&](TBRNUser& user) { applyUserDefinition(evaluator, user, node); },
      &TBRNLocalSessionManager::EndCreateUser, &TBRNLocalSessionManager::CancelCreateUser, session);
}

void alterUser(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginAlterUser(ChildName(node, 0)),
      [&](TBRNUser& user) { applyUserDefinition(evaluator, user, node); },
      &TBRNLocalSessionManager::EndAlterUser, &TBRNLocalSessionManager::CancelAlterUser, session);
}

void dropUser(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropUser(ChildName(node, 0));
}

void renameUser(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameUser(ChildName(node, 0), ChildName(node, 1));
}

void createRole(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateRole(ChildName(node, 0)),
      [&](TBRNRole& role) { applyRoleDefinition(evaluator, role, node); },
      &TBRNLocalSessionManager::EndCreateRole, &TBRNLocalSessionManager::CancelCreateRole, session);
}

void alterRole(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginAlterRole(ChildName(node, 0)),
      [&](TBRNRole& role) { applyRoleDefinition(evaluator, role, node); },
      &TBRNLocalSessionManager::EndAlterRole, &TBRNLocalSessionManager::CancelAlterRole, session);
}

void dropRole(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropRole(ChildName(node, 0));
}

void renameRole(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameRole(ChildName(node, 0), ChildName(node, 1));
}

// ---- Modules: name, PATH, DESCRIPTION. A library that names no module
// kind of its own is no module of this engine.

void applyModuleDefinition(TBRNLocalExprEvaluator& evaluator, TBRNModule& module,
                           TBRNExprToken* node) {
  if (TBRNExprToken* path = Child(node, 1)) module.SetPath(ClauseText(evaluator, path));
  applyDescription(evaluator, module, Child(node, 2));
  if (module.GetModuleType() == mtUnknown)
    SessionOf(evaluator).RaiseObjectError(
        &module, FormatText("The module %s is not a valid Brindle module", {module.Path}));
}

void createModule(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateModule(ChildName(node, 0)),
      [&](TBRNModule& module) { applyModuleDefinition(evaluator, module, node); },
      &TBRNLocalSessionManager::EndCreateModule, &TBRNLocalSessionManager::CancelCreateModule,
      session);
}

// The module's reference goes first, so that the library is unloaded
// (and loaded again from the new path) when nobody else holds it.
void alterModule(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginAlterModule(ChildName(node, 0)),
      [&](TBRNModule& module) {
        module.Release();
        applyModuleDefinition(evaluator, module, node);
      },
      &TBRNLocalSessionManager::EndAlterModule, &TBRNLocalSessionManager::CancelAlterModule,
      session);
}

void dropModule(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropModule(ChildName(node, 0));
}

void renameModule(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameModule(ChildName(node, 0), ChildName(node, 1));
}

// The module named by the name child index, bound to object and checked
// for kind.
void bindModule(TBRNLocalExprEvaluator& evaluator, TBRNModuleBoundObject& object,
                const TBRNExprToken* node, int32_t index, int32_t kind) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  auto* module =
      static_cast<TBRNModule*>(session.Config->Modules->FindByName(ChildName(node, index), true));
  object.SetModule(module);
  module->CheckModuleType(kind);
}

// ---- Text filters: name, TYPE, MODULE, DESCRIPTION (ALTER: DESCRIPTION).

void createTextFilter(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateTextFilter(ChildName(node, 0)),
      [&](TBRNTextFilter& filter) {
        filter.SetFilterType(ClauseText(evaluator, Child(node, 1)));
        bindModule(evaluator, filter, node, 2, mtTextFilter);
        applyDescription(evaluator, filter, Child(node, 3));
      },
      &TBRNLocalSessionManager::EndCreateTextFilter,
      &TBRNLocalSessionManager::CancelCreateTextFilter, session);
}

void alterTextFilter(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginAlterTextFilter(ChildName(node, 0)),
      [&](TBRNTextFilter& filter) { applyDescription(evaluator, filter, Child(node, 3)); },
      &TBRNLocalSessionManager::EndAlterTextFilter, &TBRNLocalSessionManager::CancelAlterTextFilter,
      session);
}

void dropTextFilter(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropTextFilter(ChildName(node, 0));
}

void renameTextFilter(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameTextFilter(ChildName(node, 0), ChildName(node, 1));
}

// ---- Word generators and migrators: name, MODULE, DESCRIPTION (ALTER:
// DESCRIPTION).

void createWordGenerator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateWordGenerator(ChildName(node, 0)),
      [&](TBRNWordGenerator& generator) {
        bindModule(evaluator, generator, node, 1, mtWordGenerator);
        applyDescription(evaluator, generator, Child(node, 2));
      },
      &TBRNLocalSessionManager::EndCreateWordGenerator,
      &TBRNLocalSessionManager::CancelCreateWordGenerator, session);
}

void alterWordGenerator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginAlterWordGenerator(ChildName(node, 0)),
      [&](TBRNWordGenerator& generator) { applyDescription(evaluator, generator, Child(node, 2)); },
      &TBRNLocalSessionManager::EndAlterWordGenerator,
      &TBRNLocalSessionManager::CancelAlterWordGenerator, session);
}

void dropWordGenerator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropWordGenerator(ChildName(node, 0));
}

void renameWordGenerator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameWordGenerator(ChildName(node, 0), ChildName(node, 1));
}

void createMigrator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateMigrator(ChildName(node, 0)),
      [&](TBRNMigrator& migrator) {
        bindModule(evaluator, migrator, node, 1, mtMigrator);
        applyDescription(evaluator, migrator, Child(node, 2));
      },
      &TBRNLocalSessionManager::EndCreateMigrator, &TBRNLocalSessionManager::CancelCreateMigrator,
      session);
}

void alterMigrator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginAlterMigrator(ChildName(node, 0)),
      [&](TBRNMigrator& migrator) { applyDescription(evaluator, migrator, Child(node, 2)); },
      &TBRNLocalSessionManager::EndAlterMigrator, &TBRNLocalSessionManager::CancelAlterMigrator,
      session);
}

void dropMigrator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropMigrator(ChildName(node, 0));
}

void renameMigrator(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameMigrator(ChildName(node, 0), ChildName(node, 1));
}

// ---- Jobs. Children: 0 name, 1 RUN AS user, 2 FROM, 3 TO, 4 schedule (its
// Variant the schedule kind), 5 interval, 6 weekday slots, 7 DAY n, 8
// ordinal weekday (value 1..5, child the weekday 1..7), 9 month slots, 10
// BETWEEN, 11 AND, 12 CATEGORY, 13 DESCRIPTION, 14 VERSION, 15 ATTRIBUTES.
// The node's own text is the body.

// Flag i on when slot i of list is named; all on without a list.
template <typename TSetter>
void applySlots(const TBRNExprToken* list, int32_t count, TSetter&& set) {
  for (int32_t i = 0; i < count; ++i)
    set(i + 1, list == nullptr || (i < list->ArgumentCount() && list->Argument(i) != nullptr));
}

void applyJobDefinition(TBRNLocalExprEvaluator& evaluator, TBRNJob& job, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  job.Body->SetText(node->Text);
  job.SetRunAsUser(
      static_cast<TBRNUser*>(session.Config->Users->FindByName(ChildName(node, 1), true)));

  job.SetStartDate(ClauseDate(evaluator, Child(node, 2)));
  job.SetEndDate(ClauseDate(evaluator, Child(node, 3)));
  job.SetInterval(0);
  for (int32_t day = 1; day <= 7; ++day) job.SetDay(day, false);
  job.SetDayNumber(0);
  job.SetOrdinal(0);
  job.SetWeekday(0);
  for (int32_t month = 1; month <= 12; ++month) job.SetMonth(month, false);

  const TBRNExprToken* schedule = Child(node, 4);
  const int32_t kind = schedule != nullptr ? schedule->Variant : jsOnce;
  job.SetScheduleType(kind);
  const auto setDays = [&] {
    applySlots(Child(node, 6), 7, [&](int32_t day, bool on) { job.SetDay(day, on); });
  };
  const auto setInterval = [&] {
    if (TBRNExprToken* every = Child(node, 5)) job.SetInterval(ClauseInteger(evaluator, every));
  };
  switch (kind) {
    case jsDaily:
    case jsWeekly:
    case jsHourly:
      setDays();
      break;
    case jsEveryXDays:
      setInterval();
      break;
    case jsEveryXWeeks:
    case jsEveryXHours:
    case jsEveryXMinutes:
      setInterval();
      setDays();
      break;
    case jsMonthly:
      if (TBRNExprToken* day = Child(node, 7)) {
        job.SetDayNumber(ClauseInteger(evaluator, day));
      } else if (TBRNExprToken* ordinal = Child(node, 8)) {
        job.SetOrdinal(ClauseInteger(evaluator, ordinal));
        if (TBRNExprToken* weekday = Child(ordinal, 0))
          job.SetWeekday(ClauseInteger(evaluator, weekday));
      }
      applySlots(Child(node, 9), 12, [&](int32_t month, bool on) { job.SetMonth(month, on); });
      break;
    default:
      break;
  }

  if (TBRNExprToken* from = Child(node, 10)) job.SetStartTime(ClauseTime(evaluator, from));
  if (TBRNExprToken* to = Child(node, 11)) job.SetEndTime(ClauseTime(evaluator, to));
  TBRNExprToken* category = Child(node, 12);
  job.SetCategory(category != nullptr ? ClauseText(evaluator, category) : std::string());
  applyDescription(evaluator, job, Child(node, 13));
  if (TBRNExprToken* version = Child(node, 14)) job.SetVersion(ClauseDecimal(evaluator, version));
  applyAttributes(evaluator, job, Child(node, 15));
}

void createJob(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateJob(ChildName(node, 0)),
      [&](TBRNJob& job) { applyJobDefinition(evaluator, job, node); },
      &TBRNLocalSessionManager::EndCreateJob, &TBRNLocalSessionManager::CancelCreateJob, session);
}

void alterJob(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginAlterJob(ChildName(node, 0)),
      [&](TBRNJob& job) { applyJobDefinition(evaluator, job, node); },
      &TBRNLocalSessionManager::EndAlterJob, &TBRNLocalSessionManager::CancelAlterJob, session);
}

void dropJob(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropJob(ChildName(node, 0));
}

void renameJob(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameJob(ChildName(node, 0), ChildName(node, 1));
}

// ---- Stores. Children: 0 name, 1 LOCAL PATH, 2 ADDRESS, 3 HOST, 4 PORT, 5
// SERVICE, 6 USER, 7 PASSWORD, 8 remote STORE, 9 SIGNATURE, 10 ENCRYPTED
// WITH PASSWORD, 11 COMPRESSION, 12 TIMEOUT, 13 PING, 14 DESCRIPTION, 15
// ATTRIBUTES.

// The smallest ping interval a remote store accepts, in seconds.
constexpr int32_t kMinimumPingInterval = 30;

void applyStoreDefinition(TBRNLocalExprEvaluator& evaluator, TBRNStore& store,
                          TBRNExprToken* node) {
  if (TBRNExprToken* path = Child(node, 1)) {
    store.SetStoreType(kLocalStore);
    store.SetReservedFlag(false);
    store.SetPath(ClauseText(evaluator, path));
  } else {
    store.SetStoreType(kRemoteStore);
    if (TBRNExprToken* address = Child(node, 2)) {
      store.SetAddress(ClauseText(evaluator, address));
      store.SetHost(std::string());
    } else if (TBRNExprToken* host = Child(node, 3)) {
      store.SetHost(ClauseText(evaluator, host));
      store.SetAddress(std::string());
    }
    if (TBRNExprToken* port = Child(node, 4)) {
      store.SetPort(ClauseInteger(evaluator, port));
      store.SetService(std::string());
    } else if (TBRNExprToken* service = Child(node, 5)) {
      store.SetService(ClauseText(evaluator, service));
      store.SetPort(0);
    }
    TBRNExprToken* signature = Child(node, 9);
    store.SetSignature(signature != nullptr ? ClauseText(evaluator, signature)
                                            : std::string(kDefaultStoreSignature));
    if (TBRNExprToken* password = Child(node, 10)) {
      store.SetEncrypted(true);
      store.SetEncryptionPassword(ClauseText(evaluator, password));
    } else {
      store.SetEncrypted(false);
      store.SetEncryptionPassword(kDefaultStoreEncryptionPassword);
    }
    TBRNExprToken* compression = Child(node, 11);
    store.SetCompression(compression != nullptr ? ClauseInteger(evaluator, compression)
                                                : kDefaultStoreCompression);
    TBRNExprToken* timeout = Child(node, 12);
    store.SetTimeout(timeout != nullptr ? ClauseInteger(evaluator, timeout) : kDefaultStoreTimeout);
    if (TBRNExprToken* ping = Child(node, 13)) {
      store.SetPing(true);
      const int32_t interval = ClauseInteger(evaluator, ping);
      store.SetPingInterval(interval < kMinimumPingInterval ? kMinimumPingInterval : interval);
    } else {
      store.SetPing(false);
      store.SetPingInterval(kDefaultStorePingInterval);
    }
    store.SetUserName(ChildName(node, 6));
    if (TBRNExprToken* password = Child(node, 7))
      store.SetPassword(ClauseText(evaluator, password));
    store.SetRemoteStore(ChildName(node, 8));
  }
  applyDescription(evaluator, store, Child(node, 14));
  applyAttributes(evaluator, store, Child(node, 15));
}

void createStore(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginCreateStore(ChildName(node, 0)),
      [&](TBRNStore& store) { applyStoreDefinition(evaluator, store, node); },
      &TBRNLocalSessionManager::EndCreateStore, &TBRNLocalSessionManager::CancelCreateStore,
      session);
}

void alterStore(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  TBRNLocalSessionManager& session = SessionOf(evaluator);
  define(
      session.BeginAlterStore(ChildName(node, 0)),
      [&](TBRNStore& store) { applyStoreDefinition(evaluator, store, node); },
      &TBRNLocalSessionManager::EndAlterStore, &TBRNLocalSessionManager::CancelAlterStore, session);
}

void dropStore(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).DropStore(ChildName(node, 0), Child(node, 1) != nullptr);
}

void renameStore(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node) {
  SessionOf(evaluator).RenameStore(ChildName(node, 0), ChildName(node, 1));
}

// The four entries of a kind.
template <TBRNObjectKind Kind, TBRNHandlerBody Create, TBRNHandlerBody Alter, TBRNHandlerBody Drop,
          TBRNHandlerBody Rename>
void setKind(TBRNStatementHandlers& handlers) {
  handlers.SetVerb(ovCreate, Kind, &Logged<VerbFailure(ovCreate, Kind), Create>);
  handlers.SetVerb(ovAlter, Kind, &Logged<VerbFailure(ovAlter, Kind), Alter>);
  handlers.SetVerb(ovDrop, Kind, &Logged<VerbFailure(ovDrop, Kind), Drop>);
  handlers.SetVerb(ovRename, Kind, &Logged<VerbFailure(ovRename, Kind), Rename>);
}

}  // namespace

void FillConfigObjectHandlers(TBRNStatementHandlers& handlers) {
  setKind<okDatabase, createDatabase, alterDatabase, dropDatabase, renameDatabase>(handlers);
  setKind<okUser, createUser, alterUser, dropUser, renameUser>(handlers);
  setKind<okRole, createRole, alterRole, dropRole, renameRole>(handlers);
  setKind<okJob, createJob, alterJob, dropJob, renameJob>(handlers);
  setKind<okStore, createStore, alterStore, dropStore, renameStore>(handlers);
  setKind<okModule, createModule, alterModule, dropModule, renameModule>(handlers);
  setKind<okTextFilter, createTextFilter, alterTextFilter, dropTextFilter, renameTextFilter>(
      handlers);
  setKind<okWordGenerator, createWordGenerator, alterWordGenerator, dropWordGenerator,
          renameWordGenerator>(handlers);
  setKind<okMigrator, createMigrator, alterMigrator, dropMigrator, renameMigrator>(handlers);
}

}  // namespace brn::handlers
