#include "execution/import_export/table_transfer.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "execution/cursors/cursor_read_scope.h"
#include "execution/cursors/local_cursor.h"
#include "execution/handles/local_statement_manager.h"
#include "execution/import_export/import_readers.h"
#include "execution/import_export/import_text.h"
#include "foundation/files/file_manager.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/data_types.h"
#include "foundation/types/date_format.h"
#include "metadata/catalog/columns.h"
#include "metadata/catalog/tables.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sessions/progress_scope.h"
#include "storage/cursors/cursor_columns.h"
#include "storage/rows/row_file_navigator.h"
#include "storage/tables/table_environment.h"
#include "storage/tables/table_manager.h"

namespace brn {

namespace {

// The row status of a deleted row.
constexpr uint8_t kDeletedRowStatus = 1;
// Whether the session's next progress check calls out to its sink (the
// checks are throttled by time); false without a session.
bool ProgressCallDue(TBRNLocalSessionManager* Session) {
  if (Session == nullptr || Session->Progress == nullptr) return false;
  TBRNProgress& progress = *Session->Progress;
  return progress.Level == 1 &&
         progress.GetElapsedTicks(progress.LastTicks, progress.GetTicks()) >= progress.TimeInterval;
}

// The text an export collects before it writes.
constexpr size_t kExportBufferChars = 65535;

// How a transferred column's values are read and written.
struct TColumnInfo {
  int32_t ValueIndex = 0;  // in the row's values
  TBRNDataTypeCode Type = dtNull;
  TBRNDataSubType SubType = stDefault;
  int32_t Length = 0;
};

TColumnInfo columnInfo(TBRNCursor& cursor, int32_t cursorColumn) {
  TBRNColumn* column = cursor.GetCursorColumns().GetColumn(cursorColumn)->GetTableColumn();
  if (column == nullptr) throw std::logic_error("A cursor column has no table column");
  return {column->Index, column->DataType, column->SubType, column->Length};
}

// The cursor columns of the transfer: those named, in the order given (an
// unknown name raises the column list's not-found error), else every
// column not marked internal.
std::vector<int32_t> selectTransferColumns(TBRNCursor& cursor,
                                           const std::vector<std::string>& names) {
  TBRNCursorColumns& list = cursor.GetCursorColumns();
  std::vector<int32_t> columns;
  if (!names.empty()) {
    for (const std::string& name : names) columns.push_back(list.FindByName(name, true)->Index);
    return columns;
  }
  for (int32_t i = 0; i < list.Count(); ++i)
    if (!list.GetColumn(i)->Internal) columns.push_back(i);
  return columns;
}

// The formats of the options, compiled once (a bad format raises 1400).
struct TValueFormats {
  explicit TValueFormats(const TBRNTransferFormat& format) : Options(format) {
    ParseDateFormat(format.DateFormat, Date);
    ParseTimeFormat(format.TimeFormat, format.AMText, format.PMText, Time);
  }
  const TBRNTransferFormat& Options;
  TBRNDateFormat Date;
  TBRNTimeFormat Time;
};

std::string streamFileName(TBRNStream& stream) {
  auto* file = dynamic_cast<TBRNFileStream*>(&stream);
  return file != nullptr ? file->GetFileName() : std::string();
}

TBRNLocalCursor& localCursor(TBRNCursor& cursor) {
  auto* local = dynamic_cast<TBRNLocalCursor*>(&cursor);
  if (local == nullptr) throw std::invalid_argument("Tables are transferred through local cursors");
  return *local;
}

// The cursor's table transaction, rolled back when the scope ends without
// a commit (a failing rollback is dropped: the failure that ended the
// import is the one reported).
class TTableTransaction {
 public:
  explicit TTableTransaction(TBRNLocalCursor& cursor) : cursor_(cursor) {
    cursor_.StartTableTransaction();
    active_ = true;
  }
  ~TTableTransaction() { RollbackQuietly(); }
  TTableTransaction(const TTableTransaction&) = delete;
  TTableTransaction& operator=(const TTableTransaction&) = delete;

  void Flush() { cursor_.FlushTableTransaction(); }
  void Commit() {
    cursor_.CommitTableTransaction();
    active_ = false;
  }
  void RollbackQuietly() {
    if (!active_) return;
    active_ = false;
    try {
      cursor_.RollbackTableTransaction();
    } catch (...) {
    }
  }

 private:
  TBRNLocalCursor& cursor_;
  bool active_ = false;
};

// Deletes rows of the cursor's table without firing triggers, in a table
// transaction of its own (inside a database transaction, in that one).
void removeRows(TBRNLocalCursor& cursor, const std::vector<int32_t>& rows) {
  auto& manager = dynamic_cast<TBRNTableManager&>(cursor.GetTableManager());
  manager.StartTransaction();
  try {
    auto buffer = manager.NewRowBuffer();
    TBRNRowsetRowValues values(manager.GetColumns(), &manager);
    values.SetRow(buffer.get());
    for (int32_t row : rows) {
      if (!manager.ReadRowByNumber(row, values)) continue;
      int32_t counter = 0;
      manager.DeleteRow(values, row, counter);
    }
    manager.CommitTransaction();
  } catch (...) {
    try {
      manager.RollbackTransaction();
    } catch (...) {
    }
    throw;
  }
  cursor.CheckTableChanged(true);
}

// The rows of an import file going into the cursor's table.
class TCursorImport : public TBRNImportTarget {
 public:
  TCursorImport(TBRNLocalCursor& cursor, const std::string& fileName, const TValueFormats& formats,
                bool tagged, TTableTransaction& transaction, TBRNImportText& text)
      : cursor_(cursor),
        fileName_(fileName),
        formats_(formats),
        tagged_(tagged),
        transaction_(transaction),
        text_(text),
        row_(cursor.CreateRow()) {
    const int32_t count = cursor.GetCursorColumns().Count();
    for (int32_t i = 0; i < count; ++i) columns_.push_back(columnInfo(cursor, i));
  }

  int32_t FindColumn(std::string_view name) override {
    TBRNConfigObject* column = cursor_.GetCursorColumns().FindByName(std::string(name), false);
    return column != nullptr ? column->Index : -1;
  }

  int64_t ValueLimit(int32_t column) override {
    const TColumnInfo& info = columns_[size_t(column)];
    if (info.Type == dtLob) return kMaxImportLobLength;
    // An entity of the tagged text is at most five characters.
    if (info.Type == dtChar) return tagged_ ? int64_t(info.Length) * 5 : info.Length;
    return std::max<int64_t>(kMaxImportShortText, int64_t(info.Length) * 2);
  }

  void BeginRow() override { cursor_.InitializeRow(*row_); }

  void StoreValue(int32_t column, std::string_view text, int64_t line, int64_t position) override {
    if (column < 0 || text.empty()) return;
    const TColumnInfo& info = columns_[size_t(column)];
    TBRNValue& value = *row_->Values.GetItem(info.ValueIndex);
    const TBRNTransferFormat& options = formats_.Options;
    switch (info.Type) {
      case dtBoolean: {
        bool b = false;
        if (!ParseBooleanByWords(text, options.TrueText, options.FalseText, b))
          Fail("Improperly-formatted boolean value", line, position);
        value.SetAsBoolean(b);
        return;
      }
      case dtFloat: {
        double x = 0;
        if (!ParseFloatWithSeparator(text, options.DecimalChar, x))
          Fail("Improperly-formatted float value", line, position);
        value.SetAsFloat(x);
        return;
      }
      case dtDecimal: {
        int64_t d = 0;
        if (!ParseDecimalWithSeparator(text, options.DecimalChar, d))
          Fail("Improperly-formatted decimal value", line, position);
        storeChecked(line, position, [&] { value.SetAsDecimal(d); });
        return;
      }
      case dtDate: {
        int32_t day = 0;
        if (!ParseDateByFormat(text, formats_.Date, day))
          Fail("Improperly-formatted date value", line, position);
        value.SetAsDate(day);
        return;
      }
      case dtTime: {
        int32_t time = 0;
        if (!ParseTimeByFormat(text, formats_.Time, time))
          Fail("Improperly-formatted time value", line, position);
        value.SetAsTime(time);
        return;
      }
      case dtTimestamp: {
        int64_t ts = 0;
        if (!ParseTimestampByFormat(text, formats_.Date, formats_.Time, ts))
          Fail("Improperly-formatted date/time value", line, position);
        value.SetAsTimestamp(ts);
        return;
      }
      default:
        if (tagged_) {
          const std::string plain = UnescapeXML(text);
          storeChecked(line, position, [&] { value.SetAsString(plain); });
        } else {
          storeChecked(line, position, [&] { value.SetAsString(text); });
        }
        return;
    }
  }

  bool PostRow(int64_t line) override {
    const int32_t maxRows = formats_.Options.MaxRows;
    if (maxRows >= 0 && inserted_ >= maxRows) return false;
    try {
      cursor_.InsertRow(*row_);
    } catch (const EBRNException& error) {
      Fail(error.ErrorMessage, line, 0);
    }
    ++inserted_;
    written_.push_back(row_->RowNumber);
    // Read each time: the cache follows the table's settings.
    const int32_t capacity = cursor_.GetTableManager().GetRowCacheCapacity();
    if (capacity > 0 && inserted_ % capacity == 0) {
      transaction_.Flush();
      flushed_ = written_.size();
    }
    return maxRows < 0 || inserted_ < maxRows;
  }

  bool Progress() override {
    const int64_t total = text_.BytesTotal();
    const int32_t percent = total > 0 ? int32_t(text_.BytesRead() * 100 / total) : 100;
    return cursor_.GetTableManager().GetEnvironment().UpdateProgress(percent);
  }

  [[noreturn]] void Fail(const std::string& reason, int64_t line, int64_t position) override {
    RaiseImportError(cursor_, fileName_, reason, position, line);
  }

  // The row numbers written, in order; the first Flushed() of them reached
  // the files with a flush of the transaction.
  const std::vector<int32_t>& Written() const { return written_; }
  size_t Flushed() const { return flushed_; }

 private:
  // A conversion that fails reports its message at the value.
  template <typename Store>
  void storeChecked(int64_t line, int64_t position, Store&& store) {
    try {
      store();
    } catch (const EBRNException& error) {
      Fail(error.ErrorMessage, line, position);
    }
  }

  TBRNLocalCursor& cursor_;
  const std::string& fileName_;
  const TValueFormats& formats_;
  bool tagged_;
  TTableTransaction& transaction_;
  TBRNImportText& text_;
  std::unique_ptr<TBRNCursorRow> row_;
  std::vector<TColumnInfo> columns_;
  int32_t inserted_ = 0;
  std::vector<int32_t> written_;
  size_t flushed_ = 0;
};

// The text of an export, written in pieces of about 64 KiB.
class TExportWriter {
 public:
  TExportWriter(TBRNLocalCursor& cursor, TBRNStream& stream, const std::string& fileName,
                bool unicode)
      : cursor_(cursor), stream_(stream), fileName_(fileName), unicode_(unicode) {
    Text.reserve(kExportBufferChars + 4096);
    if (unicode_) {
      static constexpr unsigned char kMark[2] = {0xFF, 0xFE};
      write(kMark, 2);
    }
  }

  // Writes the text when it holds more than the buffer's share.
  void FlushIfFull() {
    if (Text.size() > kExportBufferChars) Flush();
  }
  void Flush() {
    if (Text.empty()) return;
    if (!unicode_) {
      write(Text.data(), Text.size());
    } else {
      wide_.resize(Text.size() * 2);
      for (size_t i = 0; i < Text.size(); ++i) {
        const char16_t unit = AnsiToUnicode(static_cast<unsigned char>(Text[i]));
        wide_[2 * i] = static_cast<unsigned char>(unit & 0xFF);
        wide_[2 * i + 1] = static_cast<unsigned char>(unit >> 8);
      }
      write(wide_.data(), wide_.size());
    }
    Text.clear();
  }

  std::string Text;

 private:
  void write(const void* data, size_t count) {
    if (stream_.Write(data, int32_t(count)) != int32_t(count))
      RaiseExportError(cursor_, fileName_, "Error writing to the file");
  }

  TBRNLocalCursor& cursor_;
  TBRNStream& stream_;
  const std::string& fileName_;
  bool unicode_;
  std::vector<unsigned char> wide_;
};

// The character text of a value: quoted with inner quote characters
// doubled.
void appendQuoted(std::string& out, std::string_view text, char quote) {
  out += quote;
  for (char c : text) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
}

void appendExportValue(std::string& out, TBRNValue& value, const TColumnInfo& info,
                       const TValueFormats& formats, bool tagged) {
  if (value.GetNull()) return;
  const TBRNTransferFormat& options = formats.Options;
  switch (info.Type) {
    case dtBoolean:
      out += value.GetAsBoolean() ? options.TrueText : options.FalseText;
      return;
    case dtFloat:
      out += FormatFloatWithSeparator(options.DecimalChar, value.GetAsFloat());
      return;
    case dtDecimal:
      out += FormatDecimalWithSeparator(options.DecimalChar, value.GetAsDecimal());
      return;
    case dtDate:
      out += FormatDateByFormat(value.GetAsDate(), formats.Date);
      return;
    case dtTime:
      out += FormatTimeByFormat(value.GetAsTime(), formats.Time);
      return;
    case dtTimestamp:
      out += FormatTimestampByFormat(formats.Date, formats.Time, value.GetAsTimestamp());
      return;
    default:
      break;
  }
  std::string text = value.GetAsString();
  if (tagged) text = EscapeXML(text);
  if (options.QuoteChar != 0 && IsTextDataType(info.Type, info.SubType))
    appendQuoted(out, text, options.QuoteChar);
  else
    out += text;
}

void appendTag(std::string& out, std::string_view name, bool end) {
  out += '<';
  if (end) out += '/';
  out += name;
  out += '>';
}

}  // namespace

int32_t TransferEncodingOf(const std::string& encoding) {
  if (encoding.empty() || TextEqualsIgnoreCase(encoding, "AUTO")) return kTransferEncodingAuto;
  if (TextEqualsIgnoreCase(encoding, "ANSI")) return kTransferEncodingAnsi;
  if (TextEqualsIgnoreCase(encoding, "UNICODE")) return kTransferEncodingUnicode;
  throw std::invalid_argument("Unknown transfer encoding " + encoding);
}

int32_t TransferFormatOf(const std::string& format) {
  if (format.empty() || TextEqualsIgnoreCase(format, "DELIMITED")) return kTransferFormatDelimited;
  if (TextEqualsIgnoreCase(format, "XML")) return kTransferFormatTagged;
  throw std::invalid_argument("Unknown transfer format " + format);
}

void RaiseImportError(TBRNLocalCursor& cursor, const std::string& fileName,
                      const std::string& reason, int64_t column, int64_t line) {
  TBRNVirtualTable* table = cursor.GetTableManager().GetTable();
  throw EBRNException(
      kImportErrorCode,
      FormatText("Error importing the file %s into the %s %s at line %s and column %s (%s)",
                 {fileName, table->GetObjectTypeName(), table->GetName(), BigIntToString(line),
                  BigIntToString(column), reason}));
}

void RaiseExportError(TBRNLocalCursor& cursor, const std::string& fileName,
                      const std::string& reason) {
  TBRNVirtualTable* table = cursor.GetTableManager().GetTable();
  throw EBRNException(kExportErrorCode,
                      FormatText("Error exporting the %s %s to the file %s (%s)",
                                 {table->GetObjectTypeName(), table->GetName(), fileName, reason}));
}

bool ImportCursorTable(TBRNLocalCursor& cursor, TBRNStream& stream, const std::string& fileName,
                       const TBRNTransferFormat& format) {
  if (stream.GetSize() <= stream.GetPosition()) return true;
  const int32_t encoding = TransferEncodingOf(format.Encoding);
  const bool tagged = TransferFormatOf(format.Format) == kTransferFormatTagged;
  TBRNImportLayout layout;
  layout.Delimiter = format.DelimiterChar;
  layout.QuoteChar = format.QuoteChar;
  layout.Headers = format.UseHeaders;
  layout.Columns = selectTransferColumns(cursor, format.ColumnNames);
  const TValueFormats formats(format);
  TBRNProgressScope<TBRNTableEnvironment> progress(cursor.GetTableManager().GetEnvironment());
  TTableTransaction transaction(cursor);
  // Inside a database transaction the table's own one is that transaction,
  // which a rollback here does not end.
  auto& table = dynamic_cast<TBRNTableManager&>(cursor.GetTableManager());
  const bool ownTransaction = table.GetBaseTable()->IsTransactionOwner();
  TBRNImportText text(stream, encoding);
  TCursorImport target(cursor, fileName, formats, tagged, transaction, text);
  try {
    const bool finished =
        tagged ? ReadTaggedText(text, target, layout) : ReadDelimitedText(text, target, layout);
    transaction.Commit();
    return finished;
  } catch (...) {
    // All or nothing: what the rollback cannot take back (rows flushed
    // before the failure, or every row inside a database transaction) is
    // deleted again. A failure of that clean-up is dropped for the
    // import's own.
    transaction.RollbackQuietly();
    const std::vector<int32_t>& written = target.Written();
    const size_t left = ownTransaction ? target.Flushed() : written.size();
    if (left > 0) {
      try {
        removeRows(cursor, std::vector<int32_t>(written.begin(), written.begin() + left));
      } catch (...) {
      }
    }
    throw;
  }
}

bool ExportCursorTable(TBRNLocalCursor& cursor, TBRNStream& stream, const std::string& fileName,
                       const TBRNTransferFormat& format) {
  const bool unicode = TransferEncodingOf(format.Encoding) == kTransferEncodingUnicode;
  const bool tagged = TransferFormatOf(format.Format) == kTransferFormatTagged;
  const std::vector<int32_t> selected = selectTransferColumns(cursor, format.ColumnNames);
  std::vector<TColumnInfo> columns;
  for (int32_t column : selected) columns.push_back(columnInfo(cursor, column));
  const TValueFormats formats(format);
  const char quote = format.QuoteChar;
  TBRNVirtualTableManager& manager = cursor.GetTableManager();
  TBRNProgressScope<TBRNTableEnvironment> progress(manager.GetEnvironment());
  TExportWriter writer(cursor, stream, fileName, unicode);
  std::string& out = writer.Text;

  TBRNCursorColumns& cursorColumns = cursor.GetCursorColumns();
  if (format.UseHeaders) {
    if (tagged) {
      appendTag(out, "columns", false);
      out += "\r\n";
    }
    for (size_t i = 0; i < selected.size(); ++i) {
      const std::string& name = cursorColumns.GetColumn(selected[i])->Name;
      if (tagged) appendTag(out, "column", false);
      if (!tagged && i > 0) out += format.DelimiterChar;
      if (quote != 0)
        appendQuoted(out, name, quote);
      else
        out += name;
      if (tagged) {
        appendTag(out, "column", true);
        out += "\r\n";
      }
    }
    if (tagged) appendTag(out, "columns", true);
    out += "\r\n";
  }

  bool proceed = true;
  if (format.MaxRows != 0) {
    // The table's Read lock is held across batches of rows, and given back
    // before the text goes to the stream or the progress sink runs.
    TBRNCursorReadBatch readLock;
    readLock.Add(cursor);
    auto* database = dynamic_cast<TBRNLocalDatabaseManager*>(&manager.GetEnvironment());
    TBRNLocalSessionManager* session = database != nullptr ? database->Session : nullptr;
    const int64_t total = format.MaxRows > 0 ? format.MaxRows : cursor.GetRowCount();
    std::unique_ptr<TBRNCursorRow> row = cursor.CreateRow();
    int64_t written = 0;
    cursor.FirstRow();
    while (proceed && !cursor.GetEof()) {
      cursor.GetCurrentRow(*row, false);
      if (row->RowStatus != kDeletedRowStatus) {
        if (tagged) {
          appendTag(out, "row", false);
          out += "\r\n";
        }
        for (size_t i = 0; i < columns.size(); ++i) {
          const std::string& name = cursorColumns.GetColumn(selected[i])->Name;
          if (tagged)
            appendTag(out, name, false);
          else if (i > 0)
            out += format.DelimiterChar;
          appendExportValue(out, *row->Values.GetItem(columns[i].ValueIndex), columns[i], formats,
                            tagged);
          if (tagged) {
            appendTag(out, name, true);
            out += "\r\n";
          }
        }
        if (tagged) appendTag(out, "row", true);
        out += "\r\n";
        if (writer.Text.size() > kExportBufferChars) readLock.Pause();
        writer.FlushIfFull();
        ++written;
        if (format.MaxRows > 0 && written >= format.MaxRows) break;
      }
      const int32_t percent =
          total > 0 ? int32_t(std::min<int64_t>(written * 100 / total, 100)) : 100;
      if (ProgressCallDue(session)) readLock.Pause();
      proceed = manager.GetEnvironment().UpdateProgress(percent);
      if (proceed) {
        readLock.Tick();
        cursor.NextRow();
      }
    }
    readLock.End();
  }
  writer.Flush();
  return proceed;
}

// ---------------------------------------------------------------------------
// The data execution

void TBRNLocalDataExecution::RunStatement(TBRNLocalDatabaseManager& database,
                                          const std::string& sql) {
  auto* statement = static_cast<TBRNLocalStatementManager*>(database.PrepareStatement(sql));
  try {
    statement->ExecuteStatement();
  } catch (...) {
    try {
      TBRNLocalStatementManager::FreeStatement(statement);
    } catch (...) {
      // The statement's own failure is the one reported.
    }
    throw;
  }
  TBRNLocalStatementManager::FreeStatement(statement);
}

bool TBRNLocalDataExecution::ImportTable(TBRNCursor& cursor, TBRNStream& file,
                                         const TBRNTransferFormat& format) {
  return ImportCursorTable(localCursor(cursor), file, streamFileName(file), format);
}

bool TBRNLocalDataExecution::ExportTable(TBRNCursor& cursor, TBRNStream& file,
                                         const TBRNTransferFormat& format) {
  return ExportCursorTable(localCursor(cursor), file, streamFileName(file), format);
}

void InstallDataExecution() {
  static TBRNLocalDataExecution execution;
  SetDataExecution(&execution);
}

}  // namespace brn
