// Indexes: key and page sizes, validation, stored records, DDL text.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/word_list.h"
#include "metadata/modules/text_filters.h"
#include "metadata/table_test_support.h"
#include "sql/tree/expr_token.h"

namespace brn::testing {
namespace {

struct KeyColumn {
  TBRNColumn* Column;
  bool Descending = false;
};

// A new index of table (not yet added) with the given key columns.
std::unique_ptr<TBRNIndex> NewIndex(FakeTable& table, const std::string& name,
                                    const std::vector<KeyColumn>& columns,
                                    int32_t type = kIndexOrdinary) {
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table.Indexes->NewItem()));
  index->Name = name;
  index->SetIndexType(type);
  for (const KeyColumn& key : columns) {
    std::unique_ptr<TBRNIndexColumn> column(
        static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    column->SetColumn(key.Column);
    column->SetDescending(key.Descending);
    index->Columns->AddObject(column.get());
    column.release();
  }
  return index;
}

TBRNIndex* AddIndex(FakeTable& table, const std::string& name,
                    const std::vector<KeyColumn>& columns, int32_t type = kIndexOrdinary) {
  auto index = NewIndex(table, name, columns, type);
  table.Indexes->AddObject(index.get());
  return index.release();
}

struct IndexTable : TableFixture {
  FakeTable* Table = AddFakeTable("Orders");
  TBRNColumn* ID = AddColumn(*Table->Columns, "ID", dtInteger);
  TBRNColumn* Code = AddColumn(*Table->Columns, "Code", dtChar, 20);
  TBRNColumn* Notes = AddColumn(*Table->Columns, "Notes", dtLob);
  TBRNColumn* Kind = AddColumn(*Table->Columns, "Kind", dtChar, 10);
  TBRNColumn* Amount = AddColumn(*Table->Columns, "Amount", dtBigInt);
  IndexTable() {
    Notes->SetSubType(stClob);
    Kind->SetSubType(stFixed);
  }
};

TEST(Indexes, KeyAndPageSizesFollowTheColumns) {
  IndexTable f;
  TBRNIndex* index = AddIndex(*f.Table, "ByIDCode", {{f.ID}, {f.Code}});
  // INTEGER 4 + 1, VARCHAR(20) 22 + 1; 28 * 4 + 51 = 163, rounded to 168.
  EXPECT_EQ(index->Columns->KeySize, 28);
  EXPECT_EQ(index->Columns->PageSize, 168);

  TBRNIndex* text = AddIndex(*f.Table, "Words", {{f.Code}}, kIndexText);
  EXPECT_EQ(text->Columns->KeySize, 33);
  EXPECT_EQ(text->Columns->PageSize, 184);
  text->SetIndexedWordLength(61);
  EXPECT_EQ(text->Columns->KeySize, 64);
  EXPECT_EQ(text->Columns->PageSize, 312);

  // Removing a key column recomputes the sizes.
  delete index->Columns->RemoveObject(1);
  EXPECT_EQ(index->Columns->KeySize, 5);
  EXPECT_EQ(index->Columns->PageSize, 72);
}

TEST(Indexes, TableWithTooSmallIndexPagesNamesTheRequiredSize) {
  IndexTable f;
  f.Table->IndexPageSize = 128;
  auto index = NewIndex(*f.Table, "ByIDCode", {{f.ID}, {f.Code}});
  const EBRNException error = CaughtError([&] { f.Table->Indexes->AddObject(index.get()); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_NE(error.ErrorMessage.find("index ByIDCode in the table Orders"), std::string::npos)
      << error.ErrorMessage;
  EXPECT_NE(error.ErrorMessage.find("(The index page size is below the required of 168)"),
            std::string::npos)
      << error.ErrorMessage;
  EXPECT_EQ(f.Table->Indexes->Count(), 0);

  // The table's own validation checks its indexes the same way.
  f.Table->IndexPageSize = 168;
  f.Table->Indexes->AddObject(index.release());
  f.Table->IndexPageSize = 160;
  EXPECT_EQ(CaughtError([&] { f.Table->Validate(); }).ErrorCode, 100);
  // Views have no index file to check.
  f.Table->BaseTable = false;
  f.Table->Validate();
}

TEST(Indexes, ValidationRefusesWhatAnIndexCannotHold) {
  IndexTable f;
  f.Table->IndexPageSize = 8192;  // the page size is checked before the word size
  struct Case {
    const char* Name;
    std::function<std::unique_ptr<TBRNIndex>()> Make;
    const char* Message;
  };
  const Case cases[] = {
      {"blob", [&] { return NewIndex(*f.Table, "X", {{f.ID}}); },
       "BLOB columns cannot be included in a non-text index"},
      {"not text", [&] { return NewIndex(*f.Table, "X", {}, kIndexText); },
       "Columns that are not CHAR, VARCHAR, or CLOB columns cannot be included in a text index"},
      {"word 0",
       [&] {
         auto index = NewIndex(*f.Table, "X", {{f.Code}}, kIndexText);
         index->SetIndexedWordLength(0);
         return index;
       },
       "The word size is below the minimum of 1"},
      {"word 1025",
       [&] {
         auto index = NewIndex(*f.Table, "X", {{f.Code}}, kIndexText);
         index->SetIndexedWordLength(1025);
         return index;
       },
       "The word size is above the maximum of 1024"},
      {"filter column",
       [&] {
         auto index = NewIndex(*f.Table, "X", {{f.Code}}, kIndexText);
         index->SetFilterTypeColumn(f.Amount);
         return index;
       },
       "The text filter type column must be a CHAR column"},
  };
  for (const Case& c : cases) {
    EBRNException error(0, "");
    if (std::string(c.Name) == "blob") {
      // The column is refused as it joins the key.
      auto index = NewIndex(*f.Table, "X", {});
      std::unique_ptr<TBRNIndexColumn> column(
          static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
      column->SetColumn(f.Notes);
      error = CaughtError([&] { index->Columns->AddObject(column.get()); });
    } else if (std::string(c.Name) == "not text") {
      auto index = c.Make();
      std::unique_ptr<TBRNIndexColumn> column(
          static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
      column->SetColumn(f.ID);
      error = CaughtError([&] { index->Columns->AddObject(column.get()); });
    } else {
      auto index = c.Make();
      error = CaughtError([&] { f.Table->Indexes->AddObject(index.get()); });
    }
    EXPECT_EQ(error.ErrorCode, 100) << c.Name;
    EXPECT_NE(error.ErrorMessage.find(c.Message), std::string::npos)
        << c.Name << ": " << error.ErrorMessage;
  }
  // A CHAR filter column and a CLOB text column pass.
  auto good = NewIndex(*f.Table, "Good", {{f.Notes}}, kIndexText);
  good->SetFilterTypeColumn(f.Kind);
  f.Table->Indexes->AddObject(good.release());
}

TEST(Indexes, TextIndexTakesTheColumnCollationCaseInsensitive) {
  IndexTable f;
  f.Code->SetCollation(7);
  TBRNIndex* text = AddIndex(*f.Table, "Words", {{f.Code}}, kIndexText);
  TBRNIndex* plain = AddIndex(*f.Table, "ByCode", {{f.Code}});
  EXPECT_EQ(text->Columns->GetItem(0)->Collation, 7 | (1 << 20));
  EXPECT_TRUE(text->Columns->GetItem(0)->CollationFromColumn);
  EXPECT_EQ(plain->Columns->GetItem(0)->Collation, 7);
  // An explicit collation applies to character columns only.
  plain->Columns->GetItem(0)->SetCollation(9);
  EXPECT_EQ(plain->Columns->GetItem(0)->Collation, 9);
  EXPECT_FALSE(plain->Columns->GetItem(0)->CollationFromColumn);
  TBRNIndex* numeric = AddIndex(*f.Table, "ByID", {{f.ID}});
  numeric->Columns->GetItem(0)->SetCollation(9);
  EXPECT_EQ(numeric->Columns->GetItem(0)->Collation, 0);
}

TEST(Indexes, DDLTexts) {
  IndexTable f;
  TBRNIndex* index = AddIndex(*f.Table, "By Code", {{f.Code}, {f.ID, true}});
  index->Description = "Lookup 'by' code  ";
  EXPECT_EQ(index->GetCreateSQL(false, false),
            "CREATE INDEX \"By Code\" ON \"Orders\" (\"Code\" COLLATE \"ANSI\",\"ID\" DESC)\r\n"
            "DESCRIPTION 'Lookup ''by'' code'");
  EXPECT_EQ(index->GetDropSQL(false, false), "DROP INDEX \"By Code\" FROM \"Orders\"");

  TBRNIndex* text = AddIndex(*f.Table, "Words", {{f.Notes}}, kIndexText);
  text->SetFilterTypeColumn(f.Kind);
  text->Validate();
  EXPECT_EQ(text->GetCreateSQL(false, false),
            "CREATE TEXT INDEX \"Words\" ON \"Orders\" (\"Notes\" COLLATE \"ANSI_CI\")\r\n"
            "INDEXED WORD LENGTH 30\r\n"
            "FILTER TYPE COLUMN \"Kind\"\r\n"
            "WORD GENERATOR \"Default\"");

  // Alter: the new definition without descriptions and the changed clauses.
  auto changed = NewIndex(*f.Table, "Words", {{f.Notes}}, kIndexText);
  changed->SetIndexedWordLength(40);
  changed->Description = "new";
  changed->WordGeneratorName = "Default";
  text->ComputeDifference(kDifferenceAlter, changed.get(), ';');
  EXPECT_EQ(text->GetAlterSQL(),
            "ALTER TEXT INDEX \"Words\" ON \"Orders\" (\"Notes\" COLLATE \"ANSI_CI\")\r\n"
            "DESCRIPTION 'new'\r\n"
            "INDEXED WORD LENGTH 40\r\n"
            "FILTER TYPE COLUMN \"\"");
  text->ComputeDifference(kDifferenceAlter, text, ';');
  EXPECT_EQ(text->GetAlterSQL(), "");

  // A constraint's index is written by its constraint and is a system object.
  TBRNIndex* key = AddIndex(*f.Table, "PK", {{f.ID}}, kIndexPrimaryKey);
  key->OwnerConstraintID = 77;
  EXPECT_TRUE(key->IsPrimaryKey);
  EXPECT_EQ(key->GetCreateSQL(false, false), "");
  EXPECT_EQ(CaughtError([&] { key->CheckNotSystem(); }).ErrorCode, 200);
}

TEST(Indexes, StoredRecordsRoundTripAndOlderVersionsReadTheirFields) {
  IndexTable f;
  TBRNIndex* index = AddIndex(*f.Table, "ByIDCode", {{f.ID}, {f.Code, true}});
  TBRNIndex* text = AddIndex(*f.Table, "Words", {{f.Code}}, kIndexText);
  text->SetFilterTypeColumn(f.Kind);
  text->WordGeneratorName = "Stems";
  text->WordGeneratorID = 0;
  TBRNIndex* key = AddIndex(*f.Table, "PK", {{f.ID}}, kIndexPrimaryKey);
  key->OwnerConstraintID = 42;

  for (TBRNIndex* original : {index, text, key}) {
    const std::vector<uint8_t> record = RecordOf(*original);
    auto copy = std::unique_ptr<TBRNIndex>(static_cast<TBRNIndex*>(f.Table->Indexes->NewItem()));
    LoadRecord(*copy, record);
    EXPECT_TRUE(copy->IsEqual(original, true)) << original->Name;
    EXPECT_EQ(copy->Columns->KeySize, original->Columns->KeySize) << original->Name;
    EXPECT_EQ(RecordOf(*copy), record) << original->Name;
    auto fresh = [&] {
      return std::unique_ptr<TBRNIndex>(static_cast<TBRNIndex*>(f.Table->Indexes->NewItem()));
    };
    ExpectEveryCutRefused(record, fresh);
    ExpectEveryByteFlipHandled(record, fresh);
  }
  // A generator that is not there gives way to the built-in one.
  ASSERT_NE(text->GetWordGenerator(), nullptr);
  EXPECT_EQ(text->GetWordGenerator()->Name, "Default");

  // Before 2.03 a text index keeps its word generator by ID.
  f.Catalog->SetVersion(kFormatVersion200);
  text->WordGeneratorID = 9;
  const std::vector<uint8_t> old = RecordOf(*text);
  f.Catalog->SetVersion(kNewestFormatVersion);
  EXPECT_EQ(old.size() + 5, RecordOf(*text).size());  // int32 ID vs. "Stems"
  f.Catalog->SetVersion(kFormatVersion200);
  auto copy = std::unique_ptr<TBRNIndex>(static_cast<TBRNIndex*>(f.Table->Indexes->NewItem()));
  LoadRecord(*copy, old);
  EXPECT_EQ(copy->WordGeneratorID, 9);
  EXPECT_EQ(copy->WordGeneratorName, "");
}

TEST(Indexes, HostileRecordsAreRefusedBeforeAllocation) {
  IndexTable f;
  TBRNIndex* index = AddIndex(*f.Table, "ByID", {{f.ID}});
  std::vector<uint8_t> record = RecordOf(*index);
  // Base record: ID(4), name(4+4), description(4), Internal, ReadOnly = 18;
  // then the index type and the column count.
  const size_t typeAt = 18;
  struct Case {
    size_t At;
    int32_t Value;
  };
  for (const Case& c :
       {Case{typeAt, 5}, Case{typeAt, -1}, Case{typeAt + 4, 0x7FFFFFFF}, Case{typeAt + 4, -3}}) {
    std::vector<uint8_t> bad = record;
    for (int i = 0; i < 4; ++i) bad[c.At + size_t(i)] = uint8_t(uint32_t(c.Value) >> (8 * i));
    auto copy = std::unique_ptr<TBRNIndex>(static_cast<TBRNIndex*>(f.Table->Indexes->NewItem()));
    EXPECT_EQ(CaughtError([&] { LoadRecord(*copy, bad); }).ErrorCode, 100)
        << c.At << " " << c.Value;
  }
}

TEST(Indexes, WordGeneratorReferencesFollowRenameAndDrop) {
  IndexTable f;
  TBRNIndex* text = AddIndex(*f.Table, "Words", {{f.Code}}, kIndexText);
  text->WordGeneratorName = "Stems";
  TBRNWordGenerator stems(&f.Config);
  stems.Name = "STEMS";
  text->ReplaceReferencedName(&stems, "Roots");
  EXPECT_EQ(text->WordGeneratorName, "Roots");
  stems.Name = "Roots";
  text->RemoveReferenceTo(&stems);
  EXPECT_EQ(text->WordGeneratorName, "");
  text->Validate();
  EXPECT_EQ(text->WordGeneratorName, "Default");
  // An ordinary index has no generator to follow.
  TBRNIndex* plain = AddIndex(*f.Table, "ByCode", {{f.Code}});
  plain->ReplaceReferencedName(&stems, "X");
  EXPECT_EQ(plain->WordGeneratorName, "");
}

TEST(Indexes, ListLookups) {
  IndexTable f;
  AddIndex(*f.Table, "ByCode", {{f.Code}});
  AddIndex(*f.Table, "PK", {{f.ID}}, kIndexPrimaryKey);
  EXPECT_EQ(f.Table->Indexes->IndexOfType(kIndexPrimaryKey), 1);
  EXPECT_EQ(f.Table->Indexes->IndexOfType(kIndexText), -1);
  EXPECT_EQ(f.Table->Indexes->GetMaxCount(), 512);
  TBRNIndex* result = AddIndex(*f.Table, "__orderby", {{f.ID}});
  result->Internal = true;
  EXPECT_TRUE(result->IsQueryResultIndex());
  EXPECT_FALSE(f.Table->Indexes->GetItem(0)->IsQueryResultIndex());
}

// A column reference node (not owned by a tree).
std::unique_ptr<TBRNExprToken> Reference(const std::string& name, int32_t collation = 0) {
  auto node = std::make_unique<TBRNExprToken>();
  node->Kind = tkColumnReference;
  node->Name = name;
  node->Collation = collation;
  return node;
}

TEST(Indexes, FindBestIndexPrefersTheSmallestMatchingKey) {
  IndexTable f;
  f.Code->SetCollation(7);
  AddIndex(*f.Table, "AmountCode", {{f.Amount}, {f.Code}});     // 9 + 23
  AddIndex(*f.Table, "Amount", {{f.Amount}});                   // 9
  AddIndex(*f.Table, "AmountAgain", {{f.Amount}});              // 9, later
  AddIndex(*f.Table, "IDCodeMixed", {{f.ID}, {f.Code, true}});  // mixed directions
  AddIndex(*f.Table, "IDCode", {{f.ID}, {f.Code}});
  AddIndex(*f.Table, "CodeWords", {{f.Code}}, kIndexText);
  TBRNIndexes& indexes = *f.Table->Indexes;

  EXPECT_EQ(indexes.FindBestIndex(Reference("amount").get()), 1);
  EXPECT_EQ(indexes.FindBestIndex(Reference("Notes").get()), -1);

  auto id = Reference("ID");
  auto code = Reference("Code", 7);
  TBRNExprToken row;
  row.Kind = tkRowValue;
  row.AddArgument(id.get());
  row.AddArgument(code.get());
  // (ID ASC, Code DESC) does not serve the row value; (ID, Code) does.
  EXPECT_EQ(indexes.FindBestIndex(&row), 4);
  // Character columns compare collations; the text index never serves.
  code->Collation = 8;
  EXPECT_EQ(indexes.FindBestIndex(&row), -1);
  EXPECT_EQ(indexes.FindBestIndex(Reference("Code", 7).get()), -1);
  AddIndex(*f.Table, "Code", {{f.Code}});
  EXPECT_EQ(indexes.FindBestIndex(Reference("Code", 7).get()), 6);
  EXPECT_EQ(indexes.FindBestIndex(Reference("Code", 8).get()), -1);
}

TEST(Indexes, FindTextIndexAcceptsTheColumnsOwnCollation) {
  IndexTable f;
  f.Code->SetCollation(7);
  AddIndex(*f.Table, "ByCode", {{f.Code}});
  AddIndex(*f.Table, "Words", {{f.Code}}, kIndexText);
  TBRNIndexes& indexes = *f.Table->Indexes;
  EXPECT_EQ(indexes.FindTextIndex(Reference("Code", 7).get()), 1);
  EXPECT_EQ(indexes.FindTextIndex(Reference("Code", 7 | (1 << 20)).get()), 1);
  EXPECT_EQ(indexes.FindTextIndex(Reference("Code", 8).get()), -1);
  EXPECT_EQ(indexes.FindTextIndex(Reference("ID").get()), -1);
  // An explicitly set collation must match exactly.
  indexes.GetItem(1)->Columns->GetItem(0)->SetCollation(7 | (1 << 20));
  EXPECT_EQ(indexes.FindTextIndex(Reference("Code", 7).get()), -1);
}

TEST(Indexes, WordListsCutWordsToTheIndexedLength) {
  IndexTable f;
  TBRNIndex* text = AddIndex(*f.Table, "Words", {{f.Code}}, kIndexText);
  text->SetIndexedWordLength(5);
  text->Validate();
  const std::unique_ptr<TBRNWordList> words = text->BuildWordList("wonderful worlds", false);
  std::vector<std::string> found;
  for (const TBRNWord& word : words->GetWords()) found.push_back(word.GetText());
  ASSERT_EQ(found.size(), 2u);
  for (const std::string& word : found) EXPECT_EQ(word.size(), 5u) << word;
  EXPECT_TRUE(TextEqualsIgnoreCase(found[0], "wonde") || TextEqualsIgnoreCase(found[1], "wonde"));
  // Without a filter for the type the text passes unchanged.
  EXPECT_EQ(text->FilterText("HTML", "<b>x</b>"), "<b>x</b>");
}

}  // namespace
}  // namespace brn::testing
