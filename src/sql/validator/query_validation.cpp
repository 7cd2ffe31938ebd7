// PLACEHOLDER until the query check is written (that work replaces this
// file's content): a query is marked as a subquery when it is one, its select
// expressions are validated and typed, and its WHERE conditions are validated
// as conditions. FROM items are not bound, nothing is grouped or ordered.

#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"
#include "sql/validator/expr_validator.h"

namespace brn {

namespace {

TBRNExprToken* argumentOrNil(const TBRNExprToken* Node, int32_t Index) {
  return Node && Index >= 0 && Index < Node->ArgumentCount() ? Node->Argument(Index) : nullptr;
}

bool isSetOperand(const TBRNExprToken* Query) {
  const TBRNExprToken* setOperation = argumentOrNil(Query, qpSetOperation);
  return setOperation && setOperation->Operation != opNone;
}

}  // namespace

void TBRNExprValidater::ValidateQuery(TBRNExprToken* Query) {
  const TBRNExprToken* parent = Query->Parent;
  if (Query->Operation == opNone && !isSetOperand(Query) && parent &&
      parent->Operation != opDerivedTable)
    Query->Operation = opSubquery;
  if (TBRNExprToken* params = argumentOrNil(Query, qpParameters))
    if (params->Index < 0) params->Index = 0;
  if (TBRNExprToken* list = argumentOrNil(Query, qpSelectList)) {
    for (TBRNExprToken* item : list->Arguments()) {
      TBRNExprToken* expression = argumentOrNil(item, 0);
      if (!expression) continue;
      ValidateNode(expression);
      item->AssignDataType(argumentOrNil(item, 0));
    }
    if (list->ArgumentCount() == 1 && list->Argument(0)) Query->AssignDataType(list->Argument(0));
  }
  if (TBRNExprToken* where = argumentOrNil(Query, qpWhere)) {
    const bool saved = FilterMode;
    FilterMode = true;
    try {
      for (int32_t i = 0; i < where->ArgumentCount(); ++i) {
        ValidateNode(where->Argument(i));
        if (where->Argument(i)) CheckType(where->Argument(i), type_classes::Boolean);
      }
    } catch (...) {
      FilterMode = saved;
      throw;
    }
    FilterMode = saved;
  }
}

void TBRNExprValidater::ReleaseQuery(TBRNExprToken* Query) {
  if (TBRNExprToken* list = argumentOrNil(Query, qpSelectList))
    for (TBRNExprToken* item : list->Arguments()) ReleaseNode(argumentOrNil(item, 0));
  if (TBRNExprToken* where = argumentOrNil(Query, qpWhere))
    for (TBRNExprToken* condition : where->Arguments()) ReleaseNode(condition);
}

}  // namespace brn
