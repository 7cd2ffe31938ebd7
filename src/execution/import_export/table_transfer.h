// IMPORT TABLE and EXPORT TABLE through a local cursor: the rows of a table
// read from or written to a delimited or tagged text file, and the data
// execution that the database manager calls for them.
#pragma once

#include <cstdint>
#include <string>

#include "sessions/backup/data_execution.h"

namespace brn {

class TBRNLocalCursor;
class TBRNStream;

// File formats.
inline constexpr int32_t kTransferFormatDelimited = 0;
inline constexpr int32_t kTransferFormatTagged = 1;

// "Error importing the file %s into the %s %s at line %s and column %s (%s)".
inline constexpr int32_t kImportErrorCode = 904;
// "Error exporting the %s %s to the file %s (%s)".
inline constexpr int32_t kExportErrorCode = 905;

// The encoding of TBRNTransferFormat::Encoding: "" or "AUTO" automatic,
// "ANSI", "UNICODE" (any case); std::invalid_argument otherwise.
int32_t TransferEncodingOf(const std::string& encoding);
// The format of TBRNTransferFormat::Format: "" or "DELIMITED", "XML".
int32_t TransferFormatOf(const std::string& format);

// Errors 904 and 905 naming the cursor's table.
[[noreturn]] void RaiseImportError(TBRNLocalCursor& cursor, const std::string& fileName,
                                   const std::string& reason, int64_t column, int64_t line);
[[noreturn]] void RaiseExportError(TBRNLocalCursor& cursor, const std::string& fileName,
                                   const std::string& reason);

// Reads stream (from its position) into the cursor's table, all or
// nothing: the rows go in one table transaction, flushed after every
// row-cache-full of rows and rolled back on any failure (rows flushed
// before it included). A failure of a value or a row is 904 with its line
// and column. Answers false when the user stopped it through the progress
// (the rows so far are committed). An empty stream reads nothing.
// Precondition: the cursor is not read-only.
bool ImportCursorTable(TBRNLocalCursor& cursor, TBRNStream& stream, const std::string& fileName,
                       const TBRNTransferFormat& format);
// Writes the cursor's rows into stream, holding the table's Read lock
// throughout; 905 when the stream takes fewer bytes than given. MaxRows 0
// writes the header alone. Answers false when the user stopped it.
bool ExportCursorTable(TBRNLocalCursor& cursor, TBRNStream& stream, const std::string& fileName,
                       const TBRNTransferFormat& format);

// The process's data execution: statements through local statement
// handles, import and export through the functions above (the cursor must
// be a local cursor, std::invalid_argument otherwise). Registered by
// InstallDataExecution, once per process before sessions run.
class TBRNLocalDataExecution : public TBRNDataExecution {
 public:
  void RunStatement(TBRNLocalDatabaseManager& database, const std::string& sql) override;
  bool ImportTable(TBRNCursor& cursor, TBRNStream& file, const TBRNTransferFormat& format) override;
  bool ExportTable(TBRNCursor& cursor, TBRNStream& file, const TBRNTransferFormat& format) override;
};

// Registers one process-wide TBRNLocalDataExecution (SetDataExecution).
void InstallDataExecution();

}  // namespace brn
