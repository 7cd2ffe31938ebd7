#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <memory>
#include <string>

#include "foundation/values/contained_value.h"
#include "sql/tree/expr.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

TBRNExprToken* node(TBRNExprTokenKind kind, std::string name = "",
                    TBRNExprOperation operation = opNone) {
  auto* n = new TBRNExprToken();
  n->Kind = kind;
  n->Name = std::move(name);
  n->Operation = operation;
  return n;
}

TBRNExprToken* constant(std::string text, TBRNDataTypeCode type) {
  TBRNExprToken* n = node(tkConstant);
  n->Text = std::move(text);
  n->SetDataType(type);
  return n;
}

TBRNExprToken* list(std::initializer_list<TBRNExprToken*> members, TBRNExprOperation op = opNone) {
  TBRNExprToken* n = node(tkList, "", op);
  for (TBRNExprToken* member : members) n->AddArgument(member);
  return n;
}

// Owns a tree for the length of a test.
struct Tree {
  explicit Tree(TBRNExprToken* root) : Root(root) {}
  ~Tree() { FreeExprTree(Root); }
  TBRNExprToken* Root;
};

TEST(ExprToken, StartsEmptyWithNoIndex) {
  TBRNExprToken n;
  EXPECT_EQ(n.Kind, tkNone);
  EXPECT_EQ(n.Operation, opNone);
  EXPECT_EQ(n.DataType, dtNull);
  EXPECT_EQ(n.Index, -1);
  EXPECT_EQ(n.IndexNumber, 0);
  EXPECT_EQ(n.ArgumentCount(), 0);
  EXPECT_EQ(n.ArgumentCapacity(), 0);
  EXPECT_EQ(n.Left(), nullptr);
  EXPECT_EQ(n.Parent, nullptr);
  EXPECT_EQ(n.Value, nullptr);
}

TEST(ExprToken, ArgumentEditsKeepPositionsAndParents) {
  Tree t(node(tkFunction));
  TBRNExprToken* f = t.Root;
  TBRNExprToken* a = node(tkColumnReference, "a");
  TBRNExprToken* b = node(tkColumnReference, "b");
  TBRNExprToken* c = node(tkColumnReference, "c");
  f->AddArgument(a);
  f->AddArgument(nullptr);
  f->AddArgument(c);
  f->InsertArgument(1, b);
  ASSERT_EQ(f->ArgumentCount(), 4);
  EXPECT_EQ(f->Argument(1), b);
  EXPECT_EQ(f->Argument(2), nullptr);
  EXPECT_EQ(b->Parent, f);
  f->InsertArgument(4, nullptr);  // at the count: appends
  EXPECT_EQ(f->ArgumentCount(), 5);
  f->DeleteArgument(0);  // not freed: the caller owns a again
  EXPECT_EQ(f->Argument(0), b);
  f->SetArgument(1, a);
  EXPECT_EQ(f->Argument(1), a);
  EXPECT_EQ(a->Parent, f);
  EXPECT_THROW(f->Argument(4), std::out_of_range);
  EXPECT_THROW(f->InsertArgument(6, nullptr), std::out_of_range);
  EXPECT_THROW(f->DeleteArgument(-1), std::out_of_range);
  EXPECT_THROW(f->SetArgumentCount(-1), std::out_of_range);
}

// The capacity is a multiple of eight that at least doubles when it grows, so
// a long argument list built one by one is copied O(n) times in all.
TEST(ExprToken, ArgumentCapacityGrowsGeometricallyInEightsAndNeverShrinks) {
  TBRNExprToken n;
  n.AddArgument(nullptr);
  EXPECT_EQ(n.ArgumentCapacity(), 8);
  int64_t withOne = n.OwnMemorySize();
  n.SetArgumentCount(8);
  EXPECT_EQ(n.ArgumentCapacity(), 8);
  EXPECT_EQ(n.OwnMemorySize(), withOne);  // capacity counts, not the count
  n.AddArgument(nullptr);
  EXPECT_EQ(n.ArgumentCapacity(), 16);
  EXPECT_EQ(n.OwnMemorySize(), withOne + 8 * int64_t(sizeof(TBRNExprToken*)));
  n.SetArgumentCount(2);
  EXPECT_EQ(n.ArgumentCapacity(), 16);
  n.SetArgumentCount(17);
  EXPECT_EQ(n.ArgumentCapacity(), 32);
  for (int32_t i = 0; i < 17; ++i) EXPECT_EQ(n.Argument(i), nullptr);
  n.SetArgumentCount(100);
  EXPECT_EQ(n.ArgumentCapacity(), 104);  // a jump past double takes the next eight
  int32_t grows = 0;
  for (int32_t capacity = n.ArgumentCapacity(); n.ArgumentCount() < 100000;) {
    n.AddArgument(nullptr);
    if (n.ArgumentCapacity() != capacity) {
      ++grows;
      capacity = n.ArgumentCapacity();
    }
  }
  EXPECT_LE(grows, 11);
}

TEST(ExprToken, MemorySizeCountsStringsChildrenAndContainedValue) {
  Tree t(node(tkOperator));
  int64_t bare = t.Root->MemorySize();
  t.Root->Name = "abcd";
  t.Root->Alias = "xy";
  EXPECT_EQ(t.Root->MemorySize(), bare + 6);
  TBRNExprToken* left = node(tkColumnReference, "c");
  t.Root->SetLeft(left);
  EXPECT_EQ(t.Root->MemorySize(), bare + 6 + left->OwnMemorySize());
  auto* value = new TBRNContainedValue();
  value->SetDataType(dtInteger);
  left->SetOwnValue(std::unique_ptr<TBRNValue>(value));
  EXPECT_EQ(left->Value, value);
  const int64_t withValue = bare + 6 + int64_t(sizeof(TBRNExprToken)) + 1 + value->GetMemorySize();
  EXPECT_EQ(t.Root->MemorySize(), withValue);
  // A value the node only views (a row's column value) is not its memory
  // and is not freed with it.
  TBRNContainedValue rowValue;
  rowValue.SetDataType(dtInteger);
  TBRNExprToken* right = node(tkColumnReference, "d");
  right->Value = &rowValue;
  t.Root->SetRight(right);
  EXPECT_EQ(t.Root->MemorySize(), withValue + right->OwnMemorySize());
  EXPECT_EQ(right->OwnMemorySize(), int64_t(sizeof(TBRNExprToken)) + 1);
  left->FreeValue();
  EXPECT_EQ(left->Value, nullptr);
  EXPECT_EQ(left->GetOwnValue(), nullptr);
}

TEST(ExprToken, DataTypeSettersNormaliseOnlyOnChange) {
  TBRNExprToken n;
  n.SetDataType(dtChar);
  n.SetSubType(stFixed);
  n.SetSize(10);
  n.Collation = 1033;
  n.SetCaseInsensitive(true);
  n.SetDataType(dtChar);  // same type: nothing changes
  EXPECT_EQ(n.SubType, stFixed);
  EXPECT_EQ(n.Size, 10);
  EXPECT_EQ(n.Collation, 1033 | (1 << 20));
  n.MakeVarying();
  EXPECT_EQ(n.SubType, stDefault);
  n.SetDataType(dtBytes);
  EXPECT_EQ(n.Collation, 0);
  n.SetDataType(dtDecimal);
  n.SetScale(2);
  EXPECT_EQ(n.Scale, 2);
  n.SetScale(9);  // out of range: kept
  EXPECT_EQ(n.Scale, 2);
  n.SetDataType(dtInteger);
  EXPECT_EQ(n.Scale, 0);
  EXPECT_EQ(n.Size, 0);
}

TEST(ExprToken, CollationFlagsAreSeparateBits) {
  TBRNExprToken n;
  n.Collation = 1031;
  n.SetAccentInsensitive(true);
  n.SetKanaInsensitive(true);
  n.SetWidthInsensitive(true);
  EXPECT_FALSE(n.IsCaseInsensitive());
  n.SetCaseInsensitive(true);
  EXPECT_TRUE(n.IsCaseInsensitive());
  EXPECT_EQ(n.Collation, 1031 | (0xF << 20));
  n.SetKanaInsensitive(false);
  EXPECT_EQ(n.Collation, 1031 | (0xB << 20));
}

TEST(ExprToken, AssignDataTypeLeavesDynamicParamVariableLengthOpen) {
  TBRNExprToken column;
  column.SetDataType(dtChar);
  column.SetSize(40);
  column.Collation = 1033;
  TBRNExprToken param;
  param.Kind = tkDynamicParam;
  param.AssignDataType(&column);
  EXPECT_EQ(param.DataType, dtChar);
  EXPECT_EQ(param.Size, 0);
  EXPECT_EQ(param.Collation, 1033);
  TBRNExprToken other;
  other.AssignDataType(&column);
  EXPECT_EQ(other.Size, 40);
  column.SetSubType(stFixed);
  param.AssignDataType(&column);
  EXPECT_EQ(param.Size, 40);
}

TEST(ExprToken, NullConstantIgnoresCase) {
  Tree a(constant("null", dtNull));
  Tree b(constant("NULL", dtChar));
  Tree c(node(tkColumnReference, "NULL"));
  c.Root->Text = "NULL";
  EXPECT_TRUE(a.Root->IsNullConstant());
  EXPECT_FALSE(b.Root->IsNullConstant());
  EXPECT_FALSE(c.Root->IsNullConstant());
}

TEST(ExprToken, AssignWithChildrenMovesThemWithoutChildrenLeavesNilSlots) {
  TBRNExprToken* parent = node(tkList);
  TBRNExprToken* source = node(tkOperator, "op", opAdd);
  parent->AddArgument(source);
  source->Line = 3;
  source->SetLeft(node(tkColumnReference, "a"));
  source->AddArgument(nullptr);
  source->AddArgument(node(tkConstant));
  Tree owner(parent);

  TBRNExprToken bare;
  bare.Assign(source, false);
  EXPECT_EQ(bare.Name, "op");
  EXPECT_EQ(bare.Line, 3);
  EXPECT_EQ(bare.Source, source);
  EXPECT_EQ(bare.Parent, parent);  // keeps the source's parent until attached
  EXPECT_EQ(bare.Left(), nullptr);
  ASSERT_EQ(bare.ArgumentCount(), 2);
  EXPECT_EQ(bare.Argument(1), nullptr);

  TBRNExprToken* taker = new TBRNExprToken();
  TBRNExprToken* left = source->Left();
  TBRNExprToken* second = source->Argument(1);
  taker->Assign(source, true);
  EXPECT_EQ(taker->Left(), left);
  EXPECT_EQ(left->Parent, taker);
  EXPECT_EQ(taker->Argument(1), second);
  EXPECT_EQ(second->Parent, taker);
  // The source gave its children away: freeing it (as the validator does)
  // must not free them a second time.
  EXPECT_EQ(source->Left(), nullptr);
  EXPECT_EQ(source->ArgumentCount(), 0);
  FreeExprTree(taker);
  EXPECT_THROW(source->Assign(source, true), std::invalid_argument);
}

// An AND node that takes over its remaining operand keeps its place.
TEST(ExprToken, TakingOverAnOperandKeepsTheNodesPlace) {
  TBRNExprToken* where = list({});
  Tree owner(where);
  TBRNExprToken* andNode = node(tkOperator, "", opAnd);
  where->AddArgument(andNode);
  TBRNExprToken* operand = node(tkOperator, "", opEqual);
  operand->SetLeft(node(tkColumnReference, "a"));
  operand->SetRight(constant("1", dtInteger));
  andNode->SetRight(operand);
  andNode->Assign(operand, true);
  FreeExprTree(operand);
  EXPECT_EQ(andNode->Parent, where);
  EXPECT_EQ(andNode->Operation, opEqual);
  EXPECT_EQ(andNode->Left()->Name, "a");
  EXPECT_EQ(andNode->Right()->Parent, andNode);
}

TEST(ExprToken, EqualsComparesNamesIgnoringCaseAndCharacterLiteralsExactly) {
  Tree a(node(tkColumnReference, "Price"));
  Tree b(node(tkColumnReference, "PRICE"));
  a.Root->SchemaName = "orders";
  b.Root->SchemaName = "ORDERS";
  EXPECT_TRUE(a.Root->Equals(b.Root, true));
  b.Root->Variant = 1;
  EXPECT_FALSE(a.Root->Equals(b.Root, true));

  struct LiteralCase {
    std::string A;
    std::string B;
    TBRNDataTypeCode Type;
    bool Equal;
  };
  const LiteralCase cases[] = {
      {"a", "A", dtChar, false},         {"abc", "abc", dtChar, true},
      {"TRUE", "true", dtBoolean, true}, {"1F", "1f", dtBytes, true},
      {"1e5", "1E5", dtFloat, true},     {"NULL", "null", dtNull, true},
      {"1", "2", dtInteger, false},
  };
  for (const LiteralCase& c : cases) {
    Tree x(constant(c.A, c.Type));
    Tree y(constant(c.B, c.Type));
    EXPECT_EQ(x.Root->Equals(y.Root, true), c.Equal) << c.A << " / " << c.B;
    EXPECT_TRUE(x.Root->Equals(y.Root, false)) << c.A << " / " << c.B;
  }
}

TEST(ExprTreesEqual, NilAgainstPresentIsUnequalAtEveryPlace) {
  EXPECT_TRUE(ExprTreesEqual(nullptr, nullptr));
  Tree single(node(tkConstant));
  EXPECT_FALSE(ExprTreesEqual(single.Root, nullptr));
  EXPECT_FALSE(ExprTreesEqual(nullptr, single.Root));

  auto make = [](bool left, bool right, bool arg1) {
    TBRNExprToken* n = node(tkOperator, "", opEqual);
    if (left) n->SetLeft(node(tkColumnReference, "a"));
    if (right) n->SetRight(constant("x", dtChar));
    n->AddArgument(node(tkList));
    n->AddArgument(arg1 ? node(tkList) : nullptr);
    return n;
  };
  Tree full(make(true, true, true));
  Tree same(make(true, true, true));
  Tree noLeft(make(false, true, true));
  Tree noRight(make(true, false, true));
  Tree noArg(make(true, true, false));
  EXPECT_TRUE(ExprTreesEqual(full.Root, same.Root));
  for (TBRNExprToken* other : {noLeft.Root, noRight.Root, noArg.Root}) {
    EXPECT_FALSE(ExprTreesEqual(full.Root, other));
    EXPECT_FALSE(ExprTreesEqual(other, full.Root));
  }
  same.Root->AddArgument(nullptr);
  EXPECT_FALSE(ExprTreesEqual(full.Root, same.Root));
  full.Root->AddArgument(nullptr);
  full.Root->Right()->Text = "X";  // the literal's case counts
  EXPECT_FALSE(ExprTreesEqual(full.Root, same.Root));
}

// SELECT s.a AS x FROM t JOIN u WHERE t.a = (subquery on outer t) ORDER BY x,
// with the links a validated tree has.
struct LinkedQuery {
  TBRNExprToken* Outer;  // the owner of everything
  TBRNExprToken* Query;
  TBRNExprToken* SelectItem;
  TBRNExprToken* TableT;
  TBRNExprToken* TableU;
  TBRNExprToken* Join;
  TBRNExprToken* WhereColumn;
  TBRNExprToken* OrderItem;
  TBRNExprToken* SubqueryColumn;  // links to TableT of the enclosing query

  LinkedQuery() {
    Outer = node(tkStatement, "", opInsert);
    Query = node(tkQuery);
    Outer->AddArgument(Query);
    SelectItem = node(tkSelectItem);
    SelectItem->Alias = "x";
    SelectItem->AddArgument(node(tkColumnReference, "a"));
    TableT = node(tkTableReference, "t");
    TableU = node(tkTableReference, "u");
    Join = node(tkJoin, "", opInnerJoin);
    Join->JoinTable = TableU;
    TableT->SetArgumentCount(3);
    TableT->SetArgument(2, list({Join}));
    SelectItem->Argument(0)->Link = TableT;
    WhereColumn = node(tkColumnReference, "a");
    WhereColumn->Link = TableT;
    TBRNExprToken* subquery = node(tkQuery);
    SubqueryColumn = node(tkColumnReference, "a");
    SubqueryColumn->Link = TableT;
    subquery->AddArgument(list({SubqueryColumn}));
    TBRNExprToken* condition = node(tkOperator, "", opEqual);
    condition->SetLeft(WhereColumn);
    condition->SetRight(subquery);
    OrderItem = node(tkOrderItem);
    OrderItem->Link = SelectItem;
    Query->AddArgument(nullptr);
    Query->AddArgument(list({SelectItem}));
    Query->AddArgument(list({TableT, TableU}));
    Query->AddArgument(list({condition}));
    Query->AddArgument(list({OrderItem}));
  }
  ~LinkedQuery() { FreeExprTree(Outer); }
};

TEST(CopyExprTree, RelinksReferencesIntoTheCopy) {
  LinkedQuery f;
  Tree copy(CopyExprTree(f.Query));
  TBRNExprToken* q = copy.Root;
  ASSERT_TRUE(ExprTreesEqual(q, f.Query));
  EXPECT_EQ(q->Parent, nullptr);
  EXPECT_EQ(q->Source, f.Query);
  TBRNExprToken* item = q->Argument(1)->Argument(0);
  TBRNExprToken* tableT = q->Argument(2)->Argument(0);
  TBRNExprToken* tableU = q->Argument(2)->Argument(1);
  TBRNExprToken* condition = q->Argument(3)->Argument(0);
  EXPECT_EQ(item->Source, f.SelectItem);
  EXPECT_EQ(item->Argument(0)->Link, tableT);
  EXPECT_EQ(condition->Left()->Link, tableT);
  EXPECT_EQ(condition->Right()->Argument(0)->Argument(0)->Link, tableT);  // outer reference
  EXPECT_EQ(tableT->Argument(2)->Argument(0)->JoinTable, tableU);
  EXPECT_EQ(q->Argument(4)->Argument(0)->Link, item);
  EXPECT_EQ(condition->Left()->Parent, condition);
  // The copied-from tree is untouched.
  EXPECT_EQ(f.WhereColumn->Link, f.TableT);
  EXPECT_EQ(f.OrderItem->Link, f.SelectItem);
  EXPECT_EQ(f.Join->JoinTable, f.TableU);
}

TEST(CopyExprTree, LinksOutOfTheCopiedSubtreeStay) {
  LinkedQuery f;
  TBRNExprToken* subquery = f.WhereColumn->Parent->Right();
  Tree copy(CopyExprTree(subquery));
  EXPECT_EQ(copy.Root->Argument(0)->Argument(0)->Link, f.TableT);
  // Copying a select item alone leaves the links of its query's tree alone.
  Tree item(CopyExprTree(f.SelectItem));
  EXPECT_EQ(f.OrderItem->Link, f.SelectItem);
  EXPECT_EQ(item.Root->Argument(0)->Link, f.TableT);
  EXPECT_EQ(CopyExprTree(nullptr), nullptr);
}

// Runs work on a thread with a small stack, so that any recursion over a
// deep tree would overflow it.
void onSmallStack(std::function<void()> work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 1 << 20);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(ExprTreeWalks, VeryDeepAndVeryLongTreesNeedNoStack) {
  onSmallStack([] {
    constexpr int depth = 200000;
    TBRNExprToken* deep = node(tkUnaryOperator, "", opNot);
    TBRNExprToken* tip = deep;
    for (int i = 0; i < depth; ++i) {
      TBRNExprToken* next = node(i % 2 ? tkUnaryOperator : tkList);
      if (i % 2)
        tip->SetLeft(next);
      else
        tip->AddArgument(next);
      tip = next;
    }
    TBRNExprToken* copy = CopyExprTree(deep);
    EXPECT_TRUE(ExprTreesEqual(deep, copy));
    EXPECT_EQ(copy->MemorySize(), deep->MemorySize());
    FreeExprTree(copy);
    FreeExprTree(deep);
    EXPECT_EQ(deep, nullptr);

    TBRNExprToken* wide = node(tkList);
    for (int i = 0; i < 20000; ++i) wide->AddArgument(i % 3 ? node(tkConstant) : nullptr);
    TBRNExprToken* wideCopy = CopyExprTree(wide);
    EXPECT_TRUE(ExprTreesEqual(wide, wideCopy));
    FreeExprTree(wideCopy);
    FreeExprTree(wide);
  });
}

class SharedRootExpr : public TBRNExpr {
 public:
  ~SharedRootExpr() override { ClearRoot(); }
  bool OwnsRoot() const override { return false; }
};

TEST(Expr, OwnedRootIsACopyAndSharedRootIsTheNode) {
  LinkedQuery f;
  TBRNExpr owned;
  EXPECT_EQ(owned.GetKindName(), "expression");
  owned.SetRoot(f.Query);
  ASSERT_NE(owned.Root, nullptr);
  EXPECT_NE(owned.Root, f.Query);
  EXPECT_TRUE(ExprTreesEqual(owned.Root, f.Query));
  EXPECT_EQ(owned.MemorySize(), int64_t(sizeof(TBRNExpr)) + f.Query->MemorySize());
  // A part of the current tree can become the new root.
  owned.SetRoot(owned.Root->Argument(1));
  EXPECT_EQ(owned.Root->Kind, tkList);

  SharedRootExpr shared;
  shared.SetRoot(f.Query);
  EXPECT_EQ(shared.Root, f.Query);
  EXPECT_EQ(shared.MemorySize(), int64_t(sizeof(TBRNExpr)));  // a shared tree is not counted
  TBRNExpr other;
  other.Assign(&shared, false);
  EXPECT_EQ(other.Root, nullptr);
  other.Assign(&shared, true);
  EXPECT_TRUE(other.Equals(&shared));
  EXPECT_FALSE(other.Equals(&owned));
  other.ClearRoot();
  EXPECT_EQ(other.Root, nullptr);
  shared.ClearRoot();  // forgets, the fixture still owns its tree
  EXPECT_EQ(f.Query->Kind, tkQuery);
}

}  // namespace
}  // namespace brn
