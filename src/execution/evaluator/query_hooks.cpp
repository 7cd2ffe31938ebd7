// The evaluator hooks that run subqueries and open table references.

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/queries/cursor_value.h"
#include "execution/queries/query_value.h"
#include "foundation/text/collation.h"
#include "foundation/text/word_list.h"
#include "metadata/catalog/catalog.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/local_database_manager.h"
#include "sql/tree/expr_token.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {

void TBRNLocalExprEvaluator::EvaluateQuery(TBRNExprToken* node) {
  if (auto* query = dynamic_cast<TBRNQueryManagerValue*>(node->GetOwnValue())) query->Execute();
}

void TBRNLocalExprEvaluator::EvaluateTableReference(TBRNExprToken* node) {
  if (auto* table = dynamic_cast<TBRNCursorValue*>(node->GetOwnValue())) table->OpenTableReference();
}

void TBRNLocalExprEvaluator::EvaluateInQuery(TBRNExprToken* valueNode, int32_t partialLength,
                                             TBRNExprToken* predicateNode,
                                             TBRNExprToken* queryNode) {
  auto* query = dynamic_cast<TBRNQueryValue*>(queryNode->GetOwnValue());
  if (query == nullptr || query->GetCursor() == nullptr) return;
  query->PrepareInColumns();
  TBRNValues& key = *query->GetInValues();
  // A row value on the left fills the key member by member.
  if (valueNode->Kind == tkRowValue) {
    const int32_t count = std::min(valueNode->ArgumentCount(), key.GetCount());
    for (int32_t i = 0; i < count; ++i) {
      TBRNExprToken* member = valueNode->Argument(i);
      if (member == nullptr) continue;
      key.GetItem(i)->Assign(*member->Value);
    }
  } else if (key.GetCount() > 0) {
    key.GetItem(0)->Assign(*valueNode->Value);
  }
  const bool caseInsensitive = valueNode->IsCaseInsensitive();
  const bool found = query->GetCursor()->LocateRow(*query->GetInColumns(), key, partialLength,
                                                   caseInsensitive);
  predicateNode->Value->SetAsBoolean(found);
}

void TBRNLocalExprEvaluator::EvaluateExists(TBRNExprToken* queryNode, TBRNExprToken* functionNode) {
  auto* query = dynamic_cast<TBRNQueryValue*>(queryNode->GetOwnValue());
  TBRNCursor* cursor = query != nullptr ? query->GetCursor() : nullptr;
  functionNode->Value->SetAsBoolean(cursor != nullptr && cursor->GetRowCount() > 0);
}

}  // namespace brn

// ---- Text search on one row

namespace brn {

TBRNConfigObject* TBRNLocalExprEvaluator::GetTextSearchTable(const TBRNExprToken* columnNode) {
  TBRNEvaluatorContext* context = evaluatorContext_;
  if (columnNode->SchemaName.empty() && context != nullptr && context->TextSearchTable != nullptr)
    return context->TextSearchTable;
  if (context == nullptr || context->CurrentDatabase == nullptr)
    throw std::logic_error("A text search needs an evaluator context with a database");
  TBRNLocalDatabaseManager& database = *context->CurrentDatabase;
  return database.GetCatalog()->FindTableForColumn(columnNode, database.GetCurrentUser(), true,
                                                   std::string(), std::string(), nullptr);
}

void TBRNLocalExprEvaluator::EvaluateContains(TBRNExprToken* valueNode, TBRNExprToken* searchNode,
                                              TBRNExprToken* predicateNode) {
  searchText(valueNode, searchNode, predicateNode, false);
}

void TBRNLocalExprEvaluator::EvaluateContainsAny(TBRNExprToken* valueNode,
                                                 TBRNExprToken* searchNode,
                                                 TBRNExprToken* predicateNode) {
  searchText(valueNode, searchNode, predicateNode, true);
}

void TBRNLocalExprEvaluator::searchText(TBRNExprToken* valueNode, TBRNExprToken* searchNode,
                                        TBRNExprToken* predicateNode, bool any) {
  TBRNValue& result = *predicateNode->Value;
  result.SetAsBoolean(false);
  auto* table = dynamic_cast<TBRNVirtualTable*>(GetTextSearchTable(valueNode));
  if (table == nullptr || !table->Columns) return;
  auto* column = static_cast<TBRNColumn*>(table->Columns->FindByName(valueNode->Name, true));
  TBRNColumn* baseColumn = column->ResolveOrigin();
  auto* baseTable = baseColumn != nullptr ? dynamic_cast<TBRNVirtualTable*>(baseColumn->GetTable())
                                          : nullptr;
  if (baseTable == nullptr || !baseTable->IsBaseTable() || !baseTable->Indexes) return;
  const int32_t position = baseTable->Indexes->FindTextIndex(valueNode);
  if (position < 0) return;
  TBRNIndex& index = *baseTable->Indexes->GetItem(position);

  Evaluate(searchNode);
  std::unique_ptr<TBRNWordList> searched =
      index.BuildWordList(searchNode->Value->GetAsString(), true);
  if (searched->GetCount() == 0) return;
  result.SetAsBoolean(!any);
  Evaluate(valueNode);
  std::unique_ptr<TBRNWordList> words = index.BuildWordList(valueNode->Value->GetAsString(), false);

  const bool inner = searched->HasInnerWildcard();
  const int32_t collation =
      index.Columns && index.Columns->Count() > 0 ? index.Columns->GetItem(0)->Collation : 0;
  for (const TBRNWord& word : searched->GetWords()) {
    bool matched = false;
    if (inner) {
      // "*" is the only wildcard.
      for (const TBRNWord& candidate : words->GetWords())
        if (MatchLikePattern(collation, candidate.GetText(), word.GetText(), '*', '\0', '\0')) {
          matched = true;
          break;
        }
    } else {
      std::string text = word.GetText();
      const int32_t length = word.GetHasTrailingWildcard() ? StripTrailingWildcard(text, '*', '\0')
                                                           : 0;
      matched = words->Contains(text, length);
    }
    if (!any && !matched) return result.SetAsBoolean(false);
    if (any && matched) return result.SetAsBoolean(true);
  }
}

}  // namespace brn
