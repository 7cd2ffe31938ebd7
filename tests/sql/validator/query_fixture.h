#pragma once

// Helpers of the query validation and join placement tests: a parser that
// reads aggregate calls, a test owner that also knows derived tables, a
// catalog with small tables for joins, and a one-line picture of a validated
// query that shows bindings, select items, own condition lists and joins.

#include <set>
#include <string>
#include <string_view>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "sql/parser/expr_parser.h"
#include "sql/parser/parse_flags.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {

inline constexpr TBRNParseFlags kQueryFlags =
    pcQueries | pcColumnQualifier | pcDynamicParams | pcSubqueryParams;

// Reads AGG([DISTINCT] expression) and COUNT(*) for every aggregate keyword,
// whatever the function grammar installs, so that the aggregate rules of the
// query check can be tested on their own. Aggregates are accepted anywhere
// (the check's own refusals are what the tests look at).
class AggregateParser : public TBRNExprParser {
 public:
  AggregateParser() {
    for (TBRNExprOperation code : {opAvg, opCount, opList, opMax, opMin, opRunSum, opStdDev, opSum})
      FunctionParsers[size_t(code - FirstFunctionCode)] =
          static_cast<TBRNParseMethod>(&AggregateParser::ParseTestAggregate);
  }

  TBRNExprToken* ParseTestAggregate(TBRNParseFlags Flags) {
    TBRNParsedTree node(NewNode(tkFunction, LookupFunction()));
    NextToken();
    ExpectToken('(');
    if (AcceptKeyword("DISTINCT")) node->Variant = 1;
    if (node->Operation == opCount && IsToken('*')) {
      TBRNExprToken* all = NewNode(tkColumnReference, opNone);
      node->AddArgument(all);
      all->Name.assign(1, '*');
      all->AddArgument(nullptr);
      all->AddArgument(nullptr);
      NextToken();
    } else {
      node->AddArgument(ParseDisjunction(Flags | pcAggregates));
    }
    ExpectToken(')');
    return node.Release();
  }
};

// The validator owner that parses with AggregateParser and answers for the
// columns of derived tables (their select items).
class QueryOwner : public ValidatorOwner {
 public:
  using ValidatorOwner::ValidatorOwner;

  AggregateParser Grammar;
  // Nodes whose qualified database is open (marked), as a real owner keeps
  // them; closing an unmarked node does nothing.
  std::set<const TBRNExprToken*> OpenNodes;
  int OpenCalls = 0;

  void OpenQualifiedDatabase(TBRNExprToken* Node) override {
    ++OpenCalls;
    OpenNodes.insert(Node);
  }
  void CloseQualifiedDatabase(TBRNExprToken* Node) override {
    ValidatorOwner::CloseQualifiedDatabase(Node);
    OpenNodes.erase(Node);
  }

  static const TBRNExprToken* DerivedItem(const TBRNExprToken* Table, std::string_view Column) {
    if (!Table || Table->Operation != opDerivedTable || Table->ArgumentCount() == 0) return nullptr;
    const TBRNExprToken* query = Table->Argument(trDerivedQuery);
    const TBRNExprToken* list = query ? query->Argument(qpSelectList) : nullptr;
    if (list)
      for (const TBRNExprToken* item : list->Arguments())
        if (item && !item->Hidden && TextEqualsIgnoreCase(item->Alias, Column)) return item;
    return nullptr;
  }

  bool TableHasColumn(const TBRNExprToken* TableNode, const TBRNExprToken* ColumnNode) override {
    if (TableNode && TableNode->Operation == opDerivedTable)
      return DerivedItem(TableNode, ColumnNode->Name) != nullptr;
    return ValidatorOwner::TableHasColumn(TableNode, ColumnNode);
  }

  void ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) override {
    if (Kind == tkTableReference && Node->Operation == opDerivedTable) return;
    if (Kind == tkColumnReference && Node->Link && Node->Link->Operation == opDerivedTable) {
      const TBRNExprToken* item = DerivedItem(Node->Link, Node->Name);
      if (!item) ReportError("column does not exist", Node->Line, Node->Column);
      Node->AssignDataType(item);
      return;
    }
    ValidatorOwner::ResolveToken(Node, Kind);
  }
};

// The shared sample catalog plus:
//   A, B, C, D (X, Y, Z, W Integer)
//   Docs (Free VarChar without length, Exact VarChar(1024), Big VarChar(2000),
//         Bin VarByte(2000), Blob BLOB)
inline TestCatalog QueryCatalog() {
  TestCatalog catalog = TestCatalog::Sample();
  int32_t id = 30;
  for (const char* name : {"A", "B", "C", "D"})
    catalog.Tables.push_back(
        {"",
         "Default",
         name,
         id++,
         {{"X", dtInteger}, {"Y", dtInteger}, {"Z", dtInteger}, {"W", dtInteger}}});
  catalog.Tables.push_back({"",
                            "Default",
                            "Docs",
                            40,
                            {{"Free", dtChar},
                             {"Exact", dtChar, 1024},
                             {"Big", dtChar, 2000},
                             {"Bin", dtBytes, 2000},
                             {"Blob", dtLob}}});
  return catalog;
}

// One parse and validation of a query text. Root is nullptr after an error,
// whose text is then in Error ("error <line>:<column> <message>").
struct QueryRun {
  explicit QueryRun(std::string_view Text, TBRNParseFlags Flags = kQueryFlags,
                    TestParseMode Mode = TestParseMode::Expression)
      : Owner(QueryCatalog(), Mode, Flags), Validator(true) {
    Owner.Parser = &Owner.Grammar;
    Owner.OnValidate = [this](TestOwner& owner) {
      Validator.SetExpression(owner);
      ValidateReleasingOnError(Validator);
    };
    Error = CompileError(Owner, Text);
  }

  TBRNExprToken* Root() const { return Owner.Compiled ? Owner.Root : nullptr; }

  QueryOwner Owner;
  TBRNExprValidator Validator;
  std::string Error;
};

// ---- The picture of a validated query -----------------------------------------
//
//   SELECT items FROM tables WHERE conditions GROUP BY .. HAVING .. ORDER BY ..
// - a column is Name@Table (Table the correlation or table name it is bound
//   to, "?" when unbound); an order item is #n (n its select item's Index);
//   a parameter marker ?Name; a subquery {Subquery: ...} or {Correlated: ...};
// - a select item is Alias=expression, a hidden one +Alias=expression;
// - a FROM item is Name or Name AS Alias, then its own condition list in
//   braces, then its join entries in brackets: [INNER->B: condition].

inline std::string ShapeOf(const TBRNExprToken* Node);

inline std::string ShapeExpression(const TBRNExprToken* Node) {
  if (!Node) return "nil";
  const auto word = [](TBRNExprOperation Operation) {
    const TBRNOperationInfo& info = OperationInfo(Operation);
    return std::string(info.BuilderWord.empty() ? info.Name : info.BuilderWord);
  };
  const auto arguments = [](const TBRNExprToken* N, int32_t First) {
    std::string text;
    for (int32_t i = First; i < N->ArgumentCount(); ++i) {
      if (i > First) text += ", ";
      text += ShapeExpression(N->Argument(i));
    }
    return text;
  };
  switch (Node->Kind) {
    case tkColumnReference: {
      std::string text = Node->Name + "@";
      if (!Node->Link) return text + "?";
      return text + (Node->Link->Alias.empty() ? Node->Link->Name : Node->Link->Alias);
    }
    case tkOrderItem:
      return "#" + (Node->Link ? std::to_string(Node->Link->Index) : std::string("?"));
    case tkDynamicParamReference:
      return "?" + (Node->Link ? Node->Link->Name : std::string());
    case tkOperator:
      return "(" + ShapeExpression(Node->Left()) + " " + word(Node->Operation) + " " +
             ShapeExpression(Node->Right()) + ")";
    case tkUnaryOperator:
      return "(" + word(Node->Operation) + " " + ShapeExpression(Node->Left()) + ")";
    case tkFunction:
      return word(Node->Operation) + "(" + (Node->Variant == 1 ? "DISTINCT " : "") +
             arguments(Node, 0) + ")";
    case tkPredicate:
      return "(" + ShapeExpression(Node->ArgumentCount() > 0 ? Node->Argument(0) : nullptr) + " " +
             word(Node->Operation) + " " + arguments(Node, 1) + ")";
    case tkQuery:
      return "{" + ShapeOf(Node) + "}";
    default:
      return PrintTree(Node);
  }
}

inline std::string ShapeList(const TBRNExprToken* List, std::string_view Separator) {
  std::string text;
  if (!List) return text;
  for (int32_t i = 0; i < List->ArgumentCount(); ++i) {
    if (i > 0) text += Separator;
    text += ShapeExpression(List->Argument(i));
  }
  return text;
}

inline std::string ShapeOf(const TBRNExprToken* Query) {
  if (!Query) return "nil";
  const auto at = [Query](int32_t Position) {
    return Position < Query->ArgumentCount() ? Query->Argument(Position) : nullptr;
  };
  std::string text;
  if (Query->Operation == opSubquery) text += "Subquery: ";
  if (Query->Operation == opCorrelated) text += "Correlated: ";
  text += "SELECT ";
  if (const TBRNExprToken* list = at(qpSelectList)) {
    for (int32_t i = 0; i < list->ArgumentCount(); ++i) {
      const TBRNExprToken* item = list->Argument(i);
      if (i > 0) text += ", ";
      if (item->Hidden) text += "+";
      text += item->Alias + "=" +
              ShapeExpression(item->ArgumentCount() > 0 ? item->Argument(0) : nullptr);
    }
  }
  if (const TBRNExprToken* from = at(qpFrom)) {
    text += " FROM ";
    for (int32_t i = 0; i < from->ArgumentCount(); ++i) {
      const TBRNExprToken* table = from->Argument(i);
      if (i > 0) text += ", ";
      text += table->Name;
      if (!table->Alias.empty() && table->Alias != table->Name) text += " AS " + table->Alias;
      const TBRNExprToken* own =
          table->ArgumentCount() > trConditions ? table->Argument(trConditions) : nullptr;
      if (own && own->ArgumentCount() > 0) text += "{" + ShapeList(own, "; ") + "}";
      const TBRNExprToken* joins =
          table->ArgumentCount() > trJoins ? table->Argument(trJoins) : nullptr;
      if (!joins) continue;
      for (const TBRNExprToken* join : joins->Arguments()) {
        const TBRNExprToken* target = join->JoinTable;
        std::string kind = join->Operation == opInnerJoin  ? "INNER"
                           : join->Operation == opLeftJoin ? "LEFT"
                           : join->Operation == opRightJoin
                               ? "RIGHT"
                               : (join->Operation == opCrossJoin ? "CROSS" : "?");
        text += " [" + kind + "->" +
                (target ? (target->Alias.empty() ? target->Name : target->Alias) : "nil");
        if (join->ArgumentCount() > 0) text += ": " + ShapeList(join, "; ");
        text += "]";
      }
    }
  }
  if (const TBRNExprToken* where = at(qpWhere); where && where->ArgumentCount() > 0)
    text += " WHERE " + ShapeList(where, "; ");
  const auto orderItems = [&](const TBRNExprToken* List) {
    std::string items;
    for (int32_t i = 0; i < List->ArgumentCount(); ++i) {
      const TBRNExprToken* item = List->Argument(i);
      if (i > 0) items += ", ";
      items += ShapeExpression(item->ArgumentCount() > 0 ? item->Argument(0) : nullptr);
      if (item->ArgumentCount() > 2 && item->Argument(2) &&
          item->Argument(2)->Operation == opDescending)
        items += " DESC";
    }
    return items;
  };
  if (const TBRNExprToken* groupBy = at(qpGroupBy)) text += " GROUP BY " + orderItems(groupBy);
  if (const TBRNExprToken* having = at(qpHaving)) text += " HAVING " + ShapeExpression(having);
  if (const TBRNExprToken* operand = at(qpSetOperand)) {
    const TBRNExprToken* code = operand->Argument(qpSetOperation);
    text += " " + std::string(OperationInfo(code->Operation).BuilderWord) + " " + ShapeOf(operand);
  }
  if (const TBRNExprToken* orderBy = at(qpOrderBy)) text += " ORDER BY " + orderItems(orderBy);
  return text;
}

// The picture of the validated query, or the error.
inline std::string Shape(std::string_view Text, TBRNParseFlags Flags = kQueryFlags) {
  QueryRun run(Text, Flags);
  return run.Root() ? ShapeOf(run.Root()) : run.Error;
}

}  // namespace brn::testing
