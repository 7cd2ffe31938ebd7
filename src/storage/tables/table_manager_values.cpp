// Identity, generated and DEFAULT column values of the table manager.
#include <stdexcept>

#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/tables.h"
#include "sql/tree/expr_token.h"
#include "storage/rows/execution_seam.h"
#include "storage/tables/table_manager.h"

namespace brn {

bool TBRNTableManager::fillsColumn(const TBRNColumn* Column) const {
  return !FillingByAlteration || (AlterationFillsNewColumns && Column->AlterSourcePosition == -1);
}

void TBRNTableManager::assignExpression(TBRNExprToken* Root, TBRNRowValues& Values,
                                        int32_t Position) {
  if (Root == nullptr) throw std::logic_error("a column expression that is not compiled");
  EvaluateWithRow(GetEvaluator(), GetContext(), Root, Values);
  if (Root->Value == nullptr) throw std::logic_error("a column expression without a result");
  Values.GetItem(Position)->Assign(*Root->Value);
}

void TBRNTableManager::AssignIdentityValues(TBRNRowValues& Values) {
  requireFiles("AssignIdentityValues");
  TBRNColumns* columns = GetColumns();
  if (KeepGivenValues || !columns->HasIdentityColumns()) return;
  TBRNSelectedColumns* identity = columns->GetIdentityColumns();
  for (int32_t i = 0; i < identity->Count(); ++i) {
    TBRNColumn* column = identity->GetItem(i);
    if (!fillsColumn(column)) continue;
    TBRNValue* value = Values.GetItem(column->Index);
    if (column->IdentityByDefault && !value->GetNull()) continue;
    value->SetAsInteger(rowsetFile->NextIdentityValue(column->Index));
  }
}

void TBRNTableManager::ComputeGeneratedColumns(TBRNRowValues& Values, bool All) {
  TBRNColumns* columns = GetColumns();
  if (!columns->HasGeneratedColumns()) return;
  TBRNSelectedColumns* generated = columns->GetGeneratedColumns();
  // In column order: a generated column assigned here marks the generated
  // columns that read it, which come after it, for recomputing.
  for (int32_t i = 0; i < generated->Count(); ++i) {
    TBRNColumn* column = generated->GetItem(i);
    if (!fillsColumn(column) || !column->GeneratedExpr) continue;
    if (!All && !column->CallsFunctions && !Values.GetRowValue(column->Index)->Modified) continue;
    assignExpression(column->GeneratedExpr->Root, Values, column->Index);
  }
}

void TBRNTableManager::ComputeColumns(TBRNRowValues& Values) {
  TBRNColumns* columns = GetColumns();
  if (KeepGivenValues || !columns->HasDefaultColumns()) return;
  TBRNSelectedColumns* defaults = columns->GetDefaultColumns();
  for (int32_t i = 0; i < defaults->Count(); ++i) {
    TBRNColumn* column = defaults->GetItem(i);
    if (!fillsColumn(column) || !column->DefaultExpr) continue;
    if (!Values.GetItem(column->Index)->GetNull()) continue;
    assignExpression(column->DefaultExpr->Root, Values, column->Index);
  }
}

}  // namespace brn
