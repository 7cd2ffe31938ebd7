// Columns: row layout, validation messages, DDL text and stored records.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "metadata/catalog_test_support.h"

namespace brn {
namespace {

using testing::AddColumn;
using testing::CatalogFixture;
using testing::CatalogTable;
using testing::CaughtError;

TEST(Columns, RowLayoutSkipsComputedColumns) {
  CatalogFixture f;
  CatalogTable* table = f.AddTable("T");
  TBRNColumns& columns = *table->Columns;
  AddColumn(columns, "A", dtInteger);
  AddColumn(columns, "B", dtChar, 10);
  AddColumn(columns, "C", dtLob);
  TBRNColumn* computed = AddColumn(columns, "D", dtInteger);
  computed->SetComputed(true);
  computed->ComputedExpr->SetText("A * 2");
  columns.Validate();

  const int32_t offsets[] = {17, 22, 35, 44};
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(columns.GetItem(i)->RowOffset, offsets[i]) << i;
  EXPECT_EQ(columns.RowSize, 44);
  EXPECT_EQ(columns.GetItem(1)->Size, 12);
  EXPECT_TRUE(columns.HasBlobColumns());
  EXPECT_EQ(columns.GetBlobColumns()->GetItem(0)->Name, "C");
  EXPECT_EQ(columns.GetComputedColumns()->Count(), 1);
  EXPECT_FALSE(columns.HasRequiredColumns());
  EXPECT_FALSE(columns.HasGeneratedColumns());
  EXPECT_TRUE(computed->ReadOnly);
  EXPECT_EQ(columns.GetMaxCount(), 2048);
}

struct BadColumn {
  const char* What;
  void (*Define)(TBRNColumn&);
  const char* Message;
};

TEST(Columns, BadDefinitionsGiveTheirMessages) {
  const BadColumn cases[] = {
      {"no type", [](TBRNColumn&) {}, "The data type Unknown is invalid"},
      {"VARCHAR(0)",
       [](TBRNColumn& c) {
         c.SetDataType(dtChar);
         c.Length = 0;
       },
       "The size is below the minimum of 1"},
      {"VARCHAR(1025)",
       [](TBRNColumn& c) {
         c.SetDataType(dtChar);
         c.SetLength(1025);
       },
       "The size is above the maximum of 1024"},
      {"DECIMAL scale 5",
       [](TBRNColumn& c) {
         c.SetDataType(dtDecimal);
         c.Scale = 5;
       },
       "The scale is above the maximum of 4"},
      {"DECIMAL scale -1",
       [](TBRNColumn& c) {
         c.SetDataType(dtDecimal);
         c.Scale = -1;
       },
       "The scale is below the minimum of 0"},
      {"INTEGER COMPRESSION 3",
       [](TBRNColumn& c) {
         c.SetDataType(dtInteger);
         c.SetBlobCompression(3);
       },
       "The compression 3 is invalid"},
      {"BLOB COMPRESSION 10",
       [](TBRNColumn& c) {
         c.SetDataType(dtLob);
         c.SetBlobCompression(10);
       },
       "The compression 10 is invalid"},
      {"BIGINT identity",
       [](TBRNColumn& c) {
         c.SetDataType(dtBigInt);
         c.SetIdentity(true);
       },
       "The data type BigInt is invalid for an identity column"},
      {"identity, generated, with a default",
       [](TBRNColumn& c) {
         c.SetDataType(dtInteger);
         c.SetIdentity(true);
         c.SetGenerated(true);
         c.SetHasDefault(true);
       },
       "Default expressions cannot be specified for identity columns"},
      {"identity and generated",
       [](TBRNColumn& c) {
         c.SetDataType(dtInteger);
         c.SetIdentity(true);
         c.SetGenerated(true);
       },
       "Identity columns cannot be also generated columns"},
      {"generated with a default",
       [](TBRNColumn& c) {
         c.SetDataType(dtInteger);
         c.SetGenerated(true);
         c.SetHasDefault(true);
       },
       "Default expressions cannot be specified for generated columns"},
  };
  CatalogFixture f;
  CatalogTable* table = f.AddTable("Orders");
  for (const BadColumn& bad : cases) {
    auto column = std::make_unique<TBRNColumn>(f.Catalog.get());
    column->Name = "Amount";
    bad.Define(*column);
    const EBRNException error = CaughtError([&] { table->Columns->AddObject(column.get()); });
    EXPECT_EQ(error.ErrorCode, 100) << bad.What;
    EXPECT_EQ(error.ErrorMessage,
              std::string("There is an error in the metadata for the column Amount in the table "
                          "Orders (") +
                  bad.Message + ")")
        << bad.What;
  }
  EXPECT_EQ(table->Columns->Count(), 0);

  TBRNColumn* column = AddColumn(*table->Columns, "ID", dtInteger);
  const EBRNException restart = CaughtError([&] { column->SetRestartIdentity(true); });
  EXPECT_NE(restart.ErrorMessage.find("Only identity columns can have their sequence restarted"),
            std::string::npos);
  TBRNColumn rowID(f.Catalog.get());
  rowID.Name = "__rowid";
  EXPECT_EQ(CaughtError([&] { rowID.CheckNotSystem(); }).ErrorCode, 200);
}

TEST(Columns, DefinitionText) {
  CatalogFixture f;
  CatalogTable* table = f.AddTable("T");
  TBRNColumn* name = AddColumn(*table->Columns, "Name", dtChar, 30);
  name->SetNotNull(true);
  EXPECT_EQ(name->GetCreateSQL(false, false), "\"Name\" VARCHAR(30) NOT NULL");
  name->SetNotNullErrorCode(1000);
  name->SetNotNullErrorMessage("Name can't be empty  ");
  name->SetDescription("Customer's name");
  EXPECT_EQ(name->GetColumnDefinition(true),
            "VARCHAR(30) NOT NULL ERROR CODE 1000 MESSAGE 'Name can''t be empty' "
            "DESCRIPTION 'Customer''s name'");

  TBRNColumn* id = AddColumn(*table->Columns, "ID", dtInteger);
  id->SetIdentity(true);
  id->SetIdentitySeed(100);
  EXPECT_EQ(id->GetColumnDefinition(false),
            "INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 100, INCREMENT BY 1)");
  id->SetIdentityByDefault(true);
  EXPECT_EQ(id->GetColumnDefinition(false),
            "INTEGER GENERATED BY DEFAULT AS IDENTITY (START WITH 100, INCREMENT BY 1)");

  TBRNColumn* data = AddColumn(*table->Columns, "Data", dtLob);
  data->SetBlobCompression(6);
  data->SetHasDefault(true);
  data->DefaultExpr->SetText("NULL \r\n");
  EXPECT_EQ(data->GetColumnDefinition(false), "BLOB COMPRESSION 6 DEFAULT NULL");
  EXPECT_EQ(data->GetDropSQL(false, false), "DROP COLUMN \"Data\"");

  // Differences.
  TBRNColumn changed(f.Catalog.get());
  changed.Assign(name, false);
  name->ComputeDifference(kDifferenceAlter, &changed, ';');
  EXPECT_EQ(name->GetAlterSQL(), "");
  changed.SetLength(40);
  changed.SetDescription("Full name");
  name->ComputeDifference(kDifferenceAlter, &changed, ';');
  EXPECT_EQ(name->GetAlterSQL(),
            "ALTER COLUMN \"Name\" AS VARCHAR(40) NOT NULL ERROR CODE 1000 MESSAGE "
            "'Name can''t be empty' DESCRIPTION 'Full name'");
  id->ComputeDifference(kDifferenceCreate, nullptr, ';');
  EXPECT_EQ(id->GetAlterSQL(),
            "ADD COLUMN \"ID\" INTEGER GENERATED BY DEFAULT AS IDENTITY (START WITH 100, "
            "INCREMENT BY 1)");
}

std::vector<uint8_t> ListBytes(TBRNColumns& columns) {
  TBRNMemoryStream stream;
  columns.SaveToStream(stream, false);
  return std::vector<uint8_t>(stream.GetMemory(), stream.GetMemory() + stream.GetSize());
}

void LoadList(TBRNColumns& columns, const std::vector<uint8_t>& bytes) {
  TBRNMemoryStream stream;
  if (!bytes.empty()) stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
  columns.LoadFromStream(stream);
}

TEST(Columns, StoredRecordsRoundTripUnderEachVersion) {
  // A list without catalog carries its own version.
  for (int64_t version : {int64_t(0), kFormatVersion100, kFormatVersion106, kFormatVersion107,
                          kFormatVersion204, kFormatVersion205}) {
    TBRNColumns columns(nullptr);
    columns.FormatVersion = version;
    AddColumn(columns, "ID", dtInteger)->SetNotNull(true);
    TBRNColumn* text = AddColumn(columns, "Note", dtChar, 20);
    text->SetNotNull(true);
    text->SetNotNullErrorCode(1234);
    text->SetNotNullErrorMessage("needed");
    text->SetHasDefault(true);
    text->DefaultExpr->SetText("'none'");
    text->SetOrigin("db.Default.T.Note");
    text->InPrimaryKey = true;
    TBRNColumn* generated = AddColumn(columns, "Twice", dtInteger);
    generated->SetGenerated(true);
    generated->GeneratedExpr->SetText("ID * 2");
    TBRNColumn* computed = AddColumn(columns, "Half", dtInteger);
    computed->SetComputed(true);
    computed->ComputedExpr->SetText("ID / 2");

    columns.Validate();
    EXPECT_EQ(columns.RowSize, 17 + 5 + 23 + 5);
    TBRNColumns loaded(nullptr);
    loaded.FormatVersion = version;
    LoadList(loaded, ListBytes(columns));
    ASSERT_EQ(loaded.Count(), 4) << version;
    EXPECT_EQ(loaded.RowSize, columns.RowSize) << version;
    const TBRNColumn* note = loaded.GetItem(1);
    const bool has204 = version == 0 || version >= kFormatVersion204;
    const bool has107 = version == 0 || version >= kFormatVersion107;
    const bool hasGenerated = version == 0 || version > kFormatVersion100;
    EXPECT_EQ(note->NotNullErrorCode, has204 ? 1234 : 0) << version;
    EXPECT_EQ(note->NotNullErrorMessage, has204 ? "needed" : "") << version;
    EXPECT_EQ(note->InPrimaryKey, has107) << version;
    EXPECT_EQ(note->DefaultExpr->SQL, "'none'");
    EXPECT_EQ(note->Origin, "db.Default.T.Note");
    EXPECT_EQ(note->Size, 22);
    EXPECT_EQ(loaded.GetItem(2)->Generated, hasGenerated) << version;
    EXPECT_EQ(loaded.GetItem(3)->ComputedExpr->SQL, "ID / 2");
    if (version == 0 || version >= kFormatVersion204) {
      EXPECT_TRUE(loaded.IsEqual(&columns, true)) << version;
    }
  }
}

TEST(Columns, StructureOnlyRecord) {
  TBRNColumns columns(nullptr);
  TBRNColumn* data = AddColumn(columns, "Data", dtLob);
  data->SetBlobCompression(4);
  TBRNMemoryStream stream;
  data->SaveToStream(stream, true);
  // Name (4 + 4), Internal (1), five int32, two Booleans, compression.
  EXPECT_EQ(stream.GetSize(), 8 + 1 + 20 + 2 + 4);
}

TEST(Columns, HostileRecordsAreRefused) {
  TBRNColumns columns(nullptr);
  AddColumn(columns, "A", dtChar, 10);
  TBRNColumn* b = AddColumn(columns, "B", dtInteger);
  b->SetHasDefault(true);
  b->DefaultExpr->SetText("1");
  const std::vector<uint8_t> good = ListBytes(columns);

  for (size_t cut = 0; cut < good.size(); ++cut) {
    TBRNColumns loaded(nullptr);
    const EBRNException error = CaughtError(
        [&] { LoadList(loaded, std::vector<uint8_t>(good.begin(), good.begin() + cut)); });
    EXPECT_EQ(error.ErrorCode, 100) << "cut at " << cut;
  }
  // Count 4, then the first record: ID 4, name 4 + 1, description 4,
  // Internal and ReadOnly 2, so the data type is at 19.
  struct Patch {
    const char* What;
    size_t At;
    int32_t Value;
    const char* Message;
  };
  const Patch patches[] = {
      {"data type 99", 19, 99, "The stored data type 99 is invalid"},
      {"negative length", 27, -1, "The stored length -1 is invalid"},
      {"huge size", 31, 0x7FFFFFF0, "The stored size 2147483632 is invalid"},
      {"negative scale", 35, -3, "The stored scale -3 is invalid"},
      {"column count", 0, 5000, ""},
  };
  for (const Patch& p : patches) {
    std::vector<uint8_t> bytes = good;
    std::memcpy(bytes.data() + p.At, &p.Value, 4);
    TBRNColumns loaded(nullptr);
    const EBRNException error = CaughtError([&] { LoadList(loaded, bytes); });
    EXPECT_EQ(error.ErrorCode, 100) << p.What;
    EXPECT_NE(error.ErrorMessage.find(p.Message), std::string::npos)
        << p.What << ": " << error.ErrorMessage;
  }
  // Column IDs in a catalog: positive, once each.
  {
    CatalogFixture f;
    CatalogTable* table = f.AddTable("T");
    AddColumn(*table->Columns, "A", dtInteger);
    AddColumn(*table->Columns, "B", dtInteger);
    const std::vector<uint8_t> stored = ListBytes(*table->Columns);
    // The list count, then the first record, then the second record's ID.
    TBRNMemoryStream first;
    table->Columns->GetItem(0)->SaveToStream(first, false);
    const size_t secondID = 4 + size_t(first.GetSize());
    for (int32_t id : {0, -7, table->Columns->GetItem(0)->ID}) {
      std::vector<uint8_t> bytes = stored;
      std::memcpy(bytes.data() + secondID, &id, 4);
      TBRNColumns loaded(f.Catalog.get());
      const EBRNException error = CaughtError([&] { LoadList(loaded, bytes); });
      EXPECT_EQ(error.ErrorCode, 100) << id;
      EXPECT_NE(error.ErrorMessage.find("The object ID " + std::to_string(id) + " is invalid"),
                std::string::npos)
          << error.ErrorMessage;
    }
    TBRNColumns loaded(f.Catalog.get());
    LoadList(loaded, stored);
    EXPECT_EQ(loaded.Count(), 2);
  }
  for (size_t at = 0; at < good.size(); ++at) {
    std::vector<uint8_t> bytes = good;
    bytes[at] ^= 0xFF;
    TBRNColumns loaded(nullptr);
    try {
      LoadList(loaded, bytes);
    } catch (const EBRNException& e) {
      EXPECT_EQ(e.ErrorCode, 100) << "byte " << at;
    }
  }
}

}  // namespace
}  // namespace brn
