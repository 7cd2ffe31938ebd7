// Name resolution: columns of queries and of a context table, qualified
// names, dynamic parameters, and the names of procedural code (variables,
// routine parameters, cursors, statements, labels) in hand-built blocks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "sql/parser/parse_flags.h"
#include "sql/tree/query_layout.h"
#include "sql/validator/query_fixture.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {
namespace {

using ::testing::HasSubstr;

RunOptions queryOptions() {
  RunOptions options;
  options.Flags = kQueryFlags;
  options.ContextTable = "";
  options.Print = false;
  return options;
}

void forEachNode(const TBRNExprToken* node, const std::function<void(const TBRNExprToken*)>& f) {
  if (!node) return;
  f(node);
  forEachNode(node->Left(), f);
  forEachNode(node->Right(), f);
  for (const TBRNExprToken* argument : node->Arguments()) forEachNode(argument, f);
}

// "name->binding" for every column reference in walk order; the binding is
// the FROM item's correlation name (and "=table" when it has one).
std::string Bindings(std::string_view text) {
  ValidationRun run(text, queryOptions());
  if (!run.Owner.Root) return run.Result;
  std::string out;
  forEachNode(run.Owner.Root, [&](const TBRNExprToken* n) {
    if (n->Kind != tkColumnReference) return;
    if (!out.empty()) out += " ";
    out += n->SchemaName.empty() ? n->Name : n->SchemaName + "." + n->Name;
    out += "->";
    if (!n->Link) {
      out += "nil";
    } else {
      out += n->Link->Alias.empty() ? n->Link->Name : n->Link->Alias + "=" + n->Link->Name;
      out += ":" + DataTypeName(n->DataType, n->SubType);
    }
  });
  return out;
}

TEST(NameResolution, ColumnsBindToFromItems) {
  struct Case {
    const char* Text;
    const char* Expected;
  };
  const Case cases[] = {
      {"SELECT ID, Amount FROM Orders WHERE CustomerID = 5",
       "ID->Orders:Integer Amount->Orders:Decimal CustomerID->Orders:Integer"},
      {"SELECT O.ID, C.Name FROM Orders O, Customers C WHERE C.ID = O.CustomerID",
       "O.ID->O=Orders:Integer C.Name->C=Customers:VarChar C.ID->C=Customers:Integer "
       "O.CustomerID->O=Orders:Integer"},
      // An unqualified name present in two FROM items is ambiguous.
      {"SELECT City, ID FROM Orders, Customers",
       "error 1:14 Invalid expression ID found, the referenced column is ambiguous"},
      // A qualifier is a correlation name first, a table name only then.
      {"SELECT Customers.City FROM Customers C", "Customers.City->C=Customers:VarChar"},
      {"SELECT Orders.City FROM Customers Orders, Orders O",
       "Orders.City->Orders=Customers:VarChar"},
      // A subquery sees the columns of the query around it.
      {"SELECT ID FROM Customers WHERE ID IN (SELECT CustomerID FROM Orders WHERE City = 'x')",
       "ID->Customers:Integer ID->Customers:Integer CustomerID->Orders:Integer "
       "City->Customers:VarChar"},
      {"SELECT 1 FROM Customers C WHERE C.ID IN (SELECT C.ID FROM Orders)",
       "C.ID->C=Customers:Integer C.ID->C=Customers:Integer"},
  };
  for (const Case& c : cases) EXPECT_EQ(Bindings(c.Text), c.Expected) << c.Text;
}

TEST(NameResolution, SubqueriesAreMarkedCorrelatedOnlyWhenTheyLookOutward) {
  const auto subqueryOperation = [](std::string_view text) {
    ValidationRun run(text, queryOptions());
    TBRNExprOperation operation = opNone;
    forEachNode(run.Owner.Root, [&](const TBRNExprToken* n) {
      if (n->Kind == tkQuery && n != run.Owner.Root) operation = n->Operation;
    });
    return operation;
  };
  EXPECT_EQ(subqueryOperation("SELECT ID FROM Customers WHERE ID IN (SELECT CustomerID FROM "
                              "Orders WHERE City = 'x')"),
            opCorrelated);
  EXPECT_EQ(
      subqueryOperation(
          "SELECT ID FROM Customers WHERE ID IN (SELECT CustomerID FROM Orders WHERE ID = 1)"),
      opSubquery);
}

TEST(NameResolution, ScalarSubqueryStandingAloneInWhereIsComparedWithTrue) {
  ValidationRun run("SELECT ID FROM Customers WHERE (SELECT CustomerID FROM Orders) AND ID > 1",
                    queryOptions());
  ASSERT_NE(run.Owner.Root, nullptr) << run.Result;
  // The condition concerns Customers alone: it moved to its own conditions.
  const TBRNExprToken* conditions = run.Owner.Root->Argument(qpFrom)->Argument(0)->Argument(1);
  ASSERT_EQ(conditions->ArgumentCount(), 1);
  const TBRNExprToken* condition = conditions->Argument(0);
  ASSERT_EQ(condition->Kind, tkOperator);
  const TBRNExprToken* truth = condition->Left();
  EXPECT_EQ(truth->Operation, opEqual);
  EXPECT_EQ(truth->DataType, dtBoolean);
  ASSERT_EQ(truth->Left()->Kind, tkQuery);
  EXPECT_EQ(truth->Left()->Operation, opSubquery);
  EXPECT_EQ(truth->Left()->Parent, truth);
  EXPECT_EQ(truth->Right()->Text, "TRUE");
  // The rest of the outer condition is validated as before.
  EXPECT_EQ(condition->Right()->Operation, opGreater);
}

TEST(NameResolution, UnresolvedNamesAndTheirErrors) {
  EXPECT_EQ(Bindings("SELECT X.ID FROM Customers C"),
            "error 1:8 Expected column name expression but instead found X.ID");
  EXPECT_EQ(Bindings("SELECT ID FROM Customers WHERE Nope.ID = 1"),
            "error 1:32 Expected column name expression but instead found Nope.ID");
  // The owner reports an unknown column of the context table.
  EXPECT_EQ(Bindings("SELECT Nope FROM Customers"), "error 1:8 column Nope does not exist");

  // Outside a query and without a context table a bare name can only have
  // meant a variable.
  RunOptions bare;
  bare.ContextTable = "";
  EXPECT_EQ(Validated("Amount + 1", bare),
            "error 1:1 Expected array variable name, array variable element name, or variable "
            "name expression but instead found Amount");
  RunOptions orders;
  orders.ContextTable = "Orders";
  EXPECT_EQ(Validated("Amount * 2 > CustomerID", orders),
            "((Amount * 2:Integer):Decimal > CustomerID):Boolean");
  ValidationRun run("Amount * 2 > CustomerID", orders);
  EXPECT_THAT(run.Owner.ColumnDependencies, ::testing::ElementsAre("Amount", "CustomerID"));
}

// ---- Dynamic parameters ------------------------------------------------------

// The statement's parameter definitions: "Name:Type" in list order.
std::string ResolvedParameters(std::string_view text) {
  ValidationRun run(text, queryOptions());
  if (!run.Owner.Root) return run.Result;
  std::string out;
  for (const TBRNExprToken* p : run.Owner.Root->Argument(qpParameters)->Arguments()) {
    if (!out.empty()) out += " ";
    out += p->Name + ":" +
           (p->DataType == dtNull ? std::string("Null") : DataTypeName(p->DataType, p->SubType));
    if (p->Operation != opParamIn) out += "(direction " + std::to_string(p->Operation) + ")";
  }
  return out;
}

TEST(NameResolution, DynamicParametersAreNumberedAndTyped) {
  struct Case {
    const char* Text;
    const char* Expected;
  };
  const Case cases[] = {
      {"SELECT ID FROM Customers WHERE ID = ? AND Name = ?",
       "Parameter1:Integer Parameter2:VarChar"},
      {"SELECT ID FROM Customers WHERE ID IN (SELECT CustomerID FROM Orders WHERE Amount > ?) "
       "AND ? < ID",
       "Parameter1:Decimal Parameter2:Integer"},
      // A marker in a subquery belongs to the statement query.
      {"SELECT ID FROM Customers WHERE ID IN (SELECT CustomerID FROM Orders WHERE Amount > ?)",
       "Parameter1:Decimal"},
      {"SELECT ID FROM Customers WHERE ? LIKE 'a%' OR Name LIKE ?",
       "Parameter1:VarChar Parameter2:VarChar"},
      {"SELECT ID FROM Customers WHERE ? IN (1, ?) AND NOT ?",
       "Parameter1:Integer Parameter2:Integer Parameter3:Boolean"},
      {"SELECT ID FROM Customers WHERE ? = ?",
       "error 1:32 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT ID FROM Customers WHERE ? BETWEEN ? AND ?",
       "error 1:32 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT ID FROM Customers WHERE ? LIKE ?",
       "error 1:32 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT ID FROM Customers WHERE - ? < 1",
       "error 1:34 Invalid expression - ? found, dynamic parameter type cannot be inferred"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolvedParameters(c.Text), c.Expected) << c.Text;

  // The marker is linked to its definition and carries its type.
  ValidationRun run("SELECT ID FROM Customers WHERE Name = ?", queryOptions());
  ASSERT_NE(run.Owner.Root, nullptr) << run.Result;
  const TBRNExprToken* params = run.Owner.Root->Argument(qpParameters);
  EXPECT_EQ(params->Index, 1);
  const TBRNExprToken* marker = nullptr;
  forEachNode(run.Owner.Root, [&](const TBRNExprToken* n) {
    if (n->Kind == tkDynamicParamReference) marker = n;
  });
  ASSERT_NE(marker, nullptr);
  EXPECT_EQ(marker->Link, params->Argument(0));
  EXPECT_EQ(marker->DataType, dtChar);
  // A definition of a varying type keeps size 0 (any length may be bound).
  EXPECT_EQ(marker->Size, 0);

  RunOptions bare;
  bare.Flags = pcDynamicParams;
  EXPECT_EQ(
      Validated("i = ?", bare),
      "error 1:5 Invalid expression ? found, the referenced dynamic parameter does not exist");
}

// ---- Procedural names (hand-built blocks) --------------------------------------

TBRNExprToken* makeNode(TBRNExprTokenKind kind, TBRNExprOperation operation = opNone,
                        std::string name = "") {
  auto* node = new TBRNExprToken;
  node->Kind = kind;
  node->Operation = operation;
  node->Name = std::move(name);
  node->Line = 1;
  node->Column = 1;
  return node;
}

// A block with one declaration list; Declare adds a declaration of the
// given names, Statements is the statement list.
struct Block {
  TBRNExprToken* Node = nullptr;
  TBRNExprToken* Declarations = nullptr;
  TBRNExprToken* Statements = nullptr;

  Block() = default;
  explicit Block(TBRNExprOperation operation, std::string label = "") {
    Node = makeNode(tkBlock, operation, std::move(label));
    Declarations = makeNode(tkBlockSection);
    Statements = makeNode(tkBlockSection);
    Node->AddArgument(Declarations);
    Node->AddArgument(Statements);
  }
  TBRNExprToken* Declare(std::initializer_list<TBRNExprToken*> names) {
    TBRNExprToken* declaration = makeNode(tkRoutineStatement, opDeclare);
    TBRNExprToken* list = makeNode(tkList);
    for (TBRNExprToken* name : names) list->AddArgument(name);
    declaration->AddArgument(list);
    Declarations->AddArgument(declaration);
    return *names.begin();
  }
  TBRNExprToken* Add(TBRNExprToken* statement) {
    Statements->AddArgument(statement);
    return statement;
  }
};

// A reference as the parser makes it: a column reference with an optional
// index list and no COLLATE.
TBRNExprToken* reference(const std::string& name, bool indexed = false) {
  TBRNExprToken* node = makeNode(tkColumnReference, opNone, name);
  if (indexed) {
    TBRNExprToken* index = makeNode(tkList);
    TBRNExprToken* one = makeNode(tkConstant);
    one->Text = "1";
    one->SetDataType(dtInteger);
    index->AddArgument(one);
    node->AddArgument(index);
  } else {
    node->AddArgument(nullptr);
  }
  node->AddArgument(nullptr);
  return node;
}

class ProceduralNames : public ::testing::Test {
 public:
  // PROCEDURE P (X Integer, Y VarChar)
  // outer: BEGIN DECLARE X ARRAY; DECLARE C1 CURSOR FOR S1; DECLARE S2 STATEMENT;
  //   loop1: WHILE ... DO  -- body block (no BEGIN): DECLARE X Boolean; <statements> END WHILE
  // END
  ProceduralNames() : validator(true) {
    routine.Reset(makeNode(tkProcedureName, opNone, "P"));
    TBRNExprToken* params = makeNode(tkList);
    paramX = makeNode(tkRoutineParam, opParamIn, "X");
    paramX->SetDataType(dtInteger);
    paramY = makeNode(tkRoutineParam, opParamIn, "Y");
    paramY->SetDataType(dtChar);
    params->AddArgument(paramX);
    params->AddArgument(paramY);
    routine->AddArgument(params);
    Block outer(opBeginBlock, "outer");
    outerBlock = outer.Node;
    routine->AddArgument(outer.Node);
    arrayX = outer.Declare({makeNode(tkArrayVariable, opNone, "X")});
    arrayX->SetDataType(dtBigInt);
    cursor = makeNode(tkCursorDeclaration, opNone, "C1");
    cursor->AddArgument(nullptr);
    cursorStatement = makeNode(tkStatementName, opNone, "S1");
    cursor->AddArgument(cursorStatement);
    outer.Declare({cursor});
    statementS2 = outer.Declare({makeNode(tkStatementName, opNone, "S2")});
    whileStatement = outer.Add(makeNode(tkRoutineStatement, opWhile, "loop1"));
    Block body(opNone);
    whileStatement->AddArgument(body.Node);
    variableX = body.Declare({makeNode(tkVariable, opNone, "X")});
    variableX->SetDataType(dtBoolean);
    inner = body;
    owner.ContextTable = "";
    validator.SetExpression(owner);
  }

  // Runs F and answers the error message ("" when none was raised).
  std::string ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const EBRNException& error) {
      return DescribeError(error);
    }
    return "";
  }

  ValidatorOwner owner{TypesCatalog()};
  TBRNExprValidator validator;
  TreeHolder routine;
  TBRNExprToken *paramX, *paramY, *outerBlock, *arrayX, *cursor, *cursorStatement, *statementS2,
      *whileStatement, *variableX;
  Block inner;
};

TEST_F(ProceduralNames, VariablesShadowParametersAndIndexesNeedArrays) {
  TBRNExprToken* x = inner.Add(reference("X"));
  TBRNExprToken* xIndexed = inner.Add(reference("X", true));
  TBRNExprToken* y = inner.Add(reference("Y"));
  validator.ValidateNode(x);
  EXPECT_EQ(x->Kind, tkVariableReference);
  EXPECT_EQ(x->Link, variableX);
  EXPECT_EQ(x->DataType, dtBoolean);
  // The inner plain variable cannot be indexed: the outer array is found.
  validator.ValidateNode(xIndexed);
  EXPECT_EQ(xIndexed->Kind, tkArrayElement);
  EXPECT_EQ(xIndexed->Link, arrayX);
  EXPECT_EQ(xIndexed->DataType, dtBigInt);
  validator.ValidateNode(y);
  EXPECT_EQ(y->Kind, tkRoutineParamReference);
  EXPECT_EQ(y->Link, paramY);

  TBRNExprToken* unknown = inner.Add(reference("Z"));
  EXPECT_EQ(ErrorOf([&] { validator.ValidateNode(unknown); }),
            "error 1:1 Expected array variable name, array variable element name, or variable "
            "name expression but instead found Z");

  // References the parser already typed as variables.
  TBRNExprToken* variable = inner.Add(makeNode(tkVariableReference, opNone, "Y"));
  validator.ValidateNode(variable);
  EXPECT_EQ(variable->Kind, tkRoutineParamReference);
  EXPECT_EQ(variable->Link, paramY);
  TBRNExprToken* missing = inner.Add(makeNode(tkVariableReference, opNone, "Nope"));
  EXPECT_THAT(ErrorOf([&] { validator.ValidateNode(missing); }),
              HasSubstr("the referenced variable does not exist"));
  TBRNExprToken* missingParam = inner.Add(makeNode(tkRoutineParamReference, opNone, "Nope"));
  EXPECT_THAT(ErrorOf([&] { validator.ValidateNode(missingParam); }),
              HasSubstr("the referenced parameter does not exist"));
}

TEST_F(ProceduralNames, CursorsAndStatements) {
  TBRNExprToken* c1 = inner.Add(makeNode(tkCursorReference, opNone, "c1"));
  TBRNExprToken* s1 = inner.Add(makeNode(tkStatementReference, opNone, "S1"));
  TBRNExprToken* s2 = inner.Add(makeNode(tkStatementReference, opNone, "s2"));
  validator.ValidateNode(c1);
  validator.ValidateNode(s1);
  validator.ValidateNode(s2);
  EXPECT_EQ(c1->Link, cursor);
  EXPECT_EQ(s1->Link, cursorStatement);
  EXPECT_EQ(s2->Link, statementS2);
  TBRNExprToken* c9 = inner.Add(makeNode(tkCursorReference, opNone, "C9"));
  TBRNExprToken* s9 = inner.Add(makeNode(tkStatementReference, opNone, "S9"));
  EXPECT_THAT(ErrorOf([&] { validator.ValidateNode(c9); }),
              HasSubstr("the referenced cursor does not exist"));
  EXPECT_THAT(ErrorOf([&] { validator.ValidateNode(s9); }),
              HasSubstr("the referenced statement does not exist"));
}

TEST_F(ProceduralNames, Labels) {
  struct Case {
    TBRNExprOperation Operation;
    const char* Label;
    TBRNExprToken* ProceduralNames::*Target;  // nullptr: an error
    const char* Error;
  };
  const Case cases[] = {
      {opLeave, "", &ProceduralNames::whileStatement, ""},
      {opIterate, "", &ProceduralNames::whileStatement, ""},
      {opIterate, "LOOP1", &ProceduralNames::whileStatement, ""},
      {opLeave, "outer", &ProceduralNames::outerBlock, ""},
      {opRetry, "", &ProceduralNames::outerBlock, ""},
      {opIterate, "outer", nullptr, "ITERATE not allowed in non-looping statement block"},
      {opLeave, "nope", nullptr, "the referenced label does not exist"},
  };
  for (const Case& c : cases) {
    TBRNExprToken* statement = inner.Add(makeNode(tkRoutineStatement, c.Operation, c.Label));
    const std::string error = ErrorOf([&] { validator.ResolveLabel(statement); });
    if (c.Target) {
      EXPECT_EQ(error, "") << c.Label;
      EXPECT_EQ(statement->Link, this->*c.Target) << int(c.Operation) << " " << c.Label;
    } else {
      EXPECT_THAT(error, HasSubstr(c.Error)) << c.Label;
    }
  }
  // Directly in a BEGIN block LEAVE leaves it and ITERATE is refused.
  TBRNExprToken* leave = makeNode(tkRoutineStatement, opLeave);
  TBRNExprToken* iterate = makeNode(tkRoutineStatement, opIterate);
  outerBlock->Argument(1)->AddArgument(leave);
  outerBlock->Argument(1)->AddArgument(iterate);
  validator.ResolveLabel(leave);
  EXPECT_EQ(leave->Link, outerBlock);
  EXPECT_THAT(ErrorOf([&] { validator.ResolveLabel(iterate); }),
              HasSubstr("ITERATE not allowed in non-looping statement block"));
  // Outside every block.
  TBRNExprToken* stray = makeNode(tkRoutineStatement, opLeave);
  routine->AddArgument(stray);
  EXPECT_THAT(ErrorOf([&] { validator.ResolveLabel(stray); }),
              HasSubstr("ITERATE or LEAVE not allowed outside of block"));
}

}  // namespace
}  // namespace brn::testing
