// Hand-built syntax trees for the evaluator tests: the node shapes the
// parser and validator produce for declarations, references and
// statements, without a catalog.
#pragma once

#include <memory>
#include <string>

#include "sql/tree/expr_token.h"

namespace brn::testing {

// Frees a whole tree when it goes.
struct TreeDeleter {
  void operator()(TBRNExprToken* node) const { FreeExprTree(node); }
};
using Tree = std::unique_ptr<TBRNExprToken, TreeDeleter>;

inline TBRNExprToken* node(TBRNExprTokenKind kind, TBRNExprOperation operation = opNone,
                           const std::string& name = std::string()) {
  auto* result = new TBRNExprToken();
  result->Kind = kind;
  result->Operation = operation;
  result->Name = name;
  return result;
}

inline TBRNExprToken* typed(TBRNExprToken* target, TBRNDataTypeCode type, int32_t size = 0) {
  target->SetDataType(type);
  if (size != 0) target->SetSize(size);
  return target;
}

inline TBRNExprToken* integerConstant(int32_t number) {
  TBRNExprToken* constant = typed(node(tkConstant), dtInteger);
  constant->Text = std::to_string(number);
  return constant;
}

inline TBRNExprToken* textConstant(const std::string& text) {
  TBRNExprToken* constant = typed(node(tkConstant), dtChar, int32_t(text.size()));
  constant->Text = text;
  return constant;
}

// DECLARE <name> <type> [ARRAY[size]]: the statement holds the names list,
// the data type, the size expression (nullptr for a scalar) and the default.
// Answers the statement; the declared name node is its first name.
inline TBRNExprToken* declaration(const std::string& name, TBRNDataTypeCode type, int32_t size,
                                  int32_t arraySize = -1) {
  TBRNExprToken* statement = node(tkRoutineStatement, opDeclare);
  TBRNExprToken* names = node(tkList);
  names->AddArgument(
      typed(node(arraySize >= 0 ? tkArrayVariable : tkVariable, opNone, name), type, size));
  statement->AddArgument(names);
  statement->AddArgument(typed(node(tkDataType), type, size));
  statement->AddArgument(arraySize >= 0 ? integerConstant(arraySize) : nullptr);
  statement->AddArgument(nullptr);
  return statement;
}

inline TBRNExprToken* declaredName(TBRNExprToken* declarationNode) {
  return declarationNode->Argument(0)->Argument(0);
}

// A reference of kind to the declared node (Link), typed like it.
inline TBRNExprToken* reference(TBRNExprTokenKind kind, TBRNExprToken* declared) {
  TBRNExprToken* result = node(kind, opNone, declared->Name);
  result->AssignDataType(declared);
  result->Link = declared;
  return result;
}

// name[index]: argument 0 is a list holding the index expression.
inline TBRNExprToken* elementReference(TBRNExprToken* array, TBRNExprToken* index) {
  TBRNExprToken* result = reference(tkArrayElement, array);
  TBRNExprToken* list = node(tkList);
  list->AddArgument(index);
  result->AddArgument(list);
  return result;
}

}  // namespace brn::testing
