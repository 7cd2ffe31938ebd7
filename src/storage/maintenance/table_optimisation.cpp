// OPTIMIZE TABLE on the table manager: the live rows copied in the order of
// one index into a working copy's fresh files, with the published updates
// and the header counters carried over.
#include <stdexcept>
#include <string>

#include "foundation/core/memory_stream.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"
#include "foundation/types/literal_text.h"
#include "metadata/catalog/tables.h"
#include "storage/files/table_file_guards.h"
#include "storage/indexes/index_navigator.h"
#include "storage/maintenance/maintenance_rows.h"
#include "storage/rows/published_updates_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

void requireOpenFiles(const TBRNTableManager& manager, const char* operation) {
  if (manager.GetFiles().empty()) {
    throw std::logic_error(std::string(operation) + " on a closed table manager");
  }
}

std::string nowText() {
  return FormatTimestampLiteral(true, CurrentTimestamp(false));
}

}  // namespace

bool TBRNTableManager::OptimizeTable(TBRNTableManager& Target, int32_t Index) {
  requireOpenFiles(*this, "OptimizeTable");
  requireOpenFiles(Target, "OptimizeTable");
  if (Index < -1 || Index >= GetIndexCount()) throw std::out_of_range("OptimizeTable index");
  const std::string kind = GetTableKindName();
  const std::string name = GetTableName();
  LogMessage(FormatText("Optimization of the %s %s started at %s", {kind, name, nowText()}));
  bool ok = true;
  try {
    std::unique_ptr<TBRNRowsetRow> buffer = Target.NewRowBuffer();
    TBRNRowsetRowValues values(Target.GetColumns(), &Target);
    values.SetRow(buffer.get());
    TBRNCopyFill fill(Target, false);
    {
      TableProgressBracket progress(this);
      TBRNIndexNavigator* navigator = Index >= 0 ? GetIndexNavigator(Index) : nullptr;
      const int32_t total = rowsetFile->GetBlockCount();
      int32_t done = 0;
      bool restart = false;
      // The next row: by the index's keys, or by row number without one.
      int32_t row = 0;
      auto advance = [&](bool first) {
        if (navigator == nullptr) {
          row = row < total ? row + 1 : 0;
          return;
        }
        bool moved = true;
        do {
          if (first) {
            navigator->First(restart);
          } else {
            moved = navigator->Next(restart);
          }
        } while (restart);
        row = moved ? navigator->GetRowNumber() : 0;
      };
      advance(true);
      while (row != 0) {
        GotoRowNumber(row);
        TBRNRowsetRowValues& source = rowNavigator->GetCurrentValues();
        if (rowNavigator->GetRowNumber() == row &&
            rowNavigator->GetCurrentRow()->Status != kRowDeleted) {
          values.SetAllNull();
          try {
            CopyAlteredColumns(*this, source, Target, values);
            int32_t newRow = 0;
            int32_t version = 0;
            int32_t counter = 0;
            Target.InsertRow(values, newRow, version, counter, true);
          } catch (...) {
            LogRowError(*this, source,
                        "The optimization could not complete due to an error with the row %s (%s)");
            rowNavigator->ClearCurrentRow();
            throw;
          }
          ++done;
          if (!UpdateProgress(total > 0 ? int32_t(int64_t(done) * 100 / total) : 100)) {
            ok = false;
            break;
          }
        }
        advance(false);
      }
      rowNavigator->ClearCurrentRow();
    }
    if (ok) ok = CopyPublishedUpdates(Target);
    if (ok) {
      Target.CopyFileHeaders(*this);
      Target.MarkFilesChanged();
    }
  } catch (...) {
    try {
      LogMessage(FormatText("Optimization of the %s %s ended at %s", {kind, name, nowText()}));
    } catch (...) {
      // The optimisation's error is the one reported.
    }
    throw;
  }
  LogMessage(FormatText("Optimization of the %s %s ended at %s", {kind, name, nowText()}));
  return ok;
}

bool TBRNTableManager::CopyPublishedUpdates(TBRNTableManager& Target) {
  requireOpenFiles(*this, "CopyPublishedUpdates");
  if (!publishedUpdatesFile || !Target.publishedUpdatesFile) return true;
  GetEnvironment().ReportStatus("Altering published updates");
  TableProgressBracket progress(this);
  const int32_t total = publishedUpdatesFile->GetBlockCount();
  const bool compressed = GetBaseTable()->PublishCompression > 0;
  const int32_t targetCompression = Target.GetBaseTable()->PublishCompression;
  TBRNMemoryStream record;
  int32_t block = 1;
  while (block >= 1 && block <= total) {
    const int32_t at = block;
    record.SetSize(0);
    ReadPublishedUpdate(block, record, compressed);
    record.SetPosition(0);
    Target.AppendPublishedUpdate(record, targetCompression);
    // A chain that does not move on is damage, not a record.
    if (block <= at) break;
    if (!UpdateProgress(int32_t(int64_t(block - 1) * 100 / total))) return false;
  }
  // Only counters travel: the files not swapped in keep their own.
  Target.CopyFileHeaders(*this);
  return true;
}

}  // namespace brn
