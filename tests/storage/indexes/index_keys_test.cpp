// Index key layouts built from catalog index definitions, and search keys
// compared with stored keys in place.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/values/contained_value.h"
#include "metadata/table_test_support.h"
#include "storage/indexes/index_keys.h"
#include "storage/indexes/index_pages.h"

namespace brn::testing {
namespace {

TBRNIndex* AddIndex(FakeTable& table, const std::string& name,
                    const std::vector<std::pair<TBRNColumn*, bool>>& columns, int32_t type) {
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table.Indexes->NewItem()));
  index->Name = name;
  index->SetIndexType(type);
  for (auto [column, descending] : columns) {
    std::unique_ptr<TBRNIndexColumn> key(static_cast<TBRNIndexColumn*>(index->Columns->NewItem()));
    key->SetColumn(column);
    key->SetDescending(descending);
    index->Columns->AddObject(key.get());
    key.release();
  }
  table.Indexes->AddObject(index.get());
  return index.release();
}

struct KeyTable : TableFixture {
  FakeTable* Table = AddFakeTable("Orders");
  TBRNColumn* ID = AddColumn(*Table->Columns, "ID", dtInteger);
  TBRNColumn* Line = AddColumn(*Table->Columns, "Line", dtInteger);
  TBRNColumn* Code = AddColumn(*Table->Columns, "Code", dtChar, 20);
  TBRNColumn* Kind = AddColumn(*Table->Columns, "Kind", dtChar, 4);
  TBRNColumn* Amount = AddColumn(*Table->Columns, "Amount", dtDecimal);
  TBRNColumn* Notes = AddColumn(*Table->Columns, "Notes", dtLob);
  KeyTable() {
    Kind->SetSubType(stFixed);
    Code->SetCollation(1 << CaseInsensitiveBit);
    Notes->SetSubType(stClob);
  }
};

TEST(IndexKeys, LayoutFromTheIndexDefinition) {
  KeyTable f;
  // Primary key on two INTEGER columns: width 10, the unique page format.
  TBRNIndex* primary = AddIndex(*f.Table, "PK", {{f.ID, false}, {f.Line, false}}, kIndexPrimaryKey);
  TBRNIndexKeyLayout pk(*primary);
  EXPECT_EQ(pk.GetKeyWidth(), primary->Columns->KeySize);
  EXPECT_EQ(pk.GetKeyWidth(), 10);
  EXPECT_TRUE(pk.IsUnique());
  EXPECT_EQ(pk.GetIndexName(), "PK");

  // VARCHAR(20) with the column's case-insensitive collation, descending
  // CHAR(4) fixed, DECIMAL: offsets follow each column's stored size.
  TBRNIndex* mixed = AddIndex(*f.Table, "Mixed",
                              {{f.Code, false}, {f.Kind, true}, {f.Amount, false}}, kIndexOrdinary);
  TBRNIndexKeyLayout layout(*mixed);
  EXPECT_EQ(layout.GetKeyWidth(), mixed->Columns->KeySize);
  EXPECT_FALSE(layout.IsUnique());
  EXPECT_EQ(layout.GetColumn(0).Kind, TBRNIndexKeyKind::Text);
  EXPECT_EQ(layout.GetColumn(0).Collation, 1 << CaseInsensitiveBit);
  EXPECT_EQ(layout.GetColumn(1).Offset, f.Code->GetKeySize());
  EXPECT_EQ(layout.GetColumn(1).Kind, TBRNIndexKeyKind::FixedText);
  EXPECT_TRUE(layout.GetColumn(1).Descending);
  EXPECT_EQ(layout.GetColumn(2).Offset, f.Code->GetKeySize() + f.Kind->GetKeySize());
  EXPECT_EQ(layout.GetColumn(2).Kind, TBRNIndexKeyKind::Int64);

  // A text index keys one word of the indexed word length.
  TBRNIndex* words = AddIndex(*f.Table, "Words", {{f.Notes, false}}, kIndexText);
  words->SetIndexedWordLength(12);
  TBRNIndexKeyLayout text(*words);
  EXPECT_EQ(text.GetKeyWidth(), 15);
  EXPECT_EQ(text.GetColumnCount(), 1);
  EXPECT_EQ(text.GetColumn(0).Length, 12);
  EXPECT_TRUE(text.IsTextIndex());
  EXPECT_FALSE(text.IsUnique());

  // A BLOB cannot be keyed.
  TBRNIndexKeyColumn blob;
  blob.DataType = dtLob;
  EXPECT_THROW(TBRNIndexKeyLayout("B", kIndexOrdinary, {blob}), std::invalid_argument);
}

// Search values of another type than the key column, partial keys and
// partial lengths compare as the values themselves would.
TEST(IndexKeys, SearchKeysCompareStoredKeysInPlace) {
  TBRNIndexKeyColumn code;
  code.DataType = dtChar;
  code.Length = 8;
  TBRNIndexKeyColumn amount;
  amount.DataType = dtDecimal;
  amount.Scale = 2;
  TBRNIndexKeyLayout layout("I", kIndexOrdinary, {code, amount});
  TBRNContainedIndexKeyValues stored(layout);
  stored.GetItem(0)->SetAsString("pear");
  stored.GetItem(1)->SetAsDecimal(125000);  // 12.5
  std::vector<uint8_t> key(size_t(layout.GetKeyWidth()));
  layout.EncodeKey(stored, key.data());

  TBRNIndexKeyValues search(layout);
  TBRNContainedValue text;
  text.SetDataType(dtChar);
  TBRNContainedValue number;
  number.SetDataType(dtInteger);
  struct Case {
    const char* Text;
    int32_t Number;  // 0: only the text is searched
    int32_t Partial;
    int32_t Expected;
  } cases[] = {
      {"pear", 0, 0, 0},  {"pear", 12, 0, 1},  {"pear", 13, 0, -1},
      {"pe", 0, 2, 0},    {"pe", 0, 0, 1},     {"pearl", 0, 0, -1},
      {"pearl", 0, 4, 0}, {"apple", 99, 0, 1}, {"pear    ", 0, 0, 0},
  };
  for (const Case& c : cases) {
    search.Clear();
    text.SetAsString(c.Text);
    search.Add(&text);
    if (c.Number != 0) {
      number.SetAsInteger(c.Number);
      search.Add(&number);
    }
    TBRNIndexSearchKey prepared;
    prepared.Prepare(layout, search, c.Partial, false);
    EXPECT_EQ(prepared.CompareStored(key.data()), c.Expected)
        << c.Text << " " << c.Number << " " << c.Partial;
  }
  // An empty search key stands before every key.
  search.Clear();
  TBRNIndexSearchKey empty;
  empty.Prepare(layout, search, 0, false);
  EXPECT_EQ(empty.CompareStored(key.data()), 1);
}

}  // namespace
}  // namespace brn::testing
