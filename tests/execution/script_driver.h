// A test driver that runs SQL script files in the sqllogictest record
// format:
//
//   statement ok | statement error [text the error must contain]
//   query <types> [nosort | rowsort | valuesort] [label]
//   ...SQL lines..., then "----" and the expected values, one per line
//   hash-threshold N ; halt ; skipif <engine> ; onlyif <engine> ; # comment
//
// Records are separated by blank lines. The engine's name for skipif and
// onlyif is "brindle". Values are written "NULL" for NULL, "(empty)" for an
// empty text, I as a decimal integer, R with three decimals, T as text
// with every character outside 0x20..0x7E as "@". A result of more values
// than the hash threshold (when it is not 0) is "N values hashing to
// <md5>", the MD5 of every value followed by a line feed, after sorting.
// Queries with the same label must give the same values.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace brn {
class TBRNEngineManager;
class TBRNLocalDatabaseManager;
class TBRNLocalSessionManager;
}  // namespace brn

namespace brn::testing {

// One value of a query result.
struct ScriptValue {
  enum Kind { Null, Integer, Real, Text };
  Kind Type = Null;
  int64_t IntegerValue = 0;
  double RealValue = 0;
  std::string TextValue;
};
using ScriptRow = std::vector<ScriptValue>;

// The engine side of the driver. Both calls raise the engine's exception
// (EBRNException) for a failure of the statement.
class ScriptExecutor {
 public:
  virtual ~ScriptExecutor() = default;
  virtual void ExecuteStatement(const std::string& sql) = 0;
  virtual std::vector<ScriptRow> ExecuteQuery(const std::string& sql) = 0;
};

// A failed record: the file, the line of its first line and what went
// wrong (with the engine's code, message, line and column when the engine
// raised).
struct ScriptFailure {
  std::string File;
  int32_t Line = 0;
  std::string Message;
};

struct ScriptOutcome {
  int32_t Executed = 0;  // records run
  int32_t Skipped = 0;   // records left out by skipif or onlyif
  bool Halted = false;
  std::vector<ScriptFailure> Failures;
};

// The engine name that skipif and onlyif test.
inline constexpr const char* kScriptEngineName = "brindle";

// A value as a record writes it, for the column type I, R or T.
std::string FormatScriptValue(const ScriptValue& value, char type);
// "N values hashing to <md5>" of values.
std::string HashScriptValues(const std::vector<std::string>& values);

// Runs the records of text, named file in failures. A failed record is
// reported and the run goes on with the next one.
ScriptOutcome RunScript(const std::string& file, const std::string& text, ScriptExecutor& executor);
// The same for the file at path (a failure when it cannot be read).
ScriptOutcome RunScriptFile(const std::string& path, ScriptExecutor& executor);
// One line per failure: "<file>:<line>: <message>".
std::string DescribeFailures(const ScriptOutcome& outcome);

// The executor over a local session of a fresh engine whose configuration
// lies in folder (which must exist and be empty), logged in as
// Administrator, with the database "Script" (in folder/script) open:
// statements are prepared and run on it through statement handles.
// Precondition: the local evaluator and the statement handle factory are
// installed.
class SessionScriptExecutor : public ScriptExecutor {
 public:
  explicit SessionScriptExecutor(const std::string& folder);
  ~SessionScriptExecutor() override;

  void ExecuteStatement(const std::string& sql) override;
  // The rows of the query's result cursor, in its order, one value per
  // cursor column.
  std::vector<ScriptRow> ExecuteQuery(const std::string& sql) override;

 private:
  // Prepares, executes and frees one statement on database.
  static void ExecuteOn(TBRNLocalDatabaseManager& database, const std::string& sql);

  std::unique_ptr<TBRNEngineManager> engine_;
  std::unique_ptr<TBRNLocalSessionManager> session_;
  TBRNLocalDatabaseManager* database_ = nullptr;
};

}  // namespace brn::testing
