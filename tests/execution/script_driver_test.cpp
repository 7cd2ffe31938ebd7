// The SQL script driver: its record format checked against a fake executor,
// and one test case per script file under scripts/<area>/ run over a local
// session. With --script-folder=<folder> the program runs the scripts of
// that folder instead (a command-line mode for any folder of scripts).
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "execution/execution_test_support.h"
#include "execution/script_driver.h"
#include "storage/files/table_file_test_support.h"

namespace brn::testing {
namespace {

ScriptValue Int(int64_t value) {
  ScriptValue v;
  v.Type = ScriptValue::Integer;
  v.IntegerValue = value;
  return v;
}

ScriptValue Real(double value) {
  ScriptValue v;
  v.Type = ScriptValue::Real;
  v.RealValue = value;
  return v;
}

ScriptValue Str(const std::string& value) {
  ScriptValue v;
  v.Type = ScriptValue::Text;
  v.TextValue = value;
  return v;
}

// Answers each statement and query by its text; an unknown text raises an
// engine error with a position, a text starting with "fail" raises 700.
class FakeExecutor : public ScriptExecutor {
 public:
  void ExecuteStatement(const std::string& sql) override {
    Statements.push_back(sql);
    if (sql.rfind("fail", 0) == 0) throw EBRNException(700, "Bad statement " + sql, 2, 5);
  }
  std::vector<ScriptRow> ExecuteQuery(const std::string& sql) override {
    Statements.push_back(sql);
    auto found = Results.find(sql);
    if (found == Results.end()) throw EBRNException(401, "No such query", 1, 8);
    return found->second;
  }
  std::vector<std::string> Statements;
  std::map<std::string, std::vector<ScriptRow>> Results;
};

TEST(ScriptDriver, ValuesAreWrittenByTheirColumnType) {
  struct Case {
    ScriptValue Value;
    char Type;
    std::string Text;
  };
  const std::vector<Case> cases = {
      {ScriptValue(), 'I', "NULL"},
      {ScriptValue(), 'T', "NULL"},
      {Int(-42), 'I', "-42"},
      {Real(3.9), 'I', "3"},
      {Real(2.0 / 3), 'R', "0.667"},
      {Int(5), 'R', "5.000"},
      {Str(""), 'T', "(empty)"},
      {Str("a\tb\x7F\xE9z"), 'T', "a@b@@z"},
      {Str("plain text"), 'T', "plain text"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatScriptValue(c.Value, c.Type), c.Text) << c.Text;
}

TEST(ScriptDriver, HashIsTheMd5OfEveryValueWithALineFeed) {
  EXPECT_EQ(HashScriptValues({"1", "2"}), "2 values hashing to 6ddb4095eb719e2a9f0a3f95677d24e0");
}

TEST(ScriptDriver, SortModesHashingLabelsAndConditions) {
  FakeExecutor fake;
  // Rows in the order (3, c), (1, a), (2, b).
  fake.Results["SELECT n, t FROM x"] = {{Int(3), Str("c")}, {Int(1), Str("a")}, {Int(2), Str("b")}};
  fake.Results["SELECT n, t FROM y"] = {{Int(1), Str("a")}, {Int(2), Str("b")}, {Int(3), Str("c")}};
  const std::string script =
      "# sort modes\n"
      "query IT nosort\nSELECT n, t FROM x\n----\n3\nc\n1\na\n2\nb\n\n"
      "query IT rowsort\nSELECT n, t FROM x\n----\n1\na\n2\nb\n3\nc\n\n"
      "query IT valuesort\nSELECT n, t FROM x\n----\n1\n2\n3\na\nb\nc\n\n"
      "query IT rowsort\nSELECT n, t FROM x\n----\n"
      "6 values hashing to c84f8aeceada6a51da4b3bb1000ecc8b\n\n"
      "hash-threshold 4\n\n"
      "query IT valuesort\nSELECT n, t FROM x\n----\n"
      "6 values hashing to 1aaf6b3a23fa17af5862c0b6108b7d5a\n\n"
      "query IT rowsort same\nSELECT n, t FROM x\n\n"
      "query IT nosort same\nSELECT n, t FROM y\n\n"
      "skipif brindle\nstatement ok\nfail skipped\n\n"
      "onlyif sqlite\nstatement ok\nfail also skipped\n\n"
      "onlyif brindle\nstatement error Bad statement\nfail here\n\n"
      "statement ok\nCREATE ROLE r\n\n"
      "halt\n\n"
      "statement ok\nfail after halt\n";
  ScriptOutcome outcome = RunScript("sorts.test", script, fake);
  EXPECT_TRUE(outcome.Failures.empty()) << DescribeFailures(outcome);
  EXPECT_EQ(outcome.Executed, 9);
  EXPECT_EQ(outcome.Skipped, 2);
  EXPECT_TRUE(outcome.Halted);
  EXPECT_EQ(fake.Statements.back(), "CREATE ROLE r");
}

TEST(ScriptDriver, FailuresNameTheFileTheLineAndTheEngineError) {
  FakeExecutor fake;
  fake.Results["SELECT n FROM x"] = {{Int(1)}, {Int(2)}};
  fake.Results["SELECT n FROM y"] = {{Int(2)}, {Int(1)}};
  const std::string script =
      "statement ok\nfail now\n\n"                       // line 1
      "statement error\nCREATE ROLE r\n\n"               // line 4
      "statement error Another text\nfail again\n\n"     // line 7
      "query I nosort\nSELECT n FROM x\n----\n1\n3\n\n"  // line 10
      "query I nosort l\nSELECT n FROM x\n\n"            // line 16
      "query I nosort l\nSELECT n FROM y\n\n"            // line 19
      "query II nosort\nSELECT n FROM x\n\n"             // line 22
      "query I nosort\nSELECT missing\n\n"               // line 25
      "query I othersort\nSELECT n FROM x\n\n";          // line 28
  ScriptOutcome outcome = RunScript("broken.test", script, fake);
  struct Expected {
    int32_t Line;
    std::string Part;
  };
  const std::vector<Expected> expected = {
      {1, "engine error 700 \"Bad statement fail now\" at line 2, column 5"},
      {4, "an error was expected"},
      {7, "another error than \"Another text\""},
      {10, "expected 2 values (1\n3) but got 2 values (1\n2)"},
      {19, "label l"},
      {22, "answered 1 columns where the record gives 2"},
      {25, "engine error 401 \"No such query\" at line 1, column 8"},
      {28, "unknown sort mode"},
  };
  ASSERT_EQ(outcome.Failures.size(), expected.size()) << DescribeFailures(outcome);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(outcome.Failures[i].File, "broken.test");
    EXPECT_EQ(outcome.Failures[i].Line, expected[i].Line) << outcome.Failures[i].Message;
    EXPECT_NE(outcome.Failures[i].Message.find(expected[i].Part), std::string::npos)
        << outcome.Failures[i].Message;
  }
}

// One case per script file: a fresh engine, configuration and database in
// a temporary folder.
class ScriptFileTest : public ::testing::Test {
 public:
  explicit ScriptFileTest(std::string path) : path_(std::move(path)) {}
  void TestBody() override {
    InstallExecution();
    TempFolder folder;
    ScriptOutcome outcome;
    {
      SessionScriptExecutor executor(folder.Path);
      outcome = RunScriptFile(path_, executor);
    }
    EXPECT_TRUE(outcome.Failures.empty()) << DescribeFailures(outcome);
    EXPECT_GT(outcome.Executed, 0) << path_ << " ran no record";
  }

 private:
  std::string path_;
};

// Registers a case for every "*.test" file below folder: the suite is the
// file's folder (its area), the case the file's name.
void RegisterScripts(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file() && entry.path().extension() == ".test")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const std::filesystem::path& file : files) {
    const std::string suite = "Script_" + file.parent_path().filename().string();
    const std::string name = file.stem().string();
    const std::string path = file.string();
    ::testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr, path.c_str(), 1,
                            [path]() -> ::testing::Test* { return new ScriptFileTest(path); });
  }
}

}  // namespace
}  // namespace brn::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string folder = BRN_SCRIPT_FOLDER;
  const std::string option = "--script-folder=";
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind(option, 0) == 0)
      folder = std::string(argv[i]).substr(option.size());
  brn::testing::RegisterScripts(folder);
  return RUN_ALL_TESTS();
}
