// The tables of the "Configuration" database: their definitions (one per
// collection class) and the producers that fill their rows.
#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/locks/log_manager.h"
#include "foundation/text/collation.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/jobs.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/type_lists.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "metadata/modules/text_filters.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_log_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

namespace {

constexpr TBRNSystemTableColumn nameColumn{"Name", dtChar, stDefault, 40, 0, true};
constexpr TBRNSystemTableColumn descriptionColumn{"Description", dtLob, stClob};
constexpr TBRNSystemTableColumn attributesColumn{"Attributes", dtLob, stClob};
constexpr TBRNSystemTableColumn createSqlColumn{"CreateSQL", dtLob, stClob, 0, 0, true};
constexpr TBRNSystemTableColumn dropSqlColumn{"DropSQL", dtLob, stClob, 0, 0, true};

const TBRNSystemTableDefinition usersTable{"Users",
                                           {nameColumn,
                                            {"Password", dtChar, stDefault, 40},
                                            {"PasswordLastChanged", dtTimestamp},
                                            descriptionColumn,
                                            attributesColumn,
                                            createSqlColumn,
                                            dropSqlColumn},
                                           {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition rolesTable{
    "Roles",
    {nameColumn, descriptionColumn, attributesColumn, createSqlColumn, dropSqlColumn},
    {{"Name", {"Name"}}}};

constexpr TBRNSystemTableColumn moduleNameColumn{"ModuleName", dtChar, stDefault, 255, 0, true};

const TBRNSystemTableDefinition dataTypesTable{
    "DataTypes", {nameColumn, descriptionColumn, {"BinarySize", dtInteger}}, {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition collationsTable{
    "Collations", {nameColumn, descriptionColumn}, {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition modulesTable{"Modules",
                                             {nameColumn,
                                              descriptionColumn,
                                              {"FilePath", dtChar, stDefault, 255, 0, true},
                                              {"FileVersion", dtChar, stDefault, 15, 0, true},
                                              {"FileDescription", dtLob, stClob},
                                              {"Type", dtChar, stDefault, 30, 0, true},
                                              {"CharacterSet", dtChar, stDefault, 30, 0, true},
                                              createSqlColumn,
                                              dropSqlColumn},
                                             {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition textFiltersTable{"TextFilters",
                                                 {nameColumn,
                                                  descriptionColumn,
                                                  {"Type", dtChar, stDefault, 15, 0, true},
                                                  moduleNameColumn,
                                                  createSqlColumn,
                                                  dropSqlColumn},
                                                 {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition wordGeneratorsTable{
    "WordGenerators",
    {nameColumn, descriptionColumn, moduleNameColumn, createSqlColumn, dropSqlColumn},
    {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition migratorsTable{
    "Migrators",
    {nameColumn, descriptionColumn, moduleNameColumn, createSqlColumn, dropSqlColumn},
    {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition databasesTable{
    "Databases",
    {nameColumn,
     descriptionColumn,
     attributesColumn,
     {"Path", dtChar, stDefault, 255, 0, true},
     {"InMemory", dtBoolean},
     {"EncryptedCatalog", dtBoolean},
     {"DefaultCollation", dtChar, stDefault, 40, 0, true},
     {"CatalogVersion", dtDecimal, stDefault, 0, 2},
     createSqlColumn,
     dropSqlColumn},
    {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition jobsTable{"Jobs",
                                          {nameColumn,
                                           descriptionColumn,
                                           attributesColumn,
                                           {"Version", dtDecimal, stDefault, 0, 2},
                                           {"Category", dtChar, stDefault, 15, 0, true},
                                           {"UserName", dtChar, stDefault, 40, 0, true},
                                           {"StartDate", dtDate},
                                           {"EndDate", dtDate},
                                           {"Type", dtChar, stDefault, 15, 0, true},
                                           {"Interval", dtInteger},
                                           {"Days", dtChar, stDefault, 60, 0, true},
                                           {"DayNumber", dtInteger},
                                           {"DayOfMonth", dtChar, stDefault, 15, 0, true},
                                           {"Months", dtChar, stDefault, 60, 0, true},
                                           {"StartTime", dtTime},
                                           {"EndTime", dtTime},
                                           {"Definition", dtLob, stClob},
                                           {"LastRun", dtTimestamp},
                                           {"Enabled", dtBoolean},
                                           createSqlColumn,
                                           dropSqlColumn},
                                          {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition storesTable{"Stores",
                                            {nameColumn,
                                             descriptionColumn,
                                             attributesColumn,
                                             {"Type", dtChar, stDefault, 15, 0, true},
                                             {"Path", dtChar, stDefault, 255, 0, true},
                                             {"Address", dtChar, stDefault, 16, 0, true},
                                             {"Host", dtChar, stDefault, 60, 0, true},
                                             {"Port", dtInteger},
                                             {"Service", dtChar, stDefault, 60, 0, true},
                                             {"UserName", dtChar, stDefault, 40, 0, true},
                                             {"Password", dtChar, stDefault, 60},
                                             {"RemoteStore", dtChar, stDefault, 40, 0, true},
                                             {"Signature", dtChar, stDefault, 60},
                                             {"Encrypted", dtBoolean},
                                             {"EncryptionPassword", dtChar, stDefault, 60},
                                             {"Compression", dtInteger},
                                             {"Timeout", dtInteger},
                                             {"Ping", dtBoolean},
                                             {"PingInterval", dtInteger},
                                             createSqlColumn,
                                             dropSqlColumn},
                                            {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition logEventsTable{"LogEvents",
                                               {{"Category", dtChar, stDefault, 15, 0, true},
                                                {"Function", dtChar, stDefault, 40, 0, true},
                                                {"ErrorCode", dtInteger},
                                                descriptionColumn,
                                                {"LogTimeStamp", dtTimestamp},
                                                {"Version", dtDecimal, stDefault, 0, 2},
                                                {"Build", dtInteger},
                                                {"ProductType", dtChar, stDefault, 40, 0, true},
                                                {"User", dtChar, stDefault, 40, 0, true},
                                                {"Process", dtChar, stDefault, 40, 0, true},
                                                {"ThreadID", dtInteger},
                                                {"SessionID", dtInteger},
                                                {"SessionName", dtChar, stDefault, 40, 0, true},
                                                {"SessionDescription", dtLob, stClob},
                                                {"IPAddress", dtChar, stDefault, 16, 0, true},
                                                {"Encrypted", dtBoolean}},
                                               {{"Category", {"Category"}},
                                                {"Version", {"Version"}},
                                                {"User", {"User"}},
                                                {"Process", {"Process"}}}};

// The tables whose collection class names them (GetSystemTableName); the
// module-bound lists name none and are registered by their definitions.
const TBRNSystemTableDefinition* const definitions[] = {
    &dataTypesTable, &collationsTable, &usersTable, &rolesTable,
    &databasesTable, &jobsTable,       &storesTable};

TBRNRowsetHost* rowsetHostOf(TBRNVirtualTableManager& manager) {
  auto* host = dynamic_cast<TBRNRowsetHost*>(&manager);
  if (host == nullptr) throw std::logic_error("A system table is filled through a table manager");
  return host;
}

// A row buffer of manager with values over its columns; each row starts
// all NULL and is inserted through the manager's row operation. Texts are
// cut to the declared length of their column in definition, so that no long
// configuration value fails the fill.
class RowWriter {
 public:
  RowWriter(TBRNVirtualTableManager& manager, const TBRNSystemTableDefinition& definition)
      : manager_(manager),
        definition_(definition),
        buffer_(manager.NewRowBuffer()),
        values_(manager.GetColumns(), rowsetHostOf(manager)) {
    values_.SetRow(buffer_.get());
  }
  ~RowWriter() { values_.SetRow(nullptr); }
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // Column 1 is the first defined column ("__RowID" is column 0).
  void Start() { values_.SetAllNull(); }
  TBRNValue* Column(int32_t index) { return values_.GetItem(index); }
  void Text(int32_t index, const std::string& text) {
    const int32_t width = definition_.Columns.at(static_cast<size_t>(index - 1)).Length;
    if (width > 0 && text.size() > static_cast<size_t>(width)) {
      Column(index)->SetAsString(std::string_view(text).substr(0, static_cast<size_t>(width)));
    } else {
      Column(index)->SetAsString(text);
    }
  }
  // NULL for an empty text.
  void TextOrNull(int32_t index, const std::string& text) {
    if (!text.empty()) Text(index, text);
  }
  void Insert() {
    int32_t row = 0;
    int32_t version = 0;
    int32_t counter = 0;
    manager_.InsertRowWithTriggers(values_, row, version, counter);
  }

 private:
  TBRNVirtualTableManager& manager_;
  const TBRNSystemTableDefinition& definition_;
  std::unique_ptr<TBRNRowsetRow> buffer_;
  TBRNRowsetRowValues values_;
};

bool isAdministrator(TBRNLocalSessionManager& session) {
  return session.IsAdministratorUser(session.GetCallingUser());
}

// Administrators see every object; other callers the objects they hold
// Select or Execute on.
bool isVisible(TBRNLocalSessionManager& session, TBRNPrivilegedConfigObject* object) {
  if (isAdministrator(session)) return true;
  TBRNUser* caller = session.GetCallingUser();
  return caller != nullptr && object->IsVisibleTo(caller);
}

void produceUsers(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNUser* caller = session.GetCallingUser();
  const bool administrator = session.IsAdministratorUser(caller);
  const bool showPasswords = session.SessionSettings->GetShowUserPasswords();
  TBRNUsers* users = session.Config->Users.get();
  RowWriter writer(manager, usersTable);
  for (int32_t i = 0; i < users->Count(); ++i) {
    TBRNUser* user = static_cast<TBRNUser*>(users->GetItem(i));
    if (!administrator && user != caller) continue;
    writer.Start();
    writer.Text(1, user->Name);
    if (showPasswords) writer.Text(2, user->Password);
    if (user->PasswordChanged != 0) writer.Column(3)->SetAsTimestamp(user->PasswordChanged);
    writer.TextOrNull(4, user->Description);
    writer.TextOrNull(5, user->Attributes);
    writer.Text(6, user->GetCreateSQL(true, false));
    writer.Text(7, user->GetDropSQL(true, false));
    writer.Insert();
  }
}

void produceRoles(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNUser* caller = session.GetCallingUser();
  const bool administrator = session.IsAdministratorUser(caller);
  TBRNRoles* roles = session.Config->Roles.get();
  RowWriter writer(manager, rolesTable);
  for (int32_t i = 0; i < roles->Count(); ++i) {
    TBRNRole* role = roles->GetRole(i);
    if (!administrator && (caller == nullptr || !caller->HasRole(role))) continue;
    writer.Start();
    writer.Text(1, role->Name);
    writer.TextOrNull(2, role->Description);
    writer.TextOrNull(3, role->Attributes);
    writer.Text(4, role->GetCreateSQL(true, false));
    writer.Text(5, role->GetDropSQL(true, false));
    writer.Insert();
  }
}

void produceDataTypes(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNDataTypes* types = session.Config->DataTypes.get();
  RowWriter writer(manager, dataTypesTable);
  for (int32_t i = 0; i < types->Count(); ++i) {
    TBRNDataType* type = types->GetItem(i);
    writer.Start();
    writer.Text(1, type->Name);
    writer.TextOrNull(2, type->Description);
    writer.Column(3)->SetAsInteger(type->GetBinarySize());
    writer.Insert();
  }
}

void produceCollations(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNCollations* collations = session.Config->Collations.get();
  RowWriter writer(manager, collationsTable);
  for (int32_t i = 0; i < collations->Count(); ++i) {
    TBRNCollation* collation = collations->GetItem(i);
    writer.Start();
    writer.Text(1, collation->Name);
    writer.TextOrNull(2, collation->Description);
    writer.Insert();
  }
}

// Every module is loaded for its row so that the file's version texts and
// the library's answers are current; a module that cannot be loaded or
// answered still gets the columns set before the failure.
void produceModules(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNModules* modules = session.Config->Modules.get();
  RowWriter writer(manager, modulesTable);
  for (int32_t i = 0; i < modules->Count(); ++i) {
    auto* module = static_cast<TBRNModule*>(modules->GetItem(i));
    bool loaded = false;
    try {
      module->LoadModule();
      loaded = true;
    } catch (...) {
      // The row shows what can be read without the library.
    }
    try {
      writer.Start();
      writer.Text(1, module->Name);
      writer.TextOrNull(2, module->Description);
      writer.Text(3, module->Path);
      try {
        writer.Text(4, module->FileVersion);
        writer.Text(5, module->FileDescription);
        writer.Text(6, module->GetModuleTypeName());
        writer.Text(7, module->GetCharacterSetName());
        writer.Text(8, module->GetCreateSQL(true, false));
        writer.Text(9, module->GetDropSQL(true, false));
      } catch (...) {
        // Module errors never fail the fill.
      }
      writer.Insert();
    } catch (...) {
      if (loaded) module->Release();
      throw;
    }
    if (loaded) module->Release();
  }
}

void produceTextFilters(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNTextFilters* filters = session.Config->TextFilters.get();
  RowWriter writer(manager, textFiltersTable);
  for (int32_t i = 0; i < filters->Count(); ++i) {
    auto* filter = static_cast<TBRNTextFilter*>(filters->GetItem(i));
    writer.Start();
    writer.Text(1, filter->Name);
    writer.TextOrNull(2, filter->Description);
    writer.Text(3, filter->FilterType);
    writer.Text(4, filter->ModuleName);
    writer.Text(5, filter->GetCreateSQL(true, false));
    writer.Text(6, filter->GetDropSQL(true, false));
    writer.Insert();
  }
}

// Word generators and migrators: a System object (the built-in "Default"
// word generator) has no module.
void produceModuleBound(TBRNConfigObjects& objects, const TBRNSystemTableDefinition& definition,
                        TBRNVirtualTableManager& manager) {
  RowWriter writer(manager, definition);
  for (int32_t i = 0; i < objects.Count(); ++i) {
    auto* object = static_cast<TBRNModuleBoundObject*>(objects.GetItem(i));
    writer.Start();
    writer.Text(1, object->Name);
    writer.TextOrNull(2, object->Description);
    if (!object->System) writer.Text(3, object->ModuleName);
    writer.Text(4, object->GetCreateSQL(true, false));
    writer.Text(5, object->GetDropSQL(true, false));
    writer.Insert();
  }
}

// The two built-in databases are the session's own and never listed.
bool isListedDatabase(const TBRNDatabaseContainer* database) {
  return !TextEqualsIgnoreCase(database->Name, kConfigurationDatabaseName) &&
         !TextEqualsIgnoreCase(database->Name, kCursorCacheDatabaseName);
}

// The catalog version of database as its session handle reads it; a handle
// made only for this is freed again.
int64_t catalogVersionOf(TBRNLocalSessionManager& session, TBRNDatabaseContainer* database) {
  const bool hadHandle = session.GetDatabaseHandle(database) != 0;
  int64_t version = 0;
  try {
    version = session.GetDatabaseManager(database)->GetCatalogVersion();
  } catch (...) {
    if (!hadHandle) session.ReleaseObjectHandles(database);
    throw;
  }
  if (!hadHandle) session.ReleaseObjectHandles(database);
  return version;
}

void produceDatabases(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  const bool showVersions = session.SessionSettings->GetShowDatabaseCatalogVersions();
  TBRNDatabaseContainers* databases = session.Config->Databases.get();
  RowWriter writer(manager, databasesTable);
  for (int32_t i = 0; i < databases->Count(); ++i) {
    TBRNDatabaseContainer* database = databases->GetDatabase(i);
    if (!isListedDatabase(database) || !isVisible(session, database)) continue;
    writer.Start();
    writer.Text(1, database->Name);
    writer.TextOrNull(2, database->Description);
    writer.TextOrNull(3, database->Attributes);
    if (!database->System) writer.Text(4, database->Path);
    writer.Column(5)->SetAsBoolean(database->InMemory);
    writer.Column(6)->SetAsBoolean(database->EncryptedCatalog);
    std::string collation;
    session.GetCollationName(database->DefaultCollation, collation);
    writer.Text(7, collation);
    if (showVersions) writer.Column(8)->SetAsDecimal(catalogVersionOf(session, database));
    writer.Text(9, database->GetCreateSQL(true, false));
    writer.Text(10, database->GetDropSQL(true, false));
    writer.Insert();
  }
}

// Passwords, signature and the CREATE text (which carries them) are shown
// to administrators only.
void produceStores(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  const bool administrator = isAdministrator(session);
  TBRNStores* stores = session.Config->Stores.get();
  RowWriter writer(manager, storesTable);
  for (int32_t i = 0; i < stores->Count(); ++i) {
    TBRNStore* store = stores->GetStore(i);
    if (!isVisible(session, store)) continue;
    writer.Start();
    writer.Text(1, store->Name);
    writer.TextOrNull(2, store->Description);
    writer.TextOrNull(3, store->Attributes);
    if (store->StoreType == kLocalStore) {
      writer.Text(4, StoreTypeName(kLocalStore));
      if (!store->System) writer.Text(5, store->Path);
    } else if (store->StoreType == kRemoteStore) {
      writer.Text(4, StoreTypeName(kRemoteStore));
      writer.Text(6, store->Address);
      writer.Text(7, store->Host);
      writer.Column(8)->SetAsInteger(store->Port);
      writer.Text(9, store->Service);
      writer.Text(10, store->UserName);
      if (administrator) writer.Text(11, store->Password);
      writer.Text(12, store->RemoteStore);
      if (administrator) writer.Text(13, store->Signature);
      writer.Column(14)->SetAsBoolean(store->Encrypted);
      if (administrator) writer.Text(15, store->EncryptionPassword);
      writer.Column(16)->SetAsInteger(store->Compression);
      writer.Column(17)->SetAsInteger(store->Timeout);
      writer.Column(18)->SetAsBoolean(store->Ping);
      writer.Column(19)->SetAsInteger(store->PingInterval);
    }
    if (administrator) writer.Text(20, store->GetCreateSQL(true, false));
    writer.Text(21, store->GetDropSQL(true, false));
    writer.Insert();
  }
}

// Only administrators get rows.
void produceJobs(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  if (!isAdministrator(session)) return;
  TBRNJobs* jobs = session.Config->Jobs.get();
  RowWriter writer(manager, jobsTable);
  for (int32_t i = 0; i < jobs->Count(); ++i) {
    TBRNJob* job = jobs->GetJob(i);
    writer.Start();
    writer.Text(1, job->Name);
    writer.TextOrNull(2, job->Description);
    writer.TextOrNull(3, job->Attributes);
    writer.Column(4)->SetAsDecimal(job->Version);
    writer.Text(5, job->Category);
    TBRNUser* runAs = job->GetRunAsUser();
    writer.Text(6, runAs != nullptr ? runAs->Name : std::string("System"));
    writer.Column(7)->SetAsDate(job->StartDate);
    writer.Column(8)->SetAsDate(job->EndDate);
    writer.Text(9, JobTypeName(job->ScheduleType));
    switch (job->ScheduleType) {
      case jsDaily:
      case jsWeekly:
      case jsHourly:
        writer.Text(11, job->GetDaysText());
        break;
      case jsMonthly:
        if (job->Ordinal != 0) {
          writer.Text(13, job->GetOrdinalText());
        } else {
          writer.Column(12)->SetAsInteger(job->DayNumber);
        }
        writer.Text(14, job->GetMonthsText());
        break;
      case jsEveryXDays:
        writer.Column(10)->SetAsInteger(job->Interval);
        break;
      case jsEveryXWeeks:
      case jsEveryXHours:
      case jsEveryXMinutes:
        writer.Column(10)->SetAsInteger(job->Interval);
        writer.Text(11, job->GetDaysText());
        break;
      default:
        break;
    }
    writer.Column(15)->SetAsTime(job->StartTime);
    writer.Column(16)->SetAsTime(job->EndTime);
    if (job->Body != nullptr) writer.Text(17, job->Body->SQL);
    if (job->LastRun != 0) writer.Column(18)->SetAsTimestamp(job->LastRun);
    writer.Column(19)->SetAsBoolean(session.Engine->IsJobEnabled(job->Name));
    writer.Text(20, job->GetCreateSQL(true, false));
    writer.Text(21, job->GetDropSQL(true, false));
    writer.Insert();
  }
}

// Every event of the log file, oldest first, under one read of the log so
// that no writer changes it during the walk. Only errors show their code.
void produceLogEvents(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNLocalLogManager* log = session.LogManager.get();
  if (log == nullptr || !log->Opened) return;
  RowWriter writer(manager, logEventsTable);
  log->BeginRead();
  try {
    TBRNLogEvent event;
    for (bool more = log->ReadFirstEvent(event); more; more = log->ReadNextEvent(event)) {
      writer.Start();
      writer.Text(1, event.GetKindName());
      writer.Text(2, event.GetOperationName());
      if (event.Category == lcError) writer.Column(3)->SetAsInteger(event.ErrorCode);
      writer.TextOrNull(4, event.Description);
      writer.Column(5)->SetAsTimestamp(event.LogTimeStamp);
      writer.Column(6)->SetAsDecimal(event.Version);
      writer.Column(7)->SetAsInteger(event.Build);
      writer.Text(8, event.ProductType);
      writer.TextOrNull(9, event.User);
      writer.Text(10, event.Process);
      writer.Column(11)->SetAsInteger(event.ThreadID);
      writer.Column(12)->SetAsInteger(event.SessionID);
      writer.TextOrNull(13, event.SessionName);
      writer.TextOrNull(14, event.SessionDescription);
      writer.TextOrNull(15, event.IPAddress);
      writer.Column(16)->SetAsBoolean(event.Encrypted);
      writer.Insert();
    }
  } catch (...) {
    try {
      log->EndRead();
    } catch (...) {
      // The walk's error is the one reported.
    }
    throw;
  }
  log->EndRead();
}

}  // namespace

const TBRNSystemTableDefinition* FindSystemTableDefinition(const TBRNConfigObjects& collection) {
  const std::string name = collection.GetSystemTableName();
  if (name.empty()) return nullptr;
  for (const TBRNSystemTableDefinition* definition : definitions) {
    if (name == definition->Name) return definition;
  }
  return nullptr;
}

void RegisterConfigurationTables(TBRNLocalSessionManager& session) {
  TBRNConfig* config = session.Config.get();
  TBRNLocalSessionManager* owner = &session;
  // Jobs change their last run and enabled state without a configuration
  // change, so that table is filled at every read.
  auto add = [&session, owner](const TBRNSystemTableDefinition& definition,
                               void (*produce)(TBRNLocalSessionManager&, TBRNVirtualTableManager&),
                               bool alwaysRefresh = false) {
    RegisterSystemTable(
        session, definition, alwaysRefresh,
        [owner, produce](TBRNVirtualTableManager& manager) { produce(*owner, manager); });
  };
  add(*FindSystemTableDefinition(*config->DataTypes), produceDataTypes);
  add(*FindSystemTableDefinition(*config->Collations), produceCollations);
  add(modulesTable, produceModules);
  add(textFiltersTable, produceTextFilters);
  RegisterSystemTable(
      session, wordGeneratorsTable, false, [owner](TBRNVirtualTableManager& manager) {
        produceModuleBound(*owner->Config->WordGenerators, wordGeneratorsTable, manager);
      });
  RegisterSystemTable(session, migratorsTable, false, [owner](TBRNVirtualTableManager& manager) {
    produceModuleBound(*owner->Config->Migrators, migratorsTable, manager);
  });
  add(logEventsTable, produceLogEvents);
  add(*FindSystemTableDefinition(*config->Users), produceUsers);
  add(*FindSystemTableDefinition(*config->Roles), produceRoles);
  add(*FindSystemTableDefinition(*config->Databases), produceDatabases);
  add(*FindSystemTableDefinition(*config->Jobs), produceJobs, true);
  add(*FindSystemTableDefinition(*config->Stores), produceStores);
}

}  // namespace brn
