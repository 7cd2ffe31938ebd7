#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/catalog_object.h"
#include "metadata/catalog/column_reference.h"
#include "metadata/core/object_link.h"
#include "metadata/core/object_selections.h"

namespace brn {

class TBRNColumn;
class TBRNColumns;
class TBRNConstraint;
class TBRNConstraints;
class TBRNIndex;
class TBRNSchema;
class TBRNSelectedColumns;
class TBRNTableHolder;

// Constraint kinds (ConstraintType).
inline constexpr int32_t kConstraintPrimaryKey = 1;
inline constexpr int32_t kConstraintForeignKey = 2;
inline constexpr int32_t kConstraintUnique = 3;
inline constexpr int32_t kConstraintCheck = 4;
// Referential actions; only No Action and Restrict are accepted.
inline constexpr uint32_t kActionNoAction = 0;
inline constexpr uint32_t kActionCascade = 1;
inline constexpr uint32_t kActionSetNull = 2;
inline constexpr uint32_t kActionSetDefault = 3;
inline constexpr uint32_t kActionRestrict = 4;
// Bits answered by TBRNConstraint::CompareDefinition.
inline constexpr int32_t kConstraintCompared = 0x2000;
inline constexpr int32_t kConstraintKeyChanged = 0x8009;
inline constexpr int32_t kConstraintReferenceChanged = 0x8000;
inline constexpr int32_t kConstraintConditionChanged = 0x40000;

// A column of a primary, foreign or unique key, stored by ID and resolved
// in the owning table's columns (401 when its ID is missing; nullptr
// without a table). Stored record: the base record, ColumnID.
class TBRNConstraintColumn : public TBRNColumnReference {
 public:
  explicit TBRNConstraintColumn(TBRNCatalog* catalog);

  [[noreturn]] virtual void RaiseBlobInConstraint() const;

  TBRNConstraint* GetConstraint() const;

  std::string GetObjectTypeName() const override;
  TBRNConfigObject* GetRootObject() override;
  void Validate() override;

 protected:
  // The column list the ID is resolved in.
  TBRNColumns* lookupColumns() const override;
  TBRNConfigObject* holderObject() const override;
  bool isSameKind(const TBRNColumnReference& other) const override;
};

// A referenced column of a foreign key, resolved in the target table.
class TBRNTargetTableColumn : public TBRNConstraintColumn {
 public:
  using TBRNConstraintColumn::TBRNConstraintColumn;
  void Validate() override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;

 protected:
  TBRNColumns* lookupColumns() const override;
};

// A foreign key that references a primary or unique constraint.
// Stored record: the base record, SourceTableID, SourceConstraintID.
class TBRNSourceConstraint : public TBRNCatalogObject {
 public:
  explicit TBRNSourceConstraint(TBRNCatalog* catalog);

  int32_t SourceTableID = 0;
  int32_t SourceConstraintID = 0;

  TBRNConstraint* GetConstraint() const;
  // Among the base tables of the owning table's schema (401 when missing).
  TBRNConfigObject* GetSourceTable();
  TBRNConstraint* GetSourceConstraint();
  void SetSourceTable(TBRNConfigObject* table);
  void SetSourceConstraint(TBRNConstraint* constraint);
  // Fill an ID that is still 0.
  void SetSourceTableID(int32_t id);

  std::string GetName() const override;
  bool HasName() const override;
  std::string GetObjectTypeName() const override;
  void ResetLinks() override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;

 private:
  TBRNObjectLink table_;
  TBRNObjectLink constraint_;
};

class TBRNConstraintColumns : public TBRNCollection<TBRNConstraintColumn, TBRNColumnReferences> {
 public:
  using TBRNCollection::TBRNCollection;
  TBRNConstraintColumn* GetItem(int32_t index) const;
  std::string GetObjectTypeName() const override;
};

class TBRNTargetTableColumns : public TBRNCollection<TBRNTargetTableColumn, TBRNConstraintColumns> {
 public:
  using TBRNCollection::TBRNCollection;
};

class TBRNSourceConstraints : public TBRNCollection<TBRNSourceConstraint, TBRNCatalogObjects> {
 public:
  using TBRNCollection::TBRNCollection;
  TBRNSourceConstraint* GetItem(int32_t index) const;
  std::string GetObjectTypeName() const override;
  bool SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const override;
  std::string GetSQLSeparator() const override;
};

// The condition of a check constraint; what it names goes to the
// constraint's ReferencedColumns and ReferencedFunctions.
class TBRNCheckExpr : public TBRNCatalogExpr {
 public:
  explicit TBRNCheckExpr(TBRNConstraint* constraint);

  TBRNConstraint* Constraint;

  std::string GetKindName() const override;
  TBRNConfigObject* GetOwnerTable() const override;
  void GetContextSchemaName(const TBRNExprToken* Node, std::string& Name) override;
  void GetContextTableName(const TBRNExprToken* Node, std::string& Name) override;
  void AddColumnDependency(TBRNExprToken* Node) override;
  void AddFunctionDependency(TBRNExprToken* Node) override;
  void AfterCompile() override;
  void AfterUncompile() override;
};

// A primary key, foreign key, unique or check constraint of a base table.
// Only the lists of its kind exist (see SetConstraintType).
//
// Stored record, after the base record: ConstraintType; kinds 1 and 3 the
// columns, EnforcingIndexID and the source list; kind 2 the columns,
// EnforcingIndexID, TargetTableID, the target columns, TargetConstraintID,
// UpdateAction and DeleteAction; kind 4 the condition text; from 2.04
// ErrorCode and ErrorMessage.
class TBRNConstraint : public TBRNCatalogObject {
 public:
  explicit TBRNConstraint(TBRNCatalog* catalog);
  ~TBRNConstraint() override;

  int32_t ConstraintType = 0;
  std::unique_ptr<TBRNConstraintColumns> Columns;
  int32_t EnforcingIndexID = 0;
  int32_t TargetTableID = 0;
  std::unique_ptr<TBRNTargetTableColumns> TargetTableColumns;
  int32_t TargetConstraintID = 0;
  std::unique_ptr<TBRNSourceConstraints> SourceConstraints;
  uint32_t UpdateAction = kActionNoAction;
  uint32_t DeleteAction = kActionNoAction;
  std::unique_ptr<TBRNCheckExpr> CheckExpr;
  std::unique_ptr<TBRNSelectedColumns> ReferencedColumns;
  std::unique_ptr<TBRNSelectedConfigObjects> ReferencedFunctions;
  int32_t ErrorCode = 0;
  std::string ErrorMessage;
  bool Compared = false;
  // The foreign key references its own table, which had no ID yet.
  bool SelfReference = false;
  std::string AlterSQL;

  [[noreturn]] virtual void RaiseInvalidConstraintType() const;
  [[noreturn]] virtual void RaiseInvalidAction() const;

  static std::string GetActionName(uint32_t action);
  static std::string GetTypeName(int32_t type);
  static std::string GetConstraintKindName(int32_t type);

  // The constraint list and the table that owns it (nullptr when none).
  TBRNConstraints* GetConstraints() const;
  TBRNConfigObject* GetTable() const;
  TBRNTableHolder* GetTableHolder() const;
  // The schema of the owning table (the catalog's Default schema when the
  // table is in none).
  TBRNSchema* GetSchema() const;

  void SetConstraintType(int32_t type);
  void SetEnforcingIndex(TBRNIndex* index);
  // 100 when exactly one of the two tables is Temporary and that one is no
  // working copy.
  void SetTargetTable(TBRNConfigObject* table);
  // Fill an ID that is still 0 (a self-reference made before the table had
  // its ID).
  void SetTargetTableID(int32_t id);
  void SetTargetConstraint(TBRNConstraint* constraint);
  void SetUpdateAction(uint32_t action);
  void SetDeleteAction(uint32_t action);
  void SetErrorCode(int32_t code);
  void SetErrorMessage(const std::string& message);

  bool HasEnforcingIndex() const { return EnforcingIndexID != 0; }
  TBRNIndex* GetEnforcingIndex();
  TBRNConfigObject* GetTargetTable();
  TBRNConstraint* GetTargetConstraint();
  // Removes and frees the source entry of foreignKey (401 when none).
  void RemoveSourceConstraint(TBRNConstraint* foreignKey);
  // 100 "You cannot alter the constraint type" when newType differs.
  void CheckTypeUnchanged(int32_t newType) const;
  int32_t CompareDefinition(TBRNConstraint* newConstraint);
  std::string BuildDefinition(bool includeDescription);

  void SetInternal(bool value) override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  std::string GetObjectTypeName() const override;
  void ResetLinks() override;
  void CollectReferrers() override;
  TBRNConfigObject* GetRootObject() override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  void ResetAllLinks() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  bool IsSameObject(const TBRNConfigObject* other) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Validate() override;
  void Compile() override;
  void Uncompile() override;
  // option1: include foreign keys; option2: as an ADD / DROP clause.
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetAlterSQL() override;
  std::string GetDropSQL(bool option1, bool option2) override;

  bool IsKey() const {
    return ConstraintType == kConstraintPrimaryKey || ConstraintType == kConstraintUnique;
  }

 private:
  void createKindLists(int32_t type);
  int64_t storedVersion() const;

  TBRNObjectLink enforcingIndex_;
  TBRNObjectLink targetTable_;
  TBRNObjectLink targetConstraint_;
};

// The constraints of a base table. A second primary key of any name is a
// duplicate (400).
class TBRNConstraints : public TBRNCollection<TBRNConstraint, TBRNCatalogObjects> {
 public:
  using TBRNCollection::TBRNCollection;
  TBRNConstraint* GetItem(int32_t index) const;
  std::string GetObjectTypeName() const override;
  bool SameKey(const TBRNConfigObject* a, const TBRNConfigObject* b) const override;
  bool KeyImpliesEqualNames() const override { return false; }
  std::string GetSQLSeparator() const override;
  // Completes the table's ID where a self-reference or a source entry was
  // made before the table had one (the table's Validate calls it).
  void CompleteTableID(int32_t tableID);
};

}  // namespace brn
