// Condition analysis for the optimiser: filter preparation (prefix
// comparisons, mirrored comparisons, case-insensitivity), outer column
// references, and the index estimate of every condition with the reordering
// of AND chains and the dropping of costly index scans. Conditions are parsed
// and validated from text over a fake filter owner that knows the indexes of
// one table.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/text/collation.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {
namespace {

// One index of the filtered table as the fake filter sees it.
struct FakeIndex {
  std::string Name;
  std::string Column;
  // Text columns: the index's collation ignores case. A condition is served
  // only by an index whose case rule is the condition's.
  bool CaseInsensitive = false;
  // A full-text index (serves CONTAINS, nothing else).
  bool TextIndex = false;
  // Keys an indexed condition reads, and the cost of reading them.
  int32_t Keys = 1;
  int64_t Cost = 0;
};

// Persons (ID Integer, Name VarChar(30), City VarChar(20), Age Integer,
// Born Date, Notes CLOB text-indexed); the filter's table.
TestCatalog personsCatalog() {
  TestCatalog catalog = TestCatalog::Sample();
  catalog.Tables.push_back({"",
                            "Default",
                            "Persons",
                            30,
                            {{"ID", dtInteger},
                             {"Name", dtChar, 30},
                             {"City", dtChar, 20},
                             {"Age", dtInteger},
                             {"Born", dtDate},
                             {"Notes", dtLob, 0, 0, 0, true}}});
  return catalog;
}

// The filter owner of subsystem 6 in miniature: it answers the estimate of
// one condition from its index list, the way the real filters do (level 2 and
// "table.index" for a served condition, the column's text as hint otherwise).
class FakeFilterOwner : public ValidatorOwner {
 public:
  FakeFilterOwner() : ValidatorOwner(personsCatalog(), TestParseMode::Expression, pcContains) {
    ContextTable = "Persons";
    ColumnSubTypes = {{"persons.notes", stClob}};
  }

  std::vector<FakeIndex> Indexes = {
      {"PK", "ID", false, false, 1, 100},
      {"ByName", "Name", true, false, 20, 2000},
      {"ByCity", "City", false, false, 50, 5000},
      {"Words", "Notes", false, true, 5, 500},
  };
  int32_t RowSize = 100;
  int32_t RowCount = 1000;
  // Conditions asked about, as text.
  std::vector<std::string> Asked;

  int32_t GetRowSize() override { return RowSize; }
  int32_t GetRowCount() override { return RowCount; }
  void GetScanTableName(std::string& Text) override { Text = "Persons"; }

  void AnalyzeIndexCondition(TBRNExprToken* Node, bool IncludeCosts) override {
    std::string text;
    BuildText(Node, false, text, false, false);
    Asked.push_back(text);
    if (!ContainsColumnReference(Node)) {
      // A constant FALSE directly under an AND selects nothing.
      if (Node->Kind == tkConstant && TextEqualsIgnoreCase(Node->Text, "FALSE") && Node->Parent &&
          Node->Parent->Operation == opAnd) {
        Node->OptimizeLevel = 0;
        if (IncludeCosts) {
          Node->RowCount = 0;
          Node->EstimatedCost = 0;
        }
      }
      return;
    }
    const TBRNExprToken* column = columnOperand(Node);
    const FakeIndex* index = column ? servingIndex(Node, column) : nullptr;
    if (!index) {
      const TBRNExprToken* hinted = column ? column : NextColumnReference(Node, nullptr);
      BuildText(hinted, false, Node->HintColumns, false, false);
      return;
    }
    Node->IndexNumber = int32_t(index - Indexes.data());
    Node->OptimizeLevel = 2;
    Node->ScanName = "Persons." + index->Name;
    if (IncludeCosts) {
      Node->RowCount = index->Keys;
      Node->EstimatedCost = index->Cost;
    }
  }

 private:
  static const TBRNExprToken* columnOperand(const TBRNExprToken* node) {
    if (node->Kind == tkOperator) return node->Left();
    if (node->Kind == tkPredicate && node->ArgumentCount() > 0) return node->Argument(0);
    return nullptr;
  }

  const FakeIndex* findIndex(std::string_view column, bool textIndex) const {
    for (const FakeIndex& index : Indexes)
      if (index.TextIndex == textIndex && TextEqualsIgnoreCase(index.Column, column)) return &index;
    return nullptr;
  }

  // Ranges of one column: comparisons but <>, BETWEEN, IN, IS NULL, LIKE with
  // a fixed prefix; CONTAINS on a text index.
  const FakeIndex* servingIndex(const TBRNExprToken* node, const TBRNExprToken* column) const {
    if (column->Kind != tkColumnReference) return nullptr;
    if (IsTextSearchPredicate(node))
      return node->Operation == opContains || node->Operation == opContainsAny
                 ? findIndex(column->Name, true)
                 : nullptr;
    const FakeIndex* index = findIndex(column->Name, false);
    if (!index) return nullptr;
    if (IsTextDataType(column->DataType, column->SubType) &&
        column->IsCaseInsensitive() != index->CaseInsensitive)
      return nullptr;
    switch (node->Operation) {
      case opEqual:
      case opLess:
      case opLessOrEqual:
      case opGreater:
      case opGreaterOrEqual:
      case opBetween:
      case opIn:
      case opIsNull:
        return index;
      case opLike: {
        const TBRNExprToken* pattern = node->Argument(1);
        const bool escaped = node->ArgumentCount() > 2 && node->Argument(2);
        return pattern->Kind == tkConstant && !escaped &&
                       pattern->Text.find('_') == std::string::npos &&
                       HasOnlyTrailingWildcard(pattern->Text, '%', '\0')
                   ? index
                   : nullptr;
      }
      default:
        return nullptr;
    }
  }
};

struct FilterOptions {
  bool CaseInsensitive = false;
  bool NoPartialCompare = false;
  bool Optimize = true;
  bool IncludeCosts = false;
};

// Parse, validate as a filter, PrepareFilter and (optionally)
// OptimizeConditions. Error holds the error text when compiling failed.
struct FilterRun {
  explicit FilterRun(std::string_view Text, FilterOptions Options = {}) : Validator(true) {
    Owner.OnValidate = [this](TestOwner& owner) {
      Validator.SetExpression(owner);
      Validator.FilterMode = true;
      ValidateReleasingOnError(Validator);
    };
    Owner.IncludeCosts = Options.IncludeCosts;
    Error = CompileError(Owner, Text);
    if (!Error.empty()) return;
    Owner.PrepareFilter(Options.CaseInsensitive, Options.NoPartialCompare);
    if (Options.Optimize) Owner.OptimizeConditions();
  }

  FakeFilterOwner Owner;
  TBRNExprValidator Validator;
  std::string Error;
};

// The condition printed, with the prefix length of each prefix comparison
// and the text nodes that ignore case: "(Name = 'Jo') [prefix 2] [ci Name]".
std::string printPrepared(const TBRNExprToken* root) {
  std::string out = PrintTree(root);
  std::string partial, insensitive;
  ForEachNode(root, [&](const TBRNExprToken* node) {
    if (node->PartialLength != 0)
      partial += " [prefix " + std::to_string(node->PartialLength) + "]";
    if (node->IsCaseInsensitive() && node->Kind != tkOperator && node->Kind != tkPredicate)
      insensitive += " [ci " + PrintTree(node) + "]";
  });
  return out + partial + insensitive;
}

// The analysis notes of one node: "{level scan hints}" with, when present,
// rows and cost ("r10 c1000") and an eliminated index scan ("elim2").
std::string notes(const TBRNExprToken* node, bool costs) {
  std::string out = "{" + std::to_string(node->OptimizeLevel);
  if (!node->ScanName.empty()) out += " " + node->ScanName;
  if (!node->HintColumns.empty()) out += " hint " + node->HintColumns;
  if (costs)
    out += " r" + std::to_string(node->RowCount) + " c" + std::to_string(node->EstimatedCost);
  if (node->CostEliminated != 0) out += " elim" + std::to_string(node->CostEliminated);
  return out + "}";
}

// The condition with its notes: AND and OR levels written out, every other
// condition printed whole and followed by its notes.
std::string printAnalysed(const TBRNExprToken* node, bool costs = false) {
  if (node->Kind == tkOperator && (node->Operation == opAnd || node->Operation == opOr))
    return "(" + printAnalysed(node->Left(), costs) +
           (node->Operation == opAnd ? " AND " : " OR ") + printAnalysed(node->Right(), costs) +
           ")" + notes(node, costs);
  return PrintTree(node) + notes(node, costs);
}

std::string prepared(std::string_view text, FilterOptions options = {}) {
  options.Optimize = false;
  FilterRun run(text, options);
  return run.Error.empty() ? printPrepared(run.Owner.Root) : run.Error;
}

std::string analysed(std::string_view text, FilterOptions options = {}) {
  FilterRun run(text, options);
  return run.Error.empty() ? printAnalysed(run.Owner.Root, options.IncludeCosts) : run.Error;
}

struct ConditionCase {
  std::string_view Text;
  std::string_view Expected;
};

// ---- PrepareFilter -----------------------------------------------------------

TEST(ConditionAnalysisTest, PrepareFilterTurnsTrailingAsterisksIntoPrefixComparisons) {
  const ConditionCase cases[] = {
      {"Name = 'Jo*'", "(Name = 'Jo') [prefix 2]"},
      {"Name = 'Jo***'", "(Name = 'Jo') [prefix 2]"},
      {"Name <> 'Jo*'", "(Name <> 'Jo') [prefix 2]"},
      // An asterisk before the trailing run: an exact comparison.
      {"Name = 'J*o*'", "(Name = 'J*o*')"},
      {"Name = '*Jo'", "(Name = '*Jo')"},
      {"Name = 'Jo'", "(Name = 'Jo')"},
      // Only asterisks: any value but NULL (=), no row at all (<>).
      {"Name = '*'", "(Name IS NOT NULL)"},
      {"Name = '***'", "(Name IS NOT NULL)"},
      {"Name <> '*'", "FALSE"},
      // NOT goes down first: NOT (Name = '*') matches no row, not the NULLs.
      {"NOT (Name = '*')", "FALSE"},
      {"NOT (Name <> '*')", "(Name IS NOT NULL)"},
      {"NOT (Name = 'Jo*')", "(Name <> 'Jo') [prefix 2]"},
      // Only equality and inequality compare prefixes.
      {"Name > 'Jo*'", "(Name > 'Jo*')"},
      {"Name LIKE 'Jo*'", "(Name LIKE 'Jo*')"},
      // Column against column, and column expressions on both sides.
      {"Name = City", "(Name = City)"},
      {"Name || 'x' = City", "((Name + 'x') = City)"},
      // Conditions reached through AND, OR, functions and predicates.
      {"Age > 3 AND (City = 'B*' OR Name = 'Al*')",
       "((Age > 3) AND ((City = 'B') OR (Name = 'Al'))) [prefix 1] [prefix 2]"},
      {"UPPER(Name) = 'J*'", "(UPPER(Name) = 'J') [prefix 1]"},
  };
  for (const ConditionCase& c : cases) EXPECT_EQ(prepared(c.Text), c.Expected) << c.Text;
}

TEST(ConditionAnalysisTest, NoPartialCompareKeepsTheAsteriskAsACharacter) {
  const FilterOptions options{.NoPartialCompare = true};
  EXPECT_EQ(prepared("Name = 'Jo*'", options), "(Name = 'Jo*')");
  EXPECT_EQ(prepared("Name = '*'", options), "(Name = '*')");
  EXPECT_EQ(prepared("Name <> '*'", options), "(Name <> '*')");
}

TEST(ConditionAnalysisTest, PrepareFilterPutsTheColumnOnTheLeft) {
  const ConditionCase cases[] = {
      {"5 < Age", "(Age > 5)"},
      {"5 <= Age", "(Age >= 5)"},
      {"5 > Age", "(Age < 5)"},
      {"5 >= Age", "(Age <= 5)"},
      {"5 = Age", "(Age = 5)"},
      {"5 <> Age", "(Age <> 5)"},
      // Mirrored first, then the text rules apply.
      {"'Jo*' = Name", "(Name = 'Jo') [prefix 2]"},
      {"'*' = Name", "(Name IS NOT NULL)"},
      {"5 + 1 < Age + 2", "((Age + 2) > (5 + 1))"},
      // No column, or columns on both sides: as written.
      {"1 < 2", "(1 < 2)"},
      {"Age < ID", "(Age < ID)"},
      {"NOT (5 < Age)", "(Age <= 5)"},
  };
  for (const ConditionCase& c : cases) EXPECT_EQ(prepared(c.Text), c.Expected) << c.Text;
}

TEST(ConditionAnalysisTest, CaseInsensitiveFiltersMarkTheirTextOperands) {
  const FilterOptions options{.CaseInsensitive = true};
  const ConditionCase cases[] = {
      {"Name = 'Jo'", "(Name = 'Jo') [ci Name]"},
      {"Name <> 'Jo*'", "(Name <> 'Jo') [prefix 2] [ci Name]"},
      {"'Jo' = Name", "(Name = 'Jo') [ci Name]"},
      // Only = and <> with a text constant; ordering comparisons keep case.
      {"Name > 'Jo'", "(Name > 'Jo')"},
      {"Name = City", "(Name = City)"},
      // The value of a predicate when it is text.
      {"Name LIKE 'J%'", "(Name LIKE 'J%') [ci Name]"},
      {"City IN ('a', 'b')", "(City IN ('a', 'b')) [ci City]"},
      {"Age IN (1, 2)", "(Age IN (1, 2))"},
      {"Name IS NULL", "(Name IS NULL) [ci Name]"},
  };
  for (const ConditionCase& c : cases) EXPECT_EQ(prepared(c.Text, options), c.Expected) << c.Text;
  // Without the option nothing is marked.
  EXPECT_EQ(prepared("Name = 'Jo'"), "(Name = 'Jo')");
}

TEST(ConditionAnalysisTest, ASecondPrepareFilterDoesNotStripAgain) {
  FilterRun run("Name = 'Jo**'", {.Optimize = false});
  ASSERT_EQ(run.Error, "");
  EXPECT_EQ(printPrepared(run.Owner.Root), "(Name = 'Jo') [prefix 2]");
  // The prefix itself now ends in a literal asterisk: 'A*' compared on 2
  // characters must stay so.
  run.Owner.Root->Right()->Text = "A*";
  run.Owner.PrepareFilter(false, false);
  EXPECT_EQ(printPrepared(run.Owner.Root), "(Name = 'A*') [prefix 2]");
}

TEST(ConditionAnalysisTest, UncompiledObjectsAreLeftAlone) {
  FakeFilterOwner owner;
  owner.PrepareFilter(true, false);
  owner.MarkOuterColumnReferences(nullptr);
  owner.OptimizeConditions();
  EXPECT_EQ(owner.Root, nullptr);
  EXPECT_TRUE(owner.Asked.empty());
}

// ---- MarkOuterColumnReferences ----------------------------------------------

TEST(ConditionAnalysisTest, MarkOuterColumnReferencesSeparatesTheFilteredTable) {
  FilterRun run("ID = Age + 1 AND UPPER(Name) IN (City, 'X')", {.Optimize = false});
  ASSERT_EQ(run.Error, "");
  // The filtered table and an outer one, as the query filters link them.
  TBRNExprToken filtered, outer;
  std::vector<TBRNExprToken*> columns;
  for (TBRNExprToken* c = NextColumnReference(run.Owner.Root, nullptr); c;
       c = NextColumnReference(run.Owner.Root, c))
    columns.push_back(c);
  ASSERT_EQ(columns.size(), 4u);  // ID, Age, Name, City
  columns[0]->Link = &filtered;
  columns[1]->Link = &outer;
  columns[2]->Link = &filtered;
  columns[3]->Link = &outer;

  auto kinds = [&columns] {
    std::string out;
    for (const TBRNExprToken* c : columns)
      out += c->Kind == tkOuterColumnReference ? "O" : c->Kind == tkColumnReference ? "C" : "?";
    return out;
  };
  run.Owner.MarkOuterColumnReferences(&filtered);
  EXPECT_EQ(kinds(), "COCO");
  // Serving the other table turns them around; a nil table makes all plain.
  run.Owner.MarkOuterColumnReferences(&outer);
  EXPECT_EQ(kinds(), "OCOC");
  run.Owner.MarkOuterColumnReferences(nullptr);
  EXPECT_EQ(kinds(), "CCCC");
  // An unlinked reference is never outer.
  columns[1]->Link = nullptr;
  run.Owner.MarkOuterColumnReferences(&filtered);
  EXPECT_EQ(kinds(), "CCCO");

  // Outer columns count as values: ID = <outer> + 1 is served by the index.
  columns[1]->Link = &outer;
  run.Owner.MarkOuterColumnReferences(&filtered);
  run.Owner.OptimizeConditions();
  EXPECT_EQ(printAnalysed(run.Owner.Root),
            "((ID = (OuterColumnReference Age(nil, nil) + 1)){2 Persons.PK} AND (UPPER(Name) IN "
            "(OuterColumnReference City(nil, nil), 'X')){0 Persons}){1}");
}

// ---- OptimizeConditions ------------------------------------------------------

TEST(ConditionAnalysisTest, SingleConditionsServedOrNotByAnIndex) {
  const ConditionCase cases[] = {
      {"ID = 5", "(ID = 5){2 Persons.PK}"},
      {"ID < 5", "(ID < 5){2 Persons.PK}"},
      {"5 > ID", "(ID < 5){2 Persons.PK}"},
      {"ID <> 5", "(ID <> 5){0 Persons hint ID}"},
      {"ID BETWEEN 1 AND 9", "(ID BETWEEN 1 AND 9){2 Persons.PK}"},
      {"ID NOT BETWEEN 1 AND 9", "(ID NOT BETWEEN 1 AND 9){0 Persons hint ID}"},
      {"ID IN (1, 2, 3)", "(ID IN (1, 2, 3)){2 Persons.PK}"},
      {"ID IS NULL", "(ID IS NULL){2 Persons.PK}"},
      {"Age = 5", "(Age = 5){0 Persons hint Age}"},
      // Case must match the index: ByName ignores case, ByCity keeps it.
      {"City = 'Bonn'", "(City = 'Bonn'){2 Persons.ByCity}"},
      {"Name = 'Jo'", "(Name = 'Jo'){0 Persons hint Name}"},
      // LIKE with a fixed prefix, and prefix comparisons from trailing "*".
      {"City LIKE 'Bo%'", "(City LIKE 'Bo%'){2 Persons.ByCity}"},
      {"City LIKE '%n'", "(City LIKE '%n'){0 Persons hint City}"},
      {"City LIKE 'B_n%'", "(City LIKE 'B_n%'){0 Persons hint City}"},
      {"City NOT LIKE 'Bo%'", "(City NOT LIKE 'Bo%'){0 Persons hint City}"},
      {"City = 'Bo*'", "(City = 'Bo'){2 Persons.ByCity}"},
      {"City = '*'", "(City IS NOT NULL){0 Persons hint City}"},
      {"Notes CONTAINS 'rust'", "(Notes CONTAINS 'rust'){2 Persons.Words}"},
      // Not optimisable: the column is not alone on its side, or the other
      // side holds a column; the filter is never asked.
      {"ID + 1 = 5", "((ID + 1) = 5){0 Persons}"},
      {"ID = Age", "(ID = Age){0 Persons}"},
      {"ID BETWEEN 1 AND Age", "(ID BETWEEN 1 AND Age){0 Persons}"},
      {"ID IN (1, Age)", "(ID IN (1, Age)){0 Persons}"},
      {"City LIKE Name", "(City LIKE Name){0 Persons}"},
      // Functions and NOT over a non-condition go to the filter whole.
      {"UPPER(City) = 'X'", "(UPPER(City) = 'X'){0 Persons}"},
      {"NOT UPPER(City) IS NULL", "(UPPER(City) IS NOT NULL){0 Persons}"},
  };
  for (const ConditionCase& c : cases) EXPECT_EQ(analysed(c.Text), c.Expected) << c.Text;
}

TEST(ConditionAnalysisTest, CaseInsensitiveFilterUsesTheCaseInsensitiveIndex) {
  const FilterOptions ci{.CaseInsensitive = true};
  EXPECT_EQ(analysed("Name = 'Jo'", ci), "(Name = 'Jo'){2 Persons.ByName}");
  EXPECT_EQ(analysed("Name = 'Jo*'", ci), "(Name = 'Jo'){2 Persons.ByName}");
  EXPECT_EQ(analysed("Name LIKE 'J%'", ci), "(Name LIKE 'J%'){2 Persons.ByName}");
  // Ordering comparisons keep their case rule, so ByName cannot serve them.
  EXPECT_EQ(analysed("Name > 'J'", ci), "(Name > 'J'){0 Persons hint Name}");
  // ByCity keeps case: a case-insensitive City comparison is a row scan.
  EXPECT_EQ(analysed("City = 'Bonn'", ci), "(City = 'Bonn'){0 Persons hint City}");
}

TEST(ConditionAnalysisTest, AndAndOrLevels) {
  const ConditionCase cases[] = {
      // Served with served: one scan name when both use the same index.
      // Equal estimates: the right one counts as cheaper, so the two trade
      // places.
      {"ID = 1 AND ID < 9", "((ID < 9){2 Persons.PK} AND (ID = 1){2 Persons.PK}){2 Persons.PK}"},
      {"ID = 1 OR ID = 9", "((ID = 1){2 Persons.PK} OR (ID = 9){2 Persons.PK}){2 Persons.PK}"},
      {"ID = 1 AND City = 'B'", "((City = 'B'){2 Persons.ByCity} AND (ID = 1){2 Persons.PK}){2}"},
      // Served with a row scan: AND partly served, OR not at all.
      {"ID = 1 AND Age = 2", "((ID = 1){2 Persons.PK} AND (Age = 2){0 Persons hint Age}){1}"},
      {"ID = 1 OR Age = 2", "((ID = 1){2 Persons.PK} OR (Age = 2){0 Persons hint Age}){0}"},
      // ... unless the served side is a CONTAINS predicate.
      {"Notes CONTAINS 'x' OR Age = 2",
       "((Notes CONTAINS 'x'){2 Persons.Words} OR (Age = 2){0 Persons hint Age}){1}"},
      {"Age = 2 OR Notes CONTAINS 'x'",
       "((Age = 2){0 Persons hint Age} OR (Notes CONTAINS 'x'){2 Persons.Words}){1}"},
      // Row scans merge their hints (equal ones once).
      {"Age = 2 OR ID <> 3",
       "((Age = 2){0 Persons hint Age} OR (ID <> 3){0 Persons hint ID}){0 Persons hint Age,ID}"},
      {"Age = 2 OR Age = 3",
       "((Age = 2){0 Persons hint Age} OR (Age = 3){0 Persons hint Age}){0 Persons hint Age}"},
      // Nested levels.
      {"(ID = 1 OR ID = 2) AND (Age = 3 OR City = 'B')",
       "(((ID = 1){2 Persons.PK} OR (ID = 2){2 Persons.PK}){2 Persons.PK} AND "
       "((Age = 3){0 Persons hint Age} OR (City = 'B'){2 Persons.ByCity}){0}){1}"},
  };
  for (const ConditionCase& c : cases) EXPECT_EQ(analysed(c.Text), c.Expected) << c.Text;
}

TEST(ConditionAnalysisTest, TheServedConditionOfAnAndChainMovesToTheFront) {
  const ConditionCase cases[] = {
      // Only the third of three is served: it becomes the leftmost operand.
      {"Age = 1 AND Age = 2 AND ID = 3",
       "((ID = 3){2 Persons.PK} AND ((Age = 2){0 Persons hint Age} AND (Age = 1){0 Persons hint "
       "Age}){0 Persons hint Age}){1}"},
      {"Age = 1 AND Born IS NULL AND ID = 3",
       "((ID = 3){2 Persons.PK} AND ((Born IS NULL){0 Persons hint Born} AND "
       "(Age = 1){0 Persons hint Age}){0 Persons hint Born,Age}){1}"},
      // Served in the middle of a longer chain.
      {"Age = 1 AND ID = 2 AND Age = 3 AND Born IS NULL",
       "((ID = 2){2 Persons.PK} AND ((Age = 3){0 Persons hint Age} AND ((Born IS NULL){0 Persons "
       "hint Born} AND (Age = 1){0 Persons hint Age}){0 Persons hint Born,Age}){0 Persons hint "
       "Age,Born,Age}){1}"},
      // Already in front: the served condition stays first.
      {"ID = 2 AND Age = 1", "((ID = 2){2 Persons.PK} AND (Age = 1){0 Persons hint Age}){1}"},
      // An OR is not a chain: its operands keep their places.
      {"Age = 1 OR ID = 2", "((Age = 1){0 Persons hint Age} OR (ID = 2){2 Persons.PK}){0}"},
  };
  for (const ConditionCase& c : cases) EXPECT_EQ(analysed(c.Text), c.Expected) << c.Text;
}

TEST(ConditionAnalysisTest, WithCostsTheCheapestIndexLeadsAndCostlyIndexScansAreDropped) {
  const FilterOptions costs{.IncludeCosts = true};
  const ConditionCase cases[] = {
      // A row scan costs RowCount 1000 x RowSize 100.
      {"Age = 1", "(Age = 1){0 Persons hint Age r1000 c100000}"},
      {"ID = 1", "(ID = 1){2 Persons.PK r1 c100}"},
      // PK (1 key, 100) beats ByCity (50 keys, 5000): City is read from the
      // one PK row instead (cost 100); the AND costs both.
      {"City = 'B' AND ID = 1",
       "((ID = 1){2 Persons.PK r1 c100} AND (City = 'B'){0 Persons r1 c100 elim2}){1 r1 c200}"},
      // A row scan after an index scan: scanned over the index's rows.
      {"Age = 1 AND ID = 1",
       "((ID = 1){2 Persons.PK r1 c100} AND (Age = 1){0 Persons r1 c100}){1 r1 c200}"},
      // OR takes the larger estimate and drops nothing.
      {"City = 'B' OR ID = 1",
       "((City = 'B'){2 Persons.ByCity r50 c5000} OR (ID = 1){2 Persons.PK r1 c100}){2 r50 "
       "c5000}"},
      // A CONTAINS operand keeps its index scan.
      {"Notes CONTAINS 'x' AND City = 'B'",
       "((Notes CONTAINS 'x'){2 Persons.Words r5 c500} AND (City = 'B'){2 Persons.ByCity r50 "
       "c5000}){2 r5 c500}"},
      // A FALSE under AND selects nothing: every other condition reads no row.
      {"FALSE AND ID = 1",
       "(FALSE{0 Persons r0 c0} AND (ID = 1){0 Persons r0 c0 elim2}){0 Persons r0 c0 elim2}"},
  };
  for (const ConditionCase& c : cases) EXPECT_EQ(analysed(c.Text, costs), c.Expected) << c.Text;
}

TEST(ConditionAnalysisTest, IndexScanOverTenRowsReplacesAFiveThousandCostIndexScan) {
  FilterRun run("City = 'B' AND ID > 4", {.Optimize = false, .IncludeCosts = true});
  ASSERT_EQ(run.Error, "");
  run.Owner.Indexes[0].Keys = 10;
  run.Owner.Indexes[0].Cost = 1000;
  run.Owner.OptimizeConditions();
  const TBRNExprToken* root = run.Owner.Root;
  EXPECT_EQ(printAnalysed(root, true),
            "((ID > 4){2 Persons.PK r10 c1000} AND (City = 'B'){0 Persons r10 c1000 elim2}){1 r10 "
            "c2000}");
  EXPECT_EQ(root->Right()->IndexNumber, 2);  // ByCity, chosen before it was dropped

  // When the cheap condition yields too many rows, the second index stays.
  run.Owner.Indexes[0].Keys = 60;
  run.Owner.OptimizeConditions();
  EXPECT_EQ(printAnalysed(root, true),
            "((ID > 4){2 Persons.PK r60 c1000} AND (City = 'B'){2 Persons.ByCity r50 c5000}){2 r50 "
            "c1000}");
}

TEST(ConditionAnalysisTest, AnalysingAgainLeavesNoStaleNotes) {
  FilterRun run("City = 'B' AND ID = 2", {.IncludeCosts = true});
  ASSERT_EQ(run.Error, "");
  EXPECT_EQ(
      printAnalysed(run.Owner.Root, true),
      "((ID = 2){2 Persons.PK r1 c100} AND (City = 'B'){0 Persons r1 c100 elim2}){1 r1 c200}");
  // The primary key becomes costly: now City leads and ID is dropped, and
  // City keeps nothing of its earlier demotion.
  run.Owner.Indexes[0].Keys = 10000;
  run.Owner.Indexes[0].Cost = 1000000;
  run.Owner.OptimizeConditions();
  EXPECT_EQ(printAnalysed(run.Owner.Root, true),
            "((City = 'B'){2 Persons.ByCity r50 c5000} AND (ID = 2){0 Persons r50 c5000 elim2}){1 "
            "r50 c10000}");
  // Without any index the hints come back.
  run.Owner.Indexes.clear();
  run.Owner.OptimizeConditions();
  EXPECT_EQ(printAnalysed(run.Owner.Root),
            "((ID = 2){0 Persons hint ID} AND (City = 'B'){0 Persons hint City}){0 Persons hint "
            "ID,City}");
}

TEST(ConditionAnalysisTest, ConditionsWithoutColumnsGoToTheFilterWhole) {
  FilterRun run("1 = 1 AND ID = 2");
  ASSERT_EQ(run.Error, "");
  // The filter is asked about each operand once per pass, and about the
  // column-free comparison as a whole.
  EXPECT_EQ(printAnalysed(run.Owner.Root), "((ID = 2){2 Persons.PK} AND (1 = 1){0 Persons}){1}");
  ASSERT_FALSE(run.Owner.Asked.empty());
  EXPECT_EQ(run.Owner.Asked.front(), "1 = 1");
}

TEST(ConditionAnalysisTest, LongAndChainsNeedNoDeepRecursion) {
  std::string text = "ID = 0";
  for (int i = 1; i < 2000; ++i) text += " AND Age = " + std::to_string(i);
  FilterRun run(text, {.IncludeCosts = true});
  ASSERT_EQ(run.Error, "");
  EXPECT_EQ(run.Owner.Root->OptimizeLevel, 1);
  // The served condition leads the chain.
  EXPECT_EQ(run.Owner.Root->Left()->ScanName, "Persons.PK");
}

TEST(ConditionAnalysisTest, PlanTextIsTheBuilderText) {
  // A builder that names its arguments shows what GetPlanText asks for.
  struct PlanOwner : FakeFilterOwner {
    void BuildText(const TBRNExprToken* Node, bool Plan, std::string& Text, bool ParameterValues,
                   bool Costs) override {
      Text = (Node == Root ? "root" : "node") + std::string(Plan ? " plan" : "") +
             (ParameterValues ? " values" : "") + (Costs ? " costs" : "");
    }
  } owner;
  std::string text;
  owner.GetPlanText(text);
  EXPECT_EQ(text, "root plan values");
  owner.IncludeCosts = true;
  owner.GetPlanText(text);
  EXPECT_EQ(text, "root plan values costs");
}

}  // namespace
}  // namespace brn::testing
