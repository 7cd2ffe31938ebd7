#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/types/data_types.h"
#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/catalog_object.h"
#include "metadata/core/object_selections.h"

namespace brn {

class TBRNColumns;
class TBRNExprBuilder;
class TBRNExprParser;
class TBRNExprValidator;

// The largest number of columns of one table, view or result.
inline constexpr int32_t kMaxColumnCount = 2048;
// The row header in front of the first column of a row image.
inline constexpr int32_t kRowHeaderSize = 17;
// Bytes a BLOB or CLOB column takes in the row image (its reference).
inline constexpr int32_t kBlobReferenceSize = 9;

// What a table or view offers to the binding of column references: its
// column list. Tables, views and result tables implement it.
class TBRNColumnsHolder {
 public:
  virtual ~TBRNColumnsHolder() = default;
  virtual TBRNColumns* GetColumns() = 0;
};

// A non-owning list of columns.
class TBRNSelectedColumns : public TBRNSelectedConfigObjects {
 public:
  using TBRNSelectedConfigObjects::TBRNSelectedConfigObjects;
  TBRNColumn* GetItem(int32_t index) const;
};

// One value of a table, view, query result or cursor row: its data type,
// how it is filled (identity, generated, computed or default expression),
// whether it may be NULL, its BLOB compression and its offset in the row
// image (set by the column list).
//
// The generated and computed expressions share UsedColumns, UsedFunctions
// and CallsFunctions (a column is never both); each expression exists
// exactly while its flag is set.
//
// Stored record, after the base record: DataType, SubType, Length, Size,
// Scale, Collation (int32 each), NotNull; from 2.04 NotNullErrorCode and
// NotNullErrorMessage; above 1.00 Generated and the generated text when
// set; Identity, IdentityByDefault, IdentitySeed, IdentityIncrement;
// Computed and its text; HasDefault and its text; BlobCompression; Origin;
// from 1.07 InUniqueKey, InPrimaryKey. The version is the column list's.
// Structure-only record: the base record in that form, DataType, SubType,
// Length, Size, Scale, Identity, Computed, BlobCompression. A stored data
// type outside 0 to 14, a negative length or size, or a size beyond what a
// row can hold is refused with the metadata error, and so is a column of a
// catalog whose ID is not positive or is held by another column of the list.
class TBRNColumn : public TBRNCatalogObject {
 public:
  explicit TBRNColumn(TBRNCatalog* catalog);
  ~TBRNColumn() override;

  int32_t RowOffset = 0;
  TBRNDataTypeCode DataType = dtNull;
  TBRNDataSubType SubType = 0;
  int32_t Length = 0;
  int32_t Size = 0;
  int32_t Scale = 0;
  int32_t Collation = 0;
  bool NotNull = false;
  int32_t NotNullErrorCode = 0;
  std::string NotNullErrorMessage;
  bool Generated = false;
  std::unique_ptr<TBRNGeneratedColumnExpr> GeneratedExpr;
  bool Identity = false;
  bool IdentityByDefault = false;
  int32_t IdentitySeed = 0;
  int32_t IdentityIncrement = 1;
  bool Computed = false;
  std::unique_ptr<TBRNComputedColumnExpr> ComputedExpr;
  std::unique_ptr<TBRNSelectedColumns> UsedColumns;
  std::unique_ptr<TBRNSelectedColumns> DependentColumns;
  bool CallsFunctions = false;
  std::unique_ptr<TBRNSelectedConfigObjects> UsedFunctions;
  bool HasDefault = false;
  std::unique_ptr<TBRNDefaultColumnExpr> DefaultExpr;
  std::unique_ptr<TBRNSelectedColumns> DefaultUsedColumns;
  std::unique_ptr<TBRNSelectedConfigObjects> DefaultUsedFunctions;
  int32_t BlobCompression = 0;
  std::string Origin;
  bool InUniqueKey = false;
  bool InPrimaryKey = false;
  int32_t SourcePosition = 0;
  int32_t AlterSourcePosition = 0;
  bool RestartIdentity = false;
  std::string AlterSQL;

  // Validation errors (code 100 with the column and its table).
  [[noreturn]] virtual void RaiseInvalidDataType() const;
  [[noreturn]] virtual void RaiseSizeTooSmall() const;
  [[noreturn]] virtual void RaiseSizeTooLarge() const;
  [[noreturn]] virtual void RaiseScaleTooSmall() const;
  [[noreturn]] virtual void RaiseScaleTooLarge() const;
  [[noreturn]] virtual void RaiseInvalidIdentityType() const;
  [[noreturn]] virtual void RaiseIdentityWithDefault() const;
  [[noreturn]] virtual void RaiseRestartNotIdentity() const;
  [[noreturn]] virtual void RaiseInvalidCompression() const;
  [[noreturn]] virtual void RaiseIdentityGenerated() const;
  [[noreturn]] virtual void RaiseGeneratedWithDefault() const;

  // The list that owns the column and the table or view that owns the list
  // (nullptr when none).
  TBRNColumns* GetColumns() const;
  TBRNConfigObject* GetTable() const;

  // Setters: each marks the column modified only when something changes.
  void SetDataType(TBRNDataTypeCode value);
  void SetSubType(TBRNDataSubType value);
  void SetLength(int32_t value);
  void SetScale(int32_t value);
  void SetCollation(int32_t value);
  void SetCaseInsensitiveCollation(bool on);
  void SetNotNull(bool value);
  void SetNotNullErrorCode(int32_t value);
  void SetNotNullErrorMessage(const std::string& value);
  void SetIdentity(bool value);
  void SetIdentityByDefault(bool value);
  void SetIdentitySeed(int32_t value);
  void SetIdentityIncrement(int32_t value);
  void SetBlobCompression(int32_t value);
  void SetOrigin(const std::string& value);
  void SetGenerated(bool on);
  void SetComputed(bool on);
  void SetHasDefault(bool on);
  void SetRestartIdentity(bool on);

  // The base column behind a result or view column: the Origin chain is
  // followed through updateable views (defined in name_binding.cpp); this
  // column when it has no Origin. 401 for a missing database, schema, table
  // or column, 100 for a database whose catalog is not in memory.
  TBRNColumn* ResolveOrigin();
  // InPrimaryKey / InUniqueKey from the first primary or unique key of the
  // base table behind the Origin that holds the base column.
  void ComputeKeyMembership();

  bool HasDependentColumns() const;
  TBRNSelectedColumns* GetDependentColumns();
  // Bytes in the row image: 9 for BLOB and CLOB, else Size + 1 (NULL
  // indicator).
  int32_t GetRowSize() const;
  int32_t GetKeySize() const { return Size + 1; }

  // DDL: the definition after the name (with the description when asked).
  std::string GetColumnDefinition(bool withDescription) const;

  void SetInternal(bool value) override;
  void SetReadOnly(bool value) override;
  std::string GetObjectTypeName() const override;
  void CollectReferrers() override;
  void PropagateRename(const std::string& newName) override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) override;
  int64_t GetMemorySize() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Validate() override;
  void Compile() override;
  void Uncompile() override;
  void CheckNotSystem() const override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetAlterSQL() override;
  std::string GetDropSQL(bool option1, bool option2) override;

 private:
  int64_t storedVersion() const;
  void createGeneratedLists();
  void freeGeneratedLists();
  void createDefaultLists();
  void freeDefaultLists();
  std::string collationName() const;
};

// The ordered column list of a table, view, result or cursor. It keeps the
// derived lists the row code needs and the row layout: after every
// Validate, Assign and LoadFromStream each column's RowOffset is set
// (17-byte row header first; computed columns take no room) and RowSize is
// the size of the row image.
class TBRNColumns : public TBRNCollection<TBRNColumn, TBRNCatalogObjects, kMaxColumnCount> {
 public:
  explicit TBRNColumns(TBRNCatalog* catalog);
  ~TBRNColumns() override;

  int32_t RowSize = kRowHeaderSize;
  // Derived lists (non-owning), created on first use.
  std::unique_ptr<TBRNSelectedColumns> BlobColumns;
  std::unique_ptr<TBRNSelectedColumns> RequiredColumns;
  std::unique_ptr<TBRNSelectedColumns> GeneratedColumns;
  std::unique_ptr<TBRNSelectedColumns> IdentityColumns;
  std::unique_ptr<TBRNSelectedColumns> ComputedColumns;
  std::unique_ptr<TBRNSelectedColumns> DefaultColumns;
  // Used by the column expressions of a list without catalog (not owned).
  TBRNExprParser* Parser = nullptr;
  TBRNExprValidator* Validator = nullptr;
  TBRNExprBuilder* Builder = nullptr;

  TBRNColumn* GetItem(int32_t index) const;
  bool HasBlobColumns() const;
  TBRNSelectedColumns* GetBlobColumns();
  bool HasRequiredColumns() const;
  TBRNSelectedColumns* GetRequiredColumns();
  bool HasGeneratedColumns() const;
  TBRNSelectedColumns* GetGeneratedColumns();
  bool HasIdentityColumns() const;
  TBRNSelectedColumns* GetIdentityColumns();
  TBRNSelectedColumns* GetComputedColumns();
  bool HasDefaultColumns() const;
  TBRNSelectedColumns* GetDefaultColumns();

  // Row offsets, RowSize and the six derived lists. A row image above
  // 2147483647 bytes raises the metadata error.
  void RebuildColumnLists();
  // Each column's DependentColumns: the generated and computed columns that
  // use it, by ID without duplicates.
  void BuildDependentColumns();

  std::string GetObjectTypeName() const override;
  std::string GetParentName() const override;
  int64_t GetMemorySize() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Validate() override;
  void Compile() override;
  // After every change of membership: the dependency lists of the members
  // forget columns that left the list, so they never point at freed ones.
  void Changed() override;

 private:
  TBRNSelectedColumns* derivedList(std::unique_ptr<TBRNSelectedColumns>& list);
};

}  // namespace brn
