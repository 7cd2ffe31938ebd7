// Name resolution: variables, routine parameters, dynamic parameters,
// cursors, statements, labels, catalog objects and column references. Names
// compare ignoring case. Catalog objects are bound by the owner.

#include <string>

#include "foundation/text/collation.h"
#include "foundation/text/number_text.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/tree/query_layout.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validation_helpers.h"

namespace brn {

namespace {

using validation::argumentOrNil;

bool sameName(std::string_view A, std::string_view B) {
  return TextEqualsIgnoreCase(A, B);
}

// The declarations of a block: argument 0 is the declaration list, each
// declaration's argument 0 lists the names it declares.
template <typename Visit>
bool forEachDeclaration(const TBRNExprToken* Block, Visit visit) {
  const TBRNExprToken* declarations = argumentOrNil(Block, 0);
  if (!declarations) return false;
  for (TBRNExprToken* declaration : declarations->Arguments())
    if (declaration && visit(declaration)) return true;
  return false;
}

bool isSetOperand(const TBRNExprToken* Query) {
  const TBRNExprToken* setOperation = argumentOrNil(Query, qpSetOperation);
  return setOperation && setOperation->Operation != opNone;
}

// The name a FROM item is referred to by: its correlation name, else its
// table name.
const std::string& effectiveName(const TBRNExprToken* Item) {
  return Item->Alias.empty() ? Item->Name : Item->Alias;
}

}  // namespace

void TBRNExprValidator::ResolveVariable(TBRNExprToken* Node, bool Required) {
  const bool indexed = argumentOrNil(Node, 0) != nullptr;
  for (TBRNExprToken* block = EnclosingBlock(Node); block; block = EnclosingBlock(block)) {
    const bool bound = forEachDeclaration(block, [&](TBRNExprToken* declaration) {
      const TBRNExprToken* names = argumentOrNil(declaration, 0);
      if (!names) return false;
      for (TBRNExprToken* name : names->Arguments()) {
        if (!name || !sameName(name->Name, Node->Name)) continue;
        if (name->Kind == tkArrayVariable) {
          Node->Kind = indexed ? tkArrayElement : tkArrayReference;
          Node->Link = name;
          return true;
        }
        // A plain variable cannot be indexed: the search goes on for an
        // array of the same name further out.
        if (name->Kind == tkVariable && !indexed) {
          Node->Kind = tkVariableReference;
          Node->Link = name;
          return true;
        }
      }
      return false;
    });
    if (bound) return;
  }
  if (Required) RaiseInvalid(Node, "the referenced variable does not exist");
}

void TBRNExprValidator::ResolveRoutineParam(TBRNExprToken* Node, bool Required) {
  if (const TBRNExprToken* params = argumentOrNil(EnclosingRoutine(Node), 0)) {
    for (TBRNExprToken* param : params->Arguments()) {
      if (param && sameName(param->Name, Node->Name)) {
        Node->Link = param;
        return;
      }
    }
  }
  if (Required) RaiseInvalid(Node, "the referenced parameter does not exist");
}

void TBRNExprValidator::ResolveCursor(TBRNExprToken* Node) {
  for (TBRNExprToken* block = EnclosingBlock(Node); block; block = EnclosingBlock(block)) {
    const bool bound = forEachDeclaration(block, [&](TBRNExprToken* declaration) {
      TBRNExprToken* first = argumentOrNil(argumentOrNil(declaration, 0), 0);
      if (!first || first->Kind != tkCursorDeclaration || !sameName(first->Name, Node->Name))
        return false;
      Node->Link = first;
      return true;
    });
    if (bound) return;
  }
  RaiseInvalid(Node, "the referenced cursor does not exist");
}

void TBRNExprValidator::ResolveStatement(TBRNExprToken* Node) {
  for (TBRNExprToken* block = EnclosingBlock(Node); block; block = EnclosingBlock(block)) {
    const bool bound = forEachDeclaration(block, [&](TBRNExprToken* declaration) {
      const TBRNExprToken* names = argumentOrNil(declaration, 0);
      TBRNExprToken* first = argumentOrNil(names, 0);
      if (!first) return false;
      if (first->Kind == tkCursorDeclaration) {
        // A cursor declared FOR a statement name declares that name too.
        TBRNExprToken* statement = argumentOrNil(first, 1);
        if (statement && sameName(statement->Name, Node->Name)) {
          Node->Link = statement;
          return true;
        }
        return false;
      }
      for (TBRNExprToken* name : names->Arguments()) {
        if (name && name->Kind == tkStatementName && sameName(name->Name, Node->Name)) {
          Node->Link = name;
          return true;
        }
      }
      return false;
    });
    if (bound) return;
  }
  RaiseInvalid(Node, "the referenced statement does not exist");
}

void TBRNExprValidator::ResolveLabel(TBRNExprToken* Node) {
  const std::string& label = Node->Name;
  const TBRNExprOperation operation = Node->Operation;
  for (TBRNExprToken* block = EnclosingBlock(Node); block;) {
    TBRNExprToken* outer = EnclosingBlock(block);
    if (operation == opRetry) {
      // RETRY starts the routine over: it binds to the outermost block.
      if (!outer) {
        Node->Link = block;
        return;
      }
      block = outer;
      continue;
    }
    if (block->Operation == opBeginBlock && (label.empty() || sameName(label, block->Name))) {
      if (operation == opLeave) {
        Node->Link = block;
        return;
      }
      RaiseInvalid(Node, "ITERATE not allowed in non-looping statement block");
    }
    TBRNExprToken* parent = block->Parent;
    if (parent &&
        (parent->Operation == opLoop || parent->Operation == opRepeatStatement ||
         parent->Operation == opWhile) &&
        (label.empty() || sameName(label, parent->Name))) {
      Node->Link = parent;
      return;
    }
    block = outer;
  }
  RaiseInvalid(Node, label.empty() ? "ITERATE or LEAVE not allowed outside of block"
                                   : "the referenced label does not exist");
}

void TBRNExprValidator::ResolveDynamicParam(TBRNExprToken* Node) {
  TBRNExprToken* query = EnclosingTopQuery(Node);
  TBRNExprToken* list = argumentOrNil(query, qpParameters);
  if (!list) RaiseInvalid(Node, "the referenced dynamic parameter does not exist");
  if (list->Index < 0) list->Index = 0;
  if (list->Index > list->ArgumentCount()) list->Index = list->ArgumentCount();
  auto* param = new TBRNExprToken;
  param->Kind = tkDynamicParam;
  param->Operation = ParamDirection;
  param->Name = "Parameter" + IntegerToString(NextParamNumber);
  param->Index = list->Index;
  param->CopyPosition(Node);
  list->InsertArgument(list->Index, param);
  ++list->Index;
  Node->Link = param;
  ++NextParamNumber;
}

void TBRNExprValidator::ResolveObjectName(TBRNExprToken* Node, TBRNExprTokenKind Kind) {
  if (Node->Kind != tkColumnReference || Node->Link || !Node->SchemaName.empty()) {
    CheckKind(Node, {Kind});
  } else if (!GetContextSchemaName(Node).empty() || !GetContextTableName(Node).empty()) {
    CheckKind(Node, {Kind});
  } else {
    // An unqualified name with nothing to bind to: inside a query it was
    // meant as a column, elsewhere as a variable.
    Node->Kind = tkNone;
    if (EnclosingQuery(Node)) RaiseKindExpected(Node, {Kind});
    RaiseKindExpected(Node, {tkArrayReference, tkArrayElement, tkVariableReference});
  }
  Owner->ResolveToken(Node, Kind);
}

void TBRNExprValidator::ResolveCollations(TBRNExprToken* Node) {
  for (TBRNExprToken* argument : Node->Arguments())
    if (argument && argument->Operation == opCollate)
      if (TBRNExprToken* name = argumentOrNil(argument, 0))
        ResolveObjectName(name, tkCollationName);
}

void TBRNExprValidator::ResolveRowIdentifier(TBRNExprToken* Node) {
  Owner->ResolveRowIdentifier(Node);
  if (Node->Kind == tkRowColumnReference && !Node->Link)
    RaiseInvalid(Node, "the column reference must be prefaced with a row identifier");
}

void TBRNExprValidator::ResolveColumnReference(TBRNExprToken* Node) {
  TBRNExprToken* query = EnclosingQuery(Node);
  const bool qualified = !Node->SchemaName.empty();
  // Pass 1 takes a qualifier as a correlation name (effective name of a FROM
  // item), from the node's query outward; pass 2 as a table name.
  int pass = 1;
  while (query && !Node->Link) {
    if (const TBRNExprToken* from = argumentOrNil(query, qpFrom)) {
      for (TBRNExprToken* item : from->Arguments()) {
        if (!item) continue;
        const bool match = !qualified  ? TableHasColumn(item, Node)
                           : pass == 1 ? sameName(effectiveName(item), Node->SchemaName)
                                       : sameName(item->Name, Node->SchemaName);
        if (!match) continue;
        // A bare name that two tables of one FROM clause both have could
        // mean either: refused rather than bound to the first.
        if (Node->Link) RaiseInvalid(Node, "the referenced column is ambiguous");
        Node->Link = item;
        if (qualified) break;
      }
    }
    if (Node->Link) break;
    const TBRNExprToken* parent = query->Parent;
    const bool mayLeave = parent && parent->Operation != opDerivedTable &&
                          (!parent->Parent || parent->Parent->Operation != opCreate) &&
                          !isSetOperand(query);
    TBRNExprToken* outer = mayLeave ? EnclosingQuery(query) : nullptr;
    if (outer) {
      query->Operation = opCorrelated;
      query = outer;
    } else if (pass == 1 && qualified) {
      // An unqualified name would find nothing new in a second pass.
      pass = 2;
      query = EnclosingQuery(Node);
    } else {
      break;
    }
  }
  if (qualified && !Node->Link) RaiseKindExpected(Node, {tkColumnReference});
}

}  // namespace brn
