#pragma once

#include <cstdint>
#include <string>

#include "foundation/types/data_types.h"
#include "metadata/core/config_objects.h"

namespace brn {

// A data type that SQL text may name. Built by each session, never stored,
// and without an ID.
class TBRNDataType : public TBRNConfigObject {
 public:
  using TBRNConfigObject::TBRNConfigObject;

  TBRNDataTypeCode DataType = dtNull;
  TBRNDataSubType DataSubType = stDefault;

  // The storage size of the type (length 0 for the sized types).
  int32_t GetBinarySize() const;

  std::string GetObjectTypeName() const override;
  void AssignID() override;
};

// The data types of the "DataTypes" table.
class TBRNDataTypes : public TBRNCollection<TBRNDataType> {
 public:
  explicit TBRNDataTypes(TBRNConfigRoot* config) : TBRNCollection(config) {}

  TBRNDataType* GetItem(int32_t index) const {
    return static_cast<TBRNDataType*>(TBRNConfigObjects::GetItem(index));
  }
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

// The same list shown as the ODBC "SQLTypes" table.
class TBRNODBCTypes : public TBRNDataTypes {
 public:
  using TBRNDataTypes::TBRNDataTypes;
  std::string GetSystemTableName() const override;
};

// A collation of the environment; its ID is the environment's collation ID,
// set with SetID and kept as given.
class TBRNCollation : public TBRNConfigObject {
 public:
  using TBRNConfigObject::TBRNConfigObject;

  std::string GetObjectTypeName() const override;
  void AssignID() override;
};

// The collations of the "Collations" table. Duplicates are not refused on
// adding: the filler skips names already present.
class TBRNCollations : public TBRNCollection<TBRNCollation> {
 public:
  explicit TBRNCollations(TBRNConfigRoot* config) : TBRNCollection(config) {}

  TBRNCollation* GetItem(int32_t index) const {
    return static_cast<TBRNCollation*>(TBRNConfigObjects::GetItem(index));
  }
  void CheckDuplicate(TBRNConfigObject* object) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
};

}  // namespace brn
