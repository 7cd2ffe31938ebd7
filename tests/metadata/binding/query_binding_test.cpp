// Name binding of compiled queries against a catalog (temporary tables
// before stored ones, "*", derived tables, collations) and the analyses and
// result tables built on the bound trees.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "metadata/binding/query_analysis.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/views.h"
#include "metadata/config/users_roles.h"
#include "metadata/core/type_lists.h"
#include "metadata/table_test_support.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {
namespace {

using testing::AddColumn;
using testing::CaughtError;
using testing::TableFixture;

struct ColumnSpec {
  const char* Name;
  TBRNDataTypeCode Type;
  int32_t Length;
};

struct QueryBinding : ::testing::Test, TableFixture {
  // Query texts count as stored ones without being members of a schema.
  TBRNReferenceList<TBRNCatalogObjects> Stored{Catalog.get()};
  TBRNBaseTable* Orders = nullptr;
  TBRNBaseTable* Customers = nullptr;

  QueryBinding() {
    auto collation = std::make_unique<TBRNCollation>(&Config);
    collation->Name = "ANSI";
    collation->SetID(1033);
    Config.Collations->AddObject(collation.get());
    collation.release();

    Orders = AddBaseTable(
        "Orders", {{"ID", dtInteger, 0}, {"Customer", dtChar, 30}, {"Amount", dtInteger, 0}});
    AddIndex(*Orders, "__PrimaryKey", kIndexPrimaryKey, {{"ID", false}});
    AddIndex(*Orders, "ByCustomer", kIndexOrdinary, {{"Customer", true}});
    AddPrimaryKeyConstraint(*Orders, "ID");
    Customers = AddBaseTable("Customers", {{"ID", dtInteger, 0}, {"Name", dtChar, 40}});
  }

  TBRNBaseTable* AddBaseTable(const std::string& name, const std::vector<ColumnSpec>& columns) {
    auto table = std::make_unique<TBRNBaseTable>(Catalog.get());
    table->Name = name;
    table->AddRowIDColumn();
    for (const ColumnSpec& column : columns)
      AddColumn(*table->Columns, column.Name, column.Type, column.Length);
    Catalog->DefaultSchema->BaseTables->AddObject(table.get());
    return table.release();
  }

  static TBRNIndex* AddIndex(TBRNBaseTable& table, const std::string& name, int32_t type,
                             const std::vector<std::pair<std::string, bool>>& columns) {
    std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table.Indexes->NewItem()));
    index->Name = name;
    index->SetIndexType(type);
    table.Indexes->AddObject(index.get());
    TBRNIndex* added = index.release();
    for (const auto& [columnName, descending] : columns) {
      std::unique_ptr<TBRNIndexColumn> entry(
          static_cast<TBRNIndexColumn*>(added->Columns->NewItem()));
      entry->SetColumn(static_cast<TBRNColumn*>(table.Columns->FindByName(columnName, true)));
      entry->SetDescending(descending);
      added->Columns->AddObject(entry.get());
      entry.release();
    }
    return added;
  }

  static void AddPrimaryKeyConstraint(TBRNBaseTable& table, const std::string& columnName) {
    std::unique_ptr<TBRNConstraint> key(static_cast<TBRNConstraint*>(table.Constraints->NewItem()));
    key->Name = "PK";
    key->SetConstraintType(kConstraintPrimaryKey);
    std::unique_ptr<TBRNConstraintColumn> entry(
        static_cast<TBRNConstraintColumn*>(key->Columns->NewItem()));
    entry->SetColumn(static_cast<TBRNColumn*>(table.Columns->FindByName(columnName, true)));
    key->Columns->AddObject(entry.get());
    entry.release();
    table.Constraints->AddObject(key.get());
    key.release();
  }

  std::unique_ptr<TBRNCatalogQuery> Compile(const std::string& text) {
    auto query = std::make_unique<TBRNCatalogQuery>(&Stored);
    query->SetCatalog(Catalog.get());
    query->SetText(text);
    query->Compile();
    return query;
  }

  // "alias=qualifier.name" of each select item (hidden ones marked "~").
  static std::vector<std::string> SelectItems(const TBRNExprToken* query) {
    std::vector<std::string> items;
    for (const TBRNExprToken* item : query->Argument(qpSelectList)->Arguments()) {
      const TBRNExprToken* expression = item->Argument(0);
      std::string text = (item->Hidden ? "~" : "") + item->Alias + "=";
      if (expression->Kind == tkColumnReference)
        text += expression->SchemaName + "." + expression->Name;
      items.push_back(text);
    }
    return items;
  }

  static std::vector<std::string> ColumnNames(const TBRNVirtualTable& table) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < table.Columns->Count(); ++i) {
      const TBRNColumn* column = table.Columns->GetItem(i);
      names.push_back((column->Internal ? "~" : "") + column->Name);
    }
    return names;
  }

  // "name(column positions, DESC marked -)" of each index.
  static std::vector<std::string> IndexShapes(const TBRNVirtualTable& table) {
    std::vector<std::string> shapes;
    for (int32_t i = 0; i < table.Indexes->Count(); ++i) {
      const TBRNIndex* index = table.Indexes->GetItem(i);
      std::string text = index->Name + "(";
      for (int32_t c = 0; c < index->Columns->Count(); ++c) {
        const TBRNIndexColumn* column = index->Columns->GetItem(c);
        if (c > 0) text += ",";
        if (column->Descending) text += "-";
        for (int32_t k = 0; k < table.Columns->Count(); ++k)
          if (table.Columns->GetItem(k)->ID == column->ColumnID)
            text += table.Columns->GetItem(k)->Name;
      }
      shapes.push_back(text + ")");
      EXPECT_TRUE(index->Internal) << index->Name;
      EXPECT_EQ(index->IndexType, kIndexOrdinary) << index->Name;
    }
    return shapes;
  }

  std::unique_ptr<TBRNBaseTable> ResultOf(const TBRNExprToken* query, bool withOrigins = false) {
    auto table = std::make_unique<TBRNBaseTable>(Catalog.get());
    table->Name = "Result";
    Catalog->DefineResultTable(query, table.get(), false, withOrigins);
    return table;
  }
};

// ---------------------------------------------------------------------------
// Binding

TEST_F(QueryBinding, TemporaryTableHidesTheBaseTableOfTheSameName) {
  auto temporary = std::make_unique<TBRNBaseTable>(Catalog.get());
  temporary->Name = "Scratch";
  temporary->AddRowIDColumn();
  AddColumn(*temporary->Columns, "ID", dtInteger);
  AddColumn(*temporary->Columns, "Note", dtChar, 10);
  Catalog->DefaultSchema->TemporaryTables->AddObject(temporary.get());
  TBRNBaseTable* scratch = temporary.release();
  // As a catalog that another session's CREATE TABLE reloaded holds it.
  scratch->Name = "Orders";

  auto query = Compile("SELECT Note, Orders.ID FROM Orders");
  const TBRNExprToken* note = query->Root->Argument(qpSelectList)->Argument(0)->Argument(0);
  EXPECT_EQ(note->Index, 2);
  EXPECT_EQ(note->DataType, dtChar);
  EXPECT_EQ(note->Size, 10);
  const EBRNException error = CaughtError([&] { Compile("SELECT Amount FROM Orders"); });
  EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode);

  TBRNSchema* schema = Catalog->DefaultSchema;
  EXPECT_EQ(Catalog->FindTableOrView(schema, "orders", nullptr, true, true), scratch);
  EXPECT_EQ(Catalog->FindTable(schema, "orders", nullptr, true, true), scratch);
  EXPECT_EQ(Catalog->FindTableOrView(schema, "orders", nullptr, true), Orders);
  EXPECT_EQ(Catalog->FindTable(schema, "orders", nullptr, true), Orders);
  EXPECT_EQ(Catalog->FindTable(schema, "Nowhere", nullptr, false, true), nullptr);
  EXPECT_EQ(
      CaughtError([&] { Catalog->FindTableOrView(schema, "Nowhere", nullptr, true); }).ErrorCode,
      401);
}

TEST_F(QueryBinding, StarExpandsToTheQualifiedVisibleColumnsInFromOrder) {
  struct Case {
    const char* Text;
    std::vector<std::string> Items;
  };
  const Case cases[] = {
      {"SELECT * FROM Orders, Customers",
       {"ID=Orders.ID", "Customer=Orders.Customer", "Amount=Orders.Amount", "ID1=Customers.ID",
        "Name=Customers.Name"}},
      {"SELECT C.*, O.Amount FROM Orders O, Customers C",
       {"ID=C.ID", "Name=C.Name", "Amount=O.Amount"}},
      {"SELECT Amount, * FROM Customers, Orders WHERE Orders.ID = 1",
       {"Amount=.Amount", "ID=Customers.ID", "Name=Customers.Name", "ID1=Orders.ID",
        "Customer=Orders.Customer", "Amount1=Orders.Amount"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    auto query = Compile(c.Text);
    EXPECT_EQ(SelectItems(query->Root), c.Items);
    // Each expanded reference is bound to its FROM item and typed.
    const TBRNExprToken* list = query->Root->Argument(qpSelectList);
    for (const TBRNExprToken* item : list->Arguments()) {
      const TBRNExprToken* column = item->Argument(0);
      ASSERT_NE(column->Link, nullptr);
      EXPECT_EQ(column->Link->Kind, tkTableReference);
      EXPECT_GT(column->Index, 0);
      EXPECT_NE(column->DataType, dtNull);
    }
  }
}

TEST_F(QueryBinding, DerivedTableBearsAGeneratedNameAndKeepsItsAlias) {
  std::vector<TBRNPrivilegedConfigObject*> created;
  Catalog->OnDerivedTableCreate = [&](TBRNPrivilegedConfigObject* table) {
    created.push_back(table);
  };
  TBRNTemporaryViews* derived = Catalog->DefaultSchema->TemporaryViews.get();
  {
    auto query = Compile(
        "SELECT T.Total, Amount FROM (SELECT ID, Amount, Amount * 2 AS Total "
        "FROM Orders) T WHERE T.ID > 1");
    ASSERT_EQ(derived->Count(), 1);
    ASSERT_EQ(created.size(), 1u);
    TBRNView* table = derived->GetView(0);
    EXPECT_EQ(created[0], table);
    EXPECT_TRUE(table->Transient);
    EXPECT_EQ(table->LoadedName, "T");
    EXPECT_NE(table->Name, "T");
    EXPECT_EQ(table->GetObjectTypeName(), "derived table");
    EXPECT_EQ(ColumnNames(*table), (std::vector<std::string>{"~__RowID", "ID", "Amount", "Total"}));
    EXPECT_EQ(table->Columns->GetItem(1)->GetParentName(), "T");

    const TBRNExprToken* from = query->Root->Argument(qpFrom)->Argument(0);
    EXPECT_EQ(from->Name, table->Name);
    EXPECT_EQ(from->ObjectID, table->ID);
    const TBRNExprToken* total = query->Root->Argument(qpSelectList)->Argument(0)->Argument(0);
    EXPECT_EQ(total->Link, from);
    EXPECT_EQ(total->DataType, dtInteger);

    // A copy of the tree does not take the derived table with it.
    {
      TBRNCatalogQuery copy(&Stored);
      copy.SetCatalog(Catalog.get());
      copy.Assign(query.get(), true);
    }
    EXPECT_EQ(derived->Count(), 1);
  }
  // Freeing the tree frees the derived table that reads its subquery.
  EXPECT_EQ(derived->Count(), 0);

  // Nested derived tables, "*" over one, and a failed compile.
  {
    auto query = Compile("SELECT * FROM (SELECT * FROM (SELECT ID, Amount FROM Orders) A) B");
    EXPECT_EQ(SelectItems(query->Root), (std::vector<std::string>{"ID=B.ID", "Amount=B.Amount"}));
    ASSERT_EQ(derived->Count(), 2);
    EXPECT_EQ(derived->GetView(0)->LoadedName, "A");
    EXPECT_EQ(derived->GetView(1)->LoadedName, "B");
  }
  EXPECT_EQ(derived->Count(), 0);
  EXPECT_EQ(CaughtError([&] { Compile("SELECT T.Nope FROM (SELECT ID FROM Orders) T"); }).ErrorCode,
            kSQLTextErrorCode);
  EXPECT_EQ(derived->Count(), 0);

  // The generated name steers clear of the tables and views of the schema.
  AddBaseTable("T1", {{"ID", dtInteger, 0}});
  {
    auto query = Compile("SELECT T.ID FROM (SELECT ID FROM Orders) T");
    ASSERT_EQ(derived->Count(), 1);
    EXPECT_EQ(derived->GetView(0)->Name, "T2");
  }

  // A handler hears of the table before it goes.
  std::vector<std::string> released;
  Catalog->OnDerivedTableRelease = [&](TBRNPrivilegedConfigObject* table) {
    released.push_back(table->LoadedName);
  };
  {
    auto query = Compile("SELECT X.ID FROM (SELECT ID FROM Orders) X");
    ASSERT_EQ(derived->Count(), 1);
  }
  EXPECT_EQ(released, std::vector<std::string>{"X"});
  EXPECT_EQ(derived->Count(), 0);
}

// The statement that compiled a derived table frees it with its tree, even
// when the tree's own release cannot find the table any more: a table left
// behind would read the freed tree.
TEST_F(QueryBinding, FreeingTheTreeFreesItsDerivedTablesWhateverChangedSinceTheCompile) {
  auto stranger = std::make_unique<TBRNUser>(&Config);
  stranger->Name = "Stranger";
  TableFixture other;
  struct Case {
    const char* Name;
    std::function<void(TBRNCatalogQuery&)> Change;
    std::function<void(TBRNCatalogQuery&)> Free;
  };
  const Case cases[] = {
      {"destroyed", [](TBRNCatalogQuery&) {}, nullptr},
      {"uncompiled", [](TBRNCatalogQuery&) {}, [](TBRNCatalogQuery& q) { q.Uncompile(); }},
      {"no current catalog", [](TBRNCatalogQuery& q) { q.CurrentCatalog = nullptr; }, nullptr},
      {"another current catalog",
       [&](TBRNCatalogQuery& q) { q.CurrentCatalog = other.Catalog.get(); }, nullptr},
      {"another user", [&](TBRNCatalogQuery& q) { q.User = stranger.get(); }, nullptr},
      {"renamed reference",
       [](TBRNCatalogQuery& q) { q.Root->Argument(qpFrom)->Argument(0)->Name = "Elsewhere"; },
       [](TBRNCatalogQuery& q) { q.ClearRoot(); }},
  };
  TBRNTemporaryViews* derived = Catalog->DefaultSchema->TemporaryViews.get();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto query = Compile("SELECT D.ID FROM (SELECT ID FROM (SELECT ID FROM Orders) I) D");
    ASSERT_EQ(derived->Count(), 2);
    c.Change(*query);
    if (c.Free) {
      c.Free(*query);
    } else {
      query.reset();
    }
    EXPECT_EQ(derived->Count(), 0);
    // A table left behind would read the freed tree here (the sanitizer
    // reports it).
    for (int32_t i = 0; i < derived->Count(); ++i)
      EXPECT_NE(derived->GetView(i)->Definition->Root->Kind, tkNone);
  }
}

// The release handler decides what becomes of a derived table whose
// statement goes: a cleared reference means the handler freed it or keeps
// it (having taken its query out of the statement's tree); a reference left
// set is freed by the catalog.
TEST_F(QueryBinding, TheReleaseHandlerFreesOrKeepsTheDerivedTable) {
  enum class Handling { Keep, FreeItself, Leave };
  struct Case {
    const char* Name;
    Handling How;
    int32_t Left;
  };
  const Case cases[] = {
      {"kept with the query it took", Handling::Keep, 1},
      {"freed by the handler", Handling::FreeItself, 0},
      {"left to the catalog", Handling::Leave, 0},
  };
  TBRNTemporaryViews* derived = Catalog->DefaultSchema->TemporaryViews.get();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<TBRNExprToken, void (*)(TBRNExprToken*)> taken(
        nullptr, [](TBRNExprToken* root) { FreeExprTree(root); });
    Catalog->OnDerivedTableRelease = [&](TBRNPrivilegedConfigObject*& table) {
      auto* view = static_cast<TBRNView*>(table);
      if (c.How == Handling::Keep) {
        TBRNExprToken* query = view->Definition->Root;
        query->Parent->SetArgument(0, nullptr);
        query->Parent = nullptr;
        taken.reset(query);
        table = nullptr;
      } else if (c.How == Handling::FreeItself) {
        delete derived->RemoveObject(view->Index);
        table = nullptr;
      }
    };
    {
      auto query = Compile("SELECT K.ID FROM (SELECT ID, Amount FROM Orders WHERE ID > 2) K");
      ASSERT_EQ(derived->Count(), 1);
    }
    ASSERT_EQ(derived->Count(), c.Left);
    if (c.Left == 1) {
      // The kept table reads the query it took; the rest of the tree is gone.
      TBRNView* kept = derived->GetView(0);
      ASSERT_EQ(kept->Definition->Root, taken.get());
      EXPECT_EQ(kept->Definition->Root->Kind, tkQuery);
      EXPECT_EQ(ColumnNames(*kept), (std::vector<std::string>{"~__RowID", "ID", "Amount"}));
      kept->Definition->ClearRoot();
      delete derived->RemoveObject(kept->Index);
    }
  }
  Catalog->OnDerivedTableRelease = nullptr;
}

TEST_F(QueryBinding, CollationSuffixesSetTheFlagBits) {
  struct Case {
    const char* Name;
    int32_t Collation;
  };
  const Case cases[] = {
      {"ANSI", 1033},
      {"ANSI_CI", 1033 | (1 << 20)},
      {"ANSI_AI_KI", 1033 | (1 << 21) | (1 << 22)},
      {"ansi_ci_ai_ki_wi", 1033 | (0xF << 20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto query = Compile(std::string("SELECT ID FROM Orders ORDER BY Customer COLLATE ") + c.Name);
    const TBRNExprToken* item = query->Root->Argument(qpOrderBy)->Argument(0);
    EXPECT_EQ(item->Argument(1)->Argument(0)->Collation, c.Collation);
  }
  EXPECT_EQ(CaughtError([&] {
              Compile("SELECT ID FROM Orders ORDER BY Customer COLLATE Nope");
            }).ErrorCode,
            kSQLTextErrorCode);
}

TEST_F(QueryBinding, UpdateableViewsBindToTheirBaseColumns) {
  auto stored = std::make_unique<TBRNView>(Catalog.get());
  stored->Name = "Doubled";
  stored->Definition->SetText("SELECT Amount * 2 AS Twice, ID AS Key FROM Orders");
  Catalog->DefaultSchema->Views->AddObject(stored.get());
  TBRNView* view = stored.release();
  view->Compile();
  ASSERT_TRUE(view->Updateable);
  // Computed items are numbered after the base table's four columns.
  EXPECT_EQ(view->Columns->GetItem(1)->SourcePosition, 4);

  auto query = Compile("SELECT Twice, Key FROM Doubled ORDER BY Key");
  const TBRNExprToken* list = query->Root->Argument(qpSelectList);
  EXPECT_EQ(list->Argument(0)->Argument(0)->Index, 4);
  EXPECT_EQ(list->Argument(1)->Argument(0)->Index, 1);  // Orders.ID
  EXPECT_EQ(Catalog->GetSingleSourceTable(query->Root, false), view);
  EXPECT_EQ(Catalog->GetSingleSourceTable(query->Root, true), Orders);
  // So is a derived table that reads one table live.
  auto derived = Compile("SELECT Customer FROM (SELECT ID, Customer FROM Orders) T");
  const TBRNExprToken* customer = derived->Root->Argument(qpSelectList)->Argument(0)->Argument(0);
  EXPECT_EQ(customer->Index, 2);  // Orders.Customer
  EXPECT_EQ(Catalog->GetSingleSourceTable(derived->Root, true), Orders);
  EXPECT_EQ(view->Columns->GetItem(2)->ResolveOrigin(), Orders->Columns->GetItem(1));
  EXPECT_TRUE(view->Columns->GetItem(2)->InPrimaryKey);
}

TEST_F(QueryBinding, TextSearchNeedsATextIndexOnTheColumn) {
  const char* text = "SELECT ID FROM Orders WHERE Customer CONTAINS 'Smith'";
  EXPECT_EQ(CaughtError([&] { Compile(text); }).ErrorCode, kSQLTextErrorCode);
  AddIndex(*Orders, "CustomerWords", kIndexText, {{"Customer", false}});
  EXPECT_NO_THROW(Compile(text));
  // Through an updateable view the base column's index counts.
  auto stored = std::make_unique<TBRNView>(Catalog.get());
  stored->Name = "Buyers";
  stored->Definition->SetText("SELECT ID, Customer AS Who FROM Orders");
  Catalog->DefaultSchema->Views->AddObject(stored.get());
  stored.release()->Compile();
  EXPECT_NO_THROW(Compile("SELECT ID FROM Buyers WHERE Who CONTAINS 'Smith'"));
  EXPECT_EQ(CaughtError([&] {
              Compile("SELECT ID FROM Customers WHERE Name CONTAINS 'Smith'");
            }).ErrorCode,
            kSQLTextErrorCode);
}

TEST_F(QueryBinding, InsertWithoutColumnListTakesTheVisibleColumns) {
  TBRNCatalogStatement statement(&Stored);
  statement.SetCatalog(Catalog.get());
  statement.SetText("INSERT INTO Orders VALUES (7, 'Smith', 12)");
  statement.Compile();
  const TBRNExprToken* target = statement.Root->Argument(0);
  std::vector<std::string> columns;
  for (const TBRNExprToken* column : target->Argument(qpSelectList)->Arguments()) {
    columns.push_back(column->Name + "@" + std::to_string(column->Index));
    EXPECT_EQ(column->Link, target->Argument(qpFrom)->Argument(0));
  }
  EXPECT_EQ(columns, (std::vector<std::string>{"ID@1", "Customer@2", "Amount@3"}));
  EXPECT_EQ(CaughtError([&] {
              TBRNCatalogStatement wrong(&Stored);
              wrong.SetCatalog(Catalog.get());
              wrong.SetText("INSERT INTO Orders VALUES (7, 'Smith')");
              wrong.Compile();
            }).ErrorCode,
            kSQLTextErrorCode);
}

// ---------------------------------------------------------------------------
// Analyses

TEST_F(QueryBinding, SensitiveQueriesAndTheirIndexOrder) {
  struct Case {
    const char* Text;
    bool Sensitive;
    int32_t Index;
  };
  const Case cases[] = {
      {"SELECT ID, Amount FROM Orders WHERE Amount > 10", true, 0},
      {"SELECT ID FROM Orders ORDER BY Customer DESC", true, 1},
      {"SELECT Customer AS Who FROM Orders ORDER BY Who DESC", true, 1},
      {"SELECT ID FROM Orders ORDER BY ID", true, 0},
      {"SELECT ID FROM Orders ORDER BY Customer", false, -1},
      {"SELECT ID FROM Orders ORDER BY Customer COLLATE ANSI_CI DESC", false, -1},
      {"SELECT ID FROM Orders ORDER BY Amount + 1", false, -1},
      {"SELECT DISTINCT ID FROM Orders", true, 0},
      {"SELECT DISTINCT Customer FROM Orders", false, -1},
      {"SELECT DISTINCT ID, Amount FROM Orders", false, -1},
      {"SELECT Customer FROM Orders GROUP BY Customer", false, -1},
      {"SELECT COUNT(*) FROM Orders", false, -1},
      {"SELECT ID FROM Orders UNION SELECT ID FROM Orders", false, -1},
      {"SELECT O.ID FROM Orders O, Customers C WHERE O.ID = C.ID", false, -1},
      {"SELECT ID FROM Customers", true, 0},
      {"SELECT 1 AS One", false, -1},
      {"SELECT DISTINCT ID FROM Orders ORDER BY ID", true, 0},
      {"SELECT O.ID FROM Orders O JOIN Customers C ON O.ID = C.ID", false, -1},
      {"SELECT ID FROM Orders WHERE ID IN (SELECT ID FROM Customers)", true, 0},
      {"SELECT ID FROM Orders WHERE EXISTS (SELECT ID FROM Customers WHERE Customers.ID = "
       "Orders.ID)",
       false, -1},
      // A derived table over one table is read through to that table.
      {"SELECT Customer FROM (SELECT ID, Customer FROM Orders) T ORDER BY Customer DESC", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    auto query = Compile(c.Text);
    int32_t index = 99;
    EXPECT_EQ(Catalog->CanBeSensitive(query->Root, index), c.Sensitive);
    EXPECT_EQ(index, c.Index);
  }
}

TEST_F(QueryBinding, QueryQuestions) {
  struct Case {
    const char* Text;
    bool Distinct, Group, Order, Range, Member, Following, NoFrom, OnlyAggregates;
  };
  const Case cases[] = {
      {"SELECT ID FROM Orders", false, false, false, false, false, false, false, false},
      {"SELECT DISTINCT ID FROM Orders ORDER BY ID", true, false, true, false, false, false, false,
       false},
      {"SELECT Customer, COUNT(*) FROM Orders GROUP BY Customer", false, true, false, false, false,
       false, false, false},
      {"SELECT COUNT(*), MAX(Amount) FROM Orders", false, false, false, false, false, false, false,
       true},
      {"SELECT ID FROM Orders RANGE 1 TO 5", false, false, false, true, false, false, false, false},
      {"SELECT ID FROM Orders UNION SELECT ID FROM Customers", true, false, false, false, false,
       true, false, false},
      {"SELECT ID FROM Orders UNION ALL SELECT ID FROM Customers", false, false, false, false,
       false, true, false, false},
      {"SELECT 1 AS One", false, false, false, false, false, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    auto query = Compile(c.Text);
    const TBRNExprToken* root = query->Root;
    EXPECT_EQ(TBRNCatalog::NeedsDistinctResult(root), c.Distinct);
    EXPECT_EQ(TBRNCatalog::HasGroupBy(root), c.Group);
    EXPECT_EQ(TBRNCatalog::HasOrderBy(root), c.Order);
    EXPECT_EQ(TBRNCatalog::HasRange(root), c.Range);
    EXPECT_EQ(TBRNCatalog::IsSetOperationMember(root), c.Member);
    EXPECT_EQ(TBRNCatalog::HasFollowingSetOperation(root), c.Following);
    EXPECT_EQ(TBRNCatalog::HasNoFrom(root), c.NoFrom);
    EXPECT_EQ(TBRNCatalog::SelectsOnlyAggregates(root), c.OnlyAggregates);
    EXPECT_FALSE(TBRNCatalog::HasInto(root));
    // The second member of a set operation is one.
    if (const TBRNExprToken* next = root->Argument(qpSetOperand)) {
      EXPECT_TRUE(TBRNCatalog::IsSetOperationMember(next));
    }
  }
}

TEST_F(QueryBinding, AggregatesAnsweredFromAnIndex) {
  for (auto [name, text] : {std::pair{"Large", "SELECT ID FROM Orders WHERE Amount > 10"},
                            {"Everything", "SELECT ID, Amount FROM Orders"}}) {
    auto view = std::make_unique<TBRNView>(Catalog.get());
    view->Name = name;
    view->Definition->SetText(text);
    Catalog->DefaultSchema->Views->AddObject(view.get());
    view.release()->Compile();
  }
  struct Case {
    const char* Text;
    bool FromIndex;
  };
  const Case cases[] = {
      {"SELECT COUNT(*) FROM Orders", true},
      {"SELECT MIN(ID) FROM Orders", true},
      {"SELECT MAX(Customer) FROM Orders", true},  // in either direction
      {"SELECT MAX(Amount) FROM Orders", false},
      {"SELECT COUNT(Amount) FROM Orders", false},
      {"SELECT MIN(ID), MAX(ID) FROM Orders", false},
      {"SELECT MIN(O.ID) FROM Orders O, Customers C", false},
      // Only a whole table can be answered from its index.
      {"SELECT COUNT(*) FROM Orders WHERE Amount > 10", false},
      {"SELECT MIN(ID) FROM Orders WHERE Customer = 'Smith'", false},
      {"SELECT MIN(ID) FROM Orders GROUP BY Customer", false},
      {"SELECT MIN(ID) FROM Large", false},
      {"SELECT MIN(ID) FROM Everything", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    auto query = Compile(c.Text);
    EXPECT_EQ(Catalog->CanUseIndexForAggregate(query->Root), c.FromIndex);
  }
}

// ---------------------------------------------------------------------------
// Result tables

TEST_F(QueryBinding, ResultTablesHaveOneColumnPerItemAndTheirInternalIndexes) {
  struct Case {
    const char* Text;
    std::vector<std::string> Columns;
    std::vector<std::string> Indexes;
  };
  const Case cases[] = {
      {"SELECT Amount, ID FROM Orders", {"~__RowID", "Amount", "ID"}, {"__OrderBy(ID)"}},
      {"SELECT Amount FROM Orders", {"~__RowID", "Amount"}, {"__OrderBy(__RowID)"}},
      {"SELECT DISTINCT Customer, Amount FROM Orders",
       {"~__RowID", "Customer", "Amount"},
       {"__Distinct(Customer,Amount)", "__OrderBy(__RowID)"}},
      {"SELECT Customer, COUNT(*) AS N FROM Orders GROUP BY Customer ORDER BY N DESC",
       {"~__RowID", "Customer", "N"},
       {"__GroupBy(Customer)", "__OrderBy(-N)"}},
      {"SELECT ID FROM Orders ORDER BY Amount DESC, ID",
       {"~__RowID", "ID", "~Amount"},
       {"__OrderBy(-Amount,ID)"}},
      {"SELECT ID FROM Orders UNION SELECT ID FROM Customers",
       {"~__RowID", "ID"},
       {"__Distinct(ID)", "__OrderBy(ID)"}},
      {"SELECT ID FROM Orders UNION ALL SELECT ID FROM Customers",
       {"~__RowID", "ID"},
       {"__OrderBy(ID)"}},
      {"SELECT Customer FROM Orders GROUP BY Customer INTERSECT SELECT Name FROM Customers",
       {"~__RowID", "Customer"},
       {"__GroupBy(Customer)", "__Distinct(Customer)"}},
      {"SELECT ID FROM Orders EXCEPT ALL SELECT ID FROM Customers",
       {"~__RowID", "ID"},
       {"__Distinct(ID)", "__OrderBy(ID)"}},
      {"SELECT DISTINCT COUNT(*) AS N FROM Orders",
       {"~__RowID", "N"},
       {"__Distinct(N)", "__OrderBy(__RowID)"}},
      {"SELECT Amount, COUNT(*) AS N FROM Orders GROUP BY Customer, Amount ORDER BY N, Customer "
       "DESC",
       {"~__RowID", "Amount", "N", "~Customer"},
       {"__GroupBy(Customer,Amount)", "__OrderBy(N,-Customer)"}},
      {"SELECT C.Name, O.ID FROM Orders O JOIN Customers C ON O.ID = C.ID",
       {"~__RowID", "Name", "ID"},
       {"__OrderBy(ID)"}},
      // The key order of the table behind a derived table.
      {"SELECT ID FROM (SELECT ID, Customer FROM Orders) T", {"~__RowID", "ID"}, {"__OrderBy(ID)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    auto query = Compile(c.Text);
    auto table = ResultOf(query->Root);
    EXPECT_EQ(ColumnNames(*table), c.Columns);
    EXPECT_EQ(IndexShapes(*table), c.Indexes);
  }
}

TEST_F(QueryBinding, ResultColumnsTakeTheItemsTypesAndOrigins) {
  auto query =
      Compile("SELECT O.ID AS Number, Customer, Amount AS Total, Amount + 1 AS Next FROM Orders O");
  // A reference bound to no FROM item takes its own name in the first one.
  TBRNExprToken* total = query->Root->Argument(qpSelectList)->Argument(2)->Argument(0);
  total->Link = nullptr;
  auto table = ResultOf(query->Root, true);
  ASSERT_EQ(table->Columns->Count(), 5);
  struct Expected {
    const char* Name;
    TBRNDataTypeCode Type;
    int32_t Length;
    const char* Origin;
    bool InPrimaryKey;
  };
  const Expected expected[] = {
      {"Number", dtInteger, 0, "Orders.ID", true},
      {"Customer", dtChar, 30, "Orders.Customer", false},
      {"Total", dtInteger, 0, "Orders.Amount", false},
      {"Next", dtInteger, 0, "", false},
  };
  for (int32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].Name);
    TBRNColumn* column = table->Columns->GetItem(i + 1);
    EXPECT_EQ(column->Name, expected[i].Name);
    EXPECT_EQ(column->DataType, expected[i].Type);
    if (expected[i].Length != 0) {
      EXPECT_EQ(column->Length, expected[i].Length);
    }
    EXPECT_EQ(column->Origin, expected[i].Origin);
    EXPECT_EQ(column->InPrimaryKey, expected[i].InPrimaryKey);
    if (column->Origin.empty()) continue;
    EXPECT_EQ(column->ResolveOrigin(),
              Orders->Columns->FindByName(std::string(column->Origin).substr(7), false));
  }
}

TEST_F(QueryBinding, ViewColumnsComeFromTheSourceTable) {
  auto query = Compile("SELECT ID AS Key, Customer, Amount * 2 AS Twice FROM Orders");
  auto view = std::make_unique<TBRNView>(Catalog.get());
  view->Name = "Doubled";
  Catalog->DefineViewColumns(query->Root, view.get());
  EXPECT_EQ(ColumnNames(*view), (std::vector<std::string>{"~__RowID", "Key", "Customer", "Twice"}));
  EXPECT_EQ(view->Columns->GetItem(1)->Origin, "Orders.ID");
  EXPECT_TRUE(view->Columns->GetItem(1)->InPrimaryKey);
  EXPECT_EQ(view->Columns->GetItem(2)->Length, 30);
  EXPECT_EQ(view->Columns->GetItem(3)->Origin, "");
}

TEST_F(QueryBinding, PublishedUpdatesTable) {
  auto table = std::make_unique<TBRNBaseTable>(Catalog.get());
  table->Name = "Updates";
  Catalog->DefinePublishedUpdatesTable(table.get());
  EXPECT_EQ(ColumnNames(*table),
            (std::vector<std::string>{"~__RowID", "TableName", "UpdateType", "UpdateTimeStamp",
                                      "Manifest", "KeyData", "RowData"}));
  EXPECT_EQ(table->Columns->GetItem(1)->Length, 40);
  EXPECT_TRUE(table->Columns->GetItem(2)->Collation & (1 << 20));
  EXPECT_EQ(table->Columns->GetItem(3)->DataType, dtTimestamp);
  EXPECT_EQ(table->Columns->GetItem(6)->SubType, stClob);
  ASSERT_EQ(table->Indexes->Count(), 4);
  EXPECT_EQ(table->Indexes->GetItem(0)->IndexType, kIndexPrimaryKey);
  for (int32_t i = 1; i <= 3; ++i) {
    const TBRNIndex* index = table->Indexes->GetItem(i);
    EXPECT_EQ(index->Name, table->Columns->GetItem(i)->Name);
    ASSERT_EQ(index->Columns->Count(), 1);
    EXPECT_EQ(index->Columns->GetItem(0)->ColumnID, table->Columns->GetItem(i)->ID);
  }
}

}  // namespace
}  // namespace brn
