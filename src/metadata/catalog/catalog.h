#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "metadata/config/authorization_root.h"
#include "metadata/config/databases.h"
#include "metadata/core/config_root.h"
#include "metadata/core/lockable_config_object.h"
#include "sql/tree/expr_token_kind.h"

namespace brn {

class TBRNColumns;
class TBRNCompiledExpr;
class TBRNConfig;
class TBRNIndex;
class TBRNExprParser;
class TBRNExprToken;
class TBRNExprValidator;
class TBRNPrivilegedConfigObject;
class TBRNSchema;
class TBRNSchemas;
class TBRNUser;
class TBRNView;
class TBRNVirtualTable;

// A catalog's ranges in its database's lock file.
inline constexpr int32_t kCatalogTransactionLockOffset = 8192;
inline constexpr int32_t kCatalogTransactionLockLength = 1;
inline constexpr int32_t kCatalogReadLockOffset = 8193;

// What a table or view offers to lock-number assignment: tables, views and
// routines implement it.
class TBRNLockNumbered {
 public:
  virtual ~TBRNLockNumbered() = default;
  virtual int32_t GetLockNumber() const = 0;
};

// The root of the metadata of one database. It owns the schemas (always
// "Information" first and "Default" second), hands out the IDs of every
// catalog object, keeps the stored format version and the modified flag
// that tells the catalog file manager to write the catalog, and defines the
// catalog's lock ranges: Read and Write at 8193 (4096 bytes), Transaction at
// 8192 (one byte); Shared and Exclusive are not used.
//
// The catalog's own Config is the configuration root of the session (may be
// nullptr); the objects of the catalog point at the catalog. Since users
// and roles live in the configuration, the catalog's change epoch follows the
// configuration's too (cached owner and grantee links of catalog objects are
// dropped when a user is freed). The catalog answers the authorization
// questions of its objects for the configuration.
//
// Stream (the body of the catalog file): format version (int64, scaled by
// 10000), next object ID (int32), the schemas collection. There is no base
// record for the catalog itself. A version above the newest this engine
// reads, a negative one or a counter below 1 is refused with the metadata
// error before anything of the schemas is read.
//
// Owned by the catalog manager of a database; used by its session's thread.
class TBRNCatalog : public TBRNConfigRoot,
                    public TBRNLockableConfigObject,
                    public TBRNContainerCatalog,
                    public TBRNAuthorizationRoot {
 public:
  // ID 1, next object ID 2, then the Information (System) and Default
  // schemas, which take IDs 3 and 4.
  explicit TBRNCatalog(TBRNConfigRoot* config);
  ~TBRNCatalog() override;

  int32_t NextObjectCounter = 2;
  int64_t FormatVersion = 0;  // 0 in a new catalog until SetVersion
  bool Modified = false;
  std::unique_ptr<TBRNSchemas> Schemas;
  TBRNSchema* InformationSchema = nullptr;
  TBRNSchema* DefaultSchema = nullptr;
  // Called with a derived table the binder has just created.
  std::function<void(TBRNPrivilegedConfigObject*)> OnDerivedTableCreate;
  // Called with a derived table that the statement which compiled it is
  // about to free, before the statement's tree goes. A handler that takes
  // charge of the table clears the reference: it has freed the table, or
  // keeps it among the temporary views and has then taken the table's
  // query (its definition's root) out of the statement's tree, whose rest
  // is freed. A reference left set is freed by the catalog, as without a
  // handler. Must not raise.
  std::function<void(TBRNPrivilegedConfigObject*&)> OnDerivedTableRelease;

  // The database entry that owns the catalog (its Owner), or nullptr.
  TBRNDatabaseContainer* GetDatabase() const;
  // The configuration root (nullptr when Config is none or another root).
  TBRNConfig* GetConfiguration() const;
  // The session's parser and validator, through the configuration.
  TBRNExprParser* GetParser() const;
  TBRNExprValidator* GetValidator() const;

  // The next object ID: the counter advances (2147483647 wraps to 1) and
  // the catalog is marked modified.
  int32_t NextID();
  // A different version is stored and marks the catalog modified.
  void SetVersion(int64_t version);
  // The smallest positive lock number that no routine (table or view) of the
  // Default schema holds; temporary objects are not considered.
  int32_t NextRoutineLockNumber() const;
  int32_t NextTableLockNumber() const;

  // ---- Name binding (name_binding.cpp) ----
  // Lookups raise "does not exist" (401) when raiseIfMissing; user filters
  // by privileges (nullptr: no filter), and a hidden object counts as
  // missing.
  //
  // The schema a node names (the Default schema without a name).
  TBRNSchema* SchemaForToken(const TBRNExprToken* node, bool raiseIfMissing);
  // With temporaryFirst the schema's temporary tables, then its temporary
  // views (derived tables), unfiltered and without error; then the list of
  // all tables and views.
  TBRNPrivilegedConfigObject* FindTableOrView(TBRNSchema* schema, const std::string& name,
                                              TBRNUser* user, bool raiseIfMissing,
                                              bool temporaryFirst = false);
  // The same over the temporary tables and the base tables only.
  TBRNPrivilegedConfigObject* FindTable(TBRNSchema* schema, const std::string& name, TBRNUser* user,
                                        bool raiseIfMissing, bool temporaryFirst = false);
  // The table or view whose column node (a column reference) names.
  TBRNConfigObject* FindTableForColumn(const TBRNExprToken* node, TBRNUser* user,
                                       bool temporaryFirst, const std::string& contextTable,
                                       const std::string& contextSchema,
                                       TBRNConfigObject* ownerTable);
  // The catalog of the database a node names (this one without a name);
  // 401 for an unknown database, 100 when its catalog is not in memory.
  TBRNCatalog* CatalogForToken(const TBRNExprToken* node);
  // Binds node (of the node kind) to its catalog object and copies the
  // object's number and type data into it; a derived table reference gets
  // its table among the temporary views.
  void ResolveCatalogToken(TBRNExprToken* node, TBRNExprTokenKind kind, TBRNUser* user,
                           TBRNConfigObject* ownerTable, const std::string& contextSchema,
                           const std::string& contextTable);
  bool TableHasColumn(const TBRNExprToken* tableNode, const TBRNExprToken* columnNode,
                      TBRNUser* user);
  // Frees the derived table of a derived table reference whose subquery is
  // the one the table reads (a copy of the tree frees nothing). A schema or
  // table that cannot be found is left alone; any other error passes on
  // (the statement's own release frees its tables whatever happens here).
  void ReleaseToken(TBRNExprToken* node, TBRNUser* user);
  // Frees derived table tableID among the temporary views of schema
  // schemaID, as the statement that compiled it frees its tree; nothing when
  // either is gone or the catalog is being freed. Never raises.
  void ReleaseDerivedTable(int32_t schemaID, int32_t tableID) noexcept;
  // Whether the column a column reference names has a text index (through
  // an updateable view to its base column; other views: false).
  bool IsTextIndexed(const TBRNExprToken* node, TBRNUser* user, TBRNConfigObject* ownerTable,
                     const std::string& contextSchema, const std::string& contextTable);
  // Replaces the "*" select item at position of query's select list by one
  // item per visible column of tableRef (every FROM table when nullptr),
  // advancing position; each new column reference is resolved through
  // expr. starItem is freed, also on error.
  void ExpandWildcard(TBRNExprToken* query, int32_t& position, TBRNExprToken* tableRef,
                      TBRNExprToken* starItem, TBRNCompiledExpr& expr, TBRNUser* user);
  // Appends one resolved column reference per visible column of tableRef.
  void AddTableColumns(TBRNExprToken* tableRef, TBRNExprToken* list, TBRNCompiledExpr& expr,
                       TBRNUser* user);

  // ---- Query analysis and result tables (query_analysis.cpp) ----
  // Every question answers false (or nullptr) for a query it cannot serve.
  //
  // The one table or view the query reads (first FROM item; with
  // followViews through updateable views to their source); nullptr
  // without FROM.
  TBRNVirtualTable* GetSingleSourceTable(const TBRNExprToken* query, bool followViews);
  // May the result be a live cursor on one table, and in the order of which
  // of its indexes (indexPosition; -1 when false).
  bool CanBeSensitive(const TBRNExprToken* query, int32_t& indexPosition);
  static bool HasNoFrom(const TBRNExprToken* query);
  static bool HasInto(const TBRNExprToken* query);
  static bool HasGroupBy(const TBRNExprToken* query);
  static bool HasOrderBy(const TBRNExprToken* query);
  static bool HasRange(const TBRNExprToken* query);
  static bool HasFollowingSetOperation(const TBRNExprToken* query);
  static bool IsSetOperationMember(const TBRNExprToken* query);
  static bool NeedsDistinctResult(const TBRNExprToken* query);
  static bool SelectsOnlyAggregates(const TBRNExprToken* query);
  bool CanUseIndexForAggregate(const TBRNExprToken* query);
  // Numbers the computed select items of an updateable view after its base
  // table's columns (count: the next number).
  void AssignViewSourcePositions(TBRNView* view, int32_t& count);
  // The columns ("__RowID" first, one per select item) and the Internal
  // indexes "__GroupBy", "__Distinct", "__OrderBy" of a query's result
  // table, which the caller has emptied.
  void DefineResultTable(const TBRNExprToken* query, TBRNVirtualTable* table, bool ensureKey,
                         bool withOrigins);
  // The columns of an updateable view from its one source table.
  void DefineViewColumns(const TBRNExprToken* query, TBRNVirtualTable* table);
  // The table listing the updates of an update file.
  void DefinePublishedUpdatesTable(TBRNVirtualTable* table);

  // TBRNConfigRoot.
  int64_t GetFormatVersion() const override { return FormatVersion; }
  bool GetRootModified() const override { return Modified; }
  void SetRootModified(bool value) override { Modified = value; }
  int32_t NextObjectID() override { return NextID(); }

  // TBRNContainerCatalog.
  void CollectTransactionTables(std::vector<TBRNPrivilegedConfigObject*>& tables) override;
  void CollectAuthorizationHolders(std::vector<TBRNConfigObjects*>& holders) override;
  int64_t GetCatalogMemorySize() const override;
  int32_t GetCatalogObjectCount() const override;

  // TBRNAuthorizationRoot: answered by the configuration (nullptr without).
  TBRNUsers* GetUsers() override;
  TBRNRoles* GetRoles() override;
  TBRNAuthorizations* GetAuthorizations() override;
  TBRNUser* GetSystemUser() override;
  TBRNRole* GetAdministratorsRole() override;
  TBRNRole* GetPublicRole() override;
  void RebuildAuthorizations() override;

  // Overrides of the object bases.
  int64_t GetVersion() const override;
  bool GetModified() const override;
  void SetModified(bool value) override;
  void SetTransient(bool value) override;
  void SetTemporary(bool value) override;
  bool HasName() const override;
  std::string GetObjectTypeName() const override;
  int64_t GetMemorySize() const override;
  int32_t GetObjectCount() const override;
  void ResetAllLinks() override;
  void Assign(const TBRNConfigObject* source, bool copyState) override;
  bool IsEqual(const TBRNConfigObject* other, bool compareIDs) const override;
  void SaveToStream(TBRNMemoryStream& stream, bool structureOnly) override;
  void LoadFromStream(TBRNMemoryStream& stream) override;
  void Validate() override;
  int32_t GetLockOffset(uint8_t lockType) const override;
  int32_t GetLockLength(uint8_t lockType) const override;

 private:
  int32_t nextLockNumber(const std::vector<const TBRNConfigObjects*>& lists) const;
  // Information and Default at positions 0 and 1 after a load or copy.
  void bindBuiltInSchemas();
  void loadBody(TBRNMemoryStream& stream);
  // A new derived table for the FROM subquery node, among the temporary
  // views of its schema (name_binding.cpp).
  void createDerivedTable(TBRNExprToken* node, TBRNUser* user);
  // Tells OnDerivedTableRelease; unless the handler took charge of the
  // table, takes it out of the schema's temporary views and frees it.
  void releaseDerivedTable(TBRNSchema* schema, TBRNPrivilegedConfigObject* table) noexcept;
  // Set while the catalog is freed: releasing trees then leaves the
  // derived tables to their schemas.
  bool closing_ = false;
  // Query analysis helpers (query_analysis.cpp).
  bool indexMatchesList(const TBRNExprToken* query, TBRNColumns* columns, TBRNIndex* index,
                        const TBRNExprToken* list);
  void addSourceKeyOrder(const TBRNExprToken* query, TBRNColumns* columns, TBRNIndex* index,
                         const TBRNExprToken* selectList);
};

}  // namespace brn
