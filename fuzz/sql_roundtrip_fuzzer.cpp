// SQL text round trip: any text that parses as a statement is written back
// by the SQL text builder, and that text must parse into an equal tree and
// be built into the same text again (in one line and in many lines).
#include <string>

#include "fuzz_support.h"
#include "sql/builder/sql_builder.h"
#include "sql/parser/expr_parser.h"
#include "sql/parser/parse_flags.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// A session's statement, with table qualifiers on columns allowed.
class Owner : public TBRNCompiledExpr {
 public:
  explicit Owner(std::string_view Text) {
    SQL = std::string(Text);
    SQLLength = int32_t(SQL.size());
  }
  std::string GetKindName() const override { return "statement"; }
  bool AllowsTableQualifier() override { return true; }
};

constexpr TBRNParseFlags kFlags = pcQueries | pcSchemaQualifier | pcColumnQualifier |
                                  pcDynamicParams | pcExceptionHandling | pcInto;

// The parsed statement, or nullptr when the text is not one.
TBRNExprToken* Parse(std::string_view Text) {
  Owner owner(Text);
  TBRNExprParser parser;
  TBRNExprToken* tree = nullptr;
  Try([&] {
    parser.BeginParse(owner);
    tree = parser.ParseStatement(kFlags);
  });
  return tree;
}

std::string Build(const TBRNExprToken* Tree, bool MultiLine) {
  TBRNExprBuilder builder;
  builder.MultiLine = MultiLine;
  builder.IndentLevel = MultiLine ? 0 : -1;
  builder.BuildStatement(Tree);
  return builder.GetText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TBRNExprToken* first = Parse(text);
  if (!first) return 0;
  for (bool multiLine : {false, true}) {
    const std::string built = Build(first, multiLine);
    // Only the data statements and queries are written; others give "".
    if (built.empty()) break;
    TBRNExprToken* second = Parse(built);
    if (!second) Fail("built text does not parse", built);
    if (!ExprTreesEqual(first, second)) Fail("trees differ", built);
    if (Build(second, multiLine) != built) Fail("built text not canonical", built);
    FreeExprTree(second);
  }
  FreeExprTree(first);
  return 0;
}
