#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "foundation/text/collation.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/keywords.h"

namespace brn {
namespace {

std::set<std::string> splitWords(std::string_view text) {
  std::set<std::string> words;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) words.insert(word);
  return words;
}

template <typename Table, typename WordOf>
void expectSorted(const Table& table, WordOf wordOf, const char* name) {
  for (size_t i = 1; i < table.size(); ++i)
    EXPECT_LT(CompareTextIgnoreCase(wordOf(table[i - 1]), wordOf(table[i])), 0)
        << name << ": " << wordOf(table[i - 1]) << " before " << wordOf(table[i]);
}

TEST(KeywordTables, AreSortedForTheBinarySearch) {
  auto entryWord = [](const TBRNKeywordEntry& e) { return e.Word; };
  auto plainWord = [](std::string_view w) { return w; };
  expectSorted(FunctionKeywords, entryWord, "functions");
  expectSorted(StatementKeywords, entryWord, "statements");
  expectSorted(RoutineStatementKeywords, entryWord, "procedural");
  expectSorted(ReservedWords, plainWord, "reserved");
  expectSorted(StatementTypeNames, plainWord, "statement types");
  expectSorted(DataTypeWords, plainWord, "data types");
}

TEST(KeywordTables, EveryEntryIsFoundInAnyCase) {
  for (auto table : {std::span<const TBRNKeywordEntry>(FunctionKeywords),
                     std::span<const TBRNKeywordEntry>(StatementKeywords),
                     std::span<const TBRNKeywordEntry>(RoutineStatementKeywords)}) {
    for (const TBRNKeywordEntry& entry : table) {
      std::string lower(entry.Word);
      for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_EQ(LookupKeyword(table, entry.Word), entry.Operation) << entry.Word;
      EXPECT_EQ(LookupKeyword(table, lower), entry.Operation) << lower;
    }
  }
}

TEST(KeywordTables, WordsOutsideATableAreNotFound) {
  for (std::string_view word :
       {"", "A", "ZZZ", "ABORTE", "ABORTEDX", "CHAR", "SUBSTRINGS", "UPPERS"})
    EXPECT_EQ(LookupKeyword(FunctionKeywords, word), opNone) << word;
  EXPECT_EQ(LookupKeyword(StatementKeywords, "ABS"), opNone);
  EXPECT_EQ(LookupKeyword(RoutineStatementKeywords, "SELECT"), opNone);
}

TEST(KeywordTables, SynonymsShareOneCode) {
  struct Case {
    std::span<const TBRNKeywordEntry> Table;
    std::string_view Word;
    TBRNExprOperation Expected;
  };
  const Case cases[] = {
      {FunctionKeywords, "ALLTRIM", opTrimBoth},
      {FunctionKeywords, "LTRIM", opTrimLeading},
      {FunctionKeywords, "rtrim", opTrimTrailing},
      {FunctionKeywords, "TRIM", opTrim},
      {FunctionKeywords, "LN", opLog},
      {FunctionKeywords, "Log", opLog},
      {FunctionKeywords, "SUBSTR", opSubstring},
      {FunctionKeywords, "SUBSTRING", opSubstring},
      {FunctionKeywords, "CEIL", opCeiling},
      {FunctionKeywords, "CEILING", opCeiling},
      {FunctionKeywords, "CHAR_LENGTH", opLength},
      {FunctionKeywords, "CHARACTER_LENGTH", opLength},
      {FunctionKeywords, "POS", opPosition},
      {FunctionKeywords, "UCASE", opUpper},
      {FunctionKeywords, "EXTRACT", opExtract},
      {StatementKeywords, "SELECT", opSelect},
      {StatementKeywords, "TABLE", opSelect},
      {StatementKeywords, "GRANT", opGrant},
      {StatementKeywords, "REVOKE", opRevoke},
      {StatementKeywords, "SET", opSet},
      {StatementKeywords, "DELETE", opDelete},
      {RoutineStatementKeywords, "DELETE", opDeleteStatement},
      {RoutineStatementKeywords, "SET", opSetVariable},
      {RoutineStatementKeywords, "CASE", opCaseStatement},
  };
  for (const Case& c : cases) EXPECT_EQ(LookupKeyword(c.Table, c.Word), c.Expected) << c.Word;
}

// The keyword tables and the operation table are kept apart; they must tell
// the same story in both directions.
TEST(KeywordTables, AgreeWithTheOperationTable) {
  struct Family {
    std::span<const TBRNKeywordEntry> Table;
    TBRNExprTokenKind Kind;
  };
  const Family families[] = {{FunctionKeywords, tkFunction},
                             {StatementKeywords, tkStatement},
                             {RoutineStatementKeywords, tkRoutineStatement}};
  for (const Family& family : families) {
    std::map<std::string, TBRNExprOperation> fromTable;
    for (const TBRNKeywordEntry& entry : family.Table) {
      const TBRNOperationInfo& info = OperationInfo(entry.Operation);
      EXPECT_EQ(info.Kind, family.Kind) << entry.Word;
      EXPECT_TRUE(splitWords(info.Keywords).count(std::string(entry.Word)))
          << entry.Word << " is not listed for " << info.Name;
      fromTable[std::string(entry.Word)] = entry.Operation;
    }
    for (int code = 0; code < 256; ++code) {
      const TBRNOperationInfo& info = OperationInfoTable[size_t(code)];
      if (info.Kind != family.Kind) continue;
      for (const std::string& word : splitWords(info.Keywords)) {
        auto found = fromTable.find(word);
        ASSERT_NE(found, fromTable.end()) << word << " of " << info.Name << " has no table entry";
        EXPECT_EQ(found->second, code) << word;
      }
    }
  }
}

TEST(KeywordTables, HaveTheirSizesAndFixedLists) {
  EXPECT_EQ(FunctionKeywords.size(), 88u);
  EXPECT_EQ(StatementKeywords.size(), 32u);
  EXPECT_EQ(RoutineStatementKeywords.size(), 27u);
  EXPECT_EQ(StatementTypeNames.size(), 64u);
  EXPECT_EQ(DataTypeWords.size(), 35u);
  EXPECT_EQ(CharacterSetNames[0], "Unknown");
  EXPECT_EQ(CharacterSetNames[2], "Unicode");
  EXPECT_EQ(BooleanAndNullWords[1], "NULL");
}

TEST(OperationTable, NamesKindsAndUnusedCodes) {
  std::set<std::string_view> names;
  for (int code = 0; code < 256; ++code) {
    const TBRNOperationInfo& info = OperationInfoTable[size_t(code)];
    if (code == 0 || code == 192) {
      EXPECT_TRUE(info.Name.empty()) << code;
      EXPECT_EQ(info.Kind, tkNone) << code;
      continue;
    }
    EXPECT_EQ(info.Name.substr(0, 2), "op") << code;
    EXPECT_TRUE(names.insert(info.Name).second) << info.Name << " twice";
    TBRNExprTokenKind expected = tkNone;
    if (code <= 16)
      expected = (code == 12 || code == 13) ? tkUnaryOperator : tkOperator;
    else if (code <= 109)
      expected = tkFunction;
    else if (code <= 121)
      expected = tkPredicate;
    else if (code >= 182 && code <= 214)
      expected = tkRoutineStatement;
    else if (code >= 215)
      expected = tkStatement;
    if (expected != tkNone) {
      EXPECT_EQ(info.Kind, expected) << info.Name;
    }
  }
  struct Spot {
    TBRNExprOperation Code;
    std::string_view Name;
    TBRNExprTokenKind Kind;
  };
  const Spot spots[] = {{opAdd, "opAdd", tkOperator},
                        {opCorrelated, "opCorrelated", tkQuery},
                        {opCrossJoin, "opCrossJoin", tkJoin},
                        {opDerivedTable, "opDerivedTable", tkTableReference},
                        {opUnionAll, "opUnionAll", tkList},
                        {opAfterInsert, "opAfterInsert", tkTriggerName},
                        {opPrimaryKey, "opPrimaryKey", tkConstraintName},
                        {opParamInOut, "opParamInOut", tkRoutineParam},
                        {opBeginBlock, "opBeginBlock", tkBlock},
                        {opWhile, "opWhile", tkRoutineStatement},
                        {opVerify, "opVerify", tkStatement}};
  for (const Spot& spot : spots) {
    EXPECT_EQ(OperationInfo(spot.Code).Name, spot.Name);
    EXPECT_EQ(OperationInfo(spot.Code).Kind, spot.Kind) << spot.Name;
  }
}

TEST(OperationTable, EvaluationSlotsCoverTheRoutineTableOnce) {
  std::set<int> slots;
  for (int code = 0; code < 256; ++code) {
    int slot = OperationInfoTable[size_t(code)].EvaluationSlot;
    int expected = 0;
    if (code >= 1 && code <= 16)
      expected = code;
    else if (code >= 110 && code <= 121)
      expected = code - 93;
    else if (code >= 17 && code <= 109)
      expected = code + 12;
    EXPECT_EQ(slot, expected) << code;
    if (slot) {
      EXPECT_TRUE(slots.insert(slot).second) << "slot " << slot << " twice";
    }
  }
  EXPECT_EQ(int(slots.size()), EvaluationSlotCount);
  EXPECT_EQ(*slots.rbegin(), EvaluationSlotCount);
}

TEST(OperationTable, BuilderWordsCollapseSynonyms) {
  const std::pair<TBRNExprOperation, std::string_view> cases[] = {
      {opAdd, "+"},
      {opNotEqual, "<>"},
      {opNegate, "-"},
      {opIntervalDifference, "-"},
      {opMod, "MOD"},
      {opCeiling, "CEILING"},
      {opLength, "LENGTH"},
      {opLog, "LOG"},
      {opLower, "LOWER"},
      {opPosition, "POS"},
      {opSubstring, "SUBSTRING"},
      {opTruncate, "TRUNCATE"},
      {opUpper, "UPPER"},
      {opExtractWeek, "EXTRACT"},
      {opTrimLeading, "TRIM"},
      {opSumSquare, "SUMSQUARE"},
      {opUserFunction, ""},
      {opCaseConditions, ""},
      {opCase, "CASE"},
      {opIsNotNull, "IS NOT NULL"},
      {opNotContainAny, "DOES NOT CONTAIN ANY"},
      {opLeftJoin, "LEFT OUTER JOIN"},
      {opUnionAll, "UNION ALL"},
      {opDescending, "DESC"},
  };
  for (const auto& [code, word] : cases)
    EXPECT_EQ(OperationInfo(code).BuilderWord, word) << int(code);
  // Every operator, predicate and function the builder names has a word.
  for (int code = 1; code <= 121; ++code) {
    if (code == opCaseConditions || code == opCaseResults || code == opUserFunction) continue;
    EXPECT_FALSE(OperationInfoTable[size_t(code)].BuilderWord.empty()) << code;
  }
}

}  // namespace
}  // namespace brn
