// Constraints: the refusing rules, keys and references, stored records, DDL.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "metadata/table_test_support.h"

namespace brn::testing {
namespace {

// A new constraint of table (not yet added) over the given columns.
std::unique_ptr<TBRNConstraint> NewConstraint(FakeTable& table, const std::string& name,
                                              int32_t type,
                                              const std::vector<TBRNColumn*>& columns = {}) {
  std::unique_ptr<TBRNConstraint> constraint(
      static_cast<TBRNConstraint*>(table.Constraints->NewItem()));
  constraint->Name = name;
  constraint->SetConstraintType(type);
  AddColumnEntries<TBRNConstraintColumn>(constraint->Columns, columns);
  return constraint;
}

TBRNConstraint* Add(FakeTable& table, std::unique_ptr<TBRNConstraint> constraint) {
  table.Constraints->AddObject(constraint.get());
  return constraint.release();
}

void AddSource(TBRNConstraint* key, FakeTable& table, TBRNConstraint* foreignKey) {
  std::unique_ptr<TBRNSourceConstraint> source(
      static_cast<TBRNSourceConstraint*>(key->SourceConstraints->NewItem()));
  source->SetSourceTable(&table);
  source->SetSourceConstraint(foreignKey);
  key->SourceConstraints->AddObject(source.get());
  source.release();
}

struct ConstraintTables : TableFixture {
  FakeTable* Customers = AddFakeTable("Customers");
  TBRNColumn* CustomerID = AddColumn(*Customers->Columns, "ID", dtInteger);
  TBRNColumn* Photo = AddColumn(*Customers->Columns, "Photo", dtLob);
  FakeTable* Orders = AddFakeTable("Orders");
  TBRNColumn* OrderID = AddColumn(*Orders->Columns, "ID", dtInteger);
  TBRNColumn* Customer = AddColumn(*Orders->Columns, "CustomerID", dtInteger);
  TBRNColumn* Amount = AddColumn(*Orders->Columns, "Amount", dtInteger);
};

TEST(Constraints, SecondPrimaryKeyOfAnyNameIsADuplicate) {
  ConstraintTables f;
  Add(*f.Orders, NewConstraint(*f.Orders, "PK", kConstraintPrimaryKey, {f.OrderID}));
  auto second = NewConstraint(*f.Orders, "Other", kConstraintPrimaryKey, {f.Customer});
  const EBRNException error = CaughtError([&] { f.Orders->Constraints->AddObject(second.get()); });
  EXPECT_EQ(error.ErrorCode, 400);
  // A unique key beside it is fine; a second one of the same name is not.
  Add(*f.Orders, NewConstraint(*f.Orders, "UQ", kConstraintUnique, {f.Customer}));
  auto sameName = NewConstraint(*f.Orders, "uq", kConstraintCheck);
  EXPECT_EQ(CaughtError([&] { f.Orders->Constraints->AddObject(sameName.get()); }).ErrorCode, 400);
}

TEST(Constraints, RefusingRulesGiveTheirMessages) {
  ConstraintTables f;
  struct Case {
    int32_t Type;
    uint32_t Update;
    uint32_t Delete;
    const char* Message;  // nullptr: accepted
  };
  const char* action = "The constraint update or delete action is invalid or not supported";
  const Case cases[] = {
      {kConstraintForeignKey, kActionCascade, kActionNoAction, action},
      {kConstraintForeignKey, kActionSetNull, kActionNoAction, action},
      {kConstraintForeignKey, kActionNoAction, kActionSetDefault, action},
      {kConstraintForeignKey, kActionNoAction, 9, action},
      {kConstraintForeignKey, kActionNoAction, kActionNoAction, nullptr},
      {kConstraintForeignKey, kActionRestrict, kActionRestrict, nullptr},
      {0, 0, 0, "The constraint type is invalid"},
      {5, 0, 0, "The constraint type is invalid"},
  };
  int32_t n = 0;
  for (const Case& c : cases) {
    auto constraint = NewConstraint(*f.Orders, "C" + std::to_string(++n), c.Type);
    constraint->UpdateAction = c.Update;
    constraint->DeleteAction = c.Delete;
    if (c.Message == nullptr) {
      constraint->Validate();
      continue;
    }
    const EBRNException error = CaughtError([&] { constraint->Validate(); });
    EXPECT_EQ(error.ErrorCode, 100);
    EXPECT_EQ(error.ErrorMessage, "There is an error in the metadata for the constraint " +
                                      constraint->Name + " in the table Orders (" + c.Message +
                                      ")");
  }

  // A BLOB column is refused as it joins the key.
  auto key = NewConstraint(*f.Customers, "UQ", kConstraintUnique);
  std::unique_ptr<TBRNConstraintColumn> entry(
      static_cast<TBRNConstraintColumn*>(key->Columns->NewItem()));
  entry->SetColumn(f.Photo);
  const EBRNException blob = CaughtError([&] { key->Columns->AddObject(entry.get()); });
  EXPECT_EQ(blob.ErrorCode, 100);
  EXPECT_NE(blob.ErrorMessage.find("(The BLOB column Photo cannot be used in a constraint)"),
            std::string::npos)
      << blob.ErrorMessage;

  // Temporary and non-temporary tables cannot be linked, unless the
  // temporary one is a working copy.
  FakeTable scratch(f.Catalog.get(), "Scratch");
  scratch.SetTemporary(true);
  auto foreignKey = NewConstraint(*f.Orders, "FK", kConstraintForeignKey, {f.Customer});
  const EBRNException temporary = CaughtError([&] { foreignKey->SetTargetTable(&scratch); });
  EXPECT_NE(temporary.ErrorMessage.find("Foreign keys cannot be established between temporary "
                                        "tables and non-temporary tables"),
            std::string::npos);
  scratch.WorkingCopy = true;
  foreignKey->SetTargetTable(&scratch);

  EXPECT_EQ(CaughtError([&] { foreignKey->CheckTypeUnchanged(kConstraintUnique); }).ErrorMessage,
            "There is an error in the metadata for the constraint FK in the table Orders (You "
            "cannot alter the constraint type)");
  foreignKey->CheckTypeUnchanged(kConstraintForeignKey);
}

TEST(Constraints, SelfReferenceGetsTheTablesOwnID) {
  ConstraintTables f;
  // The table is defined before it joins the schema and has an ID.
  auto table = std::make_unique<FakeTable>(f.Catalog.get(), "Staff");
  TBRNColumn* id = AddColumn(*table->Columns, "ID", dtInteger);
  TBRNColumn* boss = AddColumn(*table->Columns, "BossID", dtInteger);
  TBRNConstraint* key = Add(*table, NewConstraint(*table, "PK", kConstraintPrimaryKey, {id}));
  auto foreignKey = NewConstraint(*table, "Boss", kConstraintForeignKey, {boss});
  Reference(foreignKey.get(), *table, key, {id});
  TBRNConstraint* fk = Add(*table, std::move(foreignKey));
  AddSource(key, *table, fk);
  EXPECT_EQ(table->ID, 0);
  EXPECT_EQ(fk->TargetTableID, 0);
  EXPECT_EQ(fk->GetTargetTable(), table.get());

  FakeTable* staff = table.get();
  f.Catalog->DefaultSchema->BaseTables->AddObject(table.release());
  ASSERT_NE(staff->ID, 0);
  EXPECT_EQ(fk->TargetTableID, staff->ID);
  EXPECT_EQ(key->SourceConstraints->GetItem(0)->SourceTableID, staff->ID);
  EXPECT_EQ(fk->GetTargetTable(), staff);
  EXPECT_EQ(fk->GetTargetConstraint(), key);
  EXPECT_EQ(key->SourceConstraints->GetItem(0)->GetSourceConstraint(), fk);
  EXPECT_EQ(fk->GetCreateSQL(true, false),
            "CONSTRAINT \"Boss\" FOREIGN KEY (\"BossID\") REFERENCES \"Staff\" (\"ID\")\r\n"
            "   ON UPDATE NO ACTION ON DELETE NO ACTION");
}

TEST(Constraints, DDLTexts) {
  ConstraintTables f;
  TBRNConstraint* key =
      Add(*f.Customers, NewConstraint(*f.Customers, "PK", kConstraintPrimaryKey, {f.CustomerID}));
  TBRNConstraint* orderKey =
      Add(*f.Orders, NewConstraint(*f.Orders, "Key", kConstraintPrimaryKey, {f.OrderID}));
  orderKey->Description = "Order 'number'  ";
  auto foreignKey = NewConstraint(*f.Orders, "FK", kConstraintForeignKey, {f.Customer});
  Reference(foreignKey.get(), *f.Customers, key, {f.CustomerID});
  foreignKey->SetUpdateAction(kActionRestrict);
  TBRNConstraint* fk = Add(*f.Orders, std::move(foreignKey));
  TBRNConstraint* check = Add(*f.Orders, NewConstraint(*f.Orders, "Positive", kConstraintCheck));
  check->CheckExpr->SetText("Amount > 0  ");
  check->SetErrorCode(10000);
  check->SetErrorMessage("x");

  EXPECT_EQ(fk->GetCreateSQL(true, false),
            "CONSTRAINT \"FK\" FOREIGN KEY (\"CustomerID\") REFERENCES \"Customers\" (\"ID\")\r\n"
            "   ON UPDATE RESTRICT ON DELETE NO ACTION");
  EXPECT_EQ(fk->GetCreateSQL(false, false), "");
  EXPECT_EQ(fk->GetCreateSQL(false, true).substr(0, 24), "ADD CONSTRAINT \"FK\" FORE");
  EXPECT_EQ(key->GetCreateSQL(false, true), "");
  EXPECT_EQ(f.Orders->Constraints->GetCreateSQL(true, false),
            "CONSTRAINT \"Key\" PRIMARY KEY (\"ID\")\r\n"
            "DESCRIPTION 'Order ''number'''"
            ",\r\n"
            "CONSTRAINT \"FK\" FOREIGN KEY (\"CustomerID\") REFERENCES \"Customers\" (\"ID\")\r\n"
            "   ON UPDATE RESTRICT ON DELETE NO ACTION"
            ",\r\n"
            "CONSTRAINT \"Positive\" CHECK Amount > 0\r\n"
            "ERROR CODE 10000 MESSAGE 'x'");
  check->SetErrorCode(0);
  EXPECT_EQ(check->GetCreateSQL(false, false), "CONSTRAINT \"Positive\" CHECK Amount > 0");
  EXPECT_EQ(fk->GetDropSQL(false, false), "");
  EXPECT_EQ(fk->GetDropSQL(false, true), "DROP CONSTRAINT \"FK\"");
  EXPECT_EQ(key->GetDropSQL(false, false), "DROP CONSTRAINT \"PK\"");

  // Differences.
  check->ComputeDifference(kDifferenceCreate, nullptr, ';');
  EXPECT_EQ(check->GetAlterSQL(), "ADD CONSTRAINT \"Positive\" CHECK Amount > 0");
  check->ComputeDifference(kDifferenceDrop, nullptr, ';');
  EXPECT_EQ(check->GetAlterSQL(), "DROP CONSTRAINT \"Positive\"");
  auto renamed = NewConstraint(*f.Orders, "OrderKey", kConstraintPrimaryKey, {f.OrderID});
  renamed->Description = "New";
  orderKey->ComputeDifference(kDifferenceAlter, renamed.get(), ';');
  EXPECT_EQ(orderKey->GetAlterSQL(),
            "RENAME CONSTRAINT \"Key\" TO \"OrderKey\",\r\n"
            "ALTER CONSTRAINT \"OrderKey\" AS PRIMARY KEY (\"ID\")\r\n"
            "DESCRIPTION 'New'");
  auto wider = NewConstraint(*f.Orders, "Positive", kConstraintCheck);
  wider->CheckExpr->SetText("Amount >= 0");
  check->ComputeDifference(kDifferenceAlter, wider.get(), ';');
  EXPECT_EQ(check->GetAlterSQL(), "ALTER CONSTRAINT \"Positive\" AS CHECK Amount >= 0");
  check->ComputeDifference(kDifferenceAlter, check, ';');
  EXPECT_EQ(check->GetAlterSQL(), "");
  EXPECT_TRUE(key->IsSameObject(renamed.get()));
  EXPECT_FALSE(check->IsSameObject(renamed.get()));
}

TEST(Constraints, CompareDefinitionBits) {
  ConstraintTables f;
  TBRNConstraint* key =
      Add(*f.Orders, NewConstraint(*f.Orders, "PK", kConstraintPrimaryKey, {f.OrderID}));
  auto same = NewConstraint(*f.Orders, "PK", kConstraintPrimaryKey, {f.OrderID});
  auto other = NewConstraint(*f.Orders, "PK", kConstraintPrimaryKey, {f.Customer});
  EXPECT_EQ(key->CompareDefinition(same.get()), 0x2000);
  EXPECT_TRUE(key->Compared);
  EXPECT_EQ(key->CompareDefinition(other.get()), 0x2000 | 0x8009);

  TBRNConstraint* customerKey =
      Add(*f.Customers, NewConstraint(*f.Customers, "PK", kConstraintPrimaryKey, {f.CustomerID}));
  auto fk = NewConstraint(*f.Orders, "FK", kConstraintForeignKey, {f.Customer});
  Reference(fk.get(), *f.Customers, customerKey, {f.CustomerID});
  auto restricted = NewConstraint(*f.Orders, "FK", kConstraintForeignKey, {f.Customer});
  Reference(restricted.get(), *f.Customers, customerKey, {f.CustomerID});
  restricted->SetDeleteAction(kActionRestrict);
  EXPECT_EQ(fk->CompareDefinition(restricted.get()), 0x2000 | 0x8000);

  auto check = NewConstraint(*f.Orders, "C", kConstraintCheck);
  check->CheckExpr->SetText("Amount > 0");
  auto changed = NewConstraint(*f.Orders, "C", kConstraintCheck);
  changed->CheckExpr->SetText("Amount > 1");
  EXPECT_EQ(check->CompareDefinition(changed.get()), 0x2000 | 0x40000);
}

TEST(Constraints, SourceEntriesAreRemovedByForeignKey) {
  ConstraintTables f;
  TBRNConstraint* key =
      Add(*f.Customers, NewConstraint(*f.Customers, "PK", kConstraintPrimaryKey, {f.CustomerID}));
  auto foreignKey = NewConstraint(*f.Orders, "FK", kConstraintForeignKey, {f.Customer});
  Reference(foreignKey.get(), *f.Customers, key, {f.CustomerID});
  TBRNConstraint* fk = Add(*f.Orders, std::move(foreignKey));
  AddSource(key, *f.Orders, fk);
  EXPECT_EQ(key->SourceConstraints->GetItem(0)->GetSourceTable(), f.Orders);
  key->RemoveSourceConstraint(fk);
  EXPECT_EQ(key->SourceConstraints->Count(), 0);
  EXPECT_EQ(CaughtError([&] { key->RemoveSourceConstraint(fk); }).ErrorCode, 401);
}

TEST(Constraints, StoredRecordsRoundTripAndOlderVersionsReadTheirFields) {
  ConstraintTables f;
  TBRNConstraint* key =
      Add(*f.Customers, NewConstraint(*f.Customers, "PK", kConstraintPrimaryKey, {f.CustomerID}));
  auto foreignKey = NewConstraint(*f.Orders, "FK", kConstraintForeignKey, {f.Customer});
  Reference(foreignKey.get(), *f.Customers, key, {f.CustomerID});
  foreignKey->SetDeleteAction(kActionRestrict);
  foreignKey->SetErrorCode(10001);
  foreignKey->SetErrorMessage("No such customer");
  TBRNConstraint* fk = Add(*f.Orders, std::move(foreignKey));
  AddSource(key, *f.Orders, fk);
  TBRNConstraint* check = Add(*f.Orders, NewConstraint(*f.Orders, "Positive", kConstraintCheck));
  check->CheckExpr->SetText("Amount > 0");

  auto fresh = [&](FakeTable& table) {
    return std::unique_ptr<TBRNConstraint>(
        static_cast<TBRNConstraint*>(table.Constraints->NewItem()));
  };
  struct Entry {
    TBRNConstraint* Constraint;
    FakeTable* Table;
  };
  for (const Entry& e : {Entry{key, f.Customers}, Entry{fk, f.Orders}, Entry{check, f.Orders}}) {
    const std::vector<uint8_t> record = RecordOf(*e.Constraint);
    auto copy = fresh(*e.Table);
    LoadRecord(*copy, record);
    EXPECT_TRUE(copy->IsEqual(e.Constraint, true)) << e.Constraint->Name;
    EXPECT_EQ(RecordOf(*copy), record) << e.Constraint->Name;
    ExpectEveryCutRefused(record, [&] { return fresh(*e.Table); });
  }
  EXPECT_EQ(key->SourceConstraints->Count(), 1);

  // A 2.03 record has no error code and message.
  f.Catalog->SetVersion(kFormatVersion203);
  const std::vector<uint8_t> old = RecordOf(*fk);
  auto copy = fresh(*f.Orders);
  copy->SetErrorCode(5);
  LoadRecord(*copy, old);
  EXPECT_EQ(copy->ErrorCode, 0);
  EXPECT_EQ(copy->ErrorMessage, "");
  EXPECT_EQ(copy->TargetTableID, f.Customers->ID);
  EXPECT_EQ(copy->DeleteAction, kActionRestrict);
  f.Catalog->SetVersion(kNewestFormatVersion);
  EXPECT_EQ(old.size() + 4 + 4 + 16, RecordOf(*fk).size());

  // Loading another kind frees the parts of the old one.
  auto morph = fresh(*f.Orders);
  LoadRecord(*morph, RecordOf(*check));
  EXPECT_FALSE(morph->Columns);
  ASSERT_TRUE(morph->CheckExpr);
  EXPECT_EQ(morph->CheckExpr->SQL, "Amount > 0");
  LoadRecord(*morph, RecordOf(*key));
  EXPECT_FALSE(morph->CheckExpr);
  EXPECT_TRUE(morph->SourceConstraints);
}

TEST(Constraints, HostileRecordsAreRefusedBeforeAllocation) {
  ConstraintTables f;
  TBRNConstraint* key =
      Add(*f.Orders, NewConstraint(*f.Orders, "PK", kConstraintPrimaryKey, {f.OrderID}));
  const std::vector<uint8_t> record = RecordOf(*key);
  // Base record: ID, name "PK" (4+2), empty description, two flags = 16.
  const size_t typeAt = 16;
  struct Case {
    size_t At;
    int32_t Value;
  };
  for (const Case& c :
       {Case{typeAt, 0}, Case{typeAt, 7}, Case{typeAt + 4, 0x7FFFFFFF}, Case{typeAt + 4, -1}}) {
    std::vector<uint8_t> bad = record;
    for (int i = 0; i < 4; ++i) bad[c.At + size_t(i)] = uint8_t(uint32_t(c.Value) >> (8 * i));
    std::unique_ptr<TBRNConstraint> copy(
        static_cast<TBRNConstraint*>(f.Orders->Constraints->NewItem()));
    EXPECT_EQ(CaughtError([&] { LoadRecord(*copy, bad); }).ErrorCode, 100)
        << c.At << " " << c.Value;
  }
  ExpectEveryByteFlipHandled(record, [&] {
    return std::unique_ptr<TBRNConstraint>(
        static_cast<TBRNConstraint*>(f.Orders->Constraints->NewItem()));
  });
}

TEST(Constraints, ReferencesOfKeysAndForeignKeys) {
  ConstraintTables f;
  TBRNConstraint* key =
      Add(*f.Customers, NewConstraint(*f.Customers, "PK", kConstraintPrimaryKey, {f.CustomerID}));
  auto foreignKey = NewConstraint(*f.Orders, "FK", kConstraintForeignKey, {f.Customer});
  Reference(foreignKey.get(), *f.Customers, key, {f.CustomerID});
  TBRNConstraint* fk = Add(*f.Orders, std::move(foreignKey));

  // The foreign key depends on its column, the target table and the key.
  for (TBRNConfigObject* target : std::vector<TBRNConfigObject*>{f.Customer, f.Customers, key}) {
    fk->RegisterReferenceTo(target);
    TBRNSelectedConfigObjects* referrers = target->GetReferrers();
    ASSERT_EQ(referrers->Count(), 1) << target->GetName();
    EXPECT_EQ(referrers->GetItem(0), fk);
  }
  fk->RegisterReferenceTo(f.Amount);
  EXPECT_FALSE(f.Amount->HasReferrers());

  // New IDs are taken over.
  fk->ReplaceReferencedID(f.Customers, 900);
  EXPECT_EQ(fk->TargetTableID, 900);
  fk->ReplaceReferencedID(f.Customer, 901);
  EXPECT_EQ(fk->Columns->GetItem(0)->ColumnID, 901);
}

TEST(Constraints, RenamingAColumnRewritesOnlyCheckConditions) {
  ConstraintTables f;
  TBRNConstraint* check = Add(*f.Orders, NewConstraint(*f.Orders, "Positive", kConstraintCheck));
  check->CheckExpr->SetText("Amount > 0");
  TBRNConstraint* key =
      Add(*f.Orders, NewConstraint(*f.Orders, "PK", kConstraintPrimaryKey, {f.Amount}));
  const std::vector<uint8_t> keyRecord = RecordOf(*key);

  check->Compile();
  ASSERT_EQ(check->ReferencedColumns->Count(), 1);
  EXPECT_EQ(check->ReferencedColumns->GetItem(0), f.Amount);
  f.Orders->RegisterReferenceTo(f.Amount);
  TBRNSelectedConfigObjects* referrers = f.Amount->GetReferrers();
  ASSERT_EQ(referrers->Count(), 2);
  EXPECT_EQ(referrers->GetItem(0), check);
  EXPECT_EQ(referrers->GetItem(1), key);

  f.Catalog->Modified = false;
  f.Orders->ReplaceReferencedName(f.Amount, "Total");
  EXPECT_EQ(check->CheckExpr->SQL, "Total > 0");
  EXPECT_TRUE(f.Catalog->Modified);
  EXPECT_EQ(RecordOf(*key), keyRecord);
  f.Amount->Name = "Total";
  EXPECT_EQ(key->GetCreateSQL(false, false), "CONSTRAINT \"PK\" PRIMARY KEY (\"Total\")");
  check->Uncompile();
  EXPECT_EQ(check->ReferencedColumns->Count(), 0);
}

}  // namespace
}  // namespace brn::testing
