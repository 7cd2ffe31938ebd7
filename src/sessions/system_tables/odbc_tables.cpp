// The ODBC type table "SQLTypes" of a session's "Configuration" database:
// the configuration's data types as an ODBC driver reports them to
// SQLGetTypeInfo.
#include <cstdint>
#include <string>

#include "foundation/types/data_types.h"
#include "foundation/values/odbc_type_info.h"
#include "metadata/config/config.h"
#include "metadata/core/type_lists.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/system_tables/system_table_rows.h"
#include "sessions/system_tables/system_tables.h"

namespace brn {

namespace {

constexpr TBRNSystemTableColumn text(const char* name, int32_t length) {
  return {name, dtChar, stDefault, length, 0, true};
}
constexpr TBRNSystemTableColumn smallint(const char* name) {
  return {name, dtSmallInt};
}

const TBRNSystemTableDefinition odbcTypesTable{
    "SQLTypes",
    {text("TYPE_NAME", 40),
     smallint("DATA_TYPE"),
     {"COLUMN_SIZE", dtInteger},
     {"LITERAL_PREFIX", dtChar, stDefault, 30},
     {"LITERAL_SUFFIX", dtChar, stDefault, 30},
     {"CREATE_PARAMS", dtChar, stDefault, 30},
     smallint("NULLABLE"),
     smallint("CASE_SENSITIVE"),
     smallint("SEARCHABLE"),
     smallint("UNSIGNED_ATTRIBUTE"),
     smallint("FIXED_PREC_SCALE"),
     smallint("AUTO_UNIQUE_VALUE"),
     text("LOCAL_TYPE_NAME", 40),
     smallint("MINIMUM_SCALE"),
     smallint("MAXIMUM_SCALE"),
     smallint("SQL_DATA_TYPE"),
     smallint("SQL_DATETIME_SUB"),
     smallint("NUM_PREC_RADIX"),
     smallint("INTERVAL_PRECISION"),
     {"REMARKS", dtLob, stClob}},
    {{"ODBC", {"DATA_TYPE"}}, {"TYPE_NAME", {"TYPE_NAME"}}}};

// The ODBC types that report a scale range.
bool hasScaleRange(int16_t odbcType) {
  switch (odbcType) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 10:
    case 11:
    case 92:
    case 93:
    case 110:
    case 112:
    case 113:
    case -5:
    case -6:
    case -7:
      return true;
    default:
      return false;
  }
}

// SQL_SEARCHABLE: every type may be used in any WHERE clause.
constexpr int16_t kSearchable = 3;

}  // namespace

const TBRNSystemTableDefinition& ODBCTypesTableDefinition() {
  return odbcTypesTable;
}

void ProduceODBCTypes(TBRNLocalSessionManager& session, TBRNVirtualTableManager& manager) {
  TBRNDataTypes* types = session.Config->DataTypes.get();
  TBRNSystemTableRowWriter writer(manager, odbcTypesTable);
  auto small = [&writer](int32_t index, int32_t value) {
    writer.Column(index)->SetAsSmallInt(static_cast<int16_t>(value));
  };
  for (int32_t i = 0; i < types->Count(); ++i) {
    TBRNDataType* entry = types->GetItem(i);
    const TBRNDataTypeCode type = entry->DataType;
    const TBRNDataSubType sub = entry->DataSubType;
    const int16_t odbcType = ODBCDataType(type, sub, session.GetODBCVersion());
    const std::string name = DataTypeDefinition(type, sub, 0, 0);
    writer.Start();
    writer.Text(1, name);
    small(2, odbcType);
    writer.Column(3)->SetAsInteger(ODBCColumnSize(odbcType, 0));
    writer.TextOrNull(4, ODBCLiteralPrefix(type, sub));
    writer.TextOrNull(5, ODBCLiteralSuffix(type, sub));
    writer.TextOrNull(6, ODBCCreateParams(type, sub));
    small(7, 1);
    small(8, IsTextDataType(type, sub) ? 1 : 0);
    small(9, kSearchable);
    small(10, 0);
    small(11, type == dtDecimal ? 1 : 0);
    small(12, 0);
    writer.Text(13, name);
    if (hasScaleRange(odbcType)) {
      small(14, ODBCDecimalDigits(odbcType, 0));
      small(15, ODBCDecimalDigits(odbcType, 4));
    }
    small(16, ODBCVerboseDataType(type, sub));
    small(17, ODBCDateTimeSubCode(type, sub));
    switch (type) {
      case dtSmallInt:
      case dtInteger:
      case dtBigInt:
      case dtFloat:
      case dtDecimal:
        small(18, ODBCNumPrecRadix(type));
        break;
      case dtYearMonthInterval:
      case dtDayTimeInterval:
        small(19, ODBCIntervalPrecision(type));
        break;
      default:
        break;
    }
    writer.TextOrNull(20, entry->Description);
    writer.Insert();
  }
}

}  // namespace brn
