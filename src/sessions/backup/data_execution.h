// What SQL execution supplies to the data-moving statements of a database:
// running one statement (MIGRATE FROM runs the module's statements) and a
// cursor's import from and export into a delimited or XML text file
// (IMPORT TABLE, EXPORT TABLE). The frames around them (order of steps,
// locks, flushes, status texts, cancel and failure rules) are the database
// manager's (sessions/backup).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brn {

class TBRNCursor;
class TBRNLocalDatabaseManager;
class TBRNStream;

// The file format options of IMPORT TABLE and EXPORT TABLE; the statement
// handler fills in the defaults.
struct TBRNTransferFormat {
  std::vector<std::string> ColumnNames;  // empty: every column
  std::string Encoding;
  std::string Format;  // "DELIMITED" or "XML"
  char DelimiterChar = ',';
  char QuoteChar = '"';
  std::string DateFormat = "yyyy-mm-dd";
  std::string TimeFormat = "hh:mm:ss.zzz";
  std::string AMText = "AM";
  std::string PMText = "PM";
  char DecimalChar = '.';
  std::string TrueText = "TRUE";
  std::string FalseText = "FALSE";
  bool UseHeaders = false;
  int32_t MaxRows = -1;  // no limit
};

// Registered once per process, before sessions run; its operations are
// called by the sessions' threads, each on objects of its own session.
class TBRNDataExecution {
 public:
  virtual ~TBRNDataExecution() = default;

  // Prepares sql as a statement of database, executes it and frees the
  // handle, also when it fails.
  virtual void RunStatement(TBRNLocalDatabaseManager& database, const std::string& sql) = 0;
  // Reads the file's rows into the table through cursor (not read-only);
  // false when the user stopped it through the progress.
  virtual bool ImportTable(TBRNCursor& cursor, TBRNStream& file,
                           const TBRNTransferFormat& format) = 0;
  // Writes the rows of cursor (read-only) into file; false when stopped.
  virtual bool ExportTable(TBRNCursor& cursor, TBRNStream& file,
                           const TBRNTransferFormat& format) = 0;
};

// Registers the process's execution (nullptr unregisters). Not thread-safe:
// called at start-up, before sessions run.
void SetDataExecution(TBRNDataExecution* execution);
// The registered execution; nullptr when none.
TBRNDataExecution* FindDataExecution();

}  // namespace brn
