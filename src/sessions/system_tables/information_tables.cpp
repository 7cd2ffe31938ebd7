// The tables of every database's "Information" schema: their definitions
// and the producers that describe the objects of the "Default" schema to
// the calling user.
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "foundation/types/data_types.h"
#include "foundation/values/odbc_type_info.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/routines.h"
#include "metadata/catalog/schema_differences.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/catalog/triggers.h"
#include "metadata/catalog/views.h"
#include "metadata/config/databases.h"
#include "metadata/config/privileges.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/object_selections.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/system_tables/system_tables.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

namespace {

// Column shapes: ci marks the case-insensitive binary collation.
constexpr TBRNSystemTableColumn text(const char* name, int32_t length) {
  return {name, dtChar, stDefault, length, 0, true};
}
constexpr TBRNSystemTableColumn textCs(const char* name, int32_t length) {
  return {name, dtChar, stDefault, length};
}
constexpr TBRNSystemTableColumn clob(const char* name) {
  return {name, dtLob, stClob};
}
constexpr TBRNSystemTableColumn clobCi(const char* name) {
  return {name, dtLob, stClob, 0, 0, true};
}
constexpr TBRNSystemTableColumn integer(const char* name) {
  return {name, dtInteger};
}
constexpr TBRNSystemTableColumn smallint(const char* name) {
  return {name, dtSmallInt};
}
constexpr TBRNSystemTableColumn boolean(const char* name) {
  return {name, dtBoolean};
}
constexpr TBRNSystemTableColumn timestamp(const char* name) {
  return {name, dtTimestamp};
}
constexpr TBRNSystemTableColumn version(const char* name) {
  return {name, dtDecimal, stDefault, 0, 2};
}

// The type detail columns: Type, Collation, Length, Precision, Scale.
#define BRN_TYPE_DETAIL \
  text("Type", 30), text("Collation", 40), integer("Length"), integer("Precision"), integer("Scale")

const TBRNSystemTableDefinition schemaObjectsTable{
    "SchemaObjects",
    {text("ParentName", 40), text("ParentType", 30), text("Name", 40), text("Type", 30),
     clobCi("CreateSQL"), clobCi("PostCreateSQL"), clobCi("PreDropSQL"), clobCi("DropSQL")},
    {{"ParentName", {"ParentName"}},
     {"ParentType", {"ParentType"}},
     {"Name", {"Name"}},
     {"Type", {"Type"}}}};

const TBRNSystemTableDefinition schemaDifferenceTable{
    "SchemaDifference",
    {text("ParentName", 40), text("ParentType", 30), text("Name", 40), text("Type", 30),
     clobCi("AlterSQL")},
    {{"ParentName", {"ParentName"}},
     {"ParentType", {"ParentType"}},
     {"Name", {"Name"}},
     {"Type", {"Type"}}}};

const TBRNSystemTableDefinition dependenciesTable{
    "Dependencies",
    {text("ParentName", 40), text("ParentType", 15), text("Name", 40), text("Type", 15),
     text("DependentParentName", 40), text("DependentParentType", 15), text("DependentName", 40),
     text("DependentType", 40)},
    {{"ParentName", {"ParentName"}},
     {"ParentType", {"ParentType"}},
     {"Name", {"Name"}},
     {"Type", {"Type"}},
     {"DependentParentName", {"DependentParentName"}},
     {"DependentParentType", {"DependentParentType"}},
     {"DependentName", {"DependentName"}},
     {"DependentType", {"DependentType"}}}};

const TBRNSystemTableDefinition tablesTable{"Tables",
                                            {text("Name", 40),
                                             clob("Description"),
                                             clob("Attributes"),
                                             version("Version"),
                                             boolean("ReadOnly"),
                                             boolean("Encrypted"),
                                             integer("RowSize"),
                                             integer("IndexPageSize"),
                                             integer("BlobBlockSize"),
                                             integer("PublishBlockSize"),
                                             integer("PublishCompression"),
                                             integer("MaxRowBufferSize"),
                                             integer("MaxIndexBufferSize"),
                                             integer("MaxBlobBufferSize"),
                                             integer("MaxPublishBufferSize"),
                                             boolean("Published"),
                                             timestamp("PublishedOn"),
                                             text("PublishID", 60),
                                             clobCi("CreateSQL"),
                                             clobCi("DropSQL")},
                                            {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition temporaryTablesTable{
    "TemporaryTables",
    {text("Name", 40), clob("Description"), clob("Attributes"), version("Version"),
     boolean("ReadOnly"), boolean("Encrypted"), integer("RowSize"), integer("IndexPageSize"),
     integer("BlobBlockSize"), integer("MaxRowBufferSize"), integer("MaxIndexBufferSize"),
     integer("MaxBlobBufferSize")},
    {{"Name", {"Name"}}}};

TBRNSystemTableDefinition privilegesTable(const char* name) {
  return {name,
          {text("Name", 40), text("Privilege", 15), text("GrantedTo", 40), text("GrantedBy", 40)},
          {{"Name", {"Name"}}, {"GrantedTo", {"GrantedTo"}}}};
}
const TBRNSystemTableDefinition tablePrivilegesTable = privilegesTable("TablePrivileges");
const TBRNSystemTableDefinition viewPrivilegesTable = privilegesTable("ViewPrivileges");
const TBRNSystemTableDefinition procedurePrivilegesTable = privilegesTable("ProcedurePrivileges");
const TBRNSystemTableDefinition functionPrivilegesTable = privilegesTable("FunctionPrivileges");

const TBRNSystemTableDefinition tableColumnsTable{
    "TableColumns",
    {text("TableName", 40),      text("Name", 40),
     clob("Description"),        BRN_TYPE_DETAIL,
     integer("BlobCompression"), boolean("Nullable"),
     integer("ErrorCode"),       clob("ErrorMessage"),
     boolean("Generated"),       text("GeneratedWhen", 15),
     clob("GenerateExpr"),       boolean("Identity"),
     integer("IdentitySeed"),    integer("IdentityIncrement"),
     boolean("Computed"),        clob("ComputeExpr"),
     clob("DefaultExpr"),        integer("OrdinalPos"),
     clobCi("CreateSQL"),        clobCi("DropSQL")},
    {{"TableName", {"TableName"}}, {"Name", {"Name"}}}};

const TBRNSystemTableDefinition constraintsTable{
    "Constraints",
    {text("TableName", 40), text("Name", 40), clob("Description"), text("Type", 15),
     text("EnforcingIndex", 40), text("TargetTable", 40), text("TargetTableConstraint", 40),
     text("UpdateAction", 15), text("DeleteAction", 15), clob("CheckExpr"), integer("ErrorCode"),
     clob("ErrorMessage"), clobCi("CreateSQL"), clobCi("DropSQL")},
    {{"TableName", {"TableName"}},
     {"Name", {"Name"}},
     {"Type", {"Type"}},
     {"TargetTable", {"TargetTable"}}}};

const TBRNSystemTableDefinition constraintColumnsTable{
    "ConstraintColumns",
    {text("TableName", 40), text("ConstraintName", 40), text("ColumnName", 40),
     integer("OrdinalPos")},
    {{"TableName", {"TableName"}},
     {"ConstraintName", {"ConstraintName"}},
     {"ColumnName", {"ColumnName"}}}};

const TBRNSystemTableDefinition indexesTable{
    "Indexes",
    {text("TableName", 40), text("Name", 40), clob("Description"), text("Type", 15),
     text("OwnerConstraint", 40), integer("IndexedWordLength"), text("FilterTypeColumn", 40),
     text("WordGenerator", 40), clobCi("CreateSQL"), clobCi("DropSQL")},
    {{"TableName", {"TableName"}}, {"Name", {"Name"}}, {"Type", {"Type"}}}};

const TBRNSystemTableDefinition indexColumnsTable{
    "IndexColumns",
    {text("TableName", 40), text("IndexName", 40), text("ColumnName", 40), boolean("Descending"),
     text("Collation", 40), integer("OrdinalPos")},
    {{"TableName", {"TableName"}}, {"IndexName", {"IndexName"}}, {"ColumnName", {"ColumnName"}}}};

const TBRNSystemTableDefinition triggersTable{
    "Triggers",
    {text("TableName", 40), text("Name", 40), clob("Description"), text("ActionTime", 15),
     text("ActionType", 15), clob("Condition"), clob("Definition"), boolean("Enabled"),
     integer("OrdinalPos"), clobCi("CreateSQL"), clobCi("DropSQL")},
    {{"TableName", {"TableName"}}, {"Name", {"Name"}}}};

const TBRNSystemTableDefinition triggerColumnsTable{
    "TriggerColumns",
    {text("TableName", 40), text("TriggerName", 40), text("ColumnName", 40), integer("OrdinalPos")},
    {{"TableName", {"TableName"}},
     {"TriggerName", {"TriggerName"}},
     {"ColumnName", {"ColumnName"}}}};

const TBRNSystemTableDefinition viewsTable{
    "Views",
    {text("Name", 40), clob("Description"), clob("Attributes"), version("Version"),
     clob("Definition"), boolean("Updateable"), boolean("WithCheck"), clobCi("CreateSQL"),
     clobCi("DropSQL")},
    {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition temporaryViewsTable{
    "TemporaryViews",
    {text("Name", 40), clob("Description"), clob("Definition"), boolean("Updateable")},
    {{"Name", {"Name"}}}};

const TBRNSystemTableDefinition viewColumnsTable{
    "ViewColumns",
    {text("ViewName", 40), text("Name", 40), text("Origin", 120), BRN_TYPE_DETAIL,
     integer("OrdinalPos")},
    {{"ViewName", {"ViewName"}}, {"Name", {"Name"}}}};

const TBRNSystemTableDefinition proceduresTable{
    "Procedures",
    {text("Name", 40), clob("Description"), clob("Attributes"), version("Version"),
     text("Implementation", 15), clob("Definition"), text("ModuleName", 60), integer("NumParams"),
     clobCi("CreateSQL"), clobCi("DropSQL")},
    {{"Name", {"Name"}}}};

TBRNSystemTableDefinition paramsTable(const char* name, const char* ownerColumn) {
  return {name,
          {text(ownerColumn, 40), text("Name", 40), clob("Description"), text("Mode", 15),
           BRN_TYPE_DETAIL, integer("OrdinalPos")},
          {{ownerColumn, {ownerColumn}}, {"Name", {"Name"}}}};
}
const TBRNSystemTableDefinition procedureParamsTable =
    paramsTable("ProcedureParams", "ProcedureName");
const TBRNSystemTableDefinition functionParamsTable = paramsTable("FunctionParams", "FunctionName");

const TBRNSystemTableDefinition functionsTable{
    "Functions",
    {text("Name", 40), clob("Description"), clob("Attributes"), version("Version"),
     text("Implementation", 15), clob("Definition"), text("ModuleName", 60), integer("NumParams"),
     BRN_TYPE_DETAIL, clobCi("CreateSQL"), clobCi("DropSQL")},
    {{"Name", {"Name"}}}};

#undef BRN_TYPE_DETAIL

// The ODBC catalog tables.
const TBRNSystemTableDefinition sqlTablesTable{
    "SQLTables",
    {text("TABLE_CAT", 40), text("TABLE_SCHEM", 40), text("TABLE_NAME", 40), text("TABLE_TYPE", 15),
     clob("REMARKS"), version("VERSION"), boolean("ENCRYPTED"), integer("ROW_SIZE"),
     integer("INDEX_PAGE_SIZE"), integer("BLOB_BLOCK_SIZE"), integer("PUBLISH_BLOCK_SIZE"),
     integer("PUBLISH_COMPRESSION"), integer("MAX_ROW_BUFFER_SIZE"),
     integer("MAX_INDEX_BUFFER_SIZE"), integer("MAX_BLOB_BUFFER_SIZE"),
     integer("MAX_PUBLISH_BUFFER_SIZE"), boolean("PUBLISHED"), timestamp("PUBLISHED_ON"),
     text("PUBLISHID", 60)},
    {{"ODBC", {"TABLE_TYPE", "TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME"}},
     {"TABLE_NAME", {"TABLE_NAME"}}}};

const TBRNSystemTableDefinition sqlTablePrivilegesTable{
    "SQLTablePrivileges",
    {text("TABLE_CAT", 40), text("TABLE_SCHEM", 40), text("TABLE_NAME", 40), text("GRANTOR", 40),
     text("GRANTEE", 40), text("PRIVILEGE", 15), text("IS_GRANTABLE", 3)},
    {{"ODBC", {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "PRIVILEGE"}},
     {"TABLE_NAME", {"TABLE_NAME"}},
     {"GRANTEE", {"GRANTEE"}}}};

const TBRNSystemTableDefinition sqlColumnsTable{
    "SQLColumns",
    {text("TABLE_CAT", 40),        text("TABLE_SCHEM", 40),
     text("TABLE_NAME", 40),       text("COLUMN_NAME", 40),
     smallint("DATA_TYPE"),        text("TYPE_NAME", 30),
     integer("COLUMN_SIZE"),       integer("BUFFER_LENGTH"),
     smallint("DECIMAL_DIGITS"),   smallint("NUM_PREC_RADIX"),
     smallint("NULLABLE"),         clob("REMARKS"),
     clob("COLUMN_DEF"),           smallint("SQL_DATA_TYPE"),
     smallint("SQL_DATETIME_SUB"), integer("CHAR_OCTET_LENGTH"),
     integer("ORDINAL_POSITION"),  text("IS_NULLABLE", 3),
     text("COLLATION", 40),        integer("BLOB_COMPRESSION"),
     boolean("GENERATED"),         text("GENERATED_WHEN", 15),
     clob("GENERATE_EXPR"),        boolean("IDENTITY"),
     integer("IDENTITY_SEED"),     integer("IDENTITY_INCREMENT"),
     boolean("COMPUTED"),          clob("COMPUTE_EXPR"),
     text("ORIGIN", 120)},
    {{"ODBC", {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "ORDINAL_POSITION"}},
     {"TABLE_NAME", {"TABLE_NAME"}},
     {"COLUMN_NAME", {"COLUMN_NAME"}}}};

const TBRNSystemTableDefinition sqlSpecialColumnsTable{
    "SQLSpecialColumns",
    {smallint("SCOPE"), text("COLUMN_NAME", 40), smallint("DATA_TYPE"), text("TYPE_NAME", 30),
     integer("COLUMN_SIZE"), integer("BUFFER_LENGTH"), smallint("DECIMAL_DIGITS"),
     smallint("PSEUDO_COLUMN")},
    {{"ODBC", {"SCOPE"}}, {"COLUMN_NAME", {"COLUMN_NAME"}}}};

const TBRNSystemTableDefinition sqlColumnPrivilegesTable{
    "SQLColumnPrivileges",
    {text("TABLE_CAT", 40), text("TABLE_SCHEM", 40), text("TABLE_NAME", 40),
     text("COLUMN_NAME", 40), text("GRANTOR", 40), text("GRANTEE", 40), text("PRIVILEGE", 15),
     text("IS_GRANTABLE", 3)},
    {{"ODBC", {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME"}},
     {"TABLE_NAME", {"TABLE_NAME"}},
     {"GRANTEE", {"GRANTEE"}}}};

const TBRNSystemTableDefinition sqlPrimaryKeysTable{
    "SQLPrimaryKeys",
    {text("TABLE_CAT", 40), text("TABLE_SCHEM", 40), text("TABLE_NAME", 40),
     text("COLUMN_NAME", 40), smallint("KEY_SEQ"), text("PK_NAME", 40), clob("REMARKS"),
     text("ENFORCING_INDEX", 40)},
    {{"ODBC", {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "KEY_SEQ"}},
     {"TABLE_NAME", {"TABLE_NAME"}},
     {"COLUMN_NAME", {"COLUMN_NAME"}},
     {"PK_NAME", {"PK_NAME"}}}};

const TBRNSystemTableDefinition sqlForeignKeysTable{
    "SQLForeignKeys",
    {text("PKTABLE_CAT", 40), text("PKTABLE_SCHEM", 40), text("PKTABLE_NAME", 40),
     text("PKCOLUMN_NAME", 40), text("FKTABLE_CAT", 40), text("FKTABLE_SCHEM", 40),
     text("FKTABLE_NAME", 40), text("FKCOLUMN_NAME", 40), smallint("KEY_SEQ"),
     smallint("UPDATE_RULE"), smallint("DELETE_RULE"), text("FK_NAME", 40), text("PK_NAME", 40),
     smallint("DEFERRABILITY"), clob("REMARKS"), text("ENFORCING_INDEX", 40)},
    {{"ODBC1", {"FKTABLE_CAT", "FKTABLE_SCHEM", "FKTABLE_NAME", "KEY_SEQ"}},
     {"ODBC2", {"PKTABLE_CAT", "PKTABLE_SCHEM", "PKTABLE_NAME", "KEY_SEQ"}},
     {"PKTABLE_NAME", {"PKTABLE_NAME"}},
     {"PKCOLUMN_NAME", {"PKCOLUMN_NAME"}},
     {"FKTABLE_NAME", {"FKTABLE_NAME"}},
     {"FKCOLUMN_NAME", {"FKCOLUMN_NAME"}},
     {"FK_NAME", {"FK_NAME"}},
     {"PK_NAME", {"PK_NAME"}}}};

const TBRNSystemTableDefinition sqlStatisticsTable{
    "SQLStatistics",
    {text("TABLE_CAT", 40),
     text("TABLE_SCHEM", 40),
     text("TABLE_NAME", 40),
     smallint("NON_UNIQUE"),
     text("INDEX_QUALIFIER", 40),
     text("INDEX_NAME", 40),
     smallint("TYPE"),
     smallint("ORDINAL_POSITION"),
     text("COLUMN_NAME", 40),
     {"ASC_OR_DESC", dtChar, stFixed, 1},
     integer("CARDINALITY"),
     integer("PAGES"),
     textCs("FILTER_CONDITION", 60),
     text("COLLATION", 40),
     clob("REMARKS"),
     text("OWNER_CONSTRAINT", 40),
     integer("INDEXED_WORD_LENGTH"),
     text("FILTER_TYPE_COLUMN", 40),
     text("WORD_GENERATOR", 40)},
    {{"ODBC", {"NON_UNIQUE", "TYPE", "INDEX_QUALIFIER", "INDEX_NAME", "ORDINAL_POSITION"}},
     {"TABLE_NAME", {"TABLE_NAME"}},
     {"INDEX_NAME", {"INDEX_NAME"}},
     {"COLUMN_NAME", {"COLUMN_NAME"}}}};

const TBRNSystemTableDefinition sqlProceduresTable{
    "SQLProcedures",
    {text("PROCEDURE_CAT", 40), text("PROCEDURE_SCHEM", 40), text("PROCEDURE_NAME", 40),
     smallint("NUM_INPUT_PARAMS"), smallint("NUM_OUTPUT_PARAMS"), smallint("NUM_RESULT_SETS"),
     clob("REMARKS"), smallint("PROCEDURE_TYPE"), text("IMPLEMENTATION", 15), clob("DEFINITION"),
     text("MODULE_NAME", 60)},
    {{"ODBC", {"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME"}},
     {"PROCEDURE_NAME", {"PROCEDURE_NAME"}}}};

const TBRNSystemTableDefinition sqlProcedureColumnsTable{
    "SQLProcedureColumns",
    {text("PROCEDURE_CAT", 40),
     text("PROCEDURE_SCHEM", 40),
     text("PROCEDURE_NAME", 40),
     text("COLUMN_NAME", 40),
     smallint("COLUMN_TYPE"),
     smallint("DATA_TYPE"),
     text("TYPE_NAME", 30),
     integer("COLUMN_SIZE"),
     integer("BUFFER_LENGTH"),
     smallint("DECIMAL_DIGITS"),
     smallint("NUM_PREC_RADIX"),
     smallint("NULLABLE"),
     clob("REMARKS"),
     clob("COLUMN_DEF"),
     smallint("SQL_DATA_TYPE"),
     smallint("SQL_DATETIME_SUB"),
     integer("CHAR_OCTET_LENGTH"),
     integer("ORDINAL_POSITION"),
     text("IS_NULLABLE", 3),
     text("COLLATION", 40)},
    {{"ODBC", {"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME", "COLUMN_TYPE"}},
     {"PROCEDURE_NAME", {"PROCEDURE_NAME"}},
     {"COLUMN_NAME", {"COLUMN_NAME"}}}};

// ---------------------------------------------------------------------------
// Producers

TBRNRowsetHost* rowsetHostOf(TBRNVirtualTableManager& manager) {
  auto* host = dynamic_cast<TBRNRowsetHost*>(&manager);
  if (host == nullptr) throw std::logic_error("A system table is filled through a table manager");
  return host;
}

// The filling context of one producer: the caller's rights and a row
// buffer over the manager's columns. Each row starts all NULL and is
// inserted through the manager's row operation. Character values are cut
// to their column's declared length.
class RowWriter {
 public:
  RowWriter(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager)
      : Database(database),
        Schema(database.Catalog->DefaultSchema),
        manager_(manager),
        columns_(manager.GetColumns()),
        buffer_(manager.NewRowBuffer()),
        values_(manager.GetColumns(), rowsetHostOf(manager)) {
    TBRNLocalSessionManager* session = database.Session;
    Caller = session == nullptr ? nullptr : session->GetCallingUser();
    Administrator = session != nullptr && session->IsAdministratorUser(Caller);
    if (session != nullptr) OdbcVersion = session->GetODBCVersion();
    if (database.Database != nullptr) DatabaseName = database.Database->Name;
    values_.SetRow(buffer_.get());
  }
  ~RowWriter() { values_.SetRow(nullptr); }
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // Whether the calling user sees object (and with it all of its parts).
  bool Sees(TBRNPrivilegedConfigObject* object) const {
    return Administrator || (Caller != nullptr && object->IsVisibleTo(Caller));
  }
  // Whether the calling user may read the definition texts of object.
  bool OwnsTexts(TBRNPrivilegedConfigObject* object) const {
    return Administrator || (Caller != nullptr && object->GetOwner() == Caller);
  }
  std::string CollationName(int32_t collation) const {
    std::string name;
    if (Database.Session != nullptr) Database.Session->GetCollationName(collation, name);
    return name;
  }

  // Column 1 is the first defined column ("__RowID" is column 0).
  void Start() { values_.SetAllNull(); }
  void Text(int32_t index, const std::string& value) {
    TBRNColumn* column = columns_->GetItem(index);
    if (column->DataType == dtChar && column->Length > 0 &&
        static_cast<int32_t>(value.size()) > column->Length) {
      values_.GetItem(index)->SetAsString(std::string_view(value).substr(0, column->Length));
    } else {
      values_.GetItem(index)->SetAsString(value);
    }
  }
  // NULL for an empty value.
  void TextOrNull(int32_t index, const std::string& value) {
    if (!value.empty()) Text(index, value);
  }
  void Integer(int32_t index, int32_t value) { values_.GetItem(index)->SetAsInteger(value); }
  void SmallInt(int32_t index, int32_t value) {
    values_.GetItem(index)->SetAsSmallInt(static_cast<int16_t>(value));
  }
  void Boolean(int32_t index, bool value) { values_.GetItem(index)->SetAsBoolean(value); }
  void Decimal(int32_t index, int64_t scaled) { values_.GetItem(index)->SetAsDecimal(scaled); }
  void Timestamp(int32_t index, int64_t value) { values_.GetItem(index)->SetAsTimestamp(value); }
  void Insert() {
    int32_t row = 0;
    int32_t version = 0;
    int32_t counter = 0;
    manager_.InsertRowWithTriggers(values_, row, version, counter);
  }

  // Type, Collation, Length, Precision and Scale from first on; a function
  // result leaves the Scale of its integer types NULL.
  void TypeDetail(int32_t first, int32_t dataType, int32_t subType, int32_t length, int32_t scale,
                  int32_t collation, bool result) {
    const auto type = static_cast<TBRNDataTypeCode>(dataType);
    const auto sub = static_cast<TBRNDataSubType>(subType);
    Text(first, DataTypeName(type, sub));
    switch (type) {
      case dtChar:
        Text(first + 1, CollationName(collation));
        Integer(first + 2, length);
        break;
      case dtBytes:
        Integer(first + 2, length);
        break;
      case dtLob:
        if (sub == stClob) Text(first + 1, CollationName(collation));
        break;
      case dtSmallInt:
      case dtInteger:
      case dtBigInt:
        if (!result) Integer(first + 4, scale);
        break;
      case dtFloat:
        Integer(first + 3, 16);
        break;
      case dtDecimal:
        Integer(first + 3, 19);
        Integer(first + 4, scale);
        break;
      default:
        break;
    }
  }

  // The ODBC view of a type, with DATA_TYPE at first and the other type
  // columns where the ODBC catalog tables keep them: TYPE_NAME,
  // COLUMN_SIZE, BUFFER_LENGTH and DECIMAL_DIGITS right after it,
  // SQL_DATA_TYPE, SQL_DATETIME_SUB and CHAR_OCTET_LENGTH nine to eleven
  // columns after it.
  void OdbcType(int32_t first, int32_t dataType, int32_t subType, int32_t length, int32_t scale) {
    const auto type = static_cast<TBRNDataTypeCode>(dataType);
    const auto sub = static_cast<TBRNDataSubType>(subType);
    const int16_t odbcType = ODBCDataType(type, sub, OdbcVersion);
    SmallInt(first, odbcType);
    Text(first + 1, DataTypeDefinition(type, sub, 0, 0));
    Integer(first + 2, ODBCColumnSize(odbcType, length));
    Integer(first + 3, ODBCBufferLength(odbcType, length));
    SmallInt(first + 4, ODBCDecimalDigits(odbcType, scale));
    SmallInt(first + 9, ODBCVerboseDataType(type, sub));
    SmallInt(first + 10, ODBCDateTimeSubCode(type, sub));
    if (type == dtChar || type == dtBytes) Integer(first + 11, ODBCBufferLength(odbcType, 0));
  }

  TBRNLocalDatabaseManager& Database;
  TBRNSchema* Schema;
  // The catalog name of the ODBC tables.
  std::string DatabaseName;
  // The session's ODBC version: 2 selects the old date and time codes.
  int32_t OdbcVersion = 3;
  TBRNUser* Caller = nullptr;
  bool Administrator = false;

 private:
  TBRNVirtualTableManager& manager_;
  TBRNColumns* columns_;
  std::unique_ptr<TBRNRowsetRow> buffer_;
  TBRNRowsetRowValues values_;
};

// Name, Description, Attributes and Version of a schema object.
void writeSchemaObject(RowWriter& writer, TBRNPrivilegedSchemaObject* object) {
  writer.Text(1, object->Name);
  writer.TextOrNull(2, object->Description);
  writer.TextOrNull(3, object->Attributes);
  writer.Decimal(4, object->Version);
}

void produceTables(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNBaseTables* tables = writer.Schema->BaseTables.get();
  for (int32_t i = 0; i < tables->Count(); ++i) {
    TBRNBaseTable* table = tables->GetTable(i);
    if (!writer.Sees(table)) continue;
    writer.Start();
    writeSchemaObject(writer, table);
    writer.Boolean(5, table->ReadOnly);
    writer.Boolean(6, table->Encrypted);
    writer.Integer(7, table->RowSize);
    writer.Integer(8, table->IndexPageSize);
    writer.Integer(9, table->BlobBlockSize);
    writer.Integer(10, table->PublishBlockSize);
    writer.Integer(11, table->PublishCompression);
    writer.Integer(12, table->MaxRowBufferSize);
    writer.Integer(13, table->MaxIndexBufferSize);
    writer.Integer(14, table->MaxBlobBufferSize);
    writer.Integer(15, table->MaxPublishBufferSize);
    writer.Boolean(16, table->Published);
    if (table->Published) {
      writer.Timestamp(17, table->PublishedOn);
      writer.Text(18, table->PublishID);
    }
    writer.Text(19, table->GetCreateSQL(true, false));
    writer.Text(20, table->GetDropSQL(true, false));
    writer.Insert();
  }
}

// Calls visit for every base table the calling user sees.
template <typename Visit>
void forEachVisibleTable(RowWriter& writer, Visit visit) {
  TBRNBaseTables* tables = writer.Schema->BaseTables.get();
  for (int32_t i = 0; i < tables->Count(); ++i) {
    TBRNBaseTable* table = tables->GetTable(i);
    if (writer.Sees(table)) visit(table);
  }
}

void produceTableColumns(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNColumns* columns = table->Columns.get();
    for (int32_t i = 0; i < columns->Count(); ++i) {
      TBRNColumn* column = columns->GetItem(i);
      if (column->Internal) continue;
      writer.Start();
      writer.Text(1, table->Name);
      writer.Text(2, column->Name);
      writer.TextOrNull(3, column->Description);
      writer.TypeDetail(4, column->DataType, column->SubType, column->Length, column->Scale,
                        column->Collation, false);
      if (column->DataType == dtLob) writer.Integer(9, column->BlobCompression);
      writer.Boolean(10, !column->NotNull);
      if (column->NotNullErrorCode != 0) {
        writer.Integer(11, column->NotNullErrorCode);
        writer.TextOrNull(12, column->NotNullErrorMessage);
      }
      if (column->Generated && !column->Identity) {
        writer.Boolean(13, true);
        writer.Text(14, "Always");
        if (column->GeneratedExpr) writer.Text(15, column->GeneratedExpr->SQL);
      } else if (column->Identity) {
        writer.Boolean(13, true);
        writer.Text(14, column->IdentityByDefault ? "By Default" : "Always");
        writer.Boolean(16, true);
        writer.Integer(17, column->IdentitySeed);
        writer.Integer(18, column->IdentityIncrement);
      } else if (column->Computed) {
        writer.Boolean(19, true);
        if (column->ComputedExpr) writer.Text(20, column->ComputedExpr->SQL);
      } else if (column->HasDefault && column->DefaultExpr) {
        writer.Text(21, column->DefaultExpr->SQL);
      }
      writer.Integer(22, i);
      writer.Text(23, column->GetCreateSQL(true, false));
      writer.Text(24, column->GetDropSQL(true, false));
      writer.Insert();
    }
  });
}

const char* constraintTypeName(int32_t type) {
  switch (type) {
    case kConstraintPrimaryKey:
      return "Primary Key";
    case kConstraintForeignKey:
      return "Foreign Key";
    case kConstraintUnique:
      return "Unique";
    case kConstraintCheck:
      return "Check";
    default:
      return "";
  }
}

void produceConstraints(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNConstraints* constraints = table->Constraints.get();
    for (int32_t i = 0; i < constraints->Count(); ++i) {
      auto* constraint = static_cast<TBRNConstraint*>(constraints->GetItem(i));
      if (constraint->Internal) continue;
      writer.Start();
      writer.Text(1, table->Name);
      writer.Text(2, constraint->Name);
      writer.TextOrNull(3, constraint->Description);
      writer.Text(4, constraintTypeName(constraint->ConstraintType));
      if (constraint->ConstraintType == kConstraintCheck) {
        if (constraint->CheckExpr) writer.Text(10, constraint->CheckExpr->SQL);
      } else if (TBRNIndex* index = constraint->GetEnforcingIndex()) {
        writer.Text(5, index->Name);
      }
      if (constraint->ConstraintType == kConstraintForeignKey) {
        if (TBRNConfigObject* target = constraint->GetTargetTable()) writer.Text(6, target->Name);
        if (TBRNConstraint* key = constraint->GetTargetConstraint()) writer.Text(7, key->Name);
        writer.Text(8, TBRNConstraint::GetActionName(constraint->UpdateAction));
        writer.Text(9, TBRNConstraint::GetActionName(constraint->DeleteAction));
      }
      if (constraint->ErrorCode != 0) {
        writer.Integer(11, constraint->ErrorCode);
        writer.TextOrNull(12, constraint->ErrorMessage);
      }
      writer.Text(13, constraint->GetCreateSQL(true, false));
      writer.Text(14, constraint->GetDropSQL(true, false));
      writer.Insert();
    }
  });
}

void produceConstraintColumns(TBRNLocalDatabaseManager& database,
                              TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNConstraints* constraints = table->Constraints.get();
    for (int32_t i = 0; i < constraints->Count(); ++i) {
      auto* constraint = static_cast<TBRNConstraint*>(constraints->GetItem(i));
      if (constraint->Internal || constraint->ConstraintType == kConstraintCheck) continue;
      TBRNConstraintColumns* columns = constraint->Columns.get();
      for (int32_t j = 0; j < columns->Count(); ++j) {
        TBRNConstraintColumn* entry = columns->GetItem(j);
        writer.Start();
        writer.Text(1, table->Name);
        writer.Text(2, constraint->Name);
        writer.Text(3, entry->GetColumn()->Name);
        writer.Integer(4, j);
        writer.Insert();
      }
    }
  });
}

const char* indexTypeName(int32_t type) {
  switch (type) {
    case kIndexOrdinary:
      return "Index";
    case kIndexPrimaryKey:
      return "Primary Key";
    case kIndexForeignKey:
      return "Foreign Key";
    case kIndexUnique:
      return "Unique";
    case kIndexText:
      return "Text Index";
    default:
      return "";
  }
}

void produceIndexes(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNIndexes* indexes = table->Indexes.get();
    for (int32_t i = 0; i < indexes->Count(); ++i) {
      TBRNIndex* index = indexes->GetItem(i);
      if (index->Internal) continue;
      writer.Start();
      writer.Text(1, table->Name);
      writer.Text(2, index->Name);
      writer.TextOrNull(3, index->Description);
      writer.Text(4, indexTypeName(index->IndexType));
      if (index->IndexType >= kIndexPrimaryKey && index->IndexType <= kIndexUnique) {
        if (TBRNConfigObject* owner = index->GetOwnerConstraint()) writer.Text(5, owner->Name);
      } else if (index->IndexType == kIndexText) {
        writer.Integer(6, index->IndexedWordLength);
        if (TBRNColumn* filter = index->GetFilterTypeColumn()) writer.Text(7, filter->Name);
        writer.Text(8, index->WordGeneratorName.empty() ? std::string("Default")
                                                        : index->WordGeneratorName);
      }
      writer.Text(9, index->GetCreateSQL(true, false));
      writer.Text(10, index->GetDropSQL(true, false));
      writer.Insert();
    }
  });
}

void produceIndexColumns(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNIndexes* indexes = table->Indexes.get();
    for (int32_t i = 0; i < indexes->Count(); ++i) {
      TBRNIndex* index = indexes->GetItem(i);
      if (index->Internal) continue;
      TBRNIndexColumns* columns = index->Columns.get();
      for (int32_t j = 0; j < columns->Count(); ++j) {
        TBRNIndexColumn* entry = columns->GetItem(j);
        TBRNColumn* column = entry->GetColumn();
        writer.Start();
        writer.Text(1, table->Name);
        writer.Text(2, index->Name);
        writer.Text(3, column->Name);
        writer.Boolean(4, entry->Descending);
        if (IsTextDataType(column->DataType, column->SubType))
          writer.Text(5, writer.CollationName(entry->Collation));
        writer.Integer(6, j);
        writer.Insert();
      }
    }
  });
}

void produceTriggers(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNTriggers* triggers = table->Triggers.get();
    for (int32_t i = 0; i < triggers->Count(); ++i) {
      auto* trigger = static_cast<TBRNTrigger*>(triggers->GetItem(i));
      writer.Start();
      writer.Text(1, table->Name);
      writer.Text(2, trigger->Name);
      writer.TextOrNull(3, trigger->Description);
      writer.Text(4, TBRNTrigger::GetActionTimeName(trigger->ActionTime));
      writer.Text(5, TBRNTrigger::GetActionTypeName(trigger->ActionType));
      if (trigger->Condition) writer.TextOrNull(6, trigger->Condition->SQL);
      if (trigger->Definition) writer.Text(7, trigger->Definition->SQL);
      writer.Boolean(8, trigger->Enabled);
      writer.Integer(9, i);
      writer.Text(10, trigger->GetCreateSQL(true, false));
      writer.Text(11, trigger->GetDropSQL(true, false));
      writer.Insert();
    }
  });
}

void produceTriggerColumns(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNTriggers* triggers = table->Triggers.get();
    for (int32_t i = 0; i < triggers->Count(); ++i) {
      auto* trigger = static_cast<TBRNTrigger*>(triggers->GetItem(i));
      TBRNTriggerColumns* columns = trigger->TriggerColumns.get();
      for (int32_t j = 0; j < columns->Count(); ++j) {
        writer.Start();
        writer.Text(1, table->Name);
        writer.Text(2, trigger->Name);
        writer.Text(3, columns->GetItem(j)->GetColumn()->Name);
        writer.Integer(4, j);
        writer.Insert();
      }
    }
  });
}

void produceViews(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNViews* views = writer.Schema->Views.get();
  for (int32_t i = 0; i < views->Count(); ++i) {
    TBRNView* view = views->GetView(i);
    if (!writer.Sees(view)) continue;
    const bool owner = writer.OwnsTexts(view);
    writer.Start();
    writeSchemaObject(writer, view);
    if (owner && view->Definition) writer.Text(5, view->Definition->SQL);
    writer.Boolean(6, view->Updateable);
    writer.Boolean(7, view->WithCheck);
    if (owner) {
      writer.Text(8, view->GetCreateSQL(true, false));
      writer.Text(9, view->GetDropSQL(true, false));
    }
    writer.Insert();
  }
}

// Implementation, Definition, ModuleName and NumParams (columns 5 to 8).
void writeRoutine(RowWriter& writer, TBRNRoutine* routine, bool owner) {
  writeSchemaObject(writer, routine);
  const bool external = routine->Implementation == kRoutineExternal;
  writer.Text(5, external ? "External" : "SQL");
  if (owner && routine->Definition) writer.Text(6, routine->Definition->SQL);
  if (external) writer.Text(7, routine->ModuleName);
  writer.Integer(8, routine->Params->Count());
}

void produceProcedures(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNProcedures* procedures = writer.Schema->Procedures.get();
  for (int32_t i = 0; i < procedures->Count(); ++i) {
    TBRNRoutine* procedure = procedures->GetProcedure(i);
    if (!writer.Sees(procedure)) continue;
    const bool owner = writer.OwnsTexts(procedure);
    writer.Start();
    writeRoutine(writer, procedure, owner);
    if (owner) {
      writer.Text(9, procedure->GetCreateSQL(true, false));
      writer.Text(10, procedure->GetDropSQL(true, false));
    }
    writer.Insert();
  }
}

void produceFunctions(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNFunctions* functions = writer.Schema->Functions.get();
  for (int32_t i = 0; i < functions->Count(); ++i) {
    TBRNRoutine* function = functions->GetFunction(i);
    if (!writer.Sees(function)) continue;
    const bool owner = writer.OwnsTexts(function);
    writer.Start();
    writeRoutine(writer, function, owner);
    if (const TBRNRoutineParam* result = function->Result.get()) {
      writer.TypeDetail(9, result->DataType, result->SubType, result->Length, result->Scale,
                        result->Collation, true);
    }
    if (owner) {
      writer.Text(14, function->GetCreateSQL(true, false));
      writer.Text(15, function->GetDropSQL(true, false));
    }
    writer.Insert();
  }
}

void produceTemporaryTables(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNTemporaryTables* tables = writer.Schema->TemporaryTables.get();
  for (int32_t i = 0; i < tables->Count(); ++i) {
    auto* table = static_cast<TBRNBaseTable*>(tables->GetItem(i));
    // Materialised query results share the list without the Temporary flag.
    if (!table->GetTemporary() || !writer.Sees(table)) continue;
    writer.Start();
    writeSchemaObject(writer, table);
    writer.Boolean(5, table->ReadOnly);
    writer.Boolean(6, table->Encrypted);
    writer.Integer(7, table->RowSize);
    writer.Integer(8, table->IndexPageSize);
    writer.Integer(9, table->BlobBlockSize);
    writer.Integer(10, table->MaxRowBufferSize);
    writer.Integer(11, table->MaxIndexBufferSize);
    writer.Integer(12, table->MaxBlobBufferSize);
    writer.Insert();
  }
}

// Calls write for every grant of every visible member of objects whose
// grantee still exists; a non-administrator gets only the grants made to him
// or to one of his roles.
template <typename Write>
void forEachListedGrant(RowWriter& writer, TBRNConfigObjects* objects, Write write) {
  for (int32_t i = 0; i < objects->Count(); ++i) {
    auto* object = static_cast<TBRNPrivilegedConfigObject*>(objects->GetItem(i));
    if (!writer.Sees(object)) continue;
    TBRNPrivileges* grants = object->Privileges.get();
    for (int32_t j = 0; j < grants->Count(); ++j) {
      auto* grant = static_cast<TBRNPrivilege*>(grants->GetItem(j));
      TBRNAuthorization* grantee = grant->GetGrantee();
      if (grantee == nullptr) continue;
      if (!writer.Administrator) {
        auto* role = dynamic_cast<TBRNRole*>(grantee);
        const bool own = grantee == writer.Caller;
        const bool held =
            role != nullptr && writer.Caller != nullptr && writer.Caller->HasRole(role);
        if (!own && !held) continue;
      }
      write(object, grant, grantee);
    }
  }
}

// One row per listed grant: Name, Privilege, GrantedTo, GrantedBy.
void writePrivileges(RowWriter& writer, TBRNConfigObjects* objects) {
  forEachListedGrant(
      writer, objects,
      [&](TBRNConfigObject* object, TBRNPrivilege* grant, TBRNAuthorization* grantee) {
        writer.Start();
        writer.Text(1, object->Name);
        writer.Text(2, PrivilegeName(grant->Kind));
        writer.Text(3, grantee->Name);
        writer.Text(4, grant->GetGrantor()->Name);
        writer.Insert();
      });
}

void produceTablePrivileges(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  writePrivileges(writer, writer.Schema->BaseTables.get());
}

void produceViewPrivileges(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  writePrivileges(writer, writer.Schema->Views.get());
}

void produceProcedurePrivileges(TBRNLocalDatabaseManager& database,
                                TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  writePrivileges(writer, writer.Schema->Procedures.get());
}

void produceFunctionPrivileges(TBRNLocalDatabaseManager& database,
                               TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  writePrivileges(writer, writer.Schema->Functions.get());
}

void produceTemporaryViews(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNTemporaryViews* views = writer.Schema->TemporaryViews.get();
  for (int32_t i = 0; i < views->Count(); ++i) {
    TBRNView* view = views->GetView(i);
    if (!writer.Sees(view)) continue;
    writer.Start();
    writer.Text(1, view->LoadedName);
    writer.TextOrNull(2, view->Description);
    if (writer.OwnsTexts(view) && view->Definition) writer.Text(3, view->Definition->SQL);
    writer.Boolean(4, view->Updateable);
    writer.Insert();
  }
}

void produceViewColumns(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNViews* views = writer.Schema->Views.get();
  for (int32_t i = 0; i < views->Count(); ++i) {
    TBRNView* view = views->GetView(i);
    if (!writer.Sees(view)) continue;
    TBRNColumns* columns = view->Columns.get();
    for (int32_t j = 0; j < columns->Count(); ++j) {
      TBRNColumn* column = columns->GetItem(j);
      if (column->Internal) continue;
      writer.Start();
      writer.Text(1, view->Name);
      writer.Text(2, column->Name);
      writer.Text(3, column->Origin);
      writer.TypeDetail(4, column->DataType, column->SubType, column->Length, column->Scale,
                        column->Collation, false);
      writer.Integer(9, j);
      writer.Insert();
    }
  }
}

const char* paramModeName(int32_t mode) {
  switch (mode) {
    case kParamModeNone:
      return "Unknown";
    case kParamModeIn:
      return "In";
    case kParamModeOut:
      return "Out";
    case kParamModeInOut:
      return "InOut";
    default:
      return nullptr;
  }
}

// One row per parameter of every visible member of routines.
void writeParams(RowWriter& writer, TBRNConfigObjects* routines) {
  for (int32_t i = 0; i < routines->Count(); ++i) {
    auto* routine = static_cast<TBRNRoutine*>(routines->GetItem(i));
    if (!writer.Sees(routine)) continue;
    TBRNRoutineParams* params = routine->Params.get();
    for (int32_t j = 0; j < params->Count(); ++j) {
      TBRNRoutineParam* param = params->GetParam(j);
      writer.Start();
      writer.Text(1, routine->Name);
      writer.Text(2, param->Name);
      writer.TextOrNull(3, param->Description);
      if (const char* mode = paramModeName(param->Mode)) writer.Text(4, mode);
      writer.TypeDetail(5, param->DataType, param->SubType, param->Length, param->Scale,
                        param->Collation, false);
      writer.Integer(10, j);
      writer.Insert();
    }
  }
}

void produceProcedureParams(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  writeParams(writer, writer.Schema->Procedures.get());
}

void produceFunctionParams(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  writeParams(writer, writer.Schema->Functions.get());
}

// A kind word with the first letter of each word upper-cased ("temporary
// table" gives "Temporary Table").
std::string kindName(std::string word) {
  bool start = true;
  for (char& c : word) {
    if (start && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    start = c == ' ';
  }
  return word;
}

// Whether a non-administrator sees object: privileged objects by their
// grants, parts of objects always (their owner was checked already).
bool seesReferrer(const RowWriter& writer, TBRNConfigObject* object) {
  auto* privileged = dynamic_cast<TBRNPrivilegedConfigObject*>(object);
  return privileged == nullptr || writer.Sees(privileged);
}

void produceSchemaObjects(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNSchema* schema = writer.Schema;
  if (!schema->SchemaObjects) schema->SchemaObjects = TBRNSchemaObjects::CreateForSchema(schema);
  TBRNSchemaObjects* objects = schema->SchemaObjects.get();
  objects->SortByDependencies();
  for (int32_t i = 0; i < objects->Count(); ++i) {
    TBRNConfigObject* object = objects->GetItem(i);
    if (!seesReferrer(writer, object)) continue;
    writer.Start();
    writer.Text(1, schema->Name);
    writer.Text(2, "Schema");
    writer.Text(3, object->Name);
    writer.Text(4, kindName(object->GetObjectTypeName()));
    writer.Text(5, object->GetCreateSQL(!object->IsInReferenceCycle(), false));
    writer.TextOrNull(6, object->GetPostCreateSQL());
    writer.TextOrNull(7, object->GetPreDropSQL());
    writer.Text(8, object->GetDropSQL(true, false));
    writer.Insert();
  }
}

void produceSchemaDifference(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  TBRNSchemaDifference* difference = writer.Schema->SchemaDifference.get();
  if (difference == nullptr) return;
  for (int32_t i = 0; i < difference->Count(); ++i) {
    TBRNConfigObject* entry = difference->GetItem(i);
    if (!seesReferrer(writer, entry)) continue;
    writer.Start();
    writer.Text(1, entry->GetParentName());
    writer.Text(2, kindName(entry->GetParentTypeName()));
    writer.Text(3, entry->Name);
    writer.Text(4, kindName(entry->GetObjectTypeName()));
    writer.Text(5, entry->GetAlterSQL());
    writer.Insert();
  }
}

// One row per referrer of object.
void writeDependencies(RowWriter& writer, TBRNConfigObject* object) {
  object->BuildReferrers();
  TBRNSelectedConfigObjects* referrers = object->GetReferrers();
  if (referrers == nullptr) return;
  for (int32_t i = 0; i < referrers->Count(); ++i) {
    TBRNConfigObject* referrer = referrers->GetItem(i);
    if (!seesReferrer(writer, referrer)) continue;
    writer.Start();
    writer.Text(1, object->GetParentName());
    writer.Text(2, kindName(object->GetParentTypeName()));
    writer.Text(3, object->Name);
    writer.Text(4, kindName(object->GetObjectTypeName()));
    writer.Text(5, referrer->GetParentName());
    writer.Text(6, kindName(referrer->GetParentTypeName()));
    writer.Text(7, referrer->Name);
    writer.Text(8, kindName(referrer->GetObjectTypeName()));
    writer.Insert();
  }
}

// The table or view, its columns after "__RowID", and the indexes that
// keep pass (constraints of base tables come between the two).
template <typename KeepIndex>
void writeTableDependencies(RowWriter& writer, TBRNVirtualTable* table, KeepIndex keep) {
  writeDependencies(writer, table);
  TBRNColumns* columns = table->Columns.get();
  for (int32_t i = 1; i < columns->Count(); ++i) writeDependencies(writer, columns->GetItem(i));
  if (TBRNConstraints* constraints = table->GetConstraints()) {
    for (int32_t i = 0; i < constraints->Count(); ++i)
      writeDependencies(writer, constraints->GetItem(i));
  }
  TBRNIndexes* indexes = table->Indexes.get();
  for (int32_t i = 0; i < indexes->Count(); ++i) {
    TBRNIndex* index = indexes->GetItem(i);
    if (keep(index)) writeDependencies(writer, index);
  }
}

void produceDependencies(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    writeTableDependencies(writer, table, [](TBRNIndex* index) {
      return index->IndexType == kIndexOrdinary || index->IndexType == kIndexText;
    });
  });
  TBRNViews* views = writer.Schema->Views.get();
  for (int32_t i = 0; i < views->Count(); ++i) {
    TBRNView* view = views->GetView(i);
    if (writer.Sees(view)) writeTableDependencies(writer, view, [](TBRNIndex*) { return true; });
  }
  TBRNRoutines* routines = writer.Schema->GetAllRoutines();
  for (int32_t i = 0; i < routines->Count(); ++i) {
    auto* routine = static_cast<TBRNRoutine*>(routines->GetItem(i));
    if (writer.Sees(routine)) writeDependencies(writer, routine);
  }
}

// ---------------------------------------------------------------------------
// The ODBC catalog tables. The catalog columns (TABLE_CAT, PKTABLE_CAT,
// FKTABLE_CAT, PROCEDURE_CAT) hold the database's name; the schema columns
// and INDEX_QUALIFIER, CARDINALITY, PAGES, FILTER_CONDITION, IS_GRANTABLE
// and a parameter's COLUMN_DEF stay NULL.

// Every table and view of the "Default" schema the calling user sees, base
// tables first.
template <typename Visit>
void forEachVisibleTableOrView(RowWriter& writer, Visit visit) {
  TBRNVirtualTables* tables = writer.Schema->AllTables.get();
  for (int32_t i = 0; i < tables->Count(); ++i) {
    auto* table = static_cast<TBRNVirtualTable*>(tables->GetItem(i));
    if (writer.Sees(table)) visit(table, dynamic_cast<TBRNBaseTable*>(table));
  }
}

void produceOdbcTables(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTableOrView(writer, [&](TBRNVirtualTable* table, TBRNBaseTable* base) {
    writer.Start();
    writer.Text(1, writer.DatabaseName);
    writer.Text(3, table->Name);
    writer.Text(4, base != nullptr ? "TABLE" : "VIEW");
    writer.TextOrNull(5, table->Description);
    if (base != nullptr) {
      writer.Decimal(6, base->Version);
      writer.Boolean(7, base->Encrypted);
      writer.Integer(8, base->RowSize);
      writer.Integer(9, base->IndexPageSize);
      writer.Integer(10, base->BlobBlockSize);
      writer.Integer(11, base->PublishBlockSize);
      writer.Integer(12, base->PublishCompression);
      writer.Integer(13, base->MaxRowBufferSize);
      writer.Integer(14, base->MaxIndexBufferSize);
      writer.Integer(15, base->MaxBlobBufferSize);
      writer.Integer(16, base->MaxPublishBufferSize);
      writer.Boolean(17, base->Published);
      if (base->Published) {
        writer.Timestamp(18, base->PublishedOn);
        writer.Text(19, base->PublishID);
      }
    }
    writer.Insert();
  });
}

void produceOdbcTablePrivileges(TBRNLocalDatabaseManager& database,
                                TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachListedGrant(
      writer, writer.Schema->AllTables.get(),
      [&](TBRNConfigObject* object, TBRNPrivilege* grant, TBRNAuthorization* grantee) {
        writer.Start();
        writer.Text(1, writer.DatabaseName);
        writer.Text(3, object->Name);
        writer.Text(4, grant->GetGrantor()->Name);
        writer.Text(5, grantee->Name);
        writer.Text(6, PrivilegeName(grant->Kind));
        writer.Insert();
      });
}

void produceOdbcColumns(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTableOrView(writer, [&](TBRNVirtualTable* table, TBRNBaseTable* base) {
    const bool view = base == nullptr;
    TBRNColumns* columns = table->Columns.get();
    for (int32_t i = 0; i < columns->Count(); ++i) {
      TBRNColumn* column = columns->GetItem(i);
      if (column->Internal) continue;
      const bool text = IsTextDataType(column->DataType, column->SubType);
      writer.Start();
      writer.Text(1, writer.DatabaseName);
      writer.Text(3, table->Name);
      writer.Text(4, column->Name);
      writer.OdbcType(5, column->DataType, column->SubType, column->Length, column->Scale);
      writer.SmallInt(10, 10);
      writer.SmallInt(11, view ? 2 : (column->NotNull ? 0 : 1));
      writer.TextOrNull(12, column->Description);
      if (column->HasDefault && column->DefaultExpr) writer.Text(13, column->DefaultExpr->SQL);
      writer.Integer(17, i);
      writer.Text(18, !view && column->NotNull ? "NO" : "YES");
      if (text) writer.Text(19, writer.CollationName(column->Collation));
      if (column->DataType == dtLob) writer.Integer(20, column->BlobCompression);
      if (column->Generated && !column->Identity) {
        writer.Boolean(21, true);
        writer.Text(22, "Always");
        if (column->GeneratedExpr) writer.Text(23, column->GeneratedExpr->SQL);
      } else if (column->Identity) {
        writer.Boolean(21, true);
        writer.Text(22, column->IdentityByDefault ? "By Default" : "Always");
        writer.Boolean(24, true);
        writer.Integer(25, column->IdentitySeed);
        writer.Integer(26, column->IdentityIncrement);
      } else if (column->Computed) {
        writer.Boolean(27, true);
        if (column->ComputedExpr) writer.Text(28, column->ComputedExpr->SQL);
      }
      if (view) writer.Text(29, column->Origin);
      writer.Insert();
    }
  });
}

// The catalog offers no row identifiers or column grants to ODBC clients:
// "SQLSpecialColumns" and "SQLColumnPrivileges" are always empty.
void produceNoRows(TBRNLocalDatabaseManager&, TBRNVirtualTableManager&) {}

void produceOdbcPrimaryKeys(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNConstraints* constraints = table->Constraints.get();
    for (int32_t i = 0; i < constraints->Count(); ++i) {
      auto* constraint = static_cast<TBRNConstraint*>(constraints->GetItem(i));
      if (constraint->Internal || constraint->ConstraintType != kConstraintPrimaryKey) continue;
      TBRNIndex* index = constraint->GetEnforcingIndex();
      TBRNConstraintColumns* columns = constraint->Columns.get();
      for (int32_t j = 0; j < columns->Count(); ++j) {
        writer.Start();
        writer.Text(1, writer.DatabaseName);
        writer.Text(3, table->Name);
        writer.Text(4, columns->GetItem(j)->GetColumn()->Name);
        writer.SmallInt(5, j + 1);
        writer.Text(6, constraint->Name);
        writer.TextOrNull(7, constraint->Description);
        if (index != nullptr) writer.Text(8, index->Name);
        writer.Insert();
      }
    }
  });
}

// The ODBC rule code of a referential action.
int32_t odbcRule(uint32_t action) {
  switch (action) {
    case kActionCascade:
      return 0;
    case kActionRestrict:
      return 1;
    case kActionSetNull:
      return 2;
    case kActionNoAction:
      return 3;
    case kActionSetDefault:
      return 4;
    default:
      return 3;
  }
}

// SQL_NOT_DEFERRABLE: every constraint is checked at once.
constexpr int32_t kNotDeferrable = 7;

void produceOdbcForeignKeys(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNConstraints* constraints = table->Constraints.get();
    for (int32_t i = 0; i < constraints->Count(); ++i) {
      auto* constraint = static_cast<TBRNConstraint*>(constraints->GetItem(i));
      if (constraint->Internal || constraint->ConstraintType != kConstraintForeignKey) continue;
      // ODBC lists only the foreign keys that reference a primary key.
      TBRNConstraint* key = constraint->GetTargetConstraint();
      if (key == nullptr || key->ConstraintType != kConstraintPrimaryKey) continue;
      TBRNConfigObject* target = constraint->GetTargetTable();
      TBRNIndex* index = constraint->GetEnforcingIndex();
      TBRNConstraintColumns* columns = constraint->Columns.get();
      TBRNTargetTableColumns* targets = constraint->TargetTableColumns.get();
      for (int32_t j = 0; j < columns->Count(); ++j) {
        writer.Start();
        writer.Text(1, writer.DatabaseName);
        if (target != nullptr) writer.Text(3, target->Name);
        if (j < targets->Count()) writer.Text(4, targets->GetItem(j)->GetColumn()->Name);
        writer.Text(5, writer.DatabaseName);
        writer.Text(7, table->Name);
        writer.Text(8, columns->GetItem(j)->GetColumn()->Name);
        writer.SmallInt(9, j + 1);
        writer.SmallInt(10, odbcRule(constraint->UpdateAction));
        writer.SmallInt(11, odbcRule(constraint->DeleteAction));
        writer.Text(12, constraint->Name);
        writer.Text(13, key->Name);
        writer.SmallInt(14, kNotDeferrable);
        writer.TextOrNull(15, constraint->Description);
        if (index != nullptr) writer.Text(16, index->Name);
        writer.Insert();
      }
    }
  });
}

// SQL_INDEX_OTHER: the statistics type of every index.
constexpr int32_t kIndexOther = 3;

void produceOdbcStatistics(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleTable(writer, [&](TBRNBaseTable* table) {
    TBRNIndexes* indexes = table->Indexes.get();
    for (int32_t i = 0; i < indexes->Count(); ++i) {
      TBRNIndex* index = indexes->GetItem(i);
      if (index->Internal) continue;
      const int32_t type = index->IndexType;
      const bool unique = type == kIndexPrimaryKey || type == kIndexUnique;
      TBRNConfigObject* owner = nullptr;
      if (type >= kIndexPrimaryKey && type <= kIndexUnique) owner = index->GetOwnerConstraint();
      TBRNColumn* filter = type == kIndexText ? index->GetFilterTypeColumn() : nullptr;
      TBRNIndexColumns* columns = index->Columns.get();
      for (int32_t j = 0; j < columns->Count(); ++j) {
        TBRNIndexColumn* entry = columns->GetItem(j);
        TBRNColumn* column = entry->GetColumn();
        writer.Start();
        writer.Text(1, writer.DatabaseName);
        writer.Text(3, table->Name);
        writer.SmallInt(4, unique ? 0 : 1);
        writer.Text(6, index->Name);
        writer.SmallInt(7, kIndexOther);
        writer.SmallInt(8, j + 1);
        writer.Text(9, column->Name);
        writer.Text(10, entry->Descending ? "D" : "A");
        if (IsTextDataType(column->DataType, column->SubType))
          writer.Text(14, writer.CollationName(entry->Collation));
        writer.TextOrNull(15, index->Description);
        if (owner != nullptr) writer.Text(16, owner->Name);
        if (type == kIndexText) {
          writer.Integer(17, index->IndexedWordLength);
          if (filter != nullptr) writer.Text(18, filter->Name);
          writer.Text(19, index->WordGeneratorName.empty() ? std::string("Default")
                                                           : index->WordGeneratorName);
        }
        writer.Insert();
      }
    }
  });
}

// Every routine of the schema's routine list the calling user sees.
template <typename Visit>
void forEachVisibleRoutine(RowWriter& writer, Visit visit) {
  TBRNRoutines* routines = writer.Schema->GetAllRoutines();
  for (int32_t i = 0; i < routines->Count(); ++i) {
    auto* routine = static_cast<TBRNRoutine*>(routines->GetItem(i));
    if (writer.Sees(routine)) visit(routine);
  }
}

void produceOdbcProcedures(TBRNLocalDatabaseManager& database, TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleRoutine(writer, [&](TBRNRoutine* routine) {
    const bool external = routine->Implementation == kRoutineExternal;
    writer.Start();
    writer.Text(1, writer.DatabaseName);
    writer.Text(3, routine->Name);
    writer.SmallInt(4, routine->GetInputParamCount());
    writer.SmallInt(5, routine->GetOutputParamCount());
    writer.SmallInt(6, 0);
    writer.TextOrNull(7, routine->Description);
    writer.SmallInt(8, dynamic_cast<TBRNFunction*>(routine) != nullptr ? 2 : 1);
    writer.Text(9, external ? "External" : "SQL");
    if (writer.OwnsTexts(routine) && routine->Definition) writer.Text(10, routine->Definition->SQL);
    if (external) writer.Text(11, routine->ModuleName);
    writer.Insert();
  });
}

// The ODBC COLUMN_TYPE of a parameter direction.
int32_t odbcParamType(int32_t mode) {
  switch (mode) {
    case kParamModeIn:
      return 1;
    case kParamModeOut:
      return 4;
    case kParamModeInOut:
      return 2;
    case kParamModeResult:
      return 5;
    default:
      return 0;
  }
}

void produceOdbcProcedureColumns(TBRNLocalDatabaseManager& database,
                                 TBRNVirtualTableManager& manager) {
  RowWriter writer(database, manager);
  forEachVisibleRoutine(writer, [&](TBRNRoutine* routine) {
    TBRNRoutineParams* params = routine->Params.get();
    for (int32_t j = 0; j < params->Count(); ++j) {
      TBRNRoutineParam* param = params->GetParam(j);
      const auto type = static_cast<TBRNDataTypeCode>(param->DataType);
      writer.Start();
      writer.Text(1, writer.DatabaseName);
      writer.Text(3, routine->Name);
      writer.Text(4, param->Name);
      writer.SmallInt(5, odbcParamType(param->Mode));
      writer.OdbcType(6, param->DataType, param->SubType, param->Length, param->Scale);
      writer.SmallInt(11, 10);
      writer.SmallInt(12, 1);
      writer.TextOrNull(13, param->Description);
      writer.Integer(18, j);
      writer.Text(19, "YES");
      if (IsTextDataType(type, param->SubType))
        writer.Text(20, writer.CollationName(param->Collation));
      writer.Insert();
    }
  });
}

using DatabaseProducer = void (*)(TBRNLocalDatabaseManager&, TBRNVirtualTableManager&);

struct InformationTable {
  const TBRNSystemTableDefinition* Definition;
  DatabaseProducer Producer;
};

// The registration order of the Information tables.
const InformationTable informationTables[] = {
    {&schemaObjectsTable, produceSchemaObjects},
    {&schemaDifferenceTable, produceSchemaDifference},
    {&dependenciesTable, produceDependencies},
    {&tablesTable, produceTables},
    {&temporaryTablesTable, produceTemporaryTables},
    {&tablePrivilegesTable, produceTablePrivileges},
    {&tableColumnsTable, produceTableColumns},
    {&constraintsTable, produceConstraints},
    {&constraintColumnsTable, produceConstraintColumns},
    {&indexesTable, produceIndexes},
    {&indexColumnsTable, produceIndexColumns},
    {&triggersTable, produceTriggers},
    {&triggerColumnsTable, produceTriggerColumns},
    {&viewsTable, produceViews},
    {&temporaryViewsTable, produceTemporaryViews},
    {&viewPrivilegesTable, produceViewPrivileges},
    {&viewColumnsTable, produceViewColumns},
    {&proceduresTable, produceProcedures},
    {&procedurePrivilegesTable, produceProcedurePrivileges},
    {&procedureParamsTable, produceProcedureParams},
    {&functionsTable, produceFunctions},
    {&functionPrivilegesTable, produceFunctionPrivileges},
    {&functionParamsTable, produceFunctionParams},
    {&sqlTablesTable, produceOdbcTables},
    {&sqlTablePrivilegesTable, produceOdbcTablePrivileges},
    {&sqlColumnsTable, produceOdbcColumns},
    {&sqlSpecialColumnsTable, produceNoRows},
    {&sqlColumnPrivilegesTable, produceNoRows},
    {&sqlPrimaryKeysTable, produceOdbcPrimaryKeys},
    {&sqlForeignKeysTable, produceOdbcForeignKeys},
    {&sqlStatisticsTable, produceOdbcStatistics},
    {&sqlProceduresTable, produceOdbcProcedures},
    {&sqlProcedureColumnsTable, produceOdbcProcedureColumns},
};

}  // namespace

void RegisterInformationTables(TBRNLocalDatabaseManager& database) {
  TBRNLocalDatabaseManager* owner = &database;
  for (const InformationTable& table : informationTables) {
    DatabaseProducer produce = table.Producer;
    AddInformationTable(
        database, *table.Definition, false,
        [owner, produce](TBRNVirtualTableManager& manager) { produce(*owner, manager); });
  }
}

}  // namespace brn
