#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/catalog_expr.h"
#include "metadata/tables.h"

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
  void AfterCompile() override;
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
  int64_t GetMemorySize() const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  std::string GetCreateSQL(bool option1, bool option2) override;
  std::string GetDropSQL(bool option1, bool option2) override;
  void ComputeDifference(int32_t kind, TBRNConfigObject* other, char terminator) override;
};

}  // namespace brn
