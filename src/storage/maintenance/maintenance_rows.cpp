#include "storage/maintenance/maintenance_rows.h"

#include <exception>

#include "foundation/text/exception.h"
#include "foundation/text/string_helpers.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/constraints.h"
#include "metadata/catalog/indexes.h"
#include "metadata/catalog/tables.h"
#include "storage/indexes/index_keys.h"
#include "storage/rows/row_values.h"
#include "storage/tables/table_manager.h"

namespace brn {

std::string RowKeyText(TBRNTableManager& Manager, const TBRNRowValues& Values) {
  TBRNConstraints* constraints = Manager.GetBaseTable()->Constraints.get();
  for (int32_t i = 0; i < constraints->Count(); ++i) {
    TBRNConstraint* constraint = constraints->GetItem(i);
    if (constraint->ConstraintType != kConstraintPrimaryKey || !constraint->HasEnforcingIndex())
      continue;
    const int32_t index = constraint->GetEnforcingIndex()->Index;
    Manager.BuildIndexKey(Values, index, false);
    const TBRNValues& key = *Manager.GetIndexKey(index);
    std::string text;
    for (int32_t k = 0; k < key.GetCount(); ++k) {
      if (k > 0) text += ",";
      if (!key.GetItem(k)->GetNull()) text += key.GetItem(k)->GetAsString();
    }
    return text;
  }
  const TBRNValue* id = Values.GetItem(0);
  return id->GetNull() ? std::string() : id->GetAsString();
}

std::string CurrentErrorMessage() {
  try {
    throw;
  } catch (const EBRNException& error) {
    return error.ErrorMessage;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "Unknown error";
  }
}

void LogRowError(TBRNTableManager& Manager, const TBRNRowValues& Values,
                 const std::string& Pattern) noexcept {
  try {
    const std::string message = CurrentErrorMessage();
    Manager.LogMessage(FormatText(Pattern, {RowKeyText(Manager, Values), message}));
  } catch (...) {
    // The row's error is the one reported.
  }
}

void CopyAlteredColumns(TBRNTableManager& Source, TBRNRowValues& SourceValues,
                        TBRNTableManager& Target, TBRNRowValues& TargetValues, bool Live) {
  TBRNColumns* columns = Target.GetBaseTable()->Columns.get();
  const int32_t sourceCount = SourceValues.GetCount();
  for (int32_t i = 0; i < columns->Count(); ++i) {
    TBRNColumn* column = columns->GetItem(i);
    const int32_t from = column->AlterSourcePosition;
    if (from < 0 || from >= sourceCount) continue;
    TBRNRowValue* source = SourceValues.GetRowValue(from);
    if (source->GetColumn().DataType == dtLob) {
      if (!Live) continue;
      source->LoadBlob();
    }
    try {
      TargetValues.GetItem(i)->Assign(*source);
    } catch (const EBRNException& error) {
      TargetValues.GetItem(i)->SetNull(true);
      if (!Live) continue;
      try {
        Target.LogMessage(FormatText(
            "The value for the %s column has been set to NULL for the row %s due to an error (%s)",
            {column->Name, RowKeyText(Source, SourceValues), error.ErrorMessage}));
      } catch (...) {
        // The value is NULL whether or not the log took the line.
      }
    }
  }
}

TBRNCopyFill::TBRNCopyFill(TBRNTableManager& Target, bool FillNew) : target_(Target) {
  target_.FillingByAlteration = true;
  target_.AlterationFillsNewColumns = FillNew;
}

TBRNCopyFill::~TBRNCopyFill() {
  target_.FillingByAlteration = false;
  target_.AlterationFillsNewColumns = false;
}

}  // namespace brn
