#include "metadata/core/type_lists.h"

namespace brn {

int32_t TBRNDataType::GetBinarySize() const {
  return DataTypeStorageSize(DataType, 0);
}

std::string TBRNDataType::GetObjectTypeName() const {
  return "data type";
}

void TBRNDataType::AssignID() {}

std::string TBRNDataTypes::GetObjectTypeName() const {
  return "data type";
}

std::string TBRNDataTypes::GetSystemTableName() const {
  return "DataTypes";
}

std::string TBRNODBCTypes::GetSystemTableName() const {
  return "SQLTypes";
}

std::string TBRNCollation::GetObjectTypeName() const {
  return "collation";
}

void TBRNCollation::AssignID() {}

void TBRNCollations::CheckDuplicate(TBRNConfigObject* object) {
  (void)object;
}

std::string TBRNCollations::GetObjectTypeName() const {
  return "collation";
}

std::string TBRNCollations::GetSystemTableName() const {
  return "Collations";
}

}  // namespace brn
