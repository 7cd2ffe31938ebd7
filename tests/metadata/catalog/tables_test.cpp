#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/text/string_helpers.h"
#include "metadata/catalog/table_differences.h"
#include "metadata/catalog/tables.h"
#include "metadata/table_test_support.h"
#include "sql/parser/expr_parser.h"
#include "sql/parser/parse_flags.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

using testing::AddColumnEntries;
using testing::CaughtError;
using testing::ExpectEveryByteFlipHandled;
using testing::ExpectEveryCutRefused;
using testing::LoadRecord;
using testing::RecordOf;
using testing::Reference;
using testing::TableFixture;

struct Tables : TableFixture {
  // A table added to the Default schema (owned by it; it has an ID then).
  TBRNBaseTable* AddBaseTable(const std::string& name) {
    auto table = std::make_unique<TBRNBaseTable>(Catalog.get());
    table->Name = name;
    Catalog->DefaultSchema->BaseTables->AddObject(table.get());
    return table.release();
  }
  std::unique_ptr<TBRNBaseTable> Fresh() { return std::make_unique<TBRNBaseTable>(Catalog.get()); }
};

TBRNColumn* AddColumn(TBRNBaseTable& table, const std::string& name, TBRNDataTypeCode type,
                      int32_t length = 0) {
  return testing::AddColumn(*table.Columns, name, type, length);
}

TBRNConstraint* AddConstraint(TBRNBaseTable& table, const std::string& name, int32_t type,
                              const std::vector<TBRNColumn*>& columns) {
  std::unique_ptr<TBRNConstraint> constraint(
      static_cast<TBRNConstraint*>(table.Constraints->NewItem()));
  constraint->Name = name;
  constraint->SetConstraintType(type);
  AddColumnEntries<TBRNConstraintColumn>(constraint->Columns, columns);
  table.Constraints->AddObject(constraint.get());
  return constraint.release();
}

TBRNIndex* AddIndex(TBRNBaseTable& table, const std::string& name,
                    const std::vector<TBRNColumn*>& columns) {
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table.Indexes->NewItem()));
  index->Name = name;
  AddColumnEntries<TBRNIndexColumn>(index->Columns, columns);
  table.Indexes->AddObject(index.get());
  return index.release();
}

// A table with every column kind, every constraint kind and an index.
struct FullTable : Tables {
  TBRNBaseTable* Table = AddBaseTable("Order Lines");
  TBRNColumn* ID = AddColumn(*Table, "ID", dtInteger);
  TBRNColumn* Code = AddColumn(*Table, "Code", dtChar, 20);
  TBRNColumn* Parent = AddColumn(*Table, "ParentID", dtInteger);
  TBRNColumn* Price = AddColumn(*Table, "Price", dtDecimal);
  TBRNColumn* Quantity = AddColumn(*Table, "Quantity", dtInteger);
  TBRNColumn* Total = AddColumn(*Table, "Total", dtDecimal);
  TBRNColumn* Stamp = AddColumn(*Table, "Stamp", dtTimestamp);
  TBRNColumn* Notes = AddColumn(*Table, "Notes", dtLob);
  TBRNConstraint* Key = nullptr;
  TBRNConstraint* Unique = nullptr;
  TBRNConstraint* ParentKey = nullptr;
  TBRNConstraint* Check = nullptr;
  TBRNIndex* ByIDCode = nullptr;

  FullTable() {
    ID->SetIdentity(true);
    ID->SetIdentitySeed(1);
    Code->SetNotNull(true);
    Code->SetCaseInsensitiveCollation(true);
    Code->SetDescription("Product code");
    Price->SetLength(12);
    Price->SetScale(2);
    Price->SetHasDefault(true);
    Price->DefaultExpr->SetText("0");
    Total->SetLength(14);
    Total->SetScale(2);
    Total->SetComputed(true);
    Total->ComputedExpr->SetText("Price * Quantity");
    Stamp->SetGenerated(true);
    Stamp->GeneratedExpr->SetText("CURRENT_TIMESTAMP");
    Notes->SetSubType(stClob);
    Key = AddConstraint(*Table, "PK", kConstraintPrimaryKey, {ID});
    Unique = AddConstraint(*Table, "Unique Code", kConstraintUnique, {Code});
    ParentKey = AddConstraint(*Table, "Parent", kConstraintForeignKey, {Parent});
    Reference(ParentKey, *Table, Key, {ID});
    std::unique_ptr<TBRNConstraint> check(
        static_cast<TBRNConstraint*>(Table->Constraints->NewItem()));
    check->Name = "Positive";
    check->SetConstraintType(kConstraintCheck);
    check->CheckExpr->SetText("Quantity > 0");
    Table->Constraints->AddObject(check.get());
    Check = check.release();
    ByIDCode = AddIndex(*Table, "ByIDCode", {ID, Code});
    Table->SetDescription("Lines of an order's   ");
    Table->SetVersion(12500);
    Table->Attributes = "audit=yes";
    Table->Validate();
  }
};

TEST(Tables, NewTableDefaultsAndTheirCreateText) {
  Tables f;
  TBRNBaseTable* table = f.AddBaseTable("T");
  AddColumn(*table, "A", dtInteger);
  table->Validate();
  EXPECT_EQ(table->GetObjectTypeName(), "table");
  EXPECT_EQ(table->RowSize, 24);  // 17-byte header + 4 + 1, rounded up to 8
  EXPECT_EQ(table->GetCreateSQL(true, false),
            "CREATE TABLE \"T\"\r\n(\r\n"
            "\"A\" INTEGER\r\n"
            ")\r\n"
            "VERSION 1.00\r\nREADWRITE\r\nUNENCRYPTED\r\n"
            "INDEX PAGE SIZE 4096\r\nBLOB BLOCK SIZE 512\r\nPUBLISH BLOCK SIZE 512\r\n"
            "PUBLISH COMPRESSION 0\r\nMAX ROW BUFFER SIZE 32768\r\n"
            "MAX INDEX BUFFER SIZE 65536\r\nMAX BLOB BUFFER SIZE 32768\r\n"
            "MAX PUBLISH BUFFER SIZE 32768");
  EXPECT_EQ(table->GetDropSQL(false, false), "DROP TABLE \"T\"");
  EXPECT_EQ(table->GetPostCreateSQL(), "");
}

TEST(Tables, FullCreateTextMatchesTheGoldenText) {
  FullTable f;
  const std::string golden =
      "CREATE TABLE \"Order Lines\"\r\n"
      "(\r\n"
      "\"ID\" INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 1, INCREMENT BY 1),\r\n"
      "\"Code\" VARCHAR(20) COLLATE \"ANSI_CI\" NOT NULL DESCRIPTION 'Product code',\r\n"
      "\"ParentID\" INTEGER,\r\n"
      "\"Price\" DECIMAL(19,2) DEFAULT 0,\r\n"
      "\"Quantity\" INTEGER,\r\n"
      "\"Total\" DECIMAL(19,2) COMPUTED ALWAYS AS Price * Quantity,\r\n"
      "\"Stamp\" TIMESTAMP GENERATED ALWAYS AS CURRENT_TIMESTAMP,\r\n"
      "\"Notes\" CLOB COLLATE \"ANSI\",\r\n"
      "CONSTRAINT \"PK\" PRIMARY KEY (\"ID\"),\r\n"
      "CONSTRAINT \"Unique Code\" UNIQUE (\"Code\"),\r\n"
      "CONSTRAINT \"Parent\" FOREIGN KEY (\"ParentID\") REFERENCES \"Order Lines\" (\"ID\")\r\n"
      "   ON UPDATE NO ACTION ON DELETE NO ACTION,\r\n"
      "CONSTRAINT \"Positive\" CHECK Quantity > 0\r\n"
      ")\r\n"
      "DESCRIPTION 'Lines of an order''s'\r\n"
      "VERSION 1.25\r\n"
      "READWRITE\r\n"
      "UNENCRYPTED\r\n"
      "INDEX PAGE SIZE 4096\r\n"
      "BLOB BLOCK SIZE 512\r\n"
      "PUBLISH BLOCK SIZE 512\r\n"
      "PUBLISH COMPRESSION 0\r\n"
      "MAX ROW BUFFER SIZE 32768\r\n"
      "MAX INDEX BUFFER SIZE 65536\r\n"
      "MAX BLOB BUFFER SIZE 32768\r\n"
      "MAX PUBLISH BUFFER SIZE 32768\r\n"
      "ATTRIBUTES 'audit=yes'";
  EXPECT_EQ(f.Table->GetCreateSQL(true, false), golden);
}

// The statement text of a session, parsed by the SQL language processor.
class Statement : public TBRNCompiledExpr {
 public:
  explicit Statement(const std::string& text) {
    SQL = text;
    SQLLength = int32_t(SQL.size());
  }
  std::string GetKindName() const override { return "statement"; }
  bool AllowsTableQualifier() override { return true; }
};

struct FreeTree {
  void operator()(TBRNExprToken* node) const { FreeExprTree(node); }
};

std::unique_ptr<TBRNExprToken, FreeTree> ParseStatement(const std::string& text) {
  Statement owner(text);
  TBRNExprParser parser;
  parser.BeginParse(owner);
  return std::unique_ptr<TBRNExprToken, FreeTree>(
      parser.ParseStatement(pcQueries | pcSchemaQualifier | pcColumnQualifier));
}

// The text of the attribute clause at index (empty when not written).
std::string ClauseText(const TBRNExprToken* statement, int32_t index) {
  const TBRNExprToken* node =
      index < statement->ArgumentCount() ? statement->Argument(index) : nullptr;
  return node != nullptr ? node->Text : std::string();
}

TEST(Tables, CreateTextParsesBackIntoTheSameDefinition) {
  FullTable f;
  f.Table->SetEncrypted(true);
  f.Table->SetIndexPageSize(8192);
  f.Table->SetMaxBlobBufferSize(40000);
  f.Table->ReadOnly = true;
  const std::string text = f.Table->GetCreateSQL(true, false);
  auto tree = ParseStatement(text);
  ASSERT_NE(tree, nullptr);
  ASSERT_GE(tree->ArgumentCount(), 17);
  EXPECT_EQ(tree->Argument(0)->Name, "Order Lines");

  // One element per column, then one per constraint, in order.
  const TBRNExprToken* elements = tree->Argument(3);
  ASSERT_NE(elements, nullptr);
  const int32_t columns = f.Table->Columns->Count();
  ASSERT_EQ(elements->ArgumentCount(), columns + f.Table->Constraints->Count());
  for (int32_t i = 0; i < columns; ++i) {
    const TBRNColumn* column = f.Table->Columns->GetItem(i);
    const TBRNExprToken* parsed = elements->Argument(i)->Argument(0);
    SCOPED_TRACE(column->Name);
    EXPECT_EQ(parsed->Name, column->Name);
    EXPECT_EQ(parsed->Argument(0)->DataType, column->DataType);
  }
  const TBRNExprOperation kinds[] = {opPrimaryKey, opUnique, opForeignKey, opCheck};
  for (int32_t i = 0; i < f.Table->Constraints->Count(); ++i) {
    const TBRNConstraint* constraint = f.Table->Constraints->GetItem(i);
    const TBRNExprToken* parsed = elements->Argument(columns + i)->Argument(0);
    EXPECT_EQ(parsed->Name, constraint->Name);
    EXPECT_EQ(parsed->Operation, kinds[i]) << constraint->Name;
  }
  EXPECT_EQ(elements->Argument(columns + 2)->Argument(0)->Argument(1)->Name, "Order Lines");
  EXPECT_EQ(TrimTrailingBlanks(elements->Argument(columns + 3)->Argument(0)->Text), "Quantity > 0");

  // The table settings, clause by clause.
  const std::pair<int32_t, int32_t> sizes[] = {
      {8, f.Table->IndexPageSize},      {9, f.Table->BlobBlockSize},
      {10, f.Table->PublishBlockSize},  {11, f.Table->PublishCompression},
      {12, f.Table->MaxRowBufferSize},  {13, f.Table->MaxIndexBufferSize},
      {14, f.Table->MaxBlobBufferSize}, {15, f.Table->MaxPublishBufferSize},
  };
  for (const auto& [index, value] : sizes)
    EXPECT_EQ(ClauseText(tree.get(), index), std::to_string(value)) << "clause " << index;
  EXPECT_EQ(ClauseText(tree.get(), 5), "1.25");
  EXPECT_EQ(ClauseText(tree.get(), 6), "TRUE");  // READONLY
  EXPECT_EQ(ClauseText(tree.get(), 7), "TRUE");  // ENCRYPTED
  EXPECT_NE(ClauseText(tree.get(), 4).find("Lines of an order"), std::string::npos);
  EXPECT_NE(ClauseText(tree.get(), 16).find("audit=yes"), std::string::npos);
}

TEST(Tables, StructureChecksumFollowsOnlyTheStructure) {
  FullTable f;
  f.Table->UpdateStructureChecksum();
  const uint32_t original = f.Table->StructureChecksum;
  EXPECT_EQ(original, f.Table->GetStructureChecksum());

  // Settings outside the structure-only record keep the checksum.
  f.Table->SetMaxRowBufferSize(50000);
  f.Table->SetMaxIndexBufferSize(100000);
  f.Table->SetPublishColumnMode(1);
  f.Table->SetLockNumber(7);
  AddConstraint(*f.Table, "Quantity Unique", kConstraintUnique, {f.Quantity});
  EXPECT_EQ(f.Table->GetStructureChecksum(), original);

  // Each structural setting changes it; putting it back restores it.
  struct Change {
    const char* What;
    std::function<void(TBRNBaseTable&, bool)> Apply;
  };
  const Change changes[] = {
      {"index page size", [](TBRNBaseTable& t, bool on) { t.SetIndexPageSize(on ? 8192 : 4096); }},
      {"encrypted", [](TBRNBaseTable& t, bool on) { t.SetEncrypted(on); }},
      {"version", [](TBRNBaseTable& t, bool on) { t.SetVersion(on ? 20000 : 12500); }},
      {"BLOB block size", [](TBRNBaseTable& t, bool on) { t.SetBlobBlockSize(on ? 1024 : 512); }},
      {"publish compression",
       [](TBRNBaseTable& t, bool on) { t.SetPublishCompression(on ? 5 : 0); }},
  };
  for (const Change& change : changes) {
    change.Apply(*f.Table, true);
    EXPECT_NE(f.Table->GetStructureChecksum(), original) << change.What;
    change.Apply(*f.Table, false);
    EXPECT_EQ(f.Table->GetStructureChecksum(), original) << change.What;
  }
  // A new index is structure too.
  AddIndex(*f.Table, "ByQuantity", {f.Quantity});
  EXPECT_NE(f.Table->GetStructureChecksum(), original);
}

TEST(Tables, IndexPageSizeMustHoldFourKeysOfEveryIndex) {
  Tables f;
  TBRNBaseTable* table = f.AddBaseTable("T");
  TBRNColumn* id = AddColumn(*table, "ID", dtInteger);
  TBRNColumn* code = AddColumn(*table, "Code", dtChar, 20);
  TBRNIndex* index = AddIndex(*table, "ByIDCode", {id, code});
  EXPECT_EQ(index->Columns->KeySize, 28);
  EXPECT_EQ(index->Columns->PageSize, 168);
  table->SetIndexPageSize(128);
  const EBRNException error = CaughtError([&] { table->Validate(); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_EQ(error.ErrorMessage,
            "There is an error in the metadata for the index ByIDCode in the table T (The index "
            "page size is below the required of 168)");
}

TEST(Tables, SettersAndValidationLimits) {
  Tables f;
  TBRNBaseTable* table = f.AddBaseTable("T");
  table->SetIndexPageSize(1030);
  EXPECT_EQ(table->IndexPageSize, 1032);
  table->SetMaxIndexBufferSize(100);
  EXPECT_EQ(table->MaxIndexBufferSize, 8192);
  table->SetMaxRowBufferSize(10);
  EXPECT_EQ(table->MaxRowBufferSize, 4096);
  table->SetBlobBlockSize(65);
  EXPECT_EQ(table->BlobBlockSize, 72);
  table->Validate();

  // Only a change marks the catalog modified.
  f.Catalog->SetModified(false);
  table->SetIndexPageSize(1032);
  table->SetEncrypted(false);
  EXPECT_FALSE(f.Catalog->GetModified());
  table->SetPublishBlockSize(1024);
  EXPECT_TRUE(f.Catalog->GetModified());

  // Values that bypass the setters (a loaded record) fail Validate.
  struct Bad {
    std::function<void(TBRNBaseTable&)> Set;
    const char* Message;
  };
  const Bad cases[] = {
      {[](TBRNBaseTable& t) { t.IndexPageSize = 1000; },
       "The index page size is below the minimum of 1024"},
      {[](TBRNBaseTable& t) { t.IndexPageSize = 2052; },
       "The index page size must be a multiple of 8"},
      {[](TBRNBaseTable& t) { t.BlobBlockSize = 32; },
       "The BLOB block size is below the minimum of 64"},
      {[](TBRNBaseTable& t) { t.PublishBlockSize = 100; },
       "The published updates log block size must be a multiple of 8"},
      {[](TBRNBaseTable& t) { t.MaxRowBufferSize = 4095; },
       "The row buffer size is below the minimum of 4096"},
      {[](TBRNBaseTable& t) { t.MaxIndexBufferSize = 8000; },
       "The index buffer size is below the minimum of 8192"},
      {[](TBRNBaseTable& t) { t.MaxBlobBufferSize = 0; },
       "The BLOB buffer size is below the minimum of 4096"},
      {[](TBRNBaseTable& t) { t.MaxPublishBufferSize = -1; },
       "The published updates log buffer size is below the minimum of 4096"},
      {[](TBRNBaseTable& t) { t.PublishCompression = 10; }, "The compression 10 is invalid"},
      {[](TBRNBaseTable& t) { t.PublishCompression = -1; }, "The compression -1 is invalid"},
  };
  for (const Bad& bad : cases) {
    auto candidate = f.Fresh();
    candidate->Name = "T";
    bad.Set(*candidate);
    const EBRNException error = CaughtError([&] { candidate->Validate(); });
    EXPECT_EQ(error.ErrorCode, 100) << bad.Message;
    EXPECT_EQ(
        error.ErrorMessage,
        std::string("There is an error in the metadata for the table T (") + bad.Message + ")");
  }
}

TEST(Tables, SelfReferencingForeignKeyGetsTheTablesOwnID) {
  Tables f;
  auto owned = f.Fresh();
  owned->Name = "Staff";
  TBRNColumn* id = AddColumn(*owned, "ID", dtInteger);
  TBRNColumn* boss = AddColumn(*owned, "BossID", dtInteger);
  TBRNConstraint* key = AddConstraint(*owned, "PK", kConstraintPrimaryKey, {id});
  TBRNConstraint* foreignKey = AddConstraint(*owned, "Boss", kConstraintForeignKey, {boss});
  Reference(foreignKey, *owned, key, {id});
  EXPECT_EQ(foreignKey->TargetTableID, 0);

  TBRNBaseTable* staff = owned.get();
  f.Catalog->DefaultSchema->BaseTables->AddObject(owned.release());
  ASSERT_NE(staff->ID, 0);
  EXPECT_EQ(foreignKey->TargetTableID, staff->ID);
  EXPECT_EQ(foreignKey->GetTargetTable(), staff);
  EXPECT_TRUE(staff->ReferencesTable(staff));

  // A working copy leaves its references alone.
  auto copy = f.Fresh();
  copy->Name = "Copy";
  copy->WorkingCopy = true;
  TBRNColumn* copyID = AddColumn(*copy, "ID", dtInteger);
  TBRNConstraint* copyKey = AddConstraint(*copy, "PK", kConstraintPrimaryKey, {copyID});
  TBRNConstraint* copyForeign = AddConstraint(*copy, "Self", kConstraintForeignKey, {copyID});
  Reference(copyForeign, *copy, copyKey, {copyID});
  copy->ID = 99;
  copy->Validate();
  EXPECT_EQ(copyForeign->TargetTableID, 0);
}

TEST(Tables, SecondPrimaryKeyIsADuplicate) {
  Tables f;
  TBRNBaseTable* table = f.AddBaseTable("T");
  TBRNColumn* a = AddColumn(*table, "A", dtInteger);
  TBRNColumn* b = AddColumn(*table, "B", dtInteger);
  AddConstraint(*table, "PK", kConstraintPrimaryKey, {a});
  EXPECT_EQ(
      CaughtError([&] { AddConstraint(*table, "Other", kConstraintPrimaryKey, {b}); }).ErrorCode,
      400);
  EXPECT_EQ(table->Constraints->Count(), 1);
}

TEST(Tables, TableDefinedOnDemandIsCompletedOnce) {
  Tables f;
  TBRNBaseTable* table = f.AddBaseTable("Sessions");
  table->DefinedOnDemand = true;
  int calls = 0;
  table->DefinitionCallback = [&](TBRNCatalog* catalog, TBRNBaseTable* defined) {
    ++calls;
    EXPECT_EQ(catalog, f.Catalog.get());
    AddColumn(*defined, "User", dtChar, 40);
  };
  table->EnsureDefinition();
  table->EnsureDefinition();
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(table->Columns->Count(), 2);
  EXPECT_EQ(table->Columns->GetItem(0)->Name, "__RowID");
  EXPECT_EQ(table->Constraints->GetItem(0)->Name, "__PrimaryKey");
  TBRNRole* publicRole = f.Config.GetPublicRole();
  ASSERT_NE(publicRole, nullptr);
  EXPECT_GE(table->FindGrant(publicRole, pkSelect), 0);
  EXPECT_EQ(table->RowSize % 8, 0);
}

// The grants of a table name their grantee and grantor; renaming or dropping
// a user reaches the table through the catalog's authorization holders, as
// from its database.
TEST(Tables, GrantsFollowARenamedUserAndGoWithADroppedOne) {
  Tables f;
  const auto addUser = [&](const std::string& name) {
    auto user = std::make_unique<TBRNUser>(&f.Config);
    user->Name = name;
    user->LockNumber = f.Config.NextUserLockNumber();
    f.Config.Users->AddObject(user.get());
    return user.release();
  };
  const auto toHolders = [&](const std::function<void(TBRNConfigObjects*)>& change) {
    std::vector<TBRNConfigObjects*> holders;
    f.Catalog->CollectAuthorizationHolders(holders);
    for (TBRNConfigObjects* holder : holders) change(holder);
  };
  const auto grantsTo = [](TBRNBaseTable* table, const std::string& grantee) {
    int32_t count = 0;
    for (int32_t i = 0; i < table->Privileges->Count(); ++i)
      count += table->Privileges->GetPrivilege(i)->GranteeName == grantee ? 1 : 0;
    return count;
  };
  TBRNUser* bob = addUser("Bob");
  TBRNUser* ann = addUser("Ann");
  TBRNBaseTable* table = f.AddBaseTable("Orders");
  table->Grant(f.Config.SystemUser, bob, pkDelete);
  table->Grant(bob, ann, pkUpdate);  // Bob is the grantor
  ASSERT_EQ(table->Privileges->Count(), 2);

  toHolders([&](TBRNConfigObjects* holder) { holder->ReplaceReferencedName(bob, "Robert"); });
  bob->Name = "Robert";
  EXPECT_EQ(grantsTo(table, "Bob"), 0);
  EXPECT_EQ(grantsTo(table, "Robert"), 1);
  EXPECT_EQ(table->Privileges->GetPrivilege(table->FindGrant(ann, pkUpdate))->GrantorName,
            "Robert");
  EXPECT_TRUE(table->HasPrivilege(bob, pkDelete));

  toHolders([&](TBRNConfigObjects* holder) { holder->RemoveReferenceTo(bob); });
  EXPECT_EQ(grantsTo(table, "Robert"), 0);
  ASSERT_GE(table->FindGrant(ann, pkUpdate), 0);
  EXPECT_EQ(table->Privileges->GetPrivilege(table->FindGrant(ann, pkUpdate))->GrantorName,
            f.Config.SystemUser->Name);
  // A new user of the dropped one's name inherits nothing.
  delete f.Config.Users->RemoveObject(bob->Index);
  TBRNUser* newcomer = addUser("Robert");
  EXPECT_FALSE(table->HasPrivilege(newcomer, pkDelete));
  EXPECT_TRUE(table->HasPrivilege(ann, pkUpdate));
}

TEST(Tables, StoredRecordsRoundTripAndRefuseDamage) {
  FullTable f;
  f.Table->SetLockNumber(3);
  f.Table->SetPublished(true);
  f.Table->SetMaxBlobBufferSize(40000);
  f.Table->UpdateStructureChecksum();
  EXPECT_EQ(f.Table->PublishID.size(), 38u);
  const std::vector<uint8_t> record = RecordOf(*f.Table);
  auto copy = f.Fresh();
  LoadRecord(*copy, record);
  EXPECT_EQ(RecordOf(*copy), record);
  EXPECT_TRUE(copy->IsEqual(f.Table, true));
  EXPECT_EQ(copy->PublishID, f.Table->PublishID);
  EXPECT_EQ(copy->LockNumber, 3);
  EXPECT_EQ(copy->Version, 12500);

  ExpectEveryCutRefused(record, [&] { return f.Fresh(); });
  ExpectEveryByteFlipHandled(record, [&] { return f.Fresh(); });

  // A negative lock number is refused.
  auto plain = f.Fresh();
  plain->SetLockNumber(-2);
  EXPECT_EQ(CaughtError([&] { LoadRecord(*f.Fresh(), RecordOf(*plain)); }).ErrorCode, 100);
}

TEST(Tables, OlderFormatsPlaceVersionTriggersAndBuffersByTheirGates) {
  struct Case {
    int64_t Format;
    bool BuffersKept;
  };
  for (const Case c : {Case{kFormatVersion203, true}, Case{kFormatVersion102, false}}) {
    Tables f;
    TBRNBaseTable* table = f.AddBaseTable("T");
    AddColumn(*table, "A", dtInteger);
    table->SetVersion(30000);
    table->SetMaxRowBufferSize(50000);
    table->SetBlobBlockSize(1024);
    f.Catalog->SetVersion(c.Format);
    const std::vector<uint8_t> record = RecordOf(*table);
    auto copy = f.Fresh();
    LoadRecord(*copy, record);
    SCOPED_TRACE(c.Format);
    EXPECT_EQ(RecordOf(*copy), record);
    EXPECT_EQ(copy->Version, 30000);
    EXPECT_EQ(copy->BlobBlockSize, 1024);
    EXPECT_EQ(copy->MaxRowBufferSize, c.BuffersKept ? 50000 : kDefaultMaxRowBufferSize);
    ExpectEveryCutRefused(record, [&] { return f.Fresh(); });
  }
}

TEST(Tables, LockRegionsAndKindWords) {
  Tables f;
  TBRNBaseTable* table = f.AddBaseTable("T");
  struct Region {
    int32_t LockNumber;
    uint8_t Type;
    int32_t Offset;
    int32_t Length;
  };
  const Region regions[] = {
      {1, 1, 12289, 4096},    {1, 2, 12289, 4096}, {1, 3, 16793601, 4096},
      {1, 4, 16793601, 4096}, {1, 5, 16789505, 1}, {2, 1, 16385, 4096},
      {2, 4, 16797697, 4096}, {2, 5, 16789506, 1}, {1, 6, 0, 0},
  };
  for (const Region& r : regions) {
    table->SetLockNumber(r.LockNumber);
    EXPECT_EQ(table->GetLockOffset(r.Type), r.Offset) << int(r.Type);
    EXPECT_EQ(table->GetLockLength(r.Type), r.Length) << int(r.Type);
  }
  table->SetLockNumber(0);
  EXPECT_EQ(table->GetLockOffset(1), 0);

  auto temporary = f.Fresh();
  temporary->Temporary = true;
  EXPECT_EQ(temporary->GetObjectTypeName(), "temporary table");
  temporary->WorkingCopy = true;
  EXPECT_EQ(temporary->GetObjectTypeName(), "table");
  EXPECT_FALSE(temporary->ValidatesName());
}

TEST(Tables, InternalPrimaryKeyComesAndGoes) {
  Tables f;
  TBRNBaseTable* table = f.AddBaseTable("Result");
  table->AddRowIDColumn();
  AddColumn(*table, "A", dtInteger);
  EXPECT_TRUE(table->Columns->GetItem(0)->Internal);
  table->EnsurePrimaryKey();
  ASSERT_EQ(table->Constraints->Count(), 1);
  ASSERT_EQ(table->Indexes->Count(), 1);
  TBRNConstraint* key = table->Constraints->GetItem(0);
  EXPECT_EQ(key->Name, "__PrimaryKey");
  EXPECT_EQ(key->GetEnforcingIndex(), table->Indexes->GetItem(0));
  EXPECT_EQ(table->Indexes->GetItem(0)->GetOwnerConstraint(), key);
  table->EnsurePrimaryKey();
  EXPECT_EQ(table->Constraints->Count(), 1);

  EXPECT_TRUE(table->RemoveInternalPrimaryKey(false));
  EXPECT_EQ(table->Constraints->Count(), 0);
  EXPECT_EQ(table->Indexes->Count(), 0);
  EXPECT_FALSE(table->RemoveInternalPrimaryKey(false));

  table->AddPrimaryKey(false);
  EXPECT_TRUE(table->RemoveInternalPrimaryKey(true));
  EXPECT_EQ(table->Indexes->Count(), 1);
}

// A table with a key on "ID" and, when target is given, a foreign key
// "Ref" on "RefID" to target's key.
TBRNBaseTable* AddLinkedTable(Tables& f, const std::string& name) {
  TBRNBaseTable* table = f.AddBaseTable(name);
  TBRNColumn* id = AddColumn(*table, "ID", dtInteger);
  AddColumn(*table, "RefID", dtInteger);
  AddConstraint(*table, "PK", kConstraintPrimaryKey, {id});
  return table;
}

void Link(TBRNBaseTable& from, TBRNBaseTable& to) {
  TBRNConstraint* foreignKey =
      AddConstraint(from, "Ref" + std::to_string(from.Constraints->Count()), kConstraintForeignKey,
                    {from.Columns->GetItem(1)});
  Reference(foreignKey, to, to.Constraints->GetItem(0), {to.Columns->GetItem(0)});
}

std::vector<std::string> Names(const TBRNReferencedTables& list) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.GetItem(i)->Name);
  return names;
}

TEST(Tables, UpdateSequencePutsReferencedTablesFirst) {
  Tables f;
  TBRNBaseTable* lines = AddLinkedTable(f, "Lines");
  TBRNBaseTable* orders = AddLinkedTable(f, "Orders");
  TBRNBaseTable* customers = AddLinkedTable(f, "Customers");
  TBRNBaseTable* notes = AddLinkedTable(f, "Notes");
  Link(*lines, *orders);
  Link(*orders, *customers);
  EXPECT_TRUE(lines->ReferencesTable(customers));  // through Orders
  EXPECT_FALSE(customers->ReferencesTable(lines));

  TBRNReferencedTables list(f.Catalog.get());
  for (TBRNBaseTable* table : {lines, notes, orders, customers}) list.AddObject(table);
  list.SortByUpdateSequence();
  // Same position: dependency first, then ID (Notes has the highest ID).
  EXPECT_EQ(Names(list), (std::vector<std::string>{"Customers", "Notes", "Orders", "Lines"}));
  // The position decides before any dependency.
  customers->PendingUpdatePosition = 10;
  list.SortByUpdateSequence();
  EXPECT_EQ(Names(list), (std::vector<std::string>{"Notes", "Orders", "Lines", "Customers"}));

  list.SortByID();
  EXPECT_EQ(Names(list), (std::vector<std::string>{"Lines", "Orders", "Customers", "Notes"}));
  list.AddObject(orders);
  list.SortByID();
  list.RemoveDuplicates();
  EXPECT_EQ(list.Count(), 4);
  lines->SetLockNumber(9);
  orders->SetLockNumber(2);
  list.SortByLockNumber();
  EXPECT_EQ(list.GetItem(2)->Name, "Orders");
  EXPECT_EQ(list.GetItem(3)->Name, "Lines");
  EXPECT_EQ(lines->Owner, f.Catalog->DefaultSchema->BaseTables.get());  // not taken over
}

TEST(Tables, UpdateSequenceIsAStrictOrderingEvenWithCycles) {
  // A ring of tables that reference each other, some also themselves, all
  // at the same position: the old dependency tie-break made each table sort
  // after the other, which a sort may not be given. Enough tables that the
  // sort does not fall back to insertion alone.
  Tables f;
  std::vector<TBRNBaseTable*> ring;
  for (int i = 0; i < 40; ++i) ring.push_back(AddLinkedTable(f, "T" + std::to_string(i)));
  for (int i = 0; i < 40; ++i) {
    Link(*ring[size_t(i)], *ring[size_t((i + 1) % 40)]);
    if (i % 7 == 0) Link(*ring[size_t(i)], *ring[size_t(i)]);
    ring[size_t(i)]->PendingUpdatePosition = i % 3;
  }
  TBRNBaseTable* leaf = AddLinkedTable(f, "Leaf");
  TBRNBaseTable* user = AddLinkedTable(f, "User");
  Link(*user, *leaf);

  TBRNReferencedTables list(f.Catalog.get());
  list.AddObject(user);
  for (TBRNBaseTable* table : ring) list.AddObject(table);
  list.AddObject(leaf);
  list.SortByUpdateSequence();
  ASSERT_EQ(list.Count(), 42);
  std::vector<std::string> names = Names(list);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());  // each table once
  for (int32_t i = 1; i < list.Count(); ++i) {
    EXPECT_LE(static_cast<TBRNBaseTable*>(list.GetItem(i - 1))->PendingUpdatePosition,
              static_cast<TBRNBaseTable*>(list.GetItem(i))->PendingUpdatePosition);
  }
  const std::vector<std::string> order = Names(list);
  EXPECT_LT(std::find(order.begin(), order.end(), "Leaf"),
            std::find(order.begin(), order.end(), "User"));
}

// A stored table and a new definition of it (a copy, as ALTER TABLE builds).
struct AlteredTable : Tables {
  TBRNBaseTable* Old = AddBaseTable("Items");
  std::unique_ptr<TBRNBaseTable> New = Fresh();
  AlteredTable() {
    TBRNColumn* id = AddColumn(*Old, "ID", dtInteger);
    AddColumn(*Old, "Name", dtChar, 30);
    AddConstraint(*Old, "PK", kConstraintPrimaryKey, {id});
    New->Assign(Old, true);
  }
};

TEST(TableDifferences, AlterTextGroupsClausesAndStatements) {
  AlteredTable f;
  f.Old->ComputeDifference(kDifferenceAlter, f.New.get(), ';');
  EXPECT_EQ(f.Old->GetAlterSQL(), "");  // unchanged: no text, no terminator

  TBRNColumn* price = AddColumn(*f.New, "Price", dtInteger);
  AddColumn(*f.New, "Code", dtChar, 10);
  AddConstraint(*f.New, "Unique Price", kConstraintUnique, {price});
  f.Old->ComputeDifference(kDifferenceAlter, f.New.get(), ';');
  EXPECT_EQ(f.Old->GetAlterSQL(),
            "ALTER TABLE \"Items\"\r\n"
            "ADD COLUMN \"Price\" INTEGER,\r\n"
            "ADD COLUMN \"Code\" VARCHAR(10) COLLATE \"ANSI\",\r\n"
            "ADD CONSTRAINT \"Unique Price\" UNIQUE (\"Price\");");

  AddIndex(*f.New, "ByCode", {f.New->Columns->GetItem(3)});
  f.New->SetDescription("Stock items");
  f.New->ReadOnly = true;
  f.Old->ComputeDifference(kDifferenceAlter, f.New.get(), ';');
  EXPECT_EQ(f.Old->GetAlterSQL(),
            "ALTER TABLE \"Items\"\r\n"
            "ADD COLUMN \"Price\" INTEGER,\r\n"
            "ADD COLUMN \"Code\" VARCHAR(10) COLLATE \"ANSI\",\r\n"
            "ADD CONSTRAINT \"Unique Price\" UNIQUE (\"Price\");\r\n\r\n"
            "CREATE INDEX \"ByCode\" ON \"Items\" (\"Code\" COLLATE \"ANSI\");\r\n\r\n"
            "ALTER TABLE \"Items\"\r\n"
            "DESCRIPTION 'Stock items'\r\n"
            "READONLY;");
}

TEST(TableDifferences, SettingsOnlyAndCreateAndDropTexts) {
  AlteredTable f;
  f.New->SetDescription("Stock items  ");
  f.New->SetMaxRowBufferSize(65536);
  f.New->SetVersion(20000);
  f.Old->ComputeDifference(kDifferenceAlter, f.New.get(), '!');
  EXPECT_EQ(f.Old->GetAlterSQL(),
            "ALTER TABLE \"Items\"\r\nDESCRIPTION 'Stock items'\r\nVERSION 2.00\r\n"
            "MAX ROW BUFFER SIZE 65536!");

  AddIndex(*f.Old, "ByName", {f.Old->Columns->GetItem(1)});
  f.Old->ComputeDifference(kDifferenceCreate, nullptr, ';');
  const std::string text = f.Old->GetAlterSQL();
  EXPECT_EQ(text.rfind(f.Old->GetCreateSQL(true, false), 0), 0u);
  EXPECT_EQ(text.substr(f.Old->GetCreateSQL(true, false).size()),
            ";\r\n\r\nCREATE INDEX \"ByName\" ON \"Items\" (\"Name\" COLLATE \"ANSI\")");
  f.Old->ComputeDifference(kDifferenceDrop, nullptr, ';');
  EXPECT_EQ(f.Old->GetAlterSQL(), "DROP TABLE \"Items\"");
}

TEST(TableDifferences, PhysicalChanges) {
  struct Case {
    const char* What;
    std::function<void(TBRNBaseTable&)> Change;
    int32_t Expected;
  };
  const Case cases[] = {
      {"nothing", [](TBRNBaseTable&) {}, 0},
      {"index page size", [](TBRNBaseTable& t) { t.SetIndexPageSize(8192); }, 0x19},
      {"BLOB block size", [](TBRNBaseTable& t) { t.SetBlobBlockSize(1024); }, 0x5},
      {"publish block size", [](TBRNBaseTable& t) { t.SetPublishBlockSize(1024); }, 0x21},
      {"publish compression", [](TBRNBaseTable& t) { t.SetPublishCompression(3); }, 0x21},
      {"page and BLOB sizes",
       [](TBRNBaseTable& t) {
         t.SetIndexPageSize(8192);
         t.SetBlobBlockSize(1024);
       },
       0x1D},
      {"encryption wins",
       [](TBRNBaseTable& t) {
         t.SetEncrypted(true);
         t.SetIndexPageSize(8192);
         t.SetPublishCompression(3);
       },
       3},
      {"buffer sizes only", [](TBRNBaseTable& t) { t.SetMaxIndexBufferSize(1 << 20); }, 0},
  };
  for (const Case& c : cases) {
    AlteredTable f;
    c.Change(*f.New);
    EXPECT_EQ(f.New->GetPhysicalChanges(f.Old), c.Expected) << c.What;
  }
}

TEST(TableDifferences, CandidateKeysAndReferencedTables) {
  Tables f;
  TBRNBaseTable* customers = AddLinkedTable(f, "Customers");
  TBRNBaseTable* orders = AddLinkedTable(f, "Orders");
  AddColumn(*orders, "BillTo", dtInteger);
  Link(*orders, *customers);
  TBRNConstraint* second =
      AddConstraint(*orders, "Bill", kConstraintForeignKey, {orders->Columns->GetItem(2)});
  Reference(second, *customers, customers->Constraints->GetItem(0),
            {customers->Columns->GetItem(0)});

  // Both foreign keys find the key on ID; a key on RefID does not exist.
  EXPECT_EQ(customers->FindCandidateKey(second->TargetTableColumns.get()),
            customers->Constraints->GetItem(0));
  TBRNConstraint* loose =
      AddConstraint(*orders, "Loose", kConstraintForeignKey, {orders->Columns->GetItem(1)});
  Reference(loose, *customers, nullptr, {customers->Columns->GetItem(1)});
  const EBRNException error =
      CaughtError([&] { customers->FindCandidateKey(loose->TargetTableColumns.get()); });
  EXPECT_EQ(error.ErrorCode, 100);
  EXPECT_NE(error.ErrorMessage.find(
                "No candidate keys exist in the Customers table for the foreign key columns "
                "[RefID]"),
            std::string::npos);

  // Three foreign keys to one table: it is listed once.
  orders->RebuildReferencedTables();
  ASSERT_TRUE(orders->HasReferencedTables());
  ASSERT_EQ(orders->GetReferencedTables()->Count(), 1);
  EXPECT_EQ(orders->GetReferencedTables()->GetItem(0), customers);
  orders->ResetReferencedTables();
  EXPECT_FALSE(orders->HasReferencedTables());
}

TEST(TableDifferences, IndexPageSizeGrowsToFitAQueryResultIndex) {
  Tables f;
  TBRNBaseTable* table = f.AddBaseTable("Result");
  TBRNColumn* first = AddColumn(*table, "First", dtChar, 1000);
  TBRNColumn* second = AddColumn(*table, "Second", dtChar, 300);
  // The index is sized before it joins the table (which would refuse it).
  std::unique_ptr<TBRNIndex> index(static_cast<TBRNIndex*>(table->Indexes->NewItem()));
  index->Name = "__OrderBy";
  AddColumnEntries<TBRNIndexColumn>(index->Columns, {first, second});
  EXPECT_EQ(index->Columns->PageSize, 5280);
  table->RaiseIndexPageSizeToFit(index.get());
  EXPECT_EQ(table->IndexPageSize, 8192);
  table->RaiseIndexPageSizeToFit(index.get());
  EXPECT_EQ(table->IndexPageSize, 8192);
  table->Indexes->AddObject(index.release());
  table->Validate();
}

}  // namespace
}  // namespace brn
