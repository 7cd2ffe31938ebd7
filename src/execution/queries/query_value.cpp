#include "execution/queries/query_value.h"

#include <utility>

#include "execution/evaluator/holding_values.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "sessions/databases/local_database_manager.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/query_layout.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"

namespace brn {

// ---- TBRNQueryManagerValue

TBRNQueryManagerValue::TBRNQueryManagerValue(TBRNLocalExprEvaluator& evaluator,
                                             TBRNExprToken* node)
    : Evaluator(evaluator), Node(node) {
  SetDataType(node->DataType);
  SetDataSubType(node->SubType);
  SetScale(node->Scale);
  SetCollation(node->Collation);
  manager_ = std::make_unique<TBRNQueryManager>(evaluator, node);
  manager_->RequestSensitive = true;
}

TBRNQueryManagerValue::~TBRNQueryManagerValue() = default;

TBRNValue& TBRNQueryManagerValue::detachedNull() const {
  if (!null_) {
    null_ = std::make_unique<TBRNContainedValue>();
    TypeValueFromNode(*null_, *Node);
    null_->SetNull(true);
  }
  return *null_;
}

TBRNValue* TBRNQueryManagerValue::GetReferencedValue() const {
  return &detachedNull();
}

void TBRNQueryManagerValue::EnsurePrepared() {
  if (prepared_) return;
  manager_->Prepare();
  prepared_ = true;
}

bool TBRNQueryManagerValue::Execute() {
  EnsurePrepared();
  bool built = false;
  TBRNCursor* cursor = nullptr;
  return manager_->ExecuteQuery(false, Node->Name, false, built, cursor, false, false);
}

// ---- TBRNQueryValue

TBRNQueryValue::TBRNQueryValue(TBRNLocalExprEvaluator& evaluator, TBRNExprToken* node)
    : TBRNQueryManagerValue(evaluator, node) {}

TBRNQueryValue::~TBRNQueryValue() {
  inValues_.reset();
  inColumns_.reset();
  closeCursor();
}

void TBRNQueryValue::closeCursor() noexcept {
  row_.reset();
  try {
    cursor_.reset();
  } catch (...) {  // a destructor reports nothing
  }
}

bool TBRNQueryValue::Execute() {
  EnsurePrepared();
  bool built = false;
  bool completed = false;
  if (!cursor_) {
    TBRNCursor* cursor = nullptr;
    completed = manager_->ExecuteQuery(true, Node->Name, false, built, cursor, false, true);
    if (cursor == nullptr) return completed;
    // The value is the cursor's one owner from now on: the database's
    // handle table forgets it.
    if (manager_->Database != nullptr) manager_->Database->Cursors.RemoveObject(cursor, false);
    cursor_.reset(cursor);
    row_ = cursor_->CreateRow();
  } else {
    TBRNCursor* cursor = cursor_.get();
    completed = manager_->ExecuteQuery(false, Node->Name, false, built, cursor, false, true);
  }
  cursor_->FirstRow();
  cursor_->ReadRow(*row_);
  return completed;
}

TBRNValue* TBRNQueryValue::GetReferencedValue() const {
  if (!cursor_ || !row_ || cursor_->GetRowNumber() == 0) return &detachedNull();
  const TBRNExprToken* list = Node->ArgumentCount() > qpSelectList ? Node->Argument(qpSelectList)
                                                                   : nullptr;
  // The first visible select item's column.
  int32_t columnIndex = 0;
  if (list != nullptr)
    for (const TBRNExprToken* item : list->Arguments())
      if (item != nullptr && !item->Hidden) {
        columnIndex = item->Index;
        break;
      }
  TBRNCursorColumns& columns = cursor_->GetCursorColumns();
  if (columnIndex < 0 || columnIndex >= columns.Count()) return &detachedNull();
  TBRNColumn* column = columns.GetColumn(columnIndex)->GetTableColumn();
  if (column == nullptr || column->Index < 0 || column->Index >= row_->Values.GetCount())
    return &detachedNull();
  return row_->Values.GetItem(column->Index);
}

void TBRNQueryValue::PrepareInColumns() {
  if (inColumns_ || !cursor_) return;
  auto columns = std::make_unique<TBRNMappedCursorColumns>(cursor_.get());
  auto values = std::make_unique<TBRNValues>();
  TBRNCursorColumns& cursorColumns = cursor_->GetCursorColumns();
  const TBRNExprToken* list = Node->ArgumentCount() > qpSelectList ? Node->Argument(qpSelectList)
                                                                   : nullptr;
  if (list != nullptr) {
    for (const TBRNExprToken* item : list->Arguments()) {
      if (item == nullptr || item->Hidden) continue;
      if (item->Index < 0 || item->Index >= cursorColumns.Count()) continue;
      TBRNCursorColumn* cursorColumn = cursorColumns.GetColumn(item->Index);
      columns->AddObject(cursorColumn);
      auto key = std::make_unique<TBRNContainedValue>();
      TBRNColumn* column = cursorColumn->GetTableColumn();
      if (column != nullptr && column->Index >= 0 && column->Index < row_->Values.GetCount()) {
        const TBRNValue& model = *row_->Values.GetItem(column->Index);
        key->SetDataType(model.GetDataType());
        key->SetDataSubType(model.GetSubType());
        key->SetLength(model.GetLength());
        key->SetScale(model.GetScale());
        key->SetCollation(model.GetCollation());
      }
      values->Add(key.release());
    }
  }
  inColumns_ = std::move(columns);
  inValues_ = std::move(values);
}

}  // namespace brn
