// The row writer that the producers of the system tables share.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sessions/system_tables/system_tables.h"
#include "storage/rows/row_file.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

// A row buffer of manager with values over its columns; each row starts
// all NULL (Start) and is inserted through the manager's row operation
// (Insert). Texts are cut to the declared length of their column in
// definition, so that no long configuration value fails the fill. Column 1
// is the first defined column ("__RowID" is column 0). Used by the filling
// thread only.
class TBRNSystemTableRowWriter {
 public:
  TBRNSystemTableRowWriter(TBRNVirtualTableManager& manager,
                           const TBRNSystemTableDefinition& definition)
      : manager_(manager),
        definition_(definition),
        buffer_(manager.NewRowBuffer()),
        values_(manager.GetColumns(), rowsetHostOf(manager)) {
    values_.SetRow(buffer_.get());
  }
  ~TBRNSystemTableRowWriter() { values_.SetRow(nullptr); }
  TBRNSystemTableRowWriter(const TBRNSystemTableRowWriter&) = delete;
  TBRNSystemTableRowWriter& operator=(const TBRNSystemTableRowWriter&) = delete;

  void Start() { values_.SetAllNull(); }
  TBRNValue* Column(int32_t index) { return values_.GetItem(index); }
  void Text(int32_t index, const std::string& text) {
    const int32_t width = definition_.Columns.at(static_cast<size_t>(index - 1)).Length;
    if (width > 0 && text.size() > static_cast<size_t>(width)) {
      Column(index)->SetAsString(std::string_view(text).substr(0, static_cast<size_t>(width)));
    } else {
      Column(index)->SetAsString(text);
    }
  }
  // NULL for an empty text.
  void TextOrNull(int32_t index, const std::string& text) {
    if (!text.empty()) Text(index, text);
  }
  void Insert() {
    int32_t row = 0;
    int32_t version = 0;
    int32_t counter = 0;
    manager_.InsertRowWithTriggers(values_, row, version, counter);
  }

 private:
  static TBRNRowsetHost* rowsetHostOf(TBRNVirtualTableManager& manager) {
    auto* host = dynamic_cast<TBRNRowsetHost*>(&manager);
    if (host == nullptr) throw std::logic_error("A system table is filled through a table manager");
    return host;
  }

  TBRNVirtualTableManager& manager_;
  const TBRNSystemTableDefinition& definition_;
  std::unique_ptr<TBRNRowsetRow> buffer_;
  TBRNRowsetRowValues values_;
};

}  // namespace brn
