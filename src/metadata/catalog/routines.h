#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "metadata/catalog/catalog.h"
#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/catalog_object.h"
#include "metadata/catalog/tables.h"
#include "metadata/modules/module.h"

namespace brn {

class TBRNExprToken;
class TBRNParamValues;
class TBRNRoutine;
class TBRNSelectedConfigObjects;

// Parameter modes of routines.
inline constexpr int32_t kParamModeNone = 0;
inline constexpr int32_t kParamModeIn = 1;
inline constexpr int32_t kParamModeOut = 2;
inline constexpr int32_t kParamModeInOut = 3;
inline constexpr int32_t kParamModeResult = 4;

// Implementations of routines.
inline constexpr int32_t kRoutineSQL = 0;
inline constexpr int32_t kRoutineExternal = 1;

// The Shared/Exclusive lock range of the routine with lock number 1.
inline constexpr int64_t kRoutineLockBase = 33570817;

// A parameter (or the result) of a routine. The type setters keep the
// descriptor consistent through the data-type rules and mark the catalog
// modified only when a field changes.
//
// Stored record: the base record, then Mode, DataType, SubType, Length,
// Size, Scale and Collation (int32 each).
class TBRNRoutineParam : public TBRNCatalogObject {
 public:
  using TBRNCatalogObject::TBRNCatalogObject;

  int32_t Mode = kParamModeNone;
  int32_t DataType = 0;
  int32_t SubType = 0;
  int32_t Length = 0;
  int32_t Size = 0;
  int32_t Scale = 0;
  int32_t Collation = 0;

  void SetMode(int32_t value);
  void SetDataType(int32_t value);
  void SetSubType(int32_t value);
  void SetLength(int32_t value);
  void SetScale(int32_t value);
  void SetCollation(int32_t value);
  // Mode 0, an empty name and every type field 0.
  void Clear();

  std::string GetObjectTypeName() const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  int64_t GetMemorySize() const override;
};

// The parameters of a routine in declaration order.
class TBRNRoutineParams : public TBRNCollection<TBRNRoutineParam, TBRNCatalogObjects> {
 public:
  using TBRNCollection::TBRNCollection;

  TBRNRoutineParam* GetParam(int32_t index) const;
  std::string GetObjectTypeName() const override;
};

// The routine text of a procedure or function: its parse mode follows the
// routine's VersionStamp and its calls of stored routines fill the
// routine's reference selections.
template <class Base>
class TBRNRoutineDefinition : public Base {
 public:
  explicit TBRNRoutineDefinition(TBRNRoutine* routine);

  TBRNRoutine* Routine;

  int64_t GetVersionStamp() const override;
  void AddFunctionDependency(TBRNExprToken* Node) override;
  void AddProcedureDependency(TBRNExprToken* Node) override;
  void AfterCompile() override;
  void AfterUncompile() override;
};

// A stored procedure or function of a schema: its text (or the link to an
// external routine of a module), parameters and result.
//
// Stored record, after the schema-object record: Implementation, Reserved,
// Definition (string), ModuleName (string), Params (collection), Result (a
// parameter record), VersionStamp (int64, from format 2.04) and LockNumber.
//
// Used by the thread of the session that owns the catalog.
class TBRNRoutine : public TBRNPrivilegedSchemaObject, public TBRNLockNumbered {
 public:
  TBRNRoutine(TBRNCatalog* catalog, TBRNUser* owner);
  ~TBRNRoutine() override;

  int32_t Implementation = kRoutineSQL;
  int32_t Reserved = 0;
  std::unique_ptr<TBRNCatalogRoutine> Definition;
  std::string ModuleName;
  std::unique_ptr<TBRNRoutineParams> Params;
  std::unique_ptr<TBRNRoutineParam> Result;
  int64_t VersionStamp = 0;
  int32_t LockNumber = 0;
  std::unique_ptr<TBRNSelectedConfigObjects> ReferencedFunctions;
  std::unique_ptr<TBRNSelectedConfigObjects> ReferencedProcedures;
  std::string AlterSQL;

  // Creates the routine text of the class; called once, by Init.
  virtual std::unique_ptr<TBRNCatalogRoutine> CreateDefinition() = 0;

  void SetImplementation(int32_t value);
  // Caches module and takes its name when it differs from ModuleName.
  void SetModule(TBRNModule* module);
  // The cached module, else the configuration's module named ModuleName
  // (401 when there is none).
  TBRNModule* GetModule();
  void SetLockNumber(int32_t value);
  int32_t GetLockNumber() const override { return LockNumber; }

  // Fill the routine from a parsed CREATE PROCEDURE/FUNCTION statement (or
  // its routine root).
  void DefineParams(const TBRNExprToken* definition);
  void DefineResult(const TBRNExprToken* definition);
  void DefineImplementation(const TBRNExprToken* definition);

  int32_t GetInputParamCount() const;
  int32_t GetOutputParamCount() const;

  // External routines. OpenExternal acquires the module and opens an
  // instance (nothing when one is open); CloseExternal closes it and
  // releases the module, also when the close fails; CallExternal calls the
  // routine of this name with the values.
  void OpenExternal();
  void CloseExternal();
  void CallExternal(TBRNParamValues& params);
  bool IsExternalOpen() const { return external_.IsOpen(); }

  // The stored text without trailing control characters and blanks; with
  // the DESCRIPTION, VERSION and ATTRIBUTES clauses when includeClauses.
  std::string BuildDefinition(bool includeClauses) const;

  // The routine's current catalog format version (the newest without one).
  int64_t CurrentFormatVersion() const;

  void SetModified(bool value) override;
  void SetSystem(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  void GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) override;
  void GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Compile() override;
  void Uncompile() override;
  void ResetLinks() override;
  void CollectReferrers() override;
  void PropagateRename(const std::string& newName) override;
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  std::string GetCreateSQL(bool includeDrop, bool includeSystem) override;
  std::string GetAlterSQL() override;
  void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  std::string GetObjectTypeName() const override;

 protected:
  // Creates the definition; the constructors of the final classes call it.
  void Init();

 private:
  TBRNModuleBinding external_;
};

class TBRNProcedure : public TBRNRoutine {
 public:
  explicit TBRNProcedure(TBRNCatalog* catalog, TBRNUser* owner = nullptr);

  std::unique_ptr<TBRNCatalogRoutine> CreateDefinition() override;
  TBRNPrivilegedCatalogObject* CreateOwnedInCatalog(TBRNCatalog* catalog,
                                                    TBRNUser* owner) const override;
  TBRNPrivilegedCatalogObject* CreateInCatalog(TBRNCatalog* catalog) const override;
  std::string GetObjectTypeName() const override;
  std::string GetDropSQL(bool includeSystem, bool ifExists) override;
};

class TBRNFunction : public TBRNRoutine {
 public:
  explicit TBRNFunction(TBRNCatalog* catalog, TBRNUser* owner = nullptr);

  std::unique_ptr<TBRNCatalogRoutine> CreateDefinition() override;
  TBRNPrivilegedCatalogObject* CreateOwnedInCatalog(TBRNCatalog* catalog,
                                                    TBRNUser* owner) const override;
  TBRNPrivilegedCatalogObject* CreateInCatalog(TBRNCatalog* catalog) const override;
  std::string GetObjectTypeName() const override;
  std::string GetDropSQL(bool includeSystem, bool ifExists) override;
};

class TBRNRoutines;

// A new node describing parameter index (from 0) of the function (function
// true) or procedure of catalog's Default schema named name: kind
// tkRoutineParam, the parameter's name, its position as Index, its mode as
// operation and its data type, subtype, length (as Size), scale and
// collation. nullptr when there is no such routine or parameter. What the
// compiler asks of a catalog when it checks the arguments of a call.
std::unique_ptr<TBRNExprToken> NewRoutineParamNode(TBRNCatalog* catalog, std::string_view name,
                                                   int32_t index, bool function);

// Implemented by the owner (a schema) of a procedure and a function list
// that keeps the list of all its routines.
class TBRNRoutineListHolder {
 public:
  virtual ~TBRNRoutineListHolder() = default;
  virtual TBRNConfigObjects* GetProcedureList() = 0;
  virtual TBRNConfigObjects* GetFunctionList() = 0;
  // nullptr when the holder keeps no all-routines list.
  virtual TBRNRoutines* GetAllRoutines() = 0;
};

// The procedures of a schema. Procedure and function names share one
// namespace: a name either list holds is refused (400).
class TBRNProcedures : public TBRNCollection<TBRNProcedure, TBRNPrivilegedCatalogObjects> {
 public:
  explicit TBRNProcedures(TBRNCatalog* catalog);

  TBRNProcedure* GetProcedure(int32_t index) const;
  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
  void CheckDuplicate(TBRNConfigObject* object) override;
  void Changed() override;
};

class TBRNFunctions : public TBRNCollection<TBRNFunction, TBRNPrivilegedCatalogObjects> {
 public:
  explicit TBRNFunctions(TBRNCatalog* catalog);

  TBRNFunction* GetFunction(int32_t index) const;
  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
  void CheckDuplicate(TBRNConfigObject* object) override;
  void Changed() override;
};

// A schema's list of all its routines (not owning): all functions, then
// all procedures.
class TBRNRoutines : public TBRNReferenceList<TBRNPrivilegedCatalogObjects> {
 public:
  explicit TBRNRoutines(TBRNCatalog* catalog);

  TBRNRoutine* GetRoutine(int32_t index) const;
  std::string GetObjectTypeName() const override;
  int32_t GetMaxCount() const override;
  // Empties the list and refills it from the two lists (either may be
  // nullptr).
  void Rebuild(TBRNConfigObjects* functions, TBRNConfigObjects* procedures);
};

}  // namespace brn
