// The tables of the "Configuration" database: their definitions (one per
// collection class) and the producers that fill their rows.
#include <memory>
#include <stdexcept>

#include "metadata/config/config.h"
#include "metadata/config/databases.h"
#include "metadata/config/users_roles.h"
#include "sessions/engine_settings.h"
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

const TBRNSystemTableDefinition usersTable{
    "Users",
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

const TBRNSystemTableDefinition* const definitions[] = {&usersTable, &rolesTable};

TBRNRowsetHost* rowsetHostOf(TBRNVirtualTableManager& manager) {
  auto* host = dynamic_cast<TBRNRowsetHost*>(&manager);
  if (host == nullptr) throw std::logic_error("A system table is filled through a table manager");
  return host;
}

// A row buffer of manager with values over its columns; each row starts
// all NULL and is inserted through the manager's row operation.
class RowWriter {
 public:
  explicit RowWriter(TBRNVirtualTableManager& manager)
      : manager_(manager),
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
  void Insert() {
    int32_t row = 0;
    int32_t version = 0;
    int32_t counter = 0;
    manager_.InsertRowWithTriggers(values_, row, version, counter);
  }

 private:
  TBRNVirtualTableManager& manager_;
  std::unique_ptr<TBRNRowsetRow> buffer_;
  TBRNRowsetRowValues values_;
};

void setText(TBRNValue* value, const std::string& text) {
  value->SetAsString(text);
}

void produceUsers(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNUser* caller = session.GetCallingUser();
  const bool administrator = session.IsAdministratorUser(caller);
  const bool showPasswords = session.SessionSettings->GetShowUserPasswords();
  TBRNUsers* users = session.Config->Users.get();
  RowWriter writer(manager);
  for (int32_t i = 0; i < users->Count(); ++i) {
    TBRNUser* user = static_cast<TBRNUser*>(users->GetItem(i));
    if (!administrator && user != caller) continue;
    writer.Start();
    setText(writer.Column(1), user->Name);
    if (showPasswords) setText(writer.Column(2), user->Password);
    if (user->PasswordChanged != 0) writer.Column(3)->SetAsTimestamp(user->PasswordChanged);
    setText(writer.Column(4), user->Description);
    setText(writer.Column(5), user->Attributes);
    setText(writer.Column(6), user->GetCreateSQL(true, false));
    setText(writer.Column(7), user->GetDropSQL(true, false));
    writer.Insert();
  }
}

void produceRoles(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNUser* caller = session.GetCallingUser();
  const bool administrator = session.IsAdministratorUser(caller);
  TBRNRoles* roles = session.Config->Roles.get();
  RowWriter writer(manager);
  for (int32_t i = 0; i < roles->Count(); ++i) {
    TBRNRole* role = roles->GetRole(i);
    if (!administrator && (caller == nullptr || !caller->HasRole(role))) continue;
    writer.Start();
    setText(writer.Column(1), role->Name);
    setText(writer.Column(2), role->Description);
    setText(writer.Column(3), role->Attributes);
    setText(writer.Column(4), role->GetCreateSQL(true, false));
    setText(writer.Column(5), role->GetDropSQL(true, false));
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
  return nullptr;
}

void RegisterConfigurationTables(TBRNLocalSessionManager& session) {
  TBRNConfig* config = session.Config.get();
  TBRNLocalSessionManager* owner = &session;
  RegisterSystemTable(session, *FindSystemTableDefinition(*config->Users), false,
                      [owner](TBRNVirtualTableManager& manager) { produceUsers(*owner, manager); });
  RegisterSystemTable(session, *FindSystemTableDefinition(*config->Roles), false,
                      [owner](TBRNVirtualTableManager& manager) { produceRoles(*owner, manager); });
}

}  // namespace brn
