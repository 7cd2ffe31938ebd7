// Column references (index, constraint and trigger columns): the stored
// record each kind writes on top of the shared part, and that only
// references of one kind copy from or equal each other.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "metadata/catalog/column_reference.h"
#include "metadata/table_test_support.h"

namespace brn::testing {
namespace {

using Maker = std::function<std::unique_ptr<TBRNColumnReference>(TBRNCatalog*)>;

void AppendInt32(std::vector<uint8_t>& bytes, int32_t value) {
  const auto bits = uint32_t(value);
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(bits >> shift));
}

std::vector<uint8_t> BaseRecordOf(TBRNColumnReference& reference, bool structureOnly) {
  TBRNMemoryStream stream;
  reference.TBRNCatalogObject::SaveToStream(stream, structureOnly);
  return StreamBytes(stream);
}

TEST(ColumnReferences, RecordIsBaseRecordThenColumnIDThenOwnFields) {
  TableFixture f;
  struct Case {
    const char* Kind;
    Maker Make;
    bool StructureOnly;
    std::vector<uint8_t> OwnFields;  // the kind's own fields, after ColumnID if written
    bool WritesColumnID;
  };
  auto makeIndexColumn = [](TBRNCatalog* catalog) {
    auto column = std::make_unique<TBRNIndexColumn>(catalog);
    column->Collation = 0x0A0B;
    column->CollationFromColumn = false;
    column->Descending = true;
    return std::unique_ptr<TBRNColumnReference>(std::move(column));
  };
  std::vector<uint8_t> indexFull = {0x0B, 0x0A, 0, 0, 0, 1};
  // Structure-only index columns name the column (unresolved here: "")
  // and give the collation instead of the ID.
  std::vector<uint8_t> indexStructure = {0, 0, 0, 0, 0x0B, 0x0A, 0, 0};
  const std::vector<Case> cases = {
      {"index column", makeIndexColumn, false, indexFull, true},
      {"index column, structure", makeIndexColumn, true, indexStructure, false},
      {"constraint column",
       [](TBRNCatalog* c) { return std::make_unique<TBRNConstraintColumn>(c); },
       false,
       {},
       true},
      {"constraint column, structure",
       [](TBRNCatalog* c) { return std::make_unique<TBRNConstraintColumn>(c); },
       true,
       {},
       true},
      {"target table column",
       [](TBRNCatalog* c) { return std::make_unique<TBRNTargetTableColumn>(c); },
       false,
       {},
       true},
      {"trigger column",
       [](TBRNCatalog* c) { return std::make_unique<TBRNTriggerColumn>(c); },
       false,
       {},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Kind);
    std::unique_ptr<TBRNColumnReference> reference = c.Make(f.Catalog.get());
    reference->ID = 17;
    reference->ColumnID = 0x01020304;
    std::vector<uint8_t> expected = BaseRecordOf(*reference, c.StructureOnly);
    if (c.WritesColumnID) AppendInt32(expected, reference->ColumnID);
    expected.insert(expected.end(), c.OwnFields.begin(), c.OwnFields.end());
    const std::vector<uint8_t> record = RecordOf(*reference, c.StructureOnly);
    EXPECT_EQ(record, expected);
    if (c.StructureOnly) continue;

    std::unique_ptr<TBRNColumnReference> loaded = c.Make(f.Catalog.get());
    loaded->ColumnID = 0;
    LoadRecord(*loaded, record);
    EXPECT_EQ(loaded->ColumnID, reference->ColumnID);
    EXPECT_TRUE(loaded->IsEqual(reference.get(), true));
    EXPECT_EQ(RecordOf(*loaded), record);
  }
}

TEST(ColumnReferences, OnlyReferencesOfOneKindCopyOrEqualEachOther) {
  TableFixture f;
  TBRNCatalog* catalog = f.Catalog.get();
  TBRNIndexColumn index(catalog);
  TBRNConstraintColumn key(catalog);
  TBRNTargetTableColumn target(catalog);
  TBRNTriggerColumn trigger(catalog);
  std::vector<TBRNColumnReference*> all = {&index, &key, &target, &trigger};
  // Kind of each entry: key and target columns are both constraint columns.
  const std::vector<int> kind = {0, 1, 1, 2};
  for (size_t i = 0; i < all.size(); ++i) {
    for (size_t j = 0; j < all.size(); ++j) {
      if (i == j) continue;
      SCOPED_TRACE(all[i]->GetObjectTypeName() + " from " + all[j]->GetObjectTypeName());
      for (TBRNColumnReference* r : all) r->ColumnID = 5;
      EXPECT_EQ(all[i]->IsEqual(all[j], true), kind[i] == kind[j]);
      all[j]->ColumnID = 9;
      all[i]->Assign(all[j], false);
      EXPECT_EQ(all[i]->ColumnID, kind[i] == kind[j] ? 9 : 5);
    }
  }
}

}  // namespace
}  // namespace brn::testing
