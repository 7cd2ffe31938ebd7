// Expression evaluation: any text that compiles (parses and validates) as
// an expression over a table with a column of every type is evaluated over
// one row of that table, under both NULL behaviours. Every failure must be
// the engine's error; anything else escapes and is reported, and libFuzzer's
// allocation limit catches a value sized from the text instead of its data.
#include <map>
#include <string>

#include "foundation/values/value.h"
#include "fuzz_support.h"
#include "sql/builder/sql_builder.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/parser/parse_flags.h"
#include "sql/tree/expr_token.h"
#include "sql/validator/validator_fixture.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// The row: a value for each column of the types table (see TypesCatalog).
const std::map<std::string, std::string>& RowTexts() {
  static const std::map<std::string, std::string> row = {
      {"s", "-7"},
      {"i", "42"},
      {"b", "-9000000000"},
      {"f", "2.5"},
      {"d", "12.34"},
      {"d4", "-0.0001"},
      {"bo", "TRUE"},
      {"vc", "abc"},
      {"vc2", "x y"},
      {"fc", "ab"},
      {"g", "{00000000-0000-0000-0000-000000000001}"},
      {"vb", "0a0b"},
      {"cl", "clob text"},
      {"bl", "00ff"},
      {"dt", "2024-02-29"},
      {"tm", "12:34:56.789"},
      {"ts", "2024-02-29 23:59:59.999"},
      {"ym_y", "3"},
      {"ym_m", "11"},
      {"ym_ym", "3-11"},
      {"dt_d", "5"},
      {"dt_h", "7"},
      {"dt_dh", "5 7"},
      {"dt_hm", "1:30"},
      {"dt_ds", "1 2:03:04"},
  };
  return row;
}

// The base evaluator with column references reading the row.
class RowEvaluator : public TBRNExprEvaluator {
 public:
  using TBRNExprEvaluator::TBRNExprEvaluator;

  void CreateTokenValue(TBRNExprToken* Node) override {
    TBRNExprEvaluator::CreateTokenValue(Node);
    if (Node->Kind != tkColumnReference) return;
    const auto found = RowTexts().find(Node->Name);
    if (found != RowTexts().end()) Node->Value->SetAsString(found->second);
  }
};

constexpr TBRNParseFlags kFlags = pcRowValues | pcDynamicParams;

void CompileAndEvaluate(const std::string& Text, bool StandardNull) {
  testing::ValidationRun run(Text, {.Flags = kFlags, .StandardNull = StandardNull, .Print = false});
  if (!run.Result.empty()) return;  // the engine refused the text
  TBRNExprToken* root = run.Owner.Root;
  if (!root) Fail("compiled without a tree", Text);
  RowEvaluator evaluator(StandardNull);
  evaluator.Prepare(root);
  // Twice: the second evaluation reuses every node's value.
  for (int pass = 0; pass < 2; ++pass) {
    Try([&] {
      evaluator.Evaluate(root);
      if (root->Value && !root->Value->GetNull()) (void)root->Value->GetAsString();
    });
  }
  evaluator.Unprepare(root);
  TBRNExprBuilder builder;
  builder.IndentLevel = -1;
  builder.BuildSQL(root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (bool standardNull : {true, false}) CompileAndEvaluate(text, standardNull);
  return 0;
}
