// Expressions, names, literals and data types.
//
// Precedence levels, loosest first, as the parser reads them:
//   1 OR, 2 AND, 3 NOT, 4 comparisons and predicates, 5 + -, 6 * / MOD,
//   7 unary minus, 8 primaries (constants, names, calls, parenthesised
//   expressions, subqueries, row values, interval differences).
// An operand position takes a minimum level; a node below it is written in
// parentheses. Parsed trees already carry Parenthesized wherever the source
// needed parentheses, so the minimum only matters for trees made in code
// (a simple CASE's equalities, validator rewrites).

#include <string>
#include <string_view>

#include "foundation/text/char_classes.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/data_types.h"
#include "foundation/values/value.h"
#include "sql/builder/sql_builder.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"

namespace brn {

namespace {

constexpr int32_t kLevelOr = 1;
constexpr int32_t kLevelAnd = 2;
constexpr int32_t kLevelNot = 3;
constexpr int32_t kLevelPredicate = 4;
constexpr int32_t kLevelSum = 5;
constexpr int32_t kLevelProduct = 6;
constexpr int32_t kLevelSigned = 7;
constexpr int32_t kLevelPrimary = 8;

int32_t precedence(const TBRNExprToken* Node) {
  switch (Node->Kind) {
    case tkOperator:
      switch (Node->Operation) {
        case opOr:
          return kLevelOr;
        case opAnd:
          return kLevelAnd;
        case opEqual:
        case opGreaterOrEqual:
        case opGreater:
        case opLessOrEqual:
        case opLess:
        case opNotEqual:
          return kLevelPredicate;
        case opMultiply:
        case opDivide:
        case opMod:
          return kLevelProduct;
        case opIntervalDifference:
          return kLevelPrimary;
        default:
          return kLevelSum;
      }
    case tkUnaryOperator:
      return Node->Operation == opNot ? kLevelNot : kLevelSigned;
    case tkPredicate:
      return kLevelPredicate;
    default:
      return kLevelPrimary;
  }
}

// The minimum levels of a binary operator's operands.
void operandLevels(TBRNExprOperation Operation, int32_t& Left, int32_t& Right) {
  switch (Operation) {
    case opOr:
      Left = kLevelOr;
      Right = kLevelAnd;
      return;
    case opAnd:
      Left = kLevelAnd;
      Right = kLevelNot;
      return;
    case opMultiply:
    case opDivide:
    case opMod:
      Left = kLevelProduct;
      Right = kLevelSigned;
      return;
    case opAdd:
    case opSubtract:
    case opIntervalDifference:
      Left = kLevelSum;
      Right = kLevelProduct;
      return;
    default:  // comparisons
      Left = kLevelSum;
      Right = kLevelSum;
      return;
  }
}

bool isComparison(TBRNExprOperation Operation) {
  return Operation == opEqual || Operation == opGreaterOrEqual || Operation == opGreater ||
         Operation == opLessOrEqual || Operation == opLess || Operation == opNotEqual;
}

// Whether Node's own parentheses are written around it by writeExpression.
// Queries write theirs in BuildQuery; a data type's flag means its length was
// written in parentheses; a derived table writes its own.
bool ownParentheses(const TBRNExprToken* Node) {
  return Node->Parenthesized && Node->Kind != tkQuery && Node->Kind != tkDataType &&
         !(Node->Kind == tkTableReference && Node->Operation == opDerivedTable);
}

// The level the arguments of a function are read at.
int32_t argumentLevel(const TBRNExprToken* Function, int32_t Index) {
  switch (Function->Operation) {
    case opCase:
    case opCaseConditions:
    case opCaseResults:
    case opIf:
    case opIfNull:
    case opNullIf:
    case opCoalesce:
    case opUserFunction:
      return kLevelOr;
    case opCast:
      return Index == 0 ? kLevelOr : kLevelPrimary;
    case opCardinality:
      return kLevelPredicate;
    case opExists:
      return kLevelPrimary;
    case opRound:
    case opTruncate:
      return Index == 0 ? kLevelSum : kLevelPrimary;
    case opTrimBoth:
    case opTrimLeading:
    case opTrimTrailing:
      return Index == 0 ? kLevelPrimary : kLevelSum;
    default:
      return kLevelSum;
  }
}

std::string_view extractField(TBRNExprOperation Operation) {
  switch (Operation) {
    case opExtractDay:
      return "DAY";
    case opExtractDayOfWeek:
      return "DAYOFWEEK";
    case opExtractDayOfYear:
      return "DAYOFYEAR";
    case opExtractHour:
      return "HOUR";
    case opExtractMinute:
      return "MINUTE";
    case opExtractMonth:
      return "MONTH";
    case opExtractMSecond:
      return "MSECOND";
    case opExtractSecond:
      return "SECOND";
    case opExtractWeek:
      return "WEEK";
    case opExtractYear:
      return "YEAR";
    default:
      return {};
  }
}

bool isPlainIdentifier(std::string_view Name) {
  if (Name.empty() || !IdentifierStartChars.Contains(static_cast<unsigned char>(Name[0])))
    return false;
  for (char c : Name)
    if (!IdentifierStartChars.Contains(static_cast<unsigned char>(c)) &&
        !DigitChars.Contains(static_cast<unsigned char>(c)))
      return false;
  return true;
}

// The names a node of these kinds carries in double quotes.
bool isQuotedNameKind(TBRNExprTokenKind Kind) {
  // Kind 10 is produced by no construct; it is written like the names.
  if (uint8_t(Kind) == 10) return true;
  switch (Kind) {
    case tkGranteeName:
    case tkBackupName:
    case tkCollationName:
    case tkColumnName:
    case tkConstraintName:
    case tkDatabaseName:
    case tkFunctionName:
    case tkIndexName:
    case tkJobName:
    case tkMigratorName:
    case tkModuleName:
    case tkProcedureName:
    case tkRoleName:
    case tkTableName:
    case tkTextFilterName:
    case tkUserName:
    case tkWordGeneratorName:
      return true;
    default:
      return false;
  }
}

// Whether Node's text ends with a query that has no parentheses of its own
// (a + SELECT b FROM t).
bool endsWithBareQuery(const TBRNExprToken* Node) {
  while (Node && !Node->Parenthesized) {
    switch (Node->Kind) {
      case tkQuery:
        return true;
      case tkOperator:
        if (Node->Operation == opIntervalDifference) return false;
        Node = Node->Right();
        break;
      case tkUnaryOperator:
        Node = Node->Left();
        break;
      case tkPredicate: {
        if (Node->Operation == opIn || Node->Operation == opNotIn || Node->Operation == opIsNull ||
            Node->Operation == opIsNotNull)
          return false;
        // BETWEEN's upper bound, LIKE's pattern or escape, CONTAINS' text.
        const TBRNExprToken* last = nullptr;
        for (int32_t i = Node->ArgumentCount() - 1; i >= 1 && !last; --i) last = Node->Argument(i);
        Node = last;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

}  // namespace

const TBRNExprToken* OptionalArgument(const TBRNExprToken* Node, int32_t Index) {
  if (!Node || Index < 0 || Index >= Node->ArgumentCount()) return nullptr;
  return Node->Argument(Index);
}

// ---- Layout -------------------------------------------------------------------

void TBRNExprBuilder::WriteLineBreak() {
  if (MultiLine)
    Output.Append("\r\n");
  else
    Output.AppendChar(' ');
  WriteIndent();
}

void TBRNExprBuilder::WriteIndent() {
  if (IndentLevel < 0) return;
  for (int32_t i = 0; i <= IndentLevel; ++i) Output.Append("   ");
}

// A name in double quotes. The lexer gives a quoted identifier back with
// doubled '"' and doubled '\'' collapsed, so both are doubled here: the
// name reads back unchanged.
void TBRNExprBuilder::writeQuotedName(std::string_view Name) {
  Output.AppendChar('"');
  Output.Append(DoubleChar('"', DoubleChar('\'', Name)));
  Output.AppendChar('"');
}

// Cursor, statement, variable and parameter names are written as they are
// when they read back as one plain identifier, else quoted.
void TBRNExprBuilder::writePlainName(std::string_view Name) {
  if (isPlainIdentifier(Name))
    Output.Append(Name);
  else
    writeQuotedName(Name);
}

// ---- Names ----------------------------------------------------------------------

void TBRNExprBuilder::WriteNodeName(const TBRNExprToken* Node) {
  if (!Node) return;
  switch (Node->Kind) {
    case tkNone:
    case tkColumnReference:
    case tkOuterColumnReference:
    case tkRowColumnReference:
    case tkTableReference: {
      if (Node->Operation == opDerivedTable) {
        Output.AppendChar('(');
        const int32_t indent = IndentLevel;
        IndentLevel = -1;
        BuildQuery(OptionalArgument(Node, trDerivedQuery), true);
        IndentLevel = indent;
        Output.AppendChar(')');
      } else {
        bool first = true;
        for (const std::string* part : {&Node->DatabaseName, &Node->SchemaName, &Node->Name}) {
          if (part->empty() && part != &Node->Name) continue;
          if (!first) Output.AppendChar('.');
          writeQuotedName(*part);
          first = false;
        }
      }
      if (Node->Kind == tkTableReference) {
        if (!Node->Alias.empty()) {
          Output.Append(" AS ");
          writeQuotedName(Node->Alias);
        }
      } else if (Node->Kind == tkColumnReference) {
        if (const TBRNExprToken* index = OptionalArgument(Node, 0)) {
          Output.Append(" [");
          writeExpression(OptionalArgument(index, 0), kLevelSum);
          Output.AppendChar(']');
        }
        if (const TBRNExprToken* collation = OptionalArgument(Node, 1)) {
          Output.Append(" COLLATE ");
          WriteNodeName(OptionalArgument(collation, 0));
        }
      }
      return;
    }
    case tkArrayVariable:
      writePlainName(Node->Name);
      Output.Append(" [");
      Output.Append(std::to_string(Node->ArgumentCount()));
      Output.AppendChar(']');
      return;
    case tkArrayReference:
    case tkRoutineParamReference:
    case tkVariableReference:
    case tkArrayElement:
      writePlainName(Node->Name);
      if (Node->Kind == tkArrayElement) {
        Output.Append(" [");
        writeExpression(OptionalArgument(OptionalArgument(Node, 0), 0), kLevelSum);
        Output.AppendChar(']');
      }
      if (const TBRNExprToken* collation = OptionalArgument(Node, 1)) {
        Output.Append(" COLLATE ");
        // A collation list (COLLATE on a reference) or the name itself.
        WriteNodeName(collation->Kind == tkList ? OptionalArgument(collation, 0) : collation);
      }
      return;
    case tkCursorDeclaration:
    case tkCursorReference:
    case tkRoutineCall:
    case tkStatementName:
    case tkStatementReference:
    case tkRoutineParam:
    case tkVariable:
      writePlainName(Node->Name);
      return;
    case tkOperator:
    case tkPredicate:
    case tkFunction:
    case tkUnaryOperator:
      if (Node->Operation == opUserFunction)
        Output.Append(Node->Name);
      else
        Output.Append(OperationInfo(Node->Operation).BuilderWord);
      return;
    case tkConstant:
      WriteLiteral(Node->Text, Node->DataType, Node->SubType);
      return;
    case tkDynamicParamReference:
      if (ParameterValues && Node->Value) {
        if (Node->Value->GetNull())
          Output.Append("NULL");
        else
          WriteLiteral(Node->Value->GetAsString(), Node->DataType, Node->SubType);
      } else {
        Output.AppendChar('?');
      }
      return;
    case tkQuery: {
      const TBRNExprToken* item = OptionalArgument(OptionalArgument(Node, qpSelectList), 0);
      if (!item) return;
      if (!item->Text.empty())
        Output.Append(item->Text);
      else
        BuildSQL(OptionalArgument(item, 0));
      return;
    }
    case tkSelectItem:
      writeQuotedName(Node->Alias);
      return;
    case tkOrderItem:
      if (Node->Link) BuildSQL(OptionalArgument(Node->Link, 0));
      return;
    default:
      if (isQuotedNameKind(Node->Kind)) writeQuotedName(Node->Name);
      return;
  }
}

// ---- Literals and types ------------------------------------------------------------

void TBRNExprBuilder::WriteLiteral(std::string_view Text, int32_t DataType, int32_t SubType) {
  const auto type = TBRNDataTypeCode(DataType);
  // Quoted literals double the quote inside them, so that any text the
  // parser took from a literal reads back unchanged.
  const auto quoted = [&](std::string_view Prefix) {
    Output.Append(Prefix);
    Output.AppendChar('\'');
    Output.Append(DoubleChar('\'', Text));
    Output.AppendChar('\'');
  };
  if (IsTextDataType(type, SubType)) {
    quoted("");
  } else if (type == dtBytes || type == dtLob) {
    // The lexer collapses a doubled '"' in a byte literal.
    Output.Append("X'");
    Output.Append(DoubleChar('"', Text));
    Output.AppendChar('\'');
  } else if (type == dtDate) {
    quoted("DATE ");
  } else if (type == dtTime) {
    quoted("TIME ");
  } else if (type == dtTimestamp) {
    quoted("TIMESTAMP ");
  } else if (type == dtYearMonthInterval || type == dtDayTimeInterval) {
    quoted("INTERVAL ");
    Output.AppendChar(' ');
    Output.Append(IntervalQualifierText(type, SubType));
  } else {
    Output.Append(Text);
  }
}

void TBRNExprBuilder::WriteIntervalQualifier(const TBRNExprToken* Node) {
  Output.Append(IntervalQualifierText(Node->DataType, Node->SubType));
}

// The type word, then the length (or precision and scale) as written in the
// source when the node still holds it as arguments, else from the node's
// declared size and scale; then the collation of a character type.
void TBRNExprBuilder::WriteDataType(const TBRNExprToken* Node) {
  const TBRNDataTypeCode type = Node->DataType;
  const bool character = type == dtChar || type == dtBytes;
  const bool hasArguments = Node->ArgumentCount() > 0;
  if (!hasArguments) {
    Output.Append(DataTypeDefinition(type, Node->SubType, character ? Node->Size : 0,
                                     type == dtDecimal ? Node->Scale : 0));
    return;
  }
  Output.Append(DataTypeDefinition(type, Node->SubType, 0, 0));
  if (type == dtDecimal || type == dtFloat) {
    const TBRNExprToken* precision = OptionalArgument(Node, 0);
    if (precision) {
      Output.AppendChar('(');
      writeExpression(precision, kLevelPrimary);
      if (const TBRNExprToken* scale = OptionalArgument(Node, 1)) {
        Output.Append(", ");
        writeExpression(scale, kLevelPrimary);
      }
      Output.AppendChar(')');
    }
    return;
  }
  if (character && Node->SubType != stGuid) {
    if (const TBRNExprToken* length = OptionalArgument(Node, 0)) {
      Output.AppendChar('(');
      writeExpression(length, kLevelPrimary);
      Output.AppendChar(')');
    }
  }
  if (IsTextDataType(type, Node->SubType)) {
    if (const TBRNExprToken* collation = OptionalArgument(Node, 1)) {
      Output.Append(" COLLATE ");
      WriteNodeName(collation->Kind == tkList ? OptionalArgument(collation, 0) : collation);
    }
  }
}

// ---- Expressions ---------------------------------------------------------------------

void TBRNExprBuilder::BuildSQL(const TBRNExprToken* Node) {
  writeExpression(Node, 0);
}

// A query (in the parentheses of its source, if any), on one line.
void TBRNExprBuilder::writeBareQuery(const TBRNExprToken* Node) {
  const int32_t indent = IndentLevel;
  IndentLevel = -1;
  BuildQuery(Node, true);
  IndentLevel = indent;
}

// A member of a list, or an item before its alias. A query reads greedily:
// one without parentheses of its own followed by a comma would take what
// follows as more select items or tables, and one followed by an alias
// would take it for its last table; GreedyFollows says such a text follows,
// and the query gets parentheses. (The source had a separator word there,
// FOR, AS, ..., a word that ends a table but names a select item, or
// parentheses the parser does not keep, as around the first member of a
// row.)
void TBRNExprBuilder::writeListMember(const TBRNExprToken* Node, int32_t MinLevel,
                                      bool GreedyFollows) {
  const bool parens = GreedyFollows && endsWithBareQuery(Node);
  if (parens) Output.AppendChar('(');
  writeExpression(Node, MinLevel);
  if (parens) Output.AppendChar(')');
}

void TBRNExprBuilder::writeExpression(const TBRNExprToken* Node, int32_t MinLevel) {
  if (!Node) return;
  switch (Node->Kind) {
    case tkOperator:
      writeOperatorChain(Node, MinLevel);
      return;
    case tkQuery:
      writeBareQuery(Node);
      return;
    default:
      break;
  }

  const bool parens = ownParentheses(Node) || precedence(Node) < MinLevel;
  const bool plan = Plan && Node->Kind == tkPredicate;
  const bool multiLine = MultiLine;
  if (plan) MultiLine = true;
  if (parens) Output.AppendChar('(');
  switch (Node->Kind) {
    case tkPredicate:
      writePredicate(Node);
      break;
    case tkFunction:
      writeFunction(Node, Node->ArgumentCount());
      break;
    case tkRowValue:
      Output.AppendChar('(');
      for (int32_t i = 0; i < Node->ArgumentCount(); ++i) {
        if (i > 0) Output.Append(", ");
        writeListMember(Node->Argument(i), kLevelOr, i + 1 < Node->ArgumentCount());
      }
      Output.AppendChar(')');
      break;
    case tkUnaryOperator:
      if (Node->Operation == opNot) {
        Output.Append("NOT ");
        writeExpression(Node->Left(), kLevelPredicate);
      } else {
        Output.Append("- ");
        writeExpression(Node->Left(), kLevelPrimary);
      }
      break;
    case tkDataType:
      WriteDataType(Node);
      break;
    default:
      WriteNodeName(Node);
      break;
  }
  if (parens) Output.AppendChar(')');
  if (plan) WritePlanNotes(Node);
  MultiLine = multiLine;
}

// Binary operators. A left-deep chain (a + b + c ..., a AND b AND c ...) is
// written without recursion: such chains are as long as the source makes
// them. Plan mode writes each node on its own (conditions are small).
void TBRNExprBuilder::writeOperatorChain(const TBRNExprToken* Node, int32_t MinLevel) {
  if (Plan &&
      (Node->Operation == opAnd || Node->Operation == opOr || isComparison(Node->Operation))) {
    const bool parens = ownParentheses(Node) || precedence(Node) < MinLevel;
    writePlanOperator(Node, parens);
    return;
  }

  // The spine: Node, its left operand while that is a binary operator that
  // needs no parentheses of precedence, and so on.
  TBRNExprTokens spine;
  std::vector<bool> opened;
  int32_t minLevel = MinLevel;
  const TBRNExprToken* current = Node;
  for (;;) {
    spine.push_back(const_cast<TBRNExprToken*>(current));
    const bool interval = current->Operation == opIntervalDifference;
    opened.push_back(interval || ownParentheses(current) || precedence(current) < minLevel);
    int32_t left = 0;
    int32_t right = 0;
    operandLevels(current->Operation, left, right);
    const TBRNExprToken* next = current->Left();
    if (!next || next->Kind != tkOperator || next->Operation == opIntervalDifference ||
        (Plan &&
         (next->Operation == opAnd || next->Operation == opOr || isComparison(next->Operation))))
      break;
    minLevel = left;
    current = next;
  }
  for (size_t i = 0; i < spine.size(); ++i)
    if (opened[i]) Output.AppendChar('(');

  {
    const TBRNExprToken* bottom = spine.back();
    int32_t left = 0;
    int32_t right = 0;
    operandLevels(bottom->Operation, left, right);
    writeExpression(bottom->Left(), left);
  }
  for (size_t i = spine.size(); i-- > 0;) {
    const TBRNExprToken* node = spine[i];
    int32_t left = 0;
    int32_t right = 0;
    operandLevels(node->Operation, left, right);
    Output.AppendChar(' ');
    Output.Append(OperationInfo(node->Operation).BuilderWord);
    Output.AppendChar(' ');
    writeExpression(node->Right(), right);
    if (opened[i]) Output.AppendChar(')');
    // The qualifier of a difference follows its parentheses: "(a - b) DAY".
    if (node->Operation == opIntervalDifference) {
      Output.AppendChar(' ');
      WriteIntervalQualifier(node);
    }
  }
}

// Conditions in plan mode: every line break inside is CR LF, and each
// analysed part is followed by its notes.
void TBRNExprBuilder::writePlanOperator(const TBRNExprToken* Node, bool Parens) {
  const bool multiLine = MultiLine;
  MultiLine = true;
  int32_t left = 0;
  int32_t right = 0;
  operandLevels(Node->Operation, left, right);
  const std::string_view word = OperationInfo(Node->Operation).BuilderWord;
  const bool logical = Node->Operation == opAnd || Node->Operation == opOr;
  if (Parens) Output.AppendChar('(');
  if (!logical || !Node->ScanName.empty()) {
    // One note for the whole node: its parts are written plain.
    Plan = false;
    writeExpression(Node->Left(), left);
    Output.AppendChar(' ');
    Output.Append(word);
    Output.AppendChar(' ');
    writeExpression(Node->Right(), right);
    Plan = true;
    if (Parens) Output.AppendChar(')');
    WritePlanNotes(Node);
  } else {
    writeExpression(Node->Left(), left);
    WriteLineBreak();
    WriteLineBreak();
    Output.Append(word);
    WriteLineBreak();
    WriteLineBreak();
    writeExpression(Node->Right(), right);
    if (Parens) Output.AppendChar(')');
  }
  MultiLine = multiLine;
}

void TBRNExprBuilder::writePredicate(const TBRNExprToken* Node) {
  const bool plan = Plan;
  Plan = false;
  writeExpression(OptionalArgument(Node, 0), kLevelSum);
  Output.AppendChar(' ');
  Output.Append(OperationInfo(Node->Operation).BuilderWord);
  switch (Node->Operation) {
    case opBetween:
    case opNotBetween:
      for (int32_t i = 1; i < Node->ArgumentCount(); ++i) {
        Output.Append(i == 1 ? " " : " AND ");
        writeExpression(Node->Argument(i), kLevelSum);
      }
      break;
    case opIn:
    case opNotIn:
      Output.Append(" (");
      for (int32_t i = 1; i < Node->ArgumentCount(); ++i) {
        if (i > 1) Output.Append(", ");
        writeListMember(Node->Argument(i), kLevelSum, i + 1 < Node->ArgumentCount());
      }
      Output.AppendChar(')');
      break;
    case opLike:
    case opNotLike:
      Output.AppendChar(' ');
      writeExpression(OptionalArgument(Node, 1), kLevelSum);
      if (const TBRNExprToken* escape = OptionalArgument(Node, 2)) {
        Output.Append(" ESCAPE ");
        writeExpression(escape, kLevelPrimary);
      }
      break;
    case opContains:
    case opContainsAny:
    case opNotContain:
    case opNotContainAny:
      Output.AppendChar(' ');
      writeExpression(OptionalArgument(Node, 1), kLevelPrimary);
      break;
    default:  // IS NULL, IS NOT NULL
      break;
  }
  Plan = plan;
}

// ArgumentCount: how many of the node's arguments are its own (a TIME
// FORMAT value carries the AM and PM literals as two more).
void TBRNExprBuilder::writeFunction(const TBRNExprToken* Node, int32_t ArgumentCount) {
  const TBRNExprOperation operation = Node->Operation;
  if (operation == opCase) {
    writeCase(Node);
    return;
  }
  if (operation == opCaseConditions || operation == opCaseResults) return;
  if (operation == opUserFunction)
    Output.Append(Node->Name);
  else
    Output.Append(OperationInfo(operation).BuilderWord);

  if (operation == opCast) {
    writeCast(Node);
    return;
  }
  // INTRANSACTION without an argument reads back only without parentheses.
  if (operation == opInTransaction && ArgumentCount == 0) return;
  if (operation == opExists) Output.AppendChar(' ');
  Output.AppendChar('(');

  if (IsAggregateOperation(operation)) {
    if (Node->Variant & 1) Output.Append("DISTINCT ");
    if (Node->Variant & 2) Output.Append("ORDERED ");
    writeListMember(OptionalArgument(Node, 0), kLevelSum, operation == opList && ArgumentCount > 1);
    if (operation == opList && ArgumentCount > 1) {
      Output.Append(", ");
      writeExpression(Node->Argument(1), kLevelSum);
    }
  } else if (const std::string_view field = extractField(operation); !field.empty()) {
    Output.Append(field);
    Output.Append(", ");
    writeExpression(OptionalArgument(Node, 0), kLevelSum);
  } else if (operation == opTrimBoth || operation == opTrimLeading || operation == opTrimTrailing) {
    Output.Append(operation == opTrimBoth      ? "BOTH "
                  : operation == opTrimLeading ? "LEADING "
                                               : "TRAILING ");
    writeListMember(OptionalArgument(Node, 0), kLevelPrimary, true);
    Output.Append(", ");
    writeExpression(OptionalArgument(Node, 1), kLevelSum);
  } else {
    for (int32_t i = 0; i < ArgumentCount; ++i) {
      if (i > 0) Output.Append(", ");
      const TBRNExprToken* argument = Node->Argument(i);
      // Cursor and statement names of the cursor and statement functions.
      if (argument &&
          (argument->Kind == tkCursorReference || argument->Kind == tkStatementReference))
        writePlainName(argument->Name);
      else
        writeListMember(argument, argumentLevel(Node, i), i + 1 < ArgumentCount);
    }
  }
  Output.AppendChar(')');
}

void TBRNExprBuilder::writeCast(const TBRNExprToken* Node) {
  Output.AppendChar('(');
  writeListMember(OptionalArgument(Node, 0), kLevelOr, true);
  Output.Append(", ");
  if (const TBRNExprToken* target = OptionalArgument(Node, 1)) WriteDataType(target);
  // A format value: a primary, written with its own arguments only.
  const auto writeFormatValue = [&](const TBRNExprToken* Value, int32_t Extra) {
    if (Value && Value->Kind == tkFunction && !Value->Parenthesized)
      writeFunction(Value, Value->ArgumentCount() - Extra);
    else
      writeExpression(Value, kLevelPrimary);
  };
  if (const TBRNExprToken* date = OptionalArgument(Node, 2)) {
    Output.Append(" DATE FORMAT ");
    writeFormatValue(date, 0);
  }
  if (const TBRNExprToken* time = OptionalArgument(Node, 3)) {
    Output.Append(" TIME FORMAT ");
    const int32_t count = time->ArgumentCount();
    const TBRNExprToken* am = count >= 2 ? time->Argument(count - 2) : nullptr;
    const TBRNExprToken* pm = count >= 2 ? time->Argument(count - 1) : nullptr;
    writeFormatValue(time, count >= 2 ? 2 : 0);
    if (am && pm) {
      Output.Append(" AM LITERAL ");
      writeExpression(am, kLevelPrimary);
      Output.Append(" PM LITERAL ");
      writeExpression(pm, kLevelPrimary);
    }
  }
  if (const TBRNExprToken* decimal = OptionalArgument(Node, 4)) {
    Output.Append(" DECIMAL CHAR ");
    writeFormatValue(decimal, 0);
  }
  if (const TBRNExprToken* literals = OptionalArgument(Node, 5)) {
    Output.Append(" BOOLEAN TRUE LITERAL ");
    writeExpression(OptionalArgument(literals, 0), kLevelPrimary);
    Output.Append(" FALSE LITERAL ");
    writeExpression(OptionalArgument(literals, 1), kLevelPrimary);
  }
  Output.AppendChar(')');
}

// CASE comes out as written, simple or searched, always with its ELSE
// branch.
void TBRNExprBuilder::writeCase(const TBRNExprToken* Node) {
  Output.Append("CASE ");
  if (const TBRNExprToken* operand = OptionalArgument(Node, 2)) writeExpression(operand, kLevelOr);
  WriteLineBreak();
  const TBRNExprToken* conditions = OptionalArgument(Node, 0);
  const TBRNExprToken* results = OptionalArgument(Node, 1);
  const int32_t count = conditions ? conditions->ArgumentCount() : 0;
  for (int32_t i = 0; i < count; ++i) {
    const TBRNExprToken* condition = conditions->Argument(i);
    if (condition && condition->Operation == opDefault) {
      Output.Append("ELSE ");
    } else {
      Output.Append("WHEN ");
      writeExpression(condition, kLevelOr);
      Output.Append(" THEN ");
    }
    writeExpression(OptionalArgument(results, i), kLevelOr);
    WriteLineBreak();
  }
  Output.Append("END");
}

}  // namespace brn
