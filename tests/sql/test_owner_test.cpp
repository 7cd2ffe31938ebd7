// The shared test owner answers name questions from its catalog the way the
// later parse, validate and evaluate tests rely on.

#include "sql/test_owner.h"

#include <gtest/gtest.h>

#include "foundation/test_support.h"

namespace brn::testing {
namespace {

TBRNExprToken* tableReference(std::string schema, std::string name) {
  auto* n = new TBRNExprToken;
  n->Kind = tkTableReference;
  n->SchemaName = std::move(schema);
  n->Name = std::move(name);
  return n;
}

TEST(TestOwnerTest, ResolvesTablesColumnsAndRoutinesFromItsCatalog) {
  TestOwner owner;
  TBRNExprToken* sales = tableReference("Sales", "orders");
  owner.ResolveToken(sales, tkTableReference);
  EXPECT_EQ(sales->ObjectID, 3);

  TBRNExprToken column;
  column.Kind = tkColumnReference;
  column.Name = "region";
  column.Link = sales;
  EXPECT_TRUE(owner.TableHasColumn(sales, &column));
  owner.ResolveToken(&column, tkColumnReference);
  EXPECT_EQ(column.Index, 1);
  EXPECT_EQ(column.DataType, dtChar);
  EXPECT_EQ(column.Size, 10);

  column.Name = "Amount";
  EXPECT_FALSE(owner.TableHasColumn(sales, &column));
  EBRNException error = CaughtError([&] { owner.ResolveToken(&column, tkColumnReference); });
  EXPECT_EQ(error.ErrorCode, 700);

  const TBRNExprToken* percent = owner.GetFunctionParam("DISCOUNT", 1);
  ASSERT_NE(percent, nullptr);
  EXPECT_EQ(percent->Name, "Percent");
  EXPECT_EQ(percent->DataType, dtInteger);
  EXPECT_EQ(owner.GetFunctionParam("Discount", 2), nullptr);
  EXPECT_EQ(owner.GetFunctionParam("Archive", 0), nullptr);  // a procedure
  ASSERT_NE(owner.GetProcedureParam("Archive", 1), nullptr);
  EXPECT_EQ(owner.GetProcedureParam("Archive", 1)->DataType, dtBoolean);
  FreeExprTree(sales);
}

TEST(TestOwnerTest, ExpandsWildcardsAndAddsTableColumns) {
  TestOwner owner;
  // SELECT *, Extra FROM Customers, Sales.Orders
  auto* query = new TBRNExprToken;
  query->Kind = tkQuery;
  query->SetArgumentCount(12);
  auto* selectList = new TBRNExprToken;
  auto* wildcard = new TBRNExprToken;
  wildcard->Kind = tkSelectItem;
  auto* extra = new TBRNExprToken;
  extra->Kind = tkSelectItem;
  selectList->AddArgument(wildcard);
  selectList->AddArgument(extra);
  query->SetArgument(2, selectList);
  auto* fromList = new TBRNExprToken;
  fromList->AddArgument(tableReference("", "Customers"));
  fromList->AddArgument(tableReference("Sales", "Orders"));
  query->SetArgument(6, fromList);

  int32_t position = 0;
  owner.ExpandWildcard(query, nullptr, position, wildcard);
  EXPECT_EQ(position, 5);
  ASSERT_EQ(selectList->ArgumentCount(), 6);
  EXPECT_EQ(selectList->Argument(5), extra);
  const TBRNExprToken* region = selectList->Argument(4)->Argument(0);
  EXPECT_EQ(region->Name, "Region");
  EXPECT_EQ(region->Link, fromList->Argument(1));
  EXPECT_EQ(region->Index, 1);

  auto* columns = new TBRNExprToken;
  owner.AddTableColumns(fromList->Argument(0), columns);
  ASSERT_EQ(columns->ArgumentCount(), 3);
  EXPECT_EQ(columns->Argument(2)->Name, "City");
  FreeExprTree(columns);
  FreeExprTree(query);
}

TEST(TestOwnerTest, AContextTableAnswersUnqualifiedNames) {
  TestOwner owner;
  owner.ContextTable = "Customers";
  std::string name;
  owner.GetContextTableName(nullptr, name);
  EXPECT_EQ(name, "Customers");
  owner.GetContextSchemaName(nullptr, name);
  EXPECT_EQ(name, "Default");
  TBRNExprToken column;
  column.Kind = tkColumnReference;
  column.Name = "Name";
  EXPECT_TRUE(owner.IsTextIndexed(&column));
  column.Name = "City";
  EXPECT_FALSE(owner.IsTextIndexed(&column));
}

}  // namespace
}  // namespace brn::testing
