#include "execution/script_driver.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>

#include "execution/handles/local_statement_manager.h"
#include "foundation/core/digest.h"
#include "foundation/text/exception.h"
#include "foundation/values/value.h"
#include "storage/cursors/cursor.h"
#include "storage/cursors/cursor_columns.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/engine_manager.h"
#include "sessions/engine_settings.h"
#include "sessions/local/local_session_manager.h"

namespace brn::testing {

namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream stream(text);
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> splitWords(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

bool isBlank(const std::string& line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

// The engine's failure as a failure message names it.
std::string describeError(const std::exception& error) {
  if (const auto* engine = dynamic_cast<const EBRNException*>(&error)) {
    std::string text =
        "engine error " + std::to_string(engine->ErrorCode) + " \"" + engine->ErrorMessage + "\"";
    if (engine->ErrorLine != 0 || engine->ErrorColumn != 0)
      text += " at line " + std::to_string(engine->ErrorLine) + ", column " +
              std::to_string(engine->ErrorColumn);
    return text;
  }
  return std::string("exception \"") + error.what() + "\"";
}

bool isHashLine(const std::string& line) {
  const std::vector<std::string> words = splitWords(line);
  return words.size() == 5 && words[1] == "values" && words[2] == "hashing" && words[3] == "to" &&
         words[4].size() == 32;
}

// Runs the records of one file.
class ScriptRun {
 public:
  ScriptRun(const std::string& file, ScriptExecutor& executor) : file_(file), executor_(executor) {}

  ScriptOutcome Run(const std::string& text) {
    const std::vector<std::string> lines = splitLines(text);
    size_t i = 0;
    while (i < lines.size()) {
      if (isBlank(lines[i]) || lines[i][0] == '#') {
        ++i;
        continue;
      }
      const int32_t recordLine = int32_t(i + 1);
      bool skip = false;
      std::vector<std::string> words = splitWords(lines[i]);
      while ((words[0] == "skipif" || words[0] == "onlyif") && words.size() >= 2) {
        const bool ours = words[1] == kScriptEngineName;
        if (words[0] == "skipif" ? ours : !ours) skip = true;
        if (++i >= lines.size() || isBlank(lines[i])) break;
        words = splitWords(lines[i]);
      }
      if (i >= lines.size() || isBlank(lines[i])) {
        fail(recordLine, "a condition without a record");
        continue;
      }
      const std::string header = lines[i++];
      std::vector<std::string> body;
      while (i < lines.size() && !isBlank(lines[i])) body.push_back(lines[i++]);
      if (words[0] == "halt") {
        if (skip) continue;
        outcome_.Halted = true;
        break;
      }
      if (words[0] == "hash-threshold" && words.size() == 2) {
        threshold_ = std::stoul(words[1]);
        continue;
      }
      if (skip) {
        ++outcome_.Skipped;
        continue;
      }
      if (words[0] == "statement" && words.size() >= 2 &&
          (words[1] == "ok" || words[1] == "error")) {
        ++outcome_.Executed;
        std::string expected;
        if (words[1] == "error") {
          const size_t at = header.find("error") + 5;
          expected = header.substr(at);
          expected.erase(0, expected.find_first_not_of(" \t"));
        }
        runStatement(recordLine, join(body), words[1] == "error", expected);
      } else if (words[0] == "query" && words.size() >= 2) {
        ++outcome_.Executed;
        runQuery(recordLine, words, body);
      } else {
        fail(recordLine, "unknown record \"" + header + "\"");
      }
    }
    return std::move(outcome_);
  }

 private:
  void fail(int32_t line, const std::string& message) {
    outcome_.Failures.push_back(ScriptFailure{file_, line, message});
  }

  void runStatement(int32_t line, const std::string& sql, bool error, const std::string& expected) {
    try {
      executor_.ExecuteStatement(sql);
    } catch (const std::exception& raised) {
      if (!error)
        fail(line, "statement failed: " + describeError(raised));
      else if (!expected.empty() && std::string(raised.what()).find(expected) == std::string::npos)
        fail(line, "statement failed with another error than \"" + expected +
                       "\": " + describeError(raised));
      return;
    }
    if (error) fail(line, "statement succeeded but an error was expected");
  }

  void runQuery(int32_t line, const std::vector<std::string>& words,
                const std::vector<std::string>& body) {
    const std::string& types = words[1];
    const std::string sortMode = words.size() > 2 ? words[2] : "nosort";
    const std::string label = words.size() > 3 ? words[3] : "";
    if (sortMode != "nosort" && sortMode != "rowsort" && sortMode != "valuesort")
      return fail(line, "unknown sort mode \"" + sortMode + "\"");
    std::vector<std::string> sqlLines;
    std::vector<std::string> expected;
    bool results = false;
    for (const std::string& text : body) {
      if (!results && text == "----")
        results = true;
      else
        (results ? expected : sqlLines).push_back(text);
    }

    std::vector<ScriptRow> rows;
    try {
      rows = executor_.ExecuteQuery(join(sqlLines));
    } catch (const std::exception& raised) {
      return fail(line, "query failed: " + describeError(raised));
    }
    std::vector<std::vector<std::string>> formatted;
    for (const ScriptRow& row : rows) {
      if (row.size() != types.size())
        return fail(line, "the query answered " + std::to_string(row.size()) +
                              " columns where the record gives " + std::to_string(types.size()));
      std::vector<std::string> values;
      for (size_t c = 0; c < row.size(); ++c) values.push_back(FormatScriptValue(row[c], types[c]));
      formatted.push_back(std::move(values));
    }
    if (sortMode == "rowsort") std::sort(formatted.begin(), formatted.end());
    std::vector<std::string> values;
    for (const auto& row : formatted) values.insert(values.end(), row.begin(), row.end());
    if (sortMode == "valuesort") std::sort(values.begin(), values.end());

    const std::string hash = HashScriptValues(values);
    if (!label.empty()) {
      auto [entry, added] = labels_.emplace(label, hash);
      if (!added && entry->second != hash)
        fail(line,
             "label " + label + ": " + hash + " where an earlier query gave " + entry->second);
    }
    if (!results) return;
    if (expected.size() == 1 && isHashLine(expected[0])) {
      if (expected[0] != hash) fail(line, "expected " + expected[0] + " but got " + hash);
      return;
    }
    if (expected != values) {
      const bool hashed = threshold_ > 0 && values.size() > threshold_;
      fail(line,
           "expected " + std::to_string(expected.size()) + " values (" + join(expected) +
               ") but got " +
               (hashed ? hash : std::to_string(values.size()) + " values (" + join(values) + ")"));
    }
  }

  std::string file_;
  ScriptExecutor& executor_;
  ScriptOutcome outcome_;
  size_t threshold_ = 0;
  std::map<std::string, std::string> labels_;
};

}  // namespace

std::string FormatScriptValue(const ScriptValue& value, char type) {
  if (value.Type == ScriptValue::Null) return "NULL";
  char buffer[64];
  switch (type) {
    case 'I': {
      int64_t number = value.IntegerValue;
      if (value.Type == ScriptValue::Real)
        number = int64_t(value.RealValue);
      else if (value.Type == ScriptValue::Text)
        number = std::strtoll(value.TextValue.c_str(), nullptr, 10);
      std::snprintf(buffer, sizeof buffer, "%" PRId64, number);
      return buffer;
    }
    case 'R': {
      double number = value.RealValue;
      if (value.Type == ScriptValue::Integer)
        number = double(value.IntegerValue);
      else if (value.Type == ScriptValue::Text)
        number = std::strtod(value.TextValue.c_str(), nullptr);
      std::snprintf(buffer, sizeof buffer, "%.3f", number);
      return buffer;
    }
    default: {
      std::string text;
      if (value.Type == ScriptValue::Integer) {
        std::snprintf(buffer, sizeof buffer, "%" PRId64, value.IntegerValue);
        text = buffer;
      } else if (value.Type == ScriptValue::Real) {
        std::snprintf(buffer, sizeof buffer, "%.3f", value.RealValue);
        text = buffer;
      } else {
        text = value.TextValue;
      }
      if (text.empty()) return "(empty)";
      for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '@';
      return text;
    }
  }
}

std::string HashScriptValues(const std::vector<std::string>& values) {
  TBRNDigest digest;
  for (const std::string& value : values) {
    digest.Update(value.data(), value.size());
    digest.Update("\n", 1);
  }
  digest.Finalize();
  std::string hex;
  char buffer[3];
  for (uint8_t byte : digest.Digest) {
    std::snprintf(buffer, sizeof buffer, "%02x", byte);
    hex += buffer;
  }
  return std::to_string(values.size()) + " values hashing to " + hex;
}

ScriptOutcome RunScript(const std::string& file, const std::string& text,
                        ScriptExecutor& executor) {
  return ScriptRun(file, executor).Run(text);
}

ScriptOutcome RunScriptFile(const std::string& path, ScriptExecutor& executor) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    ScriptOutcome outcome;
    outcome.Failures.push_back(ScriptFailure{path, 0, "the file cannot be read"});
    return outcome;
  }
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return RunScript(path, text, executor);
}

std::string DescribeFailures(const ScriptOutcome& outcome) {
  std::string text;
  for (const ScriptFailure& failure : outcome.Failures)
    text += failure.File + ":" + std::to_string(failure.Line) + ": " + failure.Message + "\n";
  return text;
}

// ---- The executor over a local session

SessionScriptExecutor::SessionScriptExecutor(const std::string& folder)
    : engine_(std::make_unique<TBRNEngineManager>()) {
  engine_->Settings->SetConfigPath(folder);
  session_ = std::make_unique<TBRNLocalSessionManager>(engine_.get(), false, false);
  session_->OpenSession("host", "Script", "");
  session_->Login("Administrator", "GlenHarbor");
  ExecuteOn(*session_->ConfigurationDatabase, "CREATE DATABASE Script PATH 'script'");
  database_ =
      static_cast<TBRNLocalDatabaseManager*>(session_->OpenDatabase("Script", kBRNLockShared));
}

SessionScriptExecutor::~SessionScriptExecutor() {
  try {
    TBRNDatabaseManager* database = database_;
    if (database != nullptr) session_->CloseDatabase(database);
  } catch (...) {
    // The session's close goes on regardless.
  }
}

void SessionScriptExecutor::ExecuteOn(TBRNLocalDatabaseManager& database, const std::string& sql) {
  auto* statement = static_cast<TBRNLocalStatementManager*>(database.PrepareStatement(sql));
  try {
    statement->ExecuteStatement();
  } catch (...) {
    try {
      TBRNLocalStatementManager::FreeStatement(statement);
    } catch (...) {
      // The statement's failure is the one to report.
    }
    throw;
  }
  TBRNLocalStatementManager::FreeStatement(statement);
}

void SessionScriptExecutor::ExecuteStatement(const std::string& sql) {
  ExecuteOn(*database_, sql);
}

namespace {

ScriptValue ScriptValueOf(const TBRNValue& value) {
  ScriptValue result;
  if (value.GetNull()) return result;
  switch (value.GetDataType()) {
    case dtBoolean:
      result.Type = ScriptValue::Integer;
      result.IntegerValue = value.GetAsBoolean() ? 1 : 0;
      break;
    case dtSmallInt:
    case dtInteger:
    case dtBigInt:
      result.Type = ScriptValue::Integer;
      result.IntegerValue = value.GetAsBigInt();
      break;
    case dtFloat:
    case dtDecimal:
      result.Type = ScriptValue::Real;
      result.RealValue = value.GetAsFloat();
      break;
    default:
      result.Type = ScriptValue::Text;
      result.TextValue = value.GetAsString();
      break;
  }
  return result;
}

}  // namespace

std::vector<ScriptRow> SessionScriptExecutor::ExecuteQuery(const std::string& sql) {
  auto* statement = static_cast<TBRNLocalStatementManager*>(database_->PrepareStatement(sql));
  std::vector<ScriptRow> rows;
  try {
    TBRNCursor* cursor = statement->ExecuteStatement();
    if (cursor != nullptr) {
      TBRNCursorColumns& columns = cursor->GetCursorColumns();
      std::vector<int32_t> positions;
      for (int32_t i = 0; i < columns.Count(); ++i)
        positions.push_back(columns.GetColumn(i)->GetTableColumn()->Index);
      std::unique_ptr<TBRNCursorRow> row = cursor->CreateRow();
      for (bool on = cursor->FirstRow(); on && !cursor->GetEof(); on = cursor->NextRow()) {
        cursor->ReadRow(*row);
        ScriptRow values;
        for (int32_t position : positions) values.push_back(ScriptValueOf(*row->Values.GetItem(position)));
        rows.push_back(std::move(values));
      }
    }
  } catch (...) {
    try {
      TBRNLocalStatementManager::FreeStatement(statement);
    } catch (...) {
      // The query's failure is the one to report.
    }
    throw;
  }
  TBRNLocalStatementManager::FreeStatement(statement);
  return rows;
}

}  // namespace brn::testing
