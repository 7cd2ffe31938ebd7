#include "sql/tree_printer.h"

#include <array>
#include <vector>

#include "foundation/text/exception.h"
#include "foundation/types/data_types.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_operations.h"

namespace brn::testing {

namespace {

constexpr std::array<std::string_view, 61> kKindNames = {
    "None",
    "ArrayVariable",
    "ArrayReference",
    "ArrayElement",
    "GranteeName",
    "BackupName",
    "Operator",
    "Block",
    "BlockSection",
    "List",
    "Kind10",
    "CollationName",
    "ColumnName",
    "ColumnReference",
    "Constant",
    "ConstraintName",
    "RoutineStatement",
    "CursorDeclaration",
    "CursorReference",
    "DatabaseName",
    "DataType",
    "DynamicParam",
    "DynamicParamReference",
    "Statement",
    "Predicate",
    "FileName",
    "Function",
    "FunctionName",
    "IndexName",
    "JobName",
    "Join",
    "OuterColumnReference",
    "MigratorName",
    "ModuleName",
    "RoutineParam",
    "RoutineParamReference",
    "Privilege",
    "ProcedureName",
    "RoutineCall",
    "Query",
    "RoleName",
    "RowColumnReference",
    "RowValue",
    "RowVariable",
    "Script",
    "SelectItem",
    "OrderItem",
    "StatementName",
    "StatementReference",
    "StoreName",
    "TableName",
    "TableReference",
    "TextFilterName",
    "TriggerName",
    "UnaryOperator",
    "UpdatesName",
    "UserName",
    "Variable",
    "VariableReference",
    "ViewName",
    "WordGeneratorName",
};

class Printer {
 public:
  explicit Printer(TreePrintOptions options) : FOptions(options) {}

  std::string Print(const TBRNExprToken* node) {
    std::string text;
    print(node, text);
    return text;
  }

 private:
  void print(const TBRNExprToken* node, std::string& out) {
    if (!node) {
      out += "nil";
      return;
    }
    switch (node->Kind) {
      case tkOperator:
        printOperator(node, out);
        break;
      case tkUnaryOperator:
        out += "(";
        out += OperationInfo(node->Operation).BuilderWord;
        out += " ";
        print(node->Left(), out);
        out += ")";
        break;
      case tkPredicate:
        printPredicate(node, out);
        break;
      case tkConstant:
        printConstant(node, out);
        appendType(node, out);
        // Format constants carry their AM and PM literals as arguments.
        if (node->ArgumentCount() > 0) printArguments(node, 0, out);
        return;
      case tkColumnReference:
        printColumn(node, out);
        return;
      case tkDynamicParamReference:
        out += "?";
        return;
      case tkFunction:
        out += node->Operation == opUserFunction ? node->Name
                                                 : std::string(functionWord(node->Operation));
        printArguments(node, 0, out);
        return;
      case tkRowValue:
        out += "ROW";
        printArguments(node, 0, out);
        return;
      default:
        printGeneric(node, out);
        return;
    }
    appendType(node, out);
  }

  static std::string_view functionWord(TBRNExprOperation operation) {
    const TBRNOperationInfo& info = OperationInfo(operation);
    return info.BuilderWord.empty() ? info.Name : info.BuilderWord;
  }

  void printOperator(const TBRNExprToken* node, std::string& out) {
    out += "(";
    print(node->Left(), out);
    out += " ";
    out += OperationInfo(node->Operation).BuilderWord;
    out += " ";
    print(node->Right(), out);
    out += ")";
    if (node->Operation == opIntervalDifference) {
      out += " ";
      out += IntervalQualifierText(node->DataType, node->SubType);
    }
  }

  void printPredicate(const TBRNExprToken* node, std::string& out) {
    const auto argument = [node](int32_t i) {
      return i < node->ArgumentCount() ? node->Argument(i) : nullptr;
    };
    out += "(";
    print(argument(0), out);
    out += " ";
    out += OperationInfo(node->Operation).BuilderWord;
    switch (node->Operation) {
      case opBetween:
      case opNotBetween:
        out += " ";
        print(argument(1), out);
        out += " AND ";
        print(argument(2), out);
        break;
      case opLike:
      case opNotLike:
        out += " ";
        print(argument(1), out);
        if (argument(2)) {
          out += " ESCAPE ";
          print(argument(2), out);
        }
        break;
      case opIn:
      case opNotIn:
        out += " ";
        printArguments(node, 1, out);
        break;
      case opIsNull:
      case opIsNotNull:
        if (!argument(1) || !argument(1)->IsNullConstant()) {
          out += " ";
          print(argument(1), out);
        }
        break;
      default:
        for (int32_t i = 1; i < node->ArgumentCount(); ++i) {
          out += " ";
          print(node->Argument(i), out);
        }
        break;
    }
    out += ")";
  }

  static void printConstant(const TBRNExprToken* node, std::string& out) {
    switch (node->DataType) {
      case dtChar:
        out += "'" + node->Text + "'";
        break;
      case dtBytes:
        out += "X'" + node->Text + "'";
        break;
      case dtDate:
        out += "DATE '" + node->Text + "'";
        break;
      case dtTime:
        out += "TIME '" + node->Text + "'";
        break;
      case dtTimestamp:
        out += "TIMESTAMP '" + node->Text + "'";
        break;
      case dtYearMonthInterval:
      case dtDayTimeInterval:
        out +=
            "INTERVAL '" + node->Text + "' " + IntervalQualifierText(node->DataType, node->SubType);
        break;
      default:
        out += node->Text;
        break;
    }
  }

  void printColumn(const TBRNExprToken* node, std::string& out) {
    if (!node->SchemaName.empty()) out += node->SchemaName + ".";
    out += node->Name;
    if (const TBRNExprToken* index = argumentOrNil(node, 0)) {
      out += "[";
      for (int32_t i = 0; i < index->ArgumentCount(); ++i) {
        if (i > 0) out += ", ";
        print(index->Argument(i), out);
      }
      out += "]";
    }
    printCollateAndOrder(node, 1, out);
  }

  void printCollateAndOrder(const TBRNExprToken* node, int32_t first, std::string& out) {
    if (const TBRNExprToken* collate = argumentOrNil(node, first)) {
      out += " COLLATE ";
      const TBRNExprToken* name = argumentOrNil(collate, 0);
      out += name ? name->Name : "nil";
    }
    if (const TBRNExprToken* order = argumentOrNil(node, first + 1))
      out += order->Operation == opDescending ? " DESC" : " ASC";
  }

  static const TBRNExprToken* argumentOrNil(const TBRNExprToken* node, int32_t index) {
    return index < node->ArgumentCount() ? node->Argument(index) : nullptr;
  }

  void printArguments(const TBRNExprToken* node, int32_t first, std::string& out) {
    out += "(";
    for (int32_t i = first; i < node->ArgumentCount(); ++i) {
      if (i > first) out += ", ";
      print(node->Argument(i), out);
    }
    out += ")";
  }

  void printGeneric(const TBRNExprToken* node, std::string& out) {
    out += KindName(node->Kind);
    if (node->Operation != opNone) {
      std::string_view name = OperationInfo(node->Operation).Name;
      if (name.substr(0, 2) == "op") name.remove_prefix(2);
      out += ":";
      out += name;
    }
    if (!node->DatabaseName.empty() || !node->SchemaName.empty() || !node->Name.empty()) {
      out += " ";
      if (!node->DatabaseName.empty()) out += node->DatabaseName + ".";
      if (!node->SchemaName.empty()) out += node->SchemaName + ".";
      out += node->Name;
    }
    if (!node->Alias.empty()) out += " AS " + node->Alias;
    if (node->JoinTable) {
      out += " -> ";
      out += node->JoinTable->Alias.empty() ? node->JoinTable->Name : node->JoinTable->Alias;
    }
    appendType(node, out);
    if (node->ArgumentCount() > 0) printArguments(node, 0, out);
    if (node->Left() || node->Right()) {
      out += " [";
      print(node->Left(), out);
      out += ", ";
      print(node->Right(), out);
      out += "]";
    }
  }

  void appendType(const TBRNExprToken* node, std::string& out) const {
    const bool typed = node->Kind == tkConstant || node->Kind == tkOperator ||
                       node->Kind == tkUnaryOperator || node->Kind == tkPredicate ||
                       node->Kind == tkDataType;
    if (!typed || (!FOptions.Types && node->Kind != tkDataType)) return;
    out += ":";
    out += node->DataType == dtNull ? std::string("Null")
                                    : DataTypeName(node->DataType, node->SubType);
    if (node->Kind == tkConstant && (node->DataType == dtChar || node->DataType == dtBytes))
      out += "(" + std::to_string(node->Size) + ")";
  }

  TreePrintOptions FOptions;
};

// The parser's own message inside error 700's text.
std::string innerMessage(const std::string& text) {
  const size_t open = text.find(" (", text.find(" and column "));
  if (open == std::string::npos || text.empty() || text.back() != ')') return text;
  return text.substr(open + 2, text.size() - open - 3);
}

}  // namespace

std::string PrintTree(const TBRNExprToken* Node, TreePrintOptions Options) {
  return Printer(Options).Print(Node);
}

std::string_view KindName(TBRNExprTokenKind Kind) {
  return size_t(Kind) < kKindNames.size() ? kKindNames[Kind] : "Unknown";
}

TreeHolder& TreeHolder::operator=(TreeHolder&& Other) noexcept {
  if (this != &Other) {
    FreeExprTree(FNode);
    FNode = Other.FNode;
    Other.FNode = nullptr;
  }
  return *this;
}

TBRNExprToken* TreeHolder::Release() {
  TBRNExprToken* node = FNode;
  FNode = nullptr;
  return node;
}

void TreeHolder::Reset(TBRNExprToken* Node) {
  if (Node == FNode) return;
  FreeExprTree(FNode);
  FNode = Node;
}

TreeHolder ParseExpressionText(std::string_view Text, TBRNParseFlags Flags) {
  TBRNCompiledExpr owner;
  owner.SQL = std::string(Text);
  owner.SQLLength = int32_t(owner.SQL.size());
  TBRNExprParser parser;
  parser.BeginParse(owner);
  return TreeHolder(parser.ParseExpression(Flags));
}

std::string DescribeError(const EBRNException& Error) {
  return "error " + std::to_string(Error.ErrorLine) + ":" + std::to_string(Error.ErrorColumn) +
         " " + innerMessage(Error.ErrorMessage);
}

std::string ParseAndPrint(std::string_view Text, TBRNParseFlags Flags, TreePrintOptions Options) {
  try {
    TreeHolder tree = ParseExpressionText(Text, Flags);
    return PrintTree(tree.Get(), Options);
  } catch (const EBRNException& error) {
    return DescribeError(error);
  }
}

int64_t CountNodes(const TBRNExprToken* Root) {
  int64_t count = 0;
  std::vector<const TBRNExprToken*> pending{Root};
  while (!pending.empty()) {
    const TBRNExprToken* node = pending.back();
    pending.pop_back();
    if (!node) continue;
    ++count;
    pending.push_back(node->Left());
    pending.push_back(node->Right());
    for (const TBRNExprToken* argument : node->Arguments()) pending.push_back(argument);
  }
  return count;
}

}  // namespace brn::testing
