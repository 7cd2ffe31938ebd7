// Query expressions: SELECT ... and TABLE name.
//
// A query is one tkQuery node with its clauses at the fixed positions of
// TBRNQueryPosition (sql/tree/query_layout.h), nil where a clause is not
// written. Subqueries, derived tables and the right operands of set
// operations are nested tkQuery nodes.
//
// A FROM list holds every table reference in textual order, joined ones
// included. Joins are kept as entries in the join list of the table they
// follow: "A JOIN B ON x LEFT JOIN C ON y" puts the inner join entry for B
// into A's list and the left join entry for C into B's; a comma adds a cross
// join entry (no condition) to the join list of the first table after the
// previous comma. A join entry refers to its table (JoinTable) without owning
// it: the FROM list owns every table reference.

#include <initializer_list>
#include <string_view>

#include "foundation/text/collation.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

bool wordIn(std::string_view Word, std::initializer_list<std::string_view> Words) {
  if (Word.empty()) return false;
  for (std::string_view candidate : Words)
    if (TextEqualsIgnoreCase(Word, candidate)) return true;
  return false;
}

// Flags of the expressions in GROUP BY and ORDER BY: no aggregates, no
// parameters, and the COLLATE suffix belongs to the item, not the column.
constexpr TBRNParseFlags kOrderExpressionFlags = pcQueries | pcColumnQualifier | pcNoCollate;

}  // namespace

std::string_view TBRNExprParser::currentWord() const {
  if (TokenKind != ttIdentifier) return {};
  const size_t start = size_t(TokenStart - 1);
  if (start >= ScanText.size() || ScanPos <= TokenStart) return {};
  return ScanText.substr(start, size_t(ScanPos - TokenStart));
}

TBRNExprToken* TBRNExprParser::ParseQuery(TBRNParseFlags Flags) {
  // Clauses that allow aggregates add the bit back.
  const TBRNParseFlags flags = Flags & ~pcAggregates;
  if (IsKeyword("TABLE")) return parseTableQuery(flags);
  if (!IsKeyword("SELECT")) Expected("SELECT, TABLE");

  TBRNParsedTree query(NewNode(tkQuery, opNone));
  NextToken();
  query->AddArgument(NewNode(tkList, opNone));  // qpParameters
  query->AddArgument(NewNode(tkList, opNone));  // qpSetOperation

  TBRNExprToken* selectList = NewNode(tkList, opAll);
  query->AddArgument(selectList);
  if (AcceptKeyword("DISTINCT"))
    selectList->Operation = opDistinct;
  else
    AcceptKeyword("ALL");
  do {
    TBRNExprToken* item = NewNode(tkSelectItem, opNone);
    selectList->AddArgument(item);
    ParseSelectItem(item, flags);
  } while (AcceptToken(','));

  query->AddArgument(nullptr);  // qpValues
  query->AddArgument(nullptr);  // qpSourceQuery

  if (IsKeyword("INTO")) {
    if (!(Flags & pcInto)) InvalidExpression("INTO clause not allowed");
    NextToken();
    TBRNExprToken* into = NewNode(tkList, opNone);
    query->AddArgument(into);
    do into->AddArgument(ParsePrimary(pcDynamicParams));
    while (AcceptToken(','));
  } else {
    query->AddArgument(nullptr);
  }

  const auto isSetOperation = [this] {
    return wordIn(currentWord(), {"UNION", "INTERSECT", "EXCEPT"});
  };

  if (!AcceptKeyword("FROM")) {
    // Without FROM only a set operation may follow.
    for (int32_t position = qpFrom; position <= qpHaving; ++position) query->AddArgument(nullptr);
    query->AddArgument(isSetOperation() ? ParseSetOperation(flags) : nullptr);
    query->AddArgument(nullptr);  // qpOrderBy
    return query.Release();
  }

  parseFromList(query.Get(), flags);

  if (IsKeyword("WHERE")) {
    NextToken();
    TBRNExprToken* where = NewNode(tkList, opNone);
    query->AddArgument(where);
    where->AddArgument(ParseWhereCondition(flags));
  } else {
    query->AddArgument(nullptr);
  }

  if (AcceptKeyword("GROUP")) {
    ExpectKeyword("BY");
    TBRNExprToken* groupBy = NewNode(tkList, opNone);
    query->AddArgument(groupBy);
    do groupBy->AddArgument(ParseGroupByItem());
    while (AcceptToken(','));
  } else {
    query->AddArgument(nullptr);
  }

  query->AddArgument(AcceptKeyword("HAVING") ? ParseHavingCondition(flags) : nullptr);
  query->AddArgument(isSetOperation() ? ParseSetOperation(flags) : nullptr);

  // The right operand of a set operation leaves ORDER BY to the first query.
  if (!(Flags & pcNoOrderBy) && IsKeyword("ORDER")) {
    NextToken();
    CheckKeyword("BY");
    NextToken();
    TBRNExprToken* orderBy = NewNode(tkList, opNone);
    query->AddArgument(orderBy);
    do orderBy->AddArgument(ParseOrderByItem());
    while (AcceptToken(','));
  } else {
    query->AddArgument(nullptr);
  }

  if (IsKeyword("RANGE")) {
    if (Flags & pcNoRange) InvalidExpression("RANGE clause not allowed");
    query->AddArgument(ParseRange(flags | pcDynamicParams));
  }
  if (IsKeyword("NOJOINOPTIMIZE")) {
    query->AddArgument(NewNode(tkList, opNoJoinOptimize));
    NextToken();
  }
  if (IsKeyword("JOINOPTIMIZECOSTS")) {
    query->AddArgument(NewNode(tkList, opJoinOptimizeCosts));
    NextToken();
  }
  return query.Release();
}

// TABLE name: the same node as SELECT * FROM name.
TBRNExprToken* TBRNExprParser::parseTableQuery(TBRNParseFlags Flags) {
  TBRNParsedTree query(NewNode(tkQuery, opNone));
  NextToken();
  query->AddArgument(NewNode(tkList, opNone));  // qpParameters
  query->AddArgument(NewNode(tkList, opNone));  // qpSetOperation

  TBRNExprToken* selectList = NewNode(tkList, opAll);
  query->AddArgument(selectList);
  TBRNExprToken* item = NewNode(tkSelectItem, opNone);
  selectList->AddArgument(item);
  // assign(1, '*') rather than = "*": GCC 12 at -O3 reports a false -Wrestrict on
  // assigning a one-character literal.
  item->Text.assign(1, '*');
  TBRNExprToken* wildcard = NewNode(tkColumnReference, opNone);
  item->AddArgument(wildcard);
  wildcard->Name.assign(1, '*');
  wildcard->AddArgument(nullptr);
  wildcard->AddArgument(nullptr);

  for (int32_t position = qpValues; position <= qpInto; ++position) query->AddArgument(nullptr);
  TBRNExprToken* from = NewNode(tkList, opNone);
  query->AddArgument(from);
  TBRNExprToken* table = ParseTableReference(Flags);
  from->AddArgument(table);
  table->AddArgument(NewNode(tkList, opNone));  // trConditions
  table->AddArgument(NewNode(tkList, opNone));  // trJoins
  for (int32_t position = qpWhere; position <= qpOrderBy; ++position) query->AddArgument(nullptr);
  return query.Release();
}

void TBRNExprParser::parseFromList(TBRNExprToken* Query, TBRNParseFlags Flags) {
  TBRNExprToken* from = NewNode(tkList, opNone);
  Query->AddArgument(from);
  // Adds a parsed table reference to the FROM list with its two lists and
  // answers its join list.
  const auto addTable = [&](TBRNExprToken* Table) {
    from->AddArgument(Table);
    Table->AddArgument(NewNode(tkList, opNone));  // trConditions
    TBRNExprToken* joins = NewNode(tkList, opNone);
    Table->AddArgument(joins);  // trJoins
    return joins;
  };

  // The first table after the previous comma: a cross join entry for the
  // next comma-separated table goes into its join list.
  TBRNExprToken* commaTable = nullptr;
  do {
    TBRNExprToken* table = ParseTableReference(Flags);
    TBRNExprToken* joins = addTable(table);
    if (commaTable) {
      TBRNExprToken* cross = NewNode(tkJoin, opCrossJoin);
      cross->CopyPosition(table);
      commaTable->Argument(trJoins)->AddArgument(cross);
      cross->JoinTable = table;
    }

    for (;;) {
      TBRNExprOperation code;
      const std::string_view word = currentWord();
      if (wordIn(word, {"JOIN", "INNER"}))
        code = opInnerJoin;
      else if (wordIn(word, {"LEFT"}))
        code = opLeftJoin;
      else if (wordIn(word, {"RIGHT"}))
        code = opRightJoin;
      else if (wordIn(word, {"FULL"}))
        InvalidExpression("FULL OUTER JOINs not supported");
      else
        break;
      TBRNExprToken* join = NewNode(tkJoin, code);
      joins->AddArgument(join);
      if (!IsKeyword("JOIN")) {
        NextToken();
        if (code != opInnerJoin) AcceptKeyword("OUTER");
      }
      ExpectKeyword("JOIN");
      TBRNExprToken* joined = ParseTableReference(Flags);
      TBRNExprToken* joinedJoins = addTable(joined);
      join->JoinTable = joined;
      ExpectKeyword("ON");
      join->AddArgument(ParseJoinCondition(Flags));
      joins = joinedJoins;
    }
    commaTable = table;
  } while (AcceptToken(','));
}

void TBRNExprParser::ParseSelectItem(TBRNExprToken* Item, TBRNParseFlags Flags) {
  BeginCapture();
  TBRNExprToken* expression =
      ParseDisjunction((Flags | pcAggregates | pcWildcard | pcSubqueryParams) & ~pcDynamicParams);
  Item->AddArgument(expression);
  Item->Text = EndCapture();
  // "t.*" is a wildcard item too.
  if (expression->Kind == tkColumnReference && expression->Name == "*") Item->Text.assign(1, '*');

  // An empty alias ("") would be no alias at all.
  if (IsKeyword("AS")) {
    CheckNotWildcard(expression);
    NextToken();
    if (!IsIdentifierToken() || TokenText().empty()) Expected("column correlation name");
    Item->Alias = TokenText();
    NextToken();
  } else if (IsIdentifierToken() && !TokenText().empty() &&
             !wordIn(currentWord(), {"INTO", "FROM", "UNION", "INTERSECT", "EXCEPT"})) {
    // A wildcard takes no alias, with AS or without.
    CheckNotWildcard(expression);
    Item->Alias = TokenText();
    NextToken();
  }
}

TBRNExprToken* TBRNExprParser::ParseTableReference(TBRNParseFlags Flags) {
  if (!IsToken('(')) {
    TBRNParsedTree node(ParseQualifiedTableName(Flags));
    node->AddArgument(nullptr);  // trDerivedQuery
    ParseCorrelationName(node.Get(), false);
    return node.Release();
  }

  // A derived table: (SELECT ...) name. It is named by its correlation name.
  TBRNParseNesting nesting(*this);
  TBRNParsedTree node(NewNode(tkTableReference, opDerivedTable));
  NextToken();
  if (!IsKeyword("SELECT")) Expected("SELECT");
  if (!(Flags & pcQueries)) InvalidExpression("query expression not allowed");
  BeginCapture();
  node->AddArgument(ParseQuery(Flags & ~(pcInto | pcNoOrderBy)));
  node->Text = EndCapture();
  node->Parenthesized = true;
  ExpectToken(')');
  ParseCorrelationName(node.Get(), true);
  node->Name = node->Alias;
  return node.Release();
}

TBRNExprToken* TBRNExprParser::ParseQualifiedTableName(TBRNParseFlags Flags) {
  if (!IsIdentifierToken()) Expected("table name");
  TBRNParsedTree node(NewNode(tkTableReference, opNone));
  readTableNameParts(node.Get(), Flags);
  return node.Release();
}

// Reads name, schema.name (or database.name) or database.schema.name into
// Node, whose current token is the first part (an identifier). Node's
// DatabaseName is kept unless a database is written.
void TBRNExprParser::readTableNameParts(TBRNExprToken* Node, TBRNParseFlags Flags) {
  Node->Name = TokenText();
  NextToken();
  if (!IsToken('.')) return;
  if (!(Flags & pcSchemaQualifier)) InvalidExpression("schema qualifier not allowed");
  Node->SchemaName = std::move(Node->Name);
  NextToken();
  if (!IsIdentifierToken()) Expected("table name");
  Node->Name = TokenText();
  NextToken();

  if (IsToken('.')) {
    if (!(Flags & pcDatabaseQualifier)) InvalidExpression("database qualifier not allowed");
    Node->DatabaseName = std::move(Node->SchemaName);
    Node->SchemaName = std::move(Node->Name);
    NextToken();
    if (!IsIdentifierToken()) Expected("table name");
    Node->Name = TokenText();
    NextToken();
    return;
  }
  // One qualifier names a database, except the two schema names.
  if (!TextEqualsIgnoreCase(Node->SchemaName, "Information") &&
      !TextEqualsIgnoreCase(Node->SchemaName, "Default")) {
    Node->DatabaseName = std::move(Node->SchemaName);
    Node->SchemaName.clear();
  }
}

void TBRNExprParser::ParseCorrelationName(TBRNExprToken* Node, bool Required) {
  static constexpr std::string_view kMissing = "table or query correlation name";
  // An empty alias ("") would be no alias at all.
  if (AcceptKeyword("AS")) {
    if (!IsIdentifierToken() || TokenText().empty()) Expected(kMissing);
    Node->Alias = TokenText();
    NextToken();
    return;
  }
  // The words that may follow a table reference never name it. FULL is among
  // them so that "A FULL JOIN B" is refused instead of joining B to an A
  // named FULL.
  if (IsIdentifierToken() && !TokenText().empty() && !wordIn(currentWord(), {"SET",
                                                     "LEFT",
                                                     "RIGHT",
                                                     "INNER",
                                                     "JOIN",
                                                     "ON",
                                                     "WHERE",
                                                     "ORDER",
                                                     "GROUP",
                                                     "HAVING",
                                                     "RANGE",
                                                     "NOJOINOPTIMIZE",
                                                     "JOINOPTIMIZECOSTS",
                                                     "UNION",
                                                     "INTERSECT",
                                                     "EXCEPT",
                                                     "DESCRIPTION",
                                                     "VERSION",
                                                     "ATTRIBUTES",
                                                     "WITH",
                                                     "WITHOUT",
                                                     "FULL"})) {
    Node->Alias = TokenText();
    NextToken();
    return;
  }
  if (Required) Expected(kMissing);
}

TBRNExprToken* TBRNExprParser::ParseJoinCondition(TBRNParseFlags Flags) {
  return ParseDisjunction(Flags | pcRowValues);
}

TBRNExprToken* TBRNExprParser::ParseWhereCondition(TBRNParseFlags Flags) {
  return ParseDisjunction(Flags | pcRowValues | pcContains);
}

TBRNExprToken* TBRNExprParser::ParseHavingCondition(TBRNParseFlags Flags) {
  return ParseDisjunction(Flags | pcRowValues | pcAggregates);
}

TBRNExprToken* TBRNExprParser::ParseGroupByItem() {
  TBRNParsedTree item(NewNode(tkOrderItem, opNone));
  item->AddArgument(ParseDisjunction(kOrderExpressionFlags));
  ParseCollateAndOrder(item.Get(), 0);
  return item.Release();
}

TBRNExprToken* TBRNExprParser::ParseOrderByItem() {
  TBRNParsedTree item(NewNode(tkOrderItem, opNone));
  item->AddArgument(ParseDisjunction(kOrderExpressionFlags));
  ParseCollateAndOrder(item.Get(), pcOrdering);
  return item.Release();
}

TBRNExprToken* TBRNExprParser::ParseSetOperation(TBRNParseFlags Flags) {
  TBRNExprOperation code;
  if (IsKeyword("UNION"))
    code = opUnion;
  else if (IsKeyword("EXCEPT"))
    code = opExcept;
  else if (IsKeyword("INTERSECT"))
    code = opIntersect;
  else
    Expected("UNION, INTERSECT, EXCEPT");
  NextToken();
  // Each ALL code follows its plain one.
  if (AcceptKeyword("ALL")) code = TBRNExprOperation(code + 1);
  return ParseSetOperand(Flags | pcNoOrderBy, code);
}

TBRNExprToken* TBRNExprParser::ParseSetOperand(TBRNParseFlags Flags, TBRNExprOperation Code) {
  // A chain of set operations nests one operand in the next: the nesting
  // limit bounds it like any other nesting.
  TBRNParseNesting nesting(*this);
  const bool parenthesized = AcceptToken('(');
  BeginCapture();
  TBRNParsedTree operand(ParseQuery(Flags & ~pcInto));
  operand->Text = EndCapture();
  if (parenthesized) {
    operand->Parenthesized = true;
    ExpectToken(')');
  }
  operand->Argument(qpSetOperation)->Operation = Code;
  return operand.Release();
}

TBRNExprToken* TBRNExprParser::ParseRange(TBRNParseFlags Flags) {
  TBRNParsedTree range(NewNode(tkList, opRange));
  NextToken();
  range->AddArgument(ParsePrimary(Flags));
  range->AddArgument(AcceptKeyword("TO") ? ParsePrimary(Flags) : nullptr);
  return range.Release();
}

}  // namespace brn
