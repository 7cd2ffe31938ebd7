#pragma once

// Shared helpers of the validator tests: a test owner that also knows
// column subtypes and writes node texts, and whole-path runs (parse,
// validate, print the typed tree or the error).

#include <map>
#include <string>
#include <string_view>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "sql/test_owner.h"
#include "sql/tree/expr_token.h"
#include "sql/tree_printer.h"
#include "sql/validator/expr_validator.h"

namespace brn::testing {

// The test owner with what the validator tests need beyond the shared one:
// column subtypes (fixed Char, GUID, CLOB, interval qualifiers), node texts
// for the "found" part of messages, and a count of closed databases.
class ValidatorOwner : public TestOwner {
 public:
  using TestOwner::TestOwner;
  ~ValidatorOwner() override { ClearRoot(); }

  // Subtype of a column, by "table.column" (lower case).
  std::map<std::string, TBRNDataSubType> ColumnSubTypes;
  int CloseQualifiedCalls = 0;

  void ResolveToken(TBRNExprToken* Node, TBRNExprTokenKind Kind) override {
    TestOwner::ResolveToken(Node, Kind);
    if (Kind != tkColumnReference) return;
    const TestTable* table = TableOf(Node);
    if (!table) return;
    const auto found = ColumnSubTypes.find(lower(table->Name) + "." + lower(Node->Name));
    if (found == ColumnSubTypes.end()) return;
    const int32_t size = Node->Size;
    Node->SetSubType(found->second);
    if (Node->DataType == dtChar && found->second == stFixed) Node->SetSize(size);
  }

  void CloseQualifiedDatabase(TBRNExprToken*) override { ++CloseQualifiedCalls; }

  // The node printed as the text builder would write it (without the outer
  // parentheses the printer puts around an operator).
  void BuildText(const TBRNExprToken* Node, bool, std::string& Text, bool, bool) override {
    if (!Node) return;
    if (Node->Kind == tkNone) {
      Text = Node->SchemaName.empty() ? Node->Name : Node->SchemaName + "." + Node->Name;
      return;
    }
    Text = PrintTree(Node);
    if (Text.size() > 1 && Text.front() == '(' && Text.back() == ')' &&
        (Node->Kind == tkOperator || Node->Kind == tkUnaryOperator || Node->Kind == tkPredicate))
      Text = Text.substr(1, Text.size() - 2);
  }

 private:
  static std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
  }
};

// A table "T" with a column of every type (the context table of the type
// tests):
//   s SmallInt, i Integer, b BigInt, f Float, d Decimal(10,2), d4 Decimal(12,4),
//   bo Boolean, vc VarChar(10), vc2 VarChar(20), fc Char(5) fixed, g GUID,
//   vb VarByte(8), cl CLOB, bl BLOB, dt Date, tm Time, ts Timestamp,
//   ym_y Interval Year, ym_m Interval Month, ym_ym Interval Year To Month,
//   dt_d Interval Day, dt_h Interval Hour, dt_dh Interval Day To Hour,
//   dt_hm Interval Hour To Minute, dt_ds Interval Day To Second
inline TestCatalog TypesCatalog() {
  TestCatalog catalog = TestCatalog::Sample();
  catalog.Tables.push_back({"",
                            "Default",
                            "T",
                            20,
                            {{"s", dtSmallInt},
                             {"i", dtInteger},
                             {"b", dtBigInt},
                             {"f", dtFloat},
                             {"d", dtDecimal, 10, 2},
                             {"d4", dtDecimal, 12, 4},
                             {"bo", dtBoolean},
                             {"vc", dtChar, 10, 0, 1},
                             {"vc2", dtChar, 20},
                             {"fc", dtChar, 5},
                             {"g", dtChar, 38},
                             {"vb", dtBytes, 8},
                             {"cl", dtLob},
                             {"bl", dtLob},
                             {"dt", dtDate},
                             {"tm", dtTime},
                             {"ts", dtTimestamp},
                             {"ym_y", dtYearMonthInterval},
                             {"ym_m", dtYearMonthInterval},
                             {"ym_ym", dtYearMonthInterval},
                             {"dt_d", dtDayTimeInterval},
                             {"dt_h", dtDayTimeInterval},
                             {"dt_dh", dtDayTimeInterval},
                             {"dt_hm", dtDayTimeInterval},
                             {"dt_ds", dtDayTimeInterval}}});
  return catalog;
}

inline void AddTypesSubTypes(ValidatorOwner& owner) {
  owner.ColumnSubTypes = {{"t.fc", stFixed},  {"t.g", stGuid},     {"t.cl", stClob},
                          {"t.ym_y", ifYear}, {"t.ym_m", ifMonth}, {"t.ym_ym", 6},
                          {"t.dt_d", 128},    {"t.dt_h", 64},      {"t.dt_dh", 192},
                          {"t.dt_hm", 96},    {"t.dt_ds", 240}};
}

// Validates the tree the validator was set to; a failing validation
// releases the references taken so far (as the session does) and passes the
// error on.
inline void ValidateReleasingOnError(TBRNExprValidator& Validator) {
  try {
    Validator.ValidateExpression();
  } catch (...) {
    Validator.ReleaseReferences();
    throw;
  }
}

// Compiles Text in Owner: empty when that succeeded, else the error as
// "error <line>:<column> <message>".
inline std::string CompileError(TestOwner& Owner, std::string_view Text) {
  try {
    Owner.CompileText(Text);
  } catch (const EBRNException& error) {
    return DescribeError(error);
  }
  return std::string();
}

struct RunOptions {
  TBRNParseFlags Flags = 0;
  bool StandardNull = true;
  bool FilterMode = false;
  int32_t ExpectedType = 0;
  int32_t ExpectedSubType = 0;
  std::string ContextTable = "T";
  // Print the tree (a test of very deep trees prints nothing).
  bool Print = true;
};

// One whole-path run over the types catalog. Afterwards Owner holds the
// validated tree (or none after an error) and Result the typed tree printed
// or "error <line>:<column> <message>".
struct ValidationRun {
  explicit ValidationRun(std::string_view Text, RunOptions Options = {})
      : Owner(TypesCatalog(), TestParseMode::Expression, Options.Flags),
        Validator(Options.StandardNull) {
    AddTypesSubTypes(Owner);
    Owner.ContextTable = Options.ContextTable;
    Owner.OnValidate = [this, Options](TestOwner& owner) {
      Validator.SetExpression(owner);
      Validator.ExpectedType = Options.ExpectedType;
      Validator.ExpectedSubType = Options.ExpectedSubType;
      Validator.FilterMode = Options.FilterMode;
      ValidateReleasingOnError(Validator);
    };
    try {
      Owner.CompileText(Text);
      if (Options.Print) Result = PrintTree(Owner.Root, {.Types = true});
    } catch (const EBRNException& error) {
      Result = DescribeError(error);
    }
  }

  ValidatorOwner Owner;
  TBRNExprValidator Validator;
  std::string Result;
};

inline std::string Validated(std::string_view Text, RunOptions Options = {}) {
  return ValidationRun(Text, Options).Result;
}

}  // namespace brn::testing
