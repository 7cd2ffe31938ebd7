// Schemas: the stored lists and what a catalog keeps of them, the names
// tables and views (and procedures and functions) share, the limit on the
// tables and views of a schema, and damaged schema records.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "metadata/catalog/schemas.h"
#include "metadata/catalog/tables.h"
#include "metadata/table_test_support.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::ExpectEveryByteFlipHandled;
using testing::ExpectEveryCutRefused;
using testing::LoadRecord;
using testing::RecordOf;
using testing::TableFixture;

// A view or routine as far as the schema's name rules see one.
class NamedMember : public TBRNPrivilegedCatalogObject {
 public:
  NamedMember(TBRNCatalog* catalog, std::string kind, const std::string& name)
      : TBRNPrivilegedCatalogObject(catalog), kind_(std::move(kind)) {
    Name = name;
  }
  std::string GetObjectTypeName() const override { return kind_; }

 private:
  std::string kind_;
};

struct Schemas : TableFixture {
  TBRNSchema* Schema() { return Catalog->DefaultSchema; }

  // Adds object to list; the list owns it only when the addition succeeds.
  template <typename T>
  void Add(TBRNConfigObjects& list, std::unique_ptr<T>& object) {
    list.AddObject(object.get());
    object.release();
  }

  std::unique_ptr<TBRNBaseTable> Table(const std::string& name) {
    auto table = std::make_unique<TBRNBaseTable>(Catalog.get());
    table->Name = name;
    testing::AddColumn(*table->Columns, "ID", TBRNDataTypeCode::dtInteger);
    testing::AddColumn(*table->Columns, "Label", TBRNDataTypeCode::dtChar, 30);
    return table;
  }
  TBRNBaseTable* AddTable(const std::string& name) {
    auto table = Table(name);
    TBRNBaseTable* added = table.get();
    Add(*Schema()->BaseTables, table);
    return added;
  }
  TBRNBaseTable* AddTemporaryTable(const std::string& name, bool workingCopy = false) {
    std::unique_ptr<TBRNBaseTable> table(
        static_cast<TBRNBaseTable*>(Schema()->TemporaryTables->NewItem()));
    table->Name = name;
    table->WorkingCopy = workingCopy;
    TBRNBaseTable* added = table.get();
    Add(*Schema()->TemporaryTables, table);
    return added;
  }
  void AddMember(TBRNConfigObjects& list, const std::string& kind, const std::string& name) {
    auto member = std::make_unique<NamedMember>(Catalog.get(), kind, name);
    Add(list, member);
  }

  std::vector<uint8_t> CatalogBytes(TBRNCatalog& catalog) { return RecordOf(catalog); }
};

TEST(Schemas, CatalogWithTablesSavesAndReloadsEqual) {
  Schemas f;
  f.AddTable("Customers");
  f.AddTable("Orders");
  // Temporary tables are never stored with their schema.
  const std::vector<uint8_t> without = RecordOf(*f.Schema());
  TBRNBaseTable* temporary = f.AddTemporaryTable("Scratch");
  EXPECT_EQ(temporary->GetObjectTypeName(), "temporary table");
  EXPECT_EQ(RecordOf(*f.Schema()), without);
  const std::vector<uint8_t> bytes = f.CatalogBytes(*f.Catalog);

  TBRNCatalog loaded(&f.Config);
  LoadRecord(loaded, bytes);
  EXPECT_TRUE(loaded.IsEqual(f.Catalog.get(), true));
  EXPECT_EQ(f.CatalogBytes(loaded), bytes);
  TBRNSchema* schema = loaded.DefaultSchema;
  ASSERT_EQ(schema->BaseTables->Count(), 2);
  EXPECT_EQ(schema->BaseTables->GetTable(1)->Name, "Orders");
  EXPECT_EQ(schema->BaseTables->GetTable(1)->Columns->Count(), 2);
  EXPECT_EQ(schema->BaseTables->GetTable(0)->GetSchema(), schema);
  EXPECT_EQ(schema->TemporaryTables->Count(), 0);
  // The list of all tables follows the loaded tables.
  ASSERT_EQ(schema->AllTables->Count(), 2);
  EXPECT_EQ(schema->AllTables->GetItem(0), schema->BaseTables->GetItem(0));

  // A copy is equal; a dropped table makes it differ and leaves AllTables.
  TBRNCatalog copy(&f.Config);
  copy.Assign(f.Catalog.get(), false);
  EXPECT_TRUE(copy.IsEqual(f.Catalog.get(), true));
  delete copy.DefaultSchema->BaseTables->RemoveObject(0);
  EXPECT_FALSE(copy.IsEqual(f.Catalog.get(), true));
  EXPECT_EQ(copy.DefaultSchema->AllTables->Count(), 1);
}

TEST(Schemas, TablesAndViewsShareNamesAsDoProceduresAndFunctions) {
  struct Case {
    const char* what;
    std::function<void(Schemas&)> first;
    std::function<void(Schemas&)> second;
    std::string message;  // empty: the second addition is allowed
  };
  auto table = [](const char* name) { return [=](Schemas& f) { f.AddTable(name); }; };
  auto temporary = [](const char* name) { return [=](Schemas& f) { f.AddTemporaryTable(name); }; };
  auto workingCopy = [](const char* name) {
    return [=](Schemas& f) { f.AddTemporaryTable(name, true); };
  };
  auto member = [](const char* kind, const char* name) {
    return [=](Schemas& f) {
      TBRNSchema* s = f.Schema();
      TBRNConfigObjects* list = s->Functions.get();
      if (std::string(kind) == "view") list = s->Views.get();
      if (std::string(kind) == "procedure") list = s->Procedures.get();
      f.AddMember(*list, kind, name);
    };
  };
  const std::vector<Case> cases = {
      {"table then table", table("T"), table("t"),
       "The table T already exists in the schema Default"},
      {"view then table", member("view", "V"), table("v"),
       "The view V already exists in the schema Default"},
      {"table then view", table("T"), member("view", "T"),
       "The table T already exists in the schema Default"},
      {"temporary then table", temporary("T"), table("T"),
       "The temporary table T already exists in the schema Default"},
      {"table then temporary", table("T"), temporary("T"),
       "The table T already exists in the schema Default"},
      {"view then temporary", member("view", "V"), temporary("V"),
       "The view V already exists in the schema Default"},
      {"working copy of a table", table("T"), workingCopy("T"), ""},
      {"function then procedure", member("function", "F"), member("procedure", "f"),
       "The function F already exists in the schema Default"},
      {"procedure then function", member("procedure", "P"), member("function", "P"),
       "The procedure P already exists in the schema Default"},
      {"table and function", table("X"), member("function", "X"), ""},
      {"view and procedure", member("view", "X"), member("procedure", "X"), ""},
  };
  for (const Case& c : cases) {
    Schemas f;
    c.first(f);
    if (c.message.empty()) {
      EXPECT_NO_THROW(c.second(f)) << c.what;
      continue;
    }
    const EBRNException error = CaughtError([&] { c.second(f); });
    EXPECT_EQ(error.ErrorCode, 400) << c.what;
    EXPECT_EQ(error.ErrorMessage, c.message) << c.what;
    // The refused object was not kept (the caller freed it).
    TBRNSchema* s = f.Schema();
    EXPECT_EQ(s->BaseTables->Count() + s->TemporaryTables->Count() + s->Views->Count() +
                  s->Procedures->Count() + s->Functions->Count(),
              1)
        << c.what;
  }
}

TEST(Schemas, AllRoutinesListsFunctionsThenProcedures) {
  Schemas f;
  TBRNSchema* s = f.Schema();
  f.AddMember(*s->Procedures, "procedure", "P");
  f.AddMember(*s->Functions, "function", "F");
  ASSERT_EQ(s->AllRoutines->Count(), 2);
  EXPECT_EQ(s->AllRoutines->GetItem(0)->Name, "F");
  EXPECT_EQ(s->AllRoutines->GetItem(1)->Name, "P");
  delete s->Functions->RemoveObject(0);
  ASSERT_EQ(s->AllRoutines->Count(), 1);
  EXPECT_EQ(s->AllRoutines->GetItem(0)->Name, "P");
}

TEST(Schemas, TheLastTableOrViewOfASchemaIsRefusedWith405) {
  Schemas f;
  TBRNSchema* s = f.Schema();
  f.AddTable("T0");
  for (int32_t i = 1; i < TBRNVirtualTables::kMaxSchemaTables - 1; ++i)
    f.AddMember(*s->Views, "view", "V" + std::to_string(i));
  ASSERT_EQ(s->AllTables->Count(), 4095);
  const std::string message =
      "The maximum number of table or views in the schema Default has been reached (4096)";
  for (bool asView : {false, true}) {
    const EBRNException error = CaughtError([&] {
      if (asView) {
        f.AddMember(*s->Views, "view", "Extra");
      } else {
        f.AddTable("Extra");
      }
    });
    EXPECT_EQ(error.ErrorCode, 405);
    EXPECT_EQ(error.ErrorMessage, message);
    EXPECT_EQ(s->AllTables->Count(), 4095);
  }
  // Temporary tables are not counted; a freed place can be taken again.
  EXPECT_NO_THROW(f.AddTemporaryTable("Scratch"));
  delete s->Views->RemoveObject(s->Views->Count() - 1);
  EXPECT_NO_THROW(f.AddTable("Extra"));
  EXPECT_EQ(s->AllTables->Count(), 4095);
}

TEST(Schemas, DamagedSchemaRecordsRaiseTheMetadataError) {
  Schemas f;
  f.AddTable("TBLA");
  f.AddTable("TBLB");
  const std::vector<uint8_t> record = RecordOf(*f.Schema());
  auto fresh = [&] { return std::make_unique<TBRNSchema>(f.Catalog.get()); };
  auto copy = fresh();
  LoadRecord(*copy, record);
  EXPECT_TRUE(copy->IsEqual(f.Schema(), true));
  ExpectEveryCutRefused(record, fresh);
  ExpectEveryByteFlipHandled(record, fresh);

  // Two stored tables of one name.
  std::vector<uint8_t> twice = record;
  const std::string from = "TBLB";
  auto at = std::search(twice.begin(), twice.end(), from.begin(), from.end());
  ASSERT_NE(at, twice.end());
  at[3] = 'A';
  const EBRNException error = CaughtError([&] { LoadRecord(*fresh(), twice); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_NE(error.ErrorMessage.find("TBLA"), std::string::npos) << error.ErrorMessage;
}

}  // namespace
}  // namespace brn
