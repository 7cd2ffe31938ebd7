// The tables of the "Configuration" database: their definitions (one per
// collection class) and the producers that fill their rows.
#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/locks/log_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/string_list.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/jobs.h"
#include "metadata/config/privileges.h"
#include "metadata/config/stores.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/type_lists.h"
#include "metadata/modules/migrators.h"
#include "metadata/modules/module.h"
#include "metadata/modules/text_filters.h"
#include "sessions/databases/catalog_manager.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_log_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/manager_interfaces.h"
#include "sessions/system_tables/system_table_rows.h"
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

// A store's backup or update files: the fields of their headers.
const TBRNSystemTableDefinition backupsTable{"Backups",
                                             {{"Name", dtChar, stDefault, 255, 0, true},
                                              descriptionColumn,
                                              {"DatabaseName", dtChar, stDefault, 40, 0, true},
                                              {"DatabasePath", dtChar, stDefault, 255, 0, true},
                                              {"CreatedOn", dtTimestamp},
                                              {"CreatedBy", dtChar, stDefault, 40},
                                              {"CompressionLevel", dtInteger},
                                              {"Size", dtBigInt},
                                              {"IncludesCatalog", dtBoolean},
                                              {"CatalogVersion", dtDecimal, stDefault, 0, 2},
                                              {"NumTables", dtInteger},
                                              {"Tables", dtLob, stClob}},
                                             {{"Name", {"Name"}}, {"CreatedOn", {"CreatedOn"}}}};

const TBRNSystemTableDefinition updatesTable{"Updates",
                                             {{"Name", dtChar, stDefault, 255, 0, true},
                                              descriptionColumn,
                                              {"DatabaseName", dtChar, stDefault, 40, 0, true},
                                              {"DatabasePath", dtChar, stDefault, 255, 0, true},
                                              {"CreatedOn", dtTimestamp},
                                              {"CreatedBy", dtChar, stDefault, 40},
                                              {"CompressionLevel", dtInteger},
                                              {"Size", dtBigInt},
                                              {"NumTables", dtInteger},
                                              {"Tables", dtLob, stClob}},
                                             {{"Name", {"Name"}}, {"CreatedOn", {"CreatedOn"}}}};

const TBRNSystemTableDefinition filesTable{
    "Files",
    {{"Name", dtChar, stDefault, 255, 0, true},
     {"CreatedOn", dtTimestamp},
     {"ModifiedOn", dtTimestamp},
     {"Size", dtBigInt}},
    {{"Name", {"Name"}}, {"CreatedOn", {"CreatedOn"}}, {"ModifiedOn", {"ModifiedOn"}}}};

const TBRNSystemTableDefinition migratorParamsTable{"MigratorParams",
                                                    {nameColumn,
                                                     {"Mode", dtChar, stDefault, 15, 0, true},
                                                     {"Type", dtChar, stDefault, 30, 0, true},
                                                     {"Collation", dtChar, stDefault, 40, 0, true},
                                                     {"Length", dtInteger},
                                                     {"Precision", dtInteger},
                                                     {"Scale", dtInteger},
                                                     {"DefaultValue", dtChar, stDefault, 60},
                                                     {"OrdinalPos", dtInteger}},
                                                    {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition migratorTablesTable{
    "MigratorTables", {nameColumn}, {{"Name", {"Name"}}}};
const TBRNSystemTableDefinition migratorViewsTable{
    "MigratorViews", {nameColumn}, {{"Name", {"Name"}}}};
const TBRNSystemTableDefinition migratorFunctionsTable{
    "MigratorFunctions", {nameColumn}, {{"Name", {"Name"}}}};
const TBRNSystemTableDefinition migratorProceduresTable{
    "MigratorProcedures", {nameColumn}, {{"Name", {"Name"}}}};

constexpr TBRNSystemTableColumn grantedToColumn{"GrantedTo", dtChar, stDefault, 40, 0, true};
constexpr TBRNSystemTableColumn grantedByColumn{"GrantedBy", dtChar, stDefault, 40, 0, true};

const TBRNSystemTableDefinition userRolesTable{
    "UserRoles",
    {nameColumn, grantedToColumn, grantedByColumn, createSqlColumn, dropSqlColumn},
    {{"Name", {"Name"}}, {"GrantedTo", {"GrantedTo"}}}};

const TBRNSystemTableDefinition databasePrivilegesTable{
    "DatabasePrivileges",
    {nameColumn, {"Privilege", dtChar, stDefault, 15, 0, true}, grantedToColumn, grantedByColumn},
    {{"Name", {"Name"}}, {"GrantedTo", {"GrantedTo"}}}};

const TBRNSystemTableDefinition storePrivilegesTable{
    "StorePrivileges",
    {nameColumn, {"Privilege", dtChar, stDefault, 15, 0, true}, grantedToColumn, grantedByColumn},
    {{"Name", {"Name"}}, {"GrantedTo", {"GrantedTo"}}}};

// The tables whose collection class names them (GetSystemTableName); the
// module-bound lists name none and are registered by their definitions.
const TBRNSystemTableDefinition* const definitions[] = {
    &dataTypesTable, &collationsTable, &usersTable,  &rolesTable, &userRolesTable,
    &databasesTable, &jobsTable,       &storesTable, &filesTable};

using RowWriter = TBRNSystemTableRowWriter;

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

// One row per role granted to each listed user, in grant order; a grant
// whose role is gone is left out.
void produceUserRoles(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNUser* caller = session.GetCallingUser();
  const bool administrator = session.IsAdministratorUser(caller);
  TBRNUsers* users = session.Config->Users.get();
  RowWriter writer(manager, userRolesTable);
  for (int32_t i = 0; i < users->Count(); ++i) {
    TBRNUser* user = static_cast<TBRNUser*>(users->GetItem(i));
    if (!administrator && user != caller) continue;
    for (int32_t j = 0; j < user->Roles->Count(); ++j) {
      auto* grant = static_cast<TBRNUserRole*>(user->Roles->GetItem(j));
      TBRNRole* role = grant->FindRole();
      if (role == nullptr) continue;
      writer.Start();
      writer.Text(1, role->Name);
      writer.Text(2, user->Name);
      writer.Text(3, grant->GetGrantor()->Name);
      writer.Text(4, grant->GetCreateSQL(true, false));
      writer.Text(5, grant->GetDropSQL(true, false));
      writer.Insert();
    }
  }
}

// The grants of object, one row each, in list order. A grant whose grantee
// is gone is left out; a non-administrator sees only the grants to himself
// and to the roles he holds.
void addGrantRows(RowWriter& writer, TBRNPrivilegedConfigObject* object, TBRNUser* caller,
                  bool administrator) {
  TBRNPrivileges* grants = object->Privileges.get();
  for (int32_t i = 0; i < grants->Count(); ++i) {
    TBRNPrivilege* grant = grants->GetPrivilege(i);
    TBRNAuthorization* grantee = grant->GetGrantee();
    if (grantee == nullptr) continue;
    if (!administrator) {
      auto* role = dynamic_cast<TBRNRole*>(grantee);
      const bool own = grantee == caller || (role != nullptr && caller->HasRole(role));
      if (!own) continue;
    }
    writer.Start();
    writer.Text(1, object->Name);
    writer.Text(2, PrivilegeName(grant->Kind));
    writer.Text(3, grantee->Name);
    writer.Text(4, grant->GetGrantor()->Name);
    writer.Insert();
  }
}

void produceDatabasePrivileges(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNUser* caller = session.GetCallingUser();
  const bool administrator = session.IsAdministratorUser(caller);
  if (!administrator && caller == nullptr) return;
  TBRNDatabaseContainers* databases = session.Config->Databases.get();
  RowWriter writer(manager, databasePrivilegesTable);
  for (int32_t i = 0; i < databases->Count(); ++i) {
    TBRNDatabaseContainer* database = databases->GetDatabase(i);
    if (!isListedDatabase(database) || !isVisible(session, database)) continue;
    addGrantRows(writer, database, caller, administrator);
  }
}

void produceStorePrivileges(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNUser* caller = session.GetCallingUser();
  const bool administrator = session.IsAdministratorUser(caller);
  if (!administrator && caller == nullptr) return;
  TBRNStores* stores = session.Config->Stores.get();
  RowWriter writer(manager, storePrivilegesTable);
  for (int32_t i = 0; i < stores->Count(); ++i) {
    TBRNStore* store = stores->GetStore(i);
    if (!isVisible(session, store)) continue;
    addGrantRows(writer, store, caller, administrator);
  }
}

// The current store of a kind (SET BACKUPS / UPDATES / FILES STORE), open
// for the enclosing scope and listed with mask; no store named gives no
// files. The store is closed when the scope ends, also through an
// exception (a failing close then gives way to the error that left).
class ListedStore {
 public:
  ListedStore(TBRNLocalSessionManager& session, const std::string& storeName,
              const std::string& mask)
      : session_(session) {
    if (storeName.empty()) return;
    manager_ = session.OpenStore(storeName, kBRNLockShared, false);
    manager_->ListFiles(mask);
  }
  ~ListedStore() {
    if (manager_ == nullptr) return;
    try {
      session_.CloseStore(manager_);
    } catch (...) {
      // See the class comment.
    }
  }
  ListedStore(const ListedStore&) = delete;
  ListedStore& operator=(const ListedStore&) = delete;

  int32_t Count() const { return manager_ == nullptr ? 0 : manager_->Files.GetCount(); }
  const TBRNStoreFile& File(int32_t index) const { return manager_->Files.GetItem(index); }
  // Closes now, so that a failing close fails the fill.
  void Close() {
    if (manager_ != nullptr) session_.CloseStore(manager_);
    manager_ = nullptr;
  }

 private:
  TBRNLocalSessionManager& session_;
  TBRNStoreManager* manager_ = nullptr;
};

// name without a trailing extension (compared without regard to case).
std::string withoutExtension(const std::string& name, const std::string& extension) {
  if (extension.empty() || name.size() < extension.size()) return name;
  const std::string tail = name.substr(name.size() - extension.size());
  return TextEqualsIgnoreCase(tail, extension) ? name.substr(0, name.size() - extension.size())
                                               : name;
}

// The table names of a backup or update file joined with CR LF (the
// listing keeps each name with a tab and the table's size).
std::string joinedTables(const TBRNStoreFile& file) {
  std::string text;
  for (size_t i = 0; i < file.Tables.size(); ++i) {
    if (i > 0) text += "\r\n";
    const std::string& entry = file.Tables[i];
    text += entry.substr(0, entry.find('\t'));
  }
  return text;
}

void produceBackups(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  const std::string extension = session.SessionSettings->GetBackupExtension();
  ListedStore store(session, session.BackupsStore, "*" + extension);
  RowWriter writer(manager, backupsTable);
  for (int32_t i = 0; i < store.Count(); ++i) {
    const TBRNStoreFile& file = store.File(i);
    writer.Start();
    writer.Text(1, withoutExtension(file.Name, extension));
    writer.TextOrNull(2, file.Description);
    writer.Text(3, file.DatabaseName);
    writer.TextOrNull(4, file.DatabasePath);
    writer.Column(5)->SetAsTimestamp(file.CreatedOn);
    writer.Text(6, file.CreatedBy);
    writer.Column(7)->SetAsInteger(file.CompressionLevel);
    writer.Column(8)->SetAsBigInt(file.Size);
    writer.Column(9)->SetAsBoolean(file.IncludesCatalog);
    writer.Column(10)->SetAsDecimal(file.CatalogVersion);
    writer.Column(11)->SetAsInteger(static_cast<int32_t>(file.Tables.size()));
    writer.Text(12, joinedTables(file));
    writer.Insert();
  }
  store.Close();
}

void produceUpdates(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  const std::string extension = session.SessionSettings->GetUpdateExtension();
  ListedStore store(session, session.UpdatesStore, "*" + extension);
  RowWriter writer(manager, updatesTable);
  for (int32_t i = 0; i < store.Count(); ++i) {
    const TBRNStoreFile& file = store.File(i);
    writer.Start();
    writer.Text(1, withoutExtension(file.Name, extension));
    writer.TextOrNull(2, file.Description);
    writer.Text(3, file.DatabaseName);
    writer.TextOrNull(4, file.DatabasePath);
    writer.Column(5)->SetAsTimestamp(file.CreatedOn);
    writer.Text(6, file.CreatedBy);
    writer.Column(7)->SetAsInteger(file.CompressionLevel);
    writer.Column(8)->SetAsBigInt(file.Size);
    writer.Column(9)->SetAsInteger(static_cast<int32_t>(file.Tables.size()));
    writer.Text(10, joinedTables(file));
    writer.Insert();
  }
  store.Close();
}

void produceFiles(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  ListedStore store(session, session.FilesStore, "*.*");
  RowWriter writer(manager, filesTable);
  for (int32_t i = 0; i < store.Count(); ++i) {
    const TBRNStoreFile& file = store.File(i);
    writer.Start();
    writer.Text(1, file.Name);
    writer.Column(2)->SetAsTimestamp(file.CreatedOn);
    writer.Column(3)->SetAsTimestamp(file.Modified);
    writer.Column(4)->SetAsBigInt(file.Size);
    writer.Insert();
  }
  store.Close();
}

// The current migrator (SET MIGRATOR), opened for the enclosing scope;
// nullptr when none is set. An unknown name raises the not-found error.
class OpenedMigrator {
 public:
  explicit OpenedMigrator(TBRNLocalSessionManager& session) {
    if (session.Migrator.empty()) return;
    auto* migrator =
        static_cast<TBRNMigrator*>(session.Config->Migrators->FindByName(session.Migrator, true));
    migrator->Open();
    migrator_ = migrator;
  }
  ~OpenedMigrator() {
    if (migrator_ != nullptr) migrator_->Close();
  }
  OpenedMigrator(const OpenedMigrator&) = delete;
  OpenedMigrator& operator=(const OpenedMigrator&) = delete;

  TBRNMigrator* Get() const { return migrator_; }

 private:
  TBRNMigrator* migrator_ = nullptr;
};

const char* parameterModeName(int32_t direction) {
  switch (direction) {
    case 0:
      return "Unknown";
    case 1:
      return "In";
    case 2:
      return "Out";
    case 3:
      return "InOut";
    default:
      return nullptr;
  }
}

// OrdinalPos holds the parameter's position from 0, as the other ordinal
// positions of parameters do.
void produceMigratorParams(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  OpenedMigrator migrator(session);
  if (migrator.Get() == nullptr) return;
  migrator.Get()->LoadParams();
  TBRNParamValues* params = migrator.Get()->Params.get();
  RowWriter writer(manager, migratorParamsTable);
  for (int32_t i = 0; i < params->GetCount(); ++i) {
    auto* param = static_cast<TBRNParamValue*>(params->GetItem(i));
    const TBRNDataTypeCode type = param->GetDataType();
    const TBRNDataSubType subType = param->GetSubType();
    writer.Start();
    writer.Text(1, param->GetName());
    if (const char* mode = parameterModeName(param->GetDirection())) writer.Text(2, mode);
    writer.Text(3, DataTypeName(type, subType));
    if (type == dtChar || (type == dtLob && subType == stClob)) {
      std::string collation;
      session.GetCollationName(param->GetCollation(), collation);
      writer.Text(4, collation);
    }
    if (type == dtChar || type == dtBytes)
      writer.Column(5)->SetAsInteger(param->GetDeclaredLength());
    if (type == dtSmallInt || type == dtInteger || type == dtBigInt)
      writer.Column(7)->SetAsInteger(param->GetScale());
    if (type == dtFloat) writer.Column(6)->SetAsInteger(16);
    if (type == dtDecimal) {
      writer.Column(6)->SetAsInteger(19);
      writer.Column(7)->SetAsInteger(param->GetScale());
    }
    if (!param->GetNull()) writer.Text(8, param->GetAsString());
    writer.Column(9)->SetAsInteger(i);
    writer.Insert();
  }
}

// The source objects of one kind that the current migrator's module names,
// one row each in the order received.
void produceMigratorNames(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager,
                          const TBRNSystemTableDefinition& definition,
                          void (TBRNMigrator::*names)(TBRNStringsList&)) {
  OpenedMigrator migrator(session);
  if (migrator.Get() == nullptr) return;
  TBRNStringsList list;
  (migrator.Get()->*names)(list);
  RowWriter writer(manager, definition);
  for (int32_t i = 0; i < list.GetCount(); ++i) {
    writer.Start();
    writer.Text(1, list.GetItem(i));
    writer.Insert();
  }
}

}  // namespace

const TBRNSystemTableDefinition* FindSystemTableDefinition(const TBRNConfigObjects& collection) {
  const std::string name = collection.GetSystemTableName();
  if (name.empty()) return nullptr;
  for (const TBRNSystemTableDefinition* definition : definitions) {
    if (name == definition->Name) return definition;
  }
  if (name == ODBCTypesTableDefinition().Name) return &ODBCTypesTableDefinition();
  return nullptr;
}

namespace {

void registerEachConfigurationTable(TBRNLocalSessionManager& session);

}  // namespace

void RegisterConfigurationTables(TBRNLocalSessionManager& session) {
  TBRNLocalDatabaseManager* database = session.ConfigurationDatabase;
  if (database == nullptr)
    throw std::logic_error("RegisterConfigurationTables: the Configuration database is not open");
  // One catalog write for all of them: the catalog file is rewritten whole
  // at each commit, so a commit per table made every session's open slow.
  TBRNConfigObjectManager& catalog = *database->CatalogManager;
  TBRNConfigObjects& tables = *database->Catalog->DefaultSchema->BaseTables;
  const int32_t before = tables.Count();
  catalog.BeginUpdate();
  try {
    registerEachConfigurationTable(session);
    catalog.CommitUpdate();
  } catch (...) {
    for (int32_t i = tables.Count() - 1; i >= before; --i) {
      database->SystemTables.Remove(tables.GetItem(i));
      std::unique_ptr<TBRNConfigObject> removed(tables.RemoveObject(i));
    }
    try {
      catalog.CancelUpdate();
    } catch (...) {
      // The registration's error is the one reported.
    }
    throw;
  }
}

namespace {

void registerEachConfigurationTable(TBRNLocalSessionManager& session) {
  TBRNConfig* config = session.Config.get();
  TBRNLocalSessionManager* owner = &session;
  using TProducer = void (*)(TBRNLocalSessionManager&, TBRNVirtualTableManager&);
  auto add = [&session, owner](const TBRNSystemTableDefinition& definition, TProducer produce,
                               bool alwaysRefresh = false) {
    RegisterSystemTable(
        session, definition, alwaysRefresh,
        [owner, produce](TBRNVirtualTableManager& manager) { produce(*owner, manager); });
  };
  auto addMigratorNames = [&session, owner](const TBRNSystemTableDefinition& definition,
                                            void (TBRNMigrator::*names)(TBRNStringsList&)) {
    const TBRNSystemTableDefinition* shared = &definition;
    RegisterSystemTable(session, definition, false,
                        [owner, shared, names](TBRNVirtualTableManager& manager) {
                          produceMigratorNames(*owner, manager, *shared, names);
                        });
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
  add(migratorParamsTable, produceMigratorParams);
  addMigratorNames(migratorTablesTable, &TBRNMigrator::GetTableNames);
  addMigratorNames(migratorViewsTable, &TBRNMigrator::GetViewNames);
  addMigratorNames(migratorFunctionsTable, &TBRNMigrator::GetFunctionNames);
  addMigratorNames(migratorProceduresTable, &TBRNMigrator::GetProcedureNames);
  add(logEventsTable, produceLogEvents);
  // The stores' files, the server's state and the jobs' last runs and
  // enabled marks change without a configuration change: those tables are
  // filled at every read.
  add(backupsTable, produceBackups, true);
  RegisterServerSessionsTable(session);
  RegisterServerSessionLocksTable(session);
  RegisterServerStatisticsTable(session);
  add(updatesTable, produceUpdates, true);
  add(*FindSystemTableDefinition(*config->Users), produceUsers);
  add(*FindSystemTableDefinition(*config->Roles), produceRoles);
  add(userRolesTable, produceUserRoles);
  add(*FindSystemTableDefinition(*config->Databases), produceDatabases);
  add(databasePrivilegesTable, produceDatabasePrivileges);
  add(*FindSystemTableDefinition(*config->Jobs), produceJobs, true);
  add(*FindSystemTableDefinition(*config->Stores), produceStores);
  add(filesTable, produceFiles, true);
  add(storePrivilegesTable, produceStorePrivileges);
  add(ODBCTypesTableDefinition(), ProduceODBCTypes);
}

}  // namespace

}  // namespace brn
