#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/catalog_object.h"
#include "metadata/catalog/column_reference.h"
#include "metadata/core/object_link.h"

namespace brn {

class TBRNColumn;
class TBRNColumns;
class TBRNSelectedColumns;
class TBRNSelectedConfigObjects;
class TBRNTrigger;
class TBRNTriggers;

// Action times and types of a trigger.
inline constexpr int32_t kTriggerBefore = 1;
inline constexpr int32_t kTriggerAfter = 2;
inline constexpr int32_t kTriggerError = 3;
inline constexpr int32_t kTriggerInsert = 1;
inline constexpr int32_t kTriggerUpdate = 2;
inline constexpr int32_t kTriggerDelete = 3;
inline constexpr int32_t kTriggerAll = 4;
inline constexpr int32_t kTriggerLoadUpdate = 5;
// Parse options of a stored trigger body (an ERROR trigger's body may
// handle exceptions and RETRY). Bodies may hold queries, as the CREATE
// TRIGGER statement allows.
inline constexpr TBRNParseFlags kTriggerRoutineFlags =
    pcEndOfText | pcColumnQualifier | pcSchemaQualifier | pcNoParamList | pcQueries;
inline constexpr TBRNParseFlags kErrorTriggerRoutineFlags =
    kTriggerRoutineFlags | pcRetry | pcExceptionHandling;

// A column of UPDATE OF, stored by ID and resolved in the owning table's
// columns (401 when missing). Stored record: the base record and ColumnID.
class TBRNTriggerColumn : public TBRNColumnReference {
 public:
  explicit TBRNTriggerColumn(TBRNCatalog* catalog);

  TBRNTrigger* GetTrigger() const;

  std::string GetObjectTypeName() const override;

 protected:
  TBRNColumns* lookupColumns() const override;
  TBRNConfigObject* holderObject() const override;
  bool isSameKind(const TBRNColumnReference& other) const override;
};

class TBRNTriggerColumns : public TBRNCollection<TBRNTriggerColumn, TBRNColumnReferences> {
 public:
  using TBRNCollection::TBRNCollection;
  TBRNTriggerColumn* GetItem(int32_t index) const;
  std::string GetObjectTypeName() const override;
};

// The WHEN condition. Its OldRow and NewRow references bind to the rows of
// the trigger's body, so the body is compiled first.
class TBRNTriggerExpr : public TBRNCatalogExpr {
 public:
  explicit TBRNTriggerExpr(TBRNTrigger* trigger);

  TBRNTrigger* Trigger;

  std::string GetKindName() const override;
  TBRNConfigObject* GetOwnerTable() const override;
  TBRNParseFlags GetParseFlags() const override;
  TBRNExprToken* Parse() override;
  void GetContextTableName(const TBRNExprToken* Node, std::string& Name) override;
  void ResolveRowIdentifier(TBRNExprToken* Node) override;
  void AddColumnDependency(TBRNExprToken* Node) override;

 protected:
  void GetExpectedType(int32_t& dataType, int32_t& subType) const override;
};

// The body: "TRIGGER name" on its first line, then BEGIN ... END. The text
// does not say when the trigger fires; the trigger supplies it.
class TBRNTriggerRoutine : public TBRNCatalogRoutine {
 public:
  explicit TBRNTriggerRoutine(TBRNTrigger* trigger);

  TBRNTrigger* Trigger;

  int64_t GetVersionStamp() const override;
  std::string GetKindName() const override;
  TBRNConfigObject* GetOwnerTable() const override;
  TBRNParseFlags GetParseFlags() const override;
  TBRNExprToken* ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) override;
  void GetContextTableName(const TBRNExprToken* Node, std::string& Name) override;
  void ResolveRowIdentifier(TBRNExprToken* Node) override;
  void AddColumnDependency(TBRNExprToken* Node) override;
  void AddFunctionDependency(TBRNExprToken* Node) override;
  void AddProcedureDependency(TBRNExprToken* Node) override;
  void AfterCompile() override;
  void AfterUncompile() override;
};

// A trigger of a table or view.
//
// Stored record, after the base record: ActionTime, ActionType, the
// trigger columns (UPDATE triggers only), the condition text, the body text
// and, from 2.04, VersionStamp (int64). Enabled is not stored.
class TBRNTrigger : public TBRNCatalogObject {
 public:
  explicit TBRNTrigger(TBRNCatalog* catalog);
  ~TBRNTrigger() override;

  bool Enabled = true;
  int32_t ActionTime = kTriggerBefore;
  int32_t ActionType = kTriggerInsert;
  std::unique_ptr<TBRNTriggerColumns> TriggerColumns;
  std::unique_ptr<TBRNTriggerExpr> Condition;
  std::unique_ptr<TBRNTriggerRoutine> Definition;
  std::unique_ptr<TBRNSelectedColumns> OldRowColumns;
  std::unique_ptr<TBRNSelectedColumns> NewRowColumns;
  std::unique_ptr<TBRNSelectedConfigObjects> ReferencedFunctions;
  std::unique_ptr<TBRNSelectedConfigObjects> ReferencedProcedures;
  int64_t VersionStamp = 0;
  std::string AlterSQL;

  [[noreturn]] virtual void RaiseInvalidActionTime() const;
  [[noreturn]] virtual void RaiseInvalidActionType() const;

  static std::string GetActionTimeName(int32_t time);
  static std::string GetActionTypeName(int32_t type);

  TBRNTriggers* GetTriggers() const;
  TBRNConfigObject* GetTable() const;
  TBRNColumns* GetTableColumns() const;
  // The catalog's format version (the newest without a catalog).
  int64_t CurrentFormatVersion() const;
  // The parse-tree event (opBeforeInsert ...) of ActionTime and ActionType.
  int32_t GetEventOperation() const;
  // Whether the event has an old row (update, delete, all, load update) or a
  // new row (insert, update, all, load update).
  bool HasOldRow() const;
  bool HasNewRow() const;

  void SetActionTime(int32_t value);
  void SetActionType(int32_t value);
  std::string BuildDefinition(bool includeDescription);

  // Marking modified also stamps the trigger with the catalog's version.
  void SetModified(bool value) override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  std::string GetObjectTypeName() const override;
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
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Validate() override;
  void Compile() override;
  void Uncompile() override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetAlterSQL() override;
  std::string GetDropSQL(bool option1, bool option2) override;

 private:
  int64_t storedVersion() const;
};

// A non-owning list of triggers (one event list of a trigger collection).
class TBRNReferencedTriggers : public TBRNReferenceList<TBRNCatalogObjects> {
 public:
  explicit TBRNReferencedTriggers(TBRNCatalog* catalog);
  TBRNTrigger* GetItem(int32_t index) const;
  void SetModified(bool value) override;
  void Changed() override;
};

// The triggers of a table or view, with one list per action time and
// event kind, rebuilt after every change of membership.
class TBRNTriggers : public TBRNCollection<TBRNTrigger, TBRNCatalogObjects> {
 public:
  explicit TBRNTriggers(TBRNCatalog* catalog);
  ~TBRNTriggers() override;

  TBRNTrigger* GetItem(int32_t index) const;

  TBRNReferencedTriggers* GetBeforeInsertTriggers();
  TBRNReferencedTriggers* GetAfterInsertTriggers();
  TBRNReferencedTriggers* GetErrorInsertTriggers();
  TBRNReferencedTriggers* GetBeforeUpdateTriggers();
  TBRNReferencedTriggers* GetAfterUpdateTriggers();
  TBRNReferencedTriggers* GetErrorUpdateTriggers();
  TBRNReferencedTriggers* GetBeforeDeleteTriggers();
  TBRNReferencedTriggers* GetAfterDeleteTriggers();
  TBRNReferencedTriggers* GetErrorDeleteTriggers();
  TBRNReferencedTriggers* GetBeforeLoadTriggers();
  TBRNReferencedTriggers* GetAfterLoadTriggers();
  TBRNReferencedTriggers* GetErrorLoadTriggers();
  // time 1-3, event 0 insert, 1 update, 2 delete, 3 load.
  TBRNReferencedTriggers* GetEventTriggers(int32_t time, int32_t event);
  void RebuildEventLists();

  std::string GetObjectTypeName() const override;
  void Changed() override;
  int64_t GetMemorySize() const override;

 private:
  void fillEventList(size_t slot);
  // Slot event * 3 + time - 1.
  std::array<std::unique_ptr<TBRNReferencedTriggers>, 12> eventLists_;
};

}  // namespace brn
