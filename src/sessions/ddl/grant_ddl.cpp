// GRANT and REVOKE of privileges on the tables, views, procedures and
// functions of a local database.
#include <stdexcept>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/schemas.h"
#include "metadata/config/config.h"
#include "metadata/config/privileges.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/ddl_frame.h"
#include "sessions/local/local_session_manager.h"

namespace brn {

namespace {

// objectKind 0 table, 1 view, 2 procedure, 3 function.
TBRNPrivilegedConfigObject* findGrantObject(TBRNCatalog& catalog, const std::string& name,
                                            int32_t objectKind) {
  TBRNSchema& schema = *catalog.DefaultSchema;
  TBRNConfigObjects* objects = nullptr;
  switch (objectKind) {
    case 0:
      objects = schema.BaseTables.get();
      break;
    case 1:
      objects = schema.Views.get();
      break;
    case 2:
      objects = schema.Procedures.get();
      break;
    case 3:
      objects = schema.Functions.get();
      break;
    default:
      throw std::invalid_argument(
          "Privileges are granted on tables (0), views (1), procedures (2) and functions (3)");
  }
  return static_cast<TBRNPrivilegedConfigObject*>(objects->FindByName(name, true));
}

// The common steps of GRANT and REVOKE; change does the grant or revoke.
template <typename Change>
void changePrivilege(TBRNLocalDatabaseManager& database, const std::string& statement,
                     const std::string& granteeName, const std::string& objectName,
                     int32_t objectKind, int32_t privilege, bool grant, Change&& change) {
  TBRNLocalSessionManager& session = *database.Session;
  database.RequireOpen(statement);
  session.RequireAdministrator(statement);
  database.RequireWritable(statement);
  TBRNConfigReadBracket configRead(session);
  TBRNCatalogUpdateBracket update(database);
  auto* grantee = static_cast<TBRNAuthorization*>(
      session.Config->Authorizations->FindByName(granteeName, true));
  TBRNPrivilegedConfigObject* object = findGrantObject(*database.Catalog, objectName, objectKind);
  const std::string privilegeName = PrivilegeName(privilege);
  TBRNStatusStages stages(grant ? ReportDdlGrant(database, object, privilegeName)
                                : ReportDdlRevoke(database, object, privilegeName));
  CheckNotSystemUnlessSystemUser(database, object);
  change(object, grantee);
  update.Commit();
  stages.Complete();
}

}  // namespace

void TBRNLocalDatabaseManager::GrantPrivilege(const std::string& grantee,
                                              const std::string& objectName, int32_t objectKind,
                                              int32_t privilege) {
  const std::string statement =
      DdlStatementText("GRANT %s ON %s TO %s", {PrivilegeName(privilege), objectName, grantee});
  changePrivilege(*this, statement, grantee, objectName, objectKind, privilege, true,
                  [this, privilege](TBRNPrivilegedConfigObject* object, TBRNAuthorization* to) {
                    if (privilege == pkAll)
                      object->GrantAll(Session->CurrentUser, to);
                    else
                      object->Grant(Session->CurrentUser, to, privilege);
                  });
}

void TBRNLocalDatabaseManager::RevokePrivilege(const std::string& grantee,
                                               const std::string& objectName, int32_t objectKind,
                                               int32_t privilege) {
  const std::string statement =
      DdlStatementText("REVOKE %s ON %s FROM %s", {PrivilegeName(privilege), objectName, grantee});
  changePrivilege(*this, statement, grantee, objectName, objectKind, privilege, false,
                  [privilege](TBRNPrivilegedConfigObject* object, TBRNAuthorization* from) {
                    if (privilege == pkAll)
                      object->RevokeAll(from);
                    else
                      object->Revoke(from, privilege);
                  });
}

}  // namespace brn
