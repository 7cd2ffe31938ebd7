#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/tables.h"
#include "metadata/core/object_selections.h"

namespace brn {

class TBRNView;

// The parse flags of stored queries.
inline constexpr TBRNParseFlags kCatalogQueryFlags = TBRNParseFlags(0xC40);

// A stored query expression compiled against a catalog.
class TBRNCatalogQuery : public TBRNCatalogExpr {
 public:
  using TBRNCatalogExpr::TBRNCatalogExpr;

  std::string GetKindName() const override;
  TBRNParseFlags GetParseFlags() const override;
  TBRNExprToken* ParseWith(TBRNExprParser& parser, TBRNParseFlags flags) override;
};

// The query of a view. After every compile it keeps the view's columns and
// Updateable flag in step with the query; bringing them in step is not a
// change of the catalog.
class TBRNViewDefinition : public TBRNCatalogQuery {
 public:
  explicit TBRNViewDefinition(TBRNView* view);
  ~TBRNViewDefinition() override;

  TBRNView* View;  // the owner; never nullptr

  std::string GetKindName() const override;
  // A derived table does not own its tree (the query it came from does).
  bool OwnsRoot() const override;
  // The tables and views the query names (a derived table: none) and the
  // stored functions it calls fill the view's reference selections.
  void AddTableDependency(TBRNExprToken* Node) override;
  void AddFunctionDependency(TBRNExprToken* Node) override;
  void AfterCompile() override;
  void AfterUncompile() override;
};

// The tables and views a view's query names (not owning; filled while the
// view is compiled, emptied when it is uncompiled).
class TBRNReferencedVirtualTables : public TBRNSelectedConfigObjects {
 public:
  using TBRNSelectedConfigObjects::TBRNSelectedConfigObjects;

  std::string GetObjectTypeName() const override;
};

// A named query stored in a schema (Transient: a derived table).
//
// Stored record: the table-or-view record, then the query text (int32
// length prefix), WithCheck and Updateable (one byte each).
class TBRNView : public TBRNVirtualTable {
 public:
  explicit TBRNView(TBRNCatalog* catalog);
  TBRNView(TBRNCatalog* catalog, TBRNUser* owner);
  ~TBRNView() override;

  std::unique_ptr<TBRNViewDefinition> Definition;
  bool WithCheck = false;
  // Derived from the query at compile time: whether it can be served as a
  // live cursor on one table.
  bool Updateable = false;
  std::string AlterSQL;
  // Run-time: what the compiled query names and calls (sorted by ID,
  // without repeats).
  std::unique_ptr<TBRNReferencedVirtualTables> ReferencedTables;
  std::unique_ptr<TBRNSelectedConfigObjects> ReferencedFunctions;

  // Both mark the catalog modified only when the value changes.
  void SetWithCheck(bool value);
  void SetUpdateable(bool value);

  // "VIEW "name" AS" CR LF and the query; with includeClauses also the
  // WITH CHECK OPTION, DESCRIPTION, VERSION and ATTRIBUTES lines.
  std::string BuildDefinition(bool includeClauses) const;

  // The indexes of a view are built on its materialised rows.
  bool IsBaseTable() const override { return false; }
  int32_t GetIndexPageSize() const override { return kDefaultIndexPageSize; }

  std::string GetObjectTypeName() const override;
  void GrantAll(TBRNUser* grantor, TBRNAuthorization* grantee) override;
  void GrantDefault(TBRNUser* grantor, TBRNAuthorization* grantee) override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void Compile() override;
  void Uncompile() override;
  // After the visit of columns, indexes and triggers the view compiles
  // itself: a table or view it names (a function it calls) gets the view
  // among its referrers; a rename rewrites the query text.
  void RegisterReferenceTo(TBRNConfigObject* target) override;
  void ReplaceReferencedID(TBRNConfigObject* target, int32_t newID) override;
  void ReplaceReferencedName(TBRNConfigObject* target, const std::string& newName) override;
  int64_t GetMemorySize() const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;
  std::string GetAlterSQL() override;
  void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) override;
};

// The views of a schema (owned). A view's name must be free among the
// schema's tables, temporary tables, views and derived tables; the schema's
// list of all tables and views follows every change.
class TBRNViews : public TBRNCollection<TBRNView, TBRNPrivilegedCatalogObjects> {
 public:
  explicit TBRNViews(TBRNCatalog* catalog);

  TBRNView* GetView(int32_t index) const;
  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  std::string GetSystemTableName() const override;
  void CheckDuplicate(TBRNConfigObject* object) override;
  void Changed() override;
};

// The derived tables of a schema: owned, never stored, never a change of
// the catalog. A name that a table, temporary table, view or derived table
// of the schema bears is refused with 400 "The %s %s already exists" (the
// clashing object's kind word and name, no parent part).
class TBRNTemporaryViews : public TBRNCollection<TBRNView, TBRNPrivilegedCatalogObjects> {
 public:
  explicit TBRNTemporaryViews(TBRNCatalog* catalog);

  TBRNView* GetView(int32_t index) const;
  TBRNConfigObject* CreateItemOwnedBy(TBRNUser* owner) override;
  std::string GetObjectTypeName() const override;
  void SetModified(bool value) override;
  void CheckDuplicate(TBRNConfigObject* object) override;
};

}  // namespace brn
