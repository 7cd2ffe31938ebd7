// Query expressions: SELECT with its clauses, set operations and options.

#include <string_view>
#include <unordered_set>

#include "sql/builder/sql_builder.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

bool isSetOperation(TBRNExprOperation Operation) {
  switch (Operation) {
    case opUnion:
    case opUnionAll:
    case opExcept:
    case opExceptAll:
    case opIntersect:
    case opIntersectAll:
      return true;
    default:
      return false;
  }
}

bool isJoinWithCondition(const TBRNExprToken* Entry) {
  return Entry && Entry->Kind == tkJoin &&
         (Entry->Operation == opInnerJoin || Entry->Operation == opLeftJoin ||
          Entry->Operation == opRightJoin);
}

// The precedence level a condition is written at when Count conditions are
// joined by AND (1 OR, 2 AND, 3 NOT: see expression_builder.cpp).
int32_t conditionLevel(int32_t Index, int32_t Count) {
  if (Count <= 1) return 1;
  return Index == 0 ? 2 : 3;
}

}  // namespace

void TBRNExprBuilder::BuildQuery(const TBRNExprToken* Query, bool Nested) {
  buildQuery(Query, Nested, true);
}

// AllowParentheses false leaves out the query's own parentheses (a source
// query of an INSERT without a column list reads back only without them).
void TBRNExprBuilder::buildQuery(const TBRNExprToken* Query, bool Nested, bool AllowParentheses) {
  if (!Query) return;
  if (const TBRNExprToken* marker = OptionalArgument(Query, qpSetOperation);
      marker && isSetOperation(marker->Operation)) {
    Output.Append(OperationInfo(marker->Operation).BuilderWord);
    WriteLineBreak();
  }
  const bool parens = AllowParentheses && Query->Parenthesized;
  if (parens) Output.AppendChar('(');
  const bool multiLine = MultiLine;
  if (Nested || Query->Operation == opCorrelated || Query->Operation == opSubquery)
    MultiLine = false;

  const TBRNExprToken* selectList = OptionalArgument(Query, qpSelectList);
  Output.Append(selectList && selectList->Operation == opDistinct ? "SELECT DISTINCT"
                                                                  : "SELECT ALL");
  WriteSelectList(selectList);
  if (const TBRNExprToken* into = OptionalArgument(Query, qpInto)) WriteInto(into);
  const TBRNExprToken* from = OptionalArgument(Query, qpFrom);
  WriteFrom(from);
  WriteWhere(from, OptionalArgument(Query, qpWhere));
  WriteGroupBy(OptionalArgument(Query, qpGroupBy));
  WriteHaving(OptionalArgument(Query, qpHaving));
  if (const TBRNExprToken* next = OptionalArgument(Query, qpSetOperand)) {
    WriteLineBreak();
    buildQuery(next, false, true);
  }
  WriteOrderBy(OptionalArgument(Query, qpOrderBy));
  WriteQueryOptions(Query);

  MultiLine = multiLine;
  if (parens) Output.AppendChar(')');
}

void TBRNExprBuilder::WriteSelectList(const TBRNExprToken* List) {
  if (!List) return;
  bool first = true;
  for (const TBRNExprToken* item : List->Arguments()) {
    if (!item || item->Hidden) continue;
    if (!first) Output.AppendChar(',');
    first = false;
    WriteLineBreak();
    // A query without parentheses of its own would take the alias that
    // follows it for its last table or select item.
    const TBRNExprToken* expression = OptionalArgument(item, 0);
    writeListMember(expression, 1, !item->Alias.empty());
    if (!item->Alias.empty()) {
      Output.Append(" AS ");
      writeQuotedName(item->Alias);
    }
  }
}

void TBRNExprBuilder::WriteInto(const TBRNExprToken* List) {
  WriteLineBreak();
  Output.Append("INTO");
  bool first = true;
  for (const TBRNExprToken* target : List->Arguments()) {
    if (!first) Output.AppendChar(',');
    first = false;
    Output.AppendChar(' ');
    // A target is a primary: a name, or whatever the source wrote there.
    writeExpression(target, 8);
  }
}

void TBRNExprBuilder::WriteFrom(const TBRNExprToken* List) {
  if (!List) return;
  WriteLineBreak();
  Output.Append("FROM");

  // The tables that INNER, LEFT and RIGHT joins bring in are written with
  // their join, not listed; a table that a comma also brings in is listed.
  std::unordered_set<const TBRNExprToken*> joined;
  std::unordered_set<const TBRNExprToken*> crossJoined;
  for (const TBRNExprToken* item : List->Arguments()) {
    const TBRNExprToken* joins = OptionalArgument(item, trJoins);
    if (!joins) continue;
    for (const TBRNExprToken* entry : joins->Arguments()) {
      if (isJoinWithCondition(entry))
        joined.insert(entry->JoinTable);
      else if (entry && entry->Operation == opCrossJoin)
        crossJoined.insert(entry->JoinTable);
    }
  }

  bool previousHadJoins = false;
  for (int32_t i = 0; i < List->ArgumentCount(); ++i) {
    const TBRNExprToken* item = List->Argument(i);
    if (!item) continue;
    const bool listed = !joined.count(item) || crossJoined.count(item);
    if (listed) {
      if (i == 0) {
        Output.AppendChar(' ');
      } else {
        Output.AppendChar(',');
        if (previousHadJoins)
          WriteLineBreak();
        else
          Output.AppendChar(' ');
      }
      WriteNodeName(item);
    }
    const TBRNExprToken* joins = OptionalArgument(item, trJoins);
    previousHadJoins = joins && joins->ArgumentCount() > 0;
    if (!joins) continue;
    bool firstEntry = true;
    for (const TBRNExprToken* entry : joins->Arguments()) {
      if (!isJoinWithCondition(entry)) continue;
      if (firstEntry && listed)
        Output.AppendChar(' ');
      else
        WriteLineBreak();
      firstEntry = false;
      Output.Append(OperationInfo(entry->Operation).BuilderWord);
      Output.AppendChar(' ');
      WriteNodeName(entry->JoinTable);
      Output.Append(" ON");
      const int32_t count = entry->ArgumentCount();
      for (int32_t c = 0; c < count; ++c) {
        if (c > 0) Output.Append(" AND");
        Output.AppendChar(' ');
        // Several conditions are joined by AND: an OR among them (or an AND
        // after the first) keeps its parentheses.
        writeExpression(entry->Argument(c), conditionLevel(c, count));
      }
    }
  }
}

void TBRNExprBuilder::WriteWhere(const TBRNExprToken* FromList, const TBRNExprToken* WhereList) {
  TBRNExprTokens conditions;
  if (FromList)
    for (const TBRNExprToken* item : FromList->Arguments())
      if (const TBRNExprToken* own = OptionalArgument(item, trConditions))
        for (TBRNExprToken* condition : own->Arguments())
          if (condition) conditions.push_back(condition);
  if (WhereList)
    for (TBRNExprToken* condition : WhereList->Arguments())
      if (condition) conditions.push_back(condition);
  if (conditions.empty()) return;
  WriteLineBreak();
  Output.Append("WHERE ");
  for (size_t i = 0; i < conditions.size(); ++i) {
    if (i > 0) Output.Append(" AND ");
    writeExpression(conditions[i], conditionLevel(int32_t(i), int32_t(conditions.size())));
  }
}

void TBRNExprBuilder::WriteGroupBy(const TBRNExprToken* List) {
  writeOrderItems("GROUP BY ", List);
}

void TBRNExprBuilder::WriteHaving(const TBRNExprToken* Condition) {
  if (!Condition) return;
  WriteLineBreak();
  Output.Append("HAVING ");
  writeExpression(Condition, 1);
}

void TBRNExprBuilder::WriteOrderBy(const TBRNExprToken* List) {
  writeOrderItems("ORDER BY ", List);
}

void TBRNExprBuilder::writeOrderItems(std::string_view Clause, const TBRNExprToken* List) {
  if (!List || List->ArgumentCount() == 0) return;
  WriteLineBreak();
  Output.Append(Clause);
  for (int32_t i = 0; i < List->ArgumentCount(); ++i) {
    const TBRNExprToken* item = List->Argument(i);
    if (i > 0) Output.Append(", ");
    writeExpression(OptionalArgument(item, 0), 1);
    if (const TBRNExprToken* collation = OptionalArgument(item, 1)) {
      Output.Append(" COLLATE ");
      WriteNodeName(collation->Kind == tkList ? OptionalArgument(collation, 0) : collation);
    }
    if (const TBRNExprToken* direction = OptionalArgument(item, 2)) {
      if (direction->Operation == opAscending)
        Output.Append(" ASC");
      else if (direction->Operation == opDescending)
        Output.Append(" DESC");
    }
  }
}

void TBRNExprBuilder::WriteQueryOptions(const TBRNExprToken* Query) {
  for (int32_t i = qpFixedCount; i < Query->ArgumentCount(); ++i) {
    const TBRNExprToken* option = Query->Argument(i);
    if (!option) continue;
    switch (option->Operation) {
      case opJoinOptimizeCosts:
      case opNoJoinOptimize:
        WriteLineBreak();
        Output.Append(OperationInfo(option->Operation).BuilderWord);
        break;
      case opRange: {
        WriteLineBreak();
        Output.Append("RANGE ");
        // The bounds are primaries: a literal, a parameter or a
        // parenthesised expression.
        writeExpression(OptionalArgument(option, 0), 1);
        if (const TBRNExprToken* last = OptionalArgument(option, 1)) {
          Output.Append(" TO ");
          writeExpression(last, 1);
        }
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace brn
