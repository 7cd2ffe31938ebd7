// Triggers: event lists, validation, stored records, DDL, and compiling the
// body through the trigger routine entry.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "metadata/table_test_support.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn::testing {
namespace {

const char* const kBody =
    "TRIGGER \"Audit\"\r\nBEGIN\r\n  DECLARE v INTEGER;\r\n"
    "  SET v = NewRow.Amount + 1;\r\nEND\r\n";

std::unique_ptr<TBRNTrigger> NewTrigger(FakeTable& table, const std::string& name, int32_t time,
                                        int32_t type) {
  std::unique_ptr<TBRNTrigger> trigger(static_cast<TBRNTrigger*>(table.Triggers->NewItem()));
  trigger->Name = name;
  trigger->SetActionTime(time);
  trigger->SetActionType(type);
  trigger->Definition->SetText("TRIGGER \"" + name + "\"\r\nBEGIN\r\nEND");
  return trigger;
}

TBRNTrigger* AddTrigger(FakeTable& table, const std::string& name, int32_t time, int32_t type) {
  auto trigger = NewTrigger(table, name, time, type);
  table.Triggers->AddObject(trigger.get());
  return trigger.release();
}

void AddTriggerColumn(TBRNTrigger& trigger, TBRNColumn* column) {
  AddColumnEntries<TBRNTriggerColumn>(trigger.TriggerColumns, {column});
}

std::vector<std::string> Names(TBRNReferencedTriggers* list) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < list->Count(); ++i) names.push_back(list->GetItem(i)->Name);
  return names;
}

struct TriggerTable : TableFixture {
  FakeTable* Table = AddFakeTable("Orders");
  TBRNColumn* ID = AddColumn(*Table->Columns, "ID", dtInteger);
  TBRNColumn* Amount = AddColumn(*Table->Columns, "Amount", dtInteger);
};

TEST(Triggers, EventListsFollowTheCollection) {
  TriggerTable f;
  AddTrigger(*f.Table, "All", kTriggerBefore, kTriggerAll);
  AddTrigger(*f.Table, "Load", kTriggerBefore, kTriggerLoadUpdate);
  AddTrigger(*f.Table, "Ins", kTriggerBefore, kTriggerInsert);
  AddTrigger(*f.Table, "AfterDel", kTriggerAfter, kTriggerDelete);
  TBRNTriggers& triggers = *f.Table->Triggers;
  using Names_ = std::vector<std::string>;
  EXPECT_EQ(Names(triggers.GetBeforeInsertTriggers()), (Names_{"All", "Ins"}));
  EXPECT_EQ(Names(triggers.GetBeforeUpdateTriggers()), (Names_{"All"}));
  EXPECT_EQ(Names(triggers.GetBeforeDeleteTriggers()), (Names_{"All"}));
  EXPECT_EQ(Names(triggers.GetBeforeLoadTriggers()), (Names_{"All", "Load"}));
  EXPECT_EQ(Names(triggers.GetAfterDeleteTriggers()), (Names_{"AfterDel"}));
  EXPECT_EQ(Names(triggers.GetAfterInsertTriggers()), Names_{});
  EXPECT_EQ(Names(triggers.GetErrorLoadTriggers()), Names_{});

  // A list handed out stays the same object and follows every change.
  TBRNReferencedTriggers* insert = triggers.GetBeforeInsertTriggers();
  delete triggers.RemoveObject(0);
  EXPECT_EQ(triggers.GetBeforeInsertTriggers(), insert);
  EXPECT_EQ(Names(insert), (Names_{"Ins"}));
  EXPECT_EQ(Names(triggers.GetBeforeLoadTriggers()), (Names_{"Load"}));
  AddTrigger(*f.Table, "ErrIns", kTriggerError, kTriggerInsert);
  EXPECT_EQ(Names(triggers.GetErrorInsertTriggers()), (Names_{"ErrIns"}));
}

TEST(Triggers, ValidationRefusesUnknownTimesAndTypes) {
  TriggerTable f;
  struct Case {
    int32_t Time;
    int32_t Type;
    const char* Message;
  };
  const Case cases[] = {
      {0, kTriggerInsert, "The trigger action time is invalid"},
      {4, kTriggerInsert, "The trigger action time is invalid"},
      {kTriggerAfter, 0, "The trigger action type is invalid"},
      {kTriggerAfter, 6, "The trigger action type is invalid"},
      {kTriggerError, kTriggerLoadUpdate, nullptr},
  };
  for (const Case& c : cases) {
    auto trigger = NewTrigger(*f.Table, "T", c.Time, c.Type);
    if (c.Message == nullptr) {
      trigger->Validate();
      continue;
    }
    EXPECT_EQ(CaughtError([&] { trigger->Validate(); }).ErrorMessage,
              std::string("There is an error in the metadata for the trigger T in the table "
                          "Orders (") +
                  c.Message + ")");
  }
  AddTrigger(*f.Table, "Dup", kTriggerAfter, kTriggerInsert);
  auto again = NewTrigger(*f.Table, "DUP", kTriggerBefore, kTriggerDelete);
  EXPECT_EQ(CaughtError([&] { f.Table->Triggers->AddObject(again.get()); }).ErrorCode, 400);
}

TEST(Triggers, DDLTexts) {
  TriggerTable f;
  TBRNTrigger* update = AddTrigger(*f.Table, "Audit", kTriggerAfter, kTriggerUpdate);
  AddTriggerColumn(*update, f.Amount);
  AddTriggerColumn(*update, f.ID);
  update->Condition->SetText("NewRow.Amount > 10  ");
  update->Definition->SetText(kBody);
  update->Description = "Keeps 'track'  ";
  EXPECT_EQ(update->GetCreateSQL(false, false),
            "CREATE TRIGGER \"Audit\" AFTER UPDATE OF \"Amount\",\"ID\" ON \"Orders\"\r\n"
            "WHEN NewRow.Amount > 10\r\n"
            "BEGIN\r\n  DECLARE v INTEGER;\r\n  SET v = NewRow.Amount + 1;\r\nEND\r\n"
            "DESCRIPTION 'Keeps ''track'''");
  EXPECT_EQ(update->GetDropSQL(false, false), "DROP TRIGGER \"Audit\" FROM \"Orders\"");

  TBRNTrigger* load = AddTrigger(*f.Table, "Loaded", kTriggerError, kTriggerLoadUpdate);
  EXPECT_EQ(load->GetCreateSQL(false, false),
            "CREATE TRIGGER \"Loaded\" ERROR LOAD UPDATE ON \"Orders\"\r\nBEGIN\r\nEND");

  auto changed = NewTrigger(*f.Table, "Audit", kTriggerBefore, kTriggerUpdate);
  changed->Definition->SetText(kBody);
  changed->Description = "Keeps 'track'  ";
  update->ComputeDifference(kDifferenceAlter, changed.get(), ';');
  EXPECT_EQ(update->GetAlterSQL(),
            "ALTER TRIGGER \"Audit\" BEFORE UPDATE ON \"Orders\"\r\n"
            "BEGIN\r\n  DECLARE v INTEGER;\r\n  SET v = NewRow.Amount + 1;\r\nEND");
  update->ComputeDifference(kDifferenceAlter, update, ';');
  EXPECT_EQ(update->GetAlterSQL(), "");
  update->ComputeDifference(kDifferenceDrop, nullptr, ';');
  EXPECT_EQ(update->GetAlterSQL(), "DROP TRIGGER \"Audit\" FROM \"Orders\"");
}

TEST(Triggers, StoredRecordsRoundTripAndOlderVersionsReadTheirFields) {
  TriggerTable f;
  TBRNTrigger* update = AddTrigger(*f.Table, "Audit", kTriggerAfter, kTriggerUpdate);
  AddTriggerColumn(*update, f.Amount);
  update->Condition->SetText("NewRow.Amount > 10");
  update->Definition->SetText(kBody);
  TBRNTrigger* insert = AddTrigger(*f.Table, "Stamp", kTriggerBefore, kTriggerInsert);
  AddTriggerColumn(*insert, f.Amount);  // an INSERT trigger never stores columns
  update->Enabled = false;

  auto fresh = [&] {
    return std::unique_ptr<TBRNTrigger>(static_cast<TBRNTrigger*>(f.Table->Triggers->NewItem()));
  };
  for (TBRNTrigger* trigger : {update, insert}) {
    const std::vector<uint8_t> record = RecordOf(*trigger);
    auto copy = fresh();
    LoadRecord(*copy, record);
    EXPECT_EQ(copy->VersionStamp, kNewestFormatVersion);
    EXPECT_TRUE(copy->Enabled);  // not stored
    EXPECT_EQ(RecordOf(*copy), record);
    EXPECT_EQ(copy->Definition->SQL, trigger->Definition->SQL);
    EXPECT_EQ(copy->Condition->SQL, trigger->Condition->SQL);
    ExpectEveryCutRefused(record, fresh);
    ExpectEveryByteFlipHandled(record, fresh);
  }
  {
    auto copy = fresh();
    LoadRecord(*copy, RecordOf(*update));
    EXPECT_TRUE(copy->IsEqual(update, true));
    LoadRecord(*copy, RecordOf(*insert));
    EXPECT_EQ(copy->TriggerColumns->Count(), 0);
    EXPECT_EQ(copy->Condition->SQL, "");
  }

  // A 2.03 record has no stamp: the trigger keeps the catalog's version and
  // parses its body in the old syntax until it is changed.
  f.Catalog->SetVersion(kFormatVersion203);
  const std::vector<uint8_t> old = RecordOf(*update);
  auto copy = fresh();
  LoadRecord(*copy, old);
  EXPECT_EQ(copy->VersionStamp, kFormatVersion203);
  EXPECT_NE(copy->Definition->GetParseFlags() & pcLiteralNames, 0u);
  f.Catalog->SetVersion(kNewestFormatVersion);
  EXPECT_EQ(old.size() + 8, RecordOf(*update).size());
  copy->SetActionTime(kTriggerBefore);
  EXPECT_EQ(copy->VersionStamp, kNewestFormatVersion);
  EXPECT_EQ(copy->Definition->GetParseFlags(), kTriggerRoutineFlags);
  copy->SetActionTime(kTriggerError);
  EXPECT_EQ(copy->Definition->GetParseFlags(), kErrorTriggerRoutineFlags);

  // A stamp newer than this engine is refused.
  std::vector<uint8_t> newer = RecordOf(*update);
  const int64_t future = 30000;
  for (int i = 0; i < 8; ++i)
    newer[newer.size() - 8 + size_t(i)] = uint8_t(uint64_t(future) >> (8 * i));
  EXPECT_EQ(CaughtError([&] { LoadRecord(*fresh(), newer); }).ErrorCode, 100);
}

TEST(Triggers, BodyCompilesThroughTheRoutineEntryWithTheTriggersEvent) {
  struct Case {
    int32_t Type;
    const char* Row;
    bool Accepted;
  };
  const Case cases[] = {
      {kTriggerInsert, "NewRow", true},     {kTriggerInsert, "OldRow", false},
      {kTriggerDelete, "OldRow", true},     {kTriggerDelete, "NewRow", false},
      {kTriggerUpdate, "OldRow", true},     {kTriggerAll, "NewRow", true},
      {kTriggerLoadUpdate, "oldrow", true},
  };
  for (const Case& c : cases) {
    TriggerTable f;
    TBRNTrigger* trigger = AddTrigger(*f.Table, "Audit", kTriggerBefore, c.Type);
    const std::string body = std::string(
                                 "TRIGGER \"Audit\"\r\nBEGIN\r\n  DECLARE v INTEGER;\r\n"
                                 "  SET v = ") +
                             c.Row + ".Amount + 1;\r\nEND";
    trigger->Definition->SetText(body);
    const std::string what = std::to_string(c.Type) + " " + c.Row;
    if (!c.Accepted) {
      const EBRNException error = CaughtError([&] { trigger->Compile(); });
      EXPECT_EQ(error.ErrorCode, kSQLTextErrorCode) << what;
      EXPECT_EQ(error.ErrorLine, 4) << what;
      continue;
    }
    trigger->Compile();
    EXPECT_EQ(trigger->Definition->SQL, body) << what;
    ASSERT_NE(trigger->Definition->Root, nullptr);
    EXPECT_EQ(trigger->Definition->Root->Operation, trigger->GetEventOperation()) << what;
    const bool old = c.Row[0] == 'O' || c.Row[0] == 'o';
    TBRNSelectedColumns* read = old ? trigger->OldRowColumns.get() : trigger->NewRowColumns.get();
    ASSERT_EQ(read->Count(), 1) << what;
    EXPECT_EQ(read->GetItem(0), f.Amount) << what;
    trigger->Uncompile();
    EXPECT_EQ(read->Count(), 0) << what;
  }
}

TEST(Triggers, ConditionBindsTheBodysRowsAndMustBeBoolean) {
  TriggerTable f;
  TBRNTrigger* trigger = AddTrigger(*f.Table, "Audit", kTriggerAfter, kTriggerInsert);
  trigger->Condition->SetText("NewRow.Amount > 10");
  trigger->Compile();
  EXPECT_TRUE(trigger->Condition->Compiled);
  ASSERT_EQ(trigger->NewRowColumns->Count(), 1);
  EXPECT_EQ(trigger->NewRowColumns->GetItem(0), f.Amount);
  trigger->Uncompile();
  for (const char* condition : {"OldRow.Amount > 10", "DATE '2020-01-01'"}) {
    trigger->Condition->SetText(condition);
    EXPECT_EQ(CaughtError([&] { trigger->Compile(); }).ErrorCode, kSQLTextErrorCode) << condition;
  }
}

TEST(Triggers, RenamingAColumnReadThroughNewRowRewritesBodyAndCondition) {
  TriggerTable f;
  TBRNTrigger* trigger = AddTrigger(*f.Table, "Audit", kTriggerAfter, kTriggerUpdate);
  trigger->Condition->SetText("NewRow.Amount > 10");
  trigger->Definition->SetText(kBody);
  trigger->RegisterReferenceTo(f.Amount);
  ASSERT_EQ(f.Amount->GetReferrers()->Count(), 1);
  EXPECT_EQ(f.Amount->GetReferrers()->GetItem(0), trigger);
  f.Catalog->Modified = false;
  trigger->ReplaceReferencedName(f.Amount, "Total");
  EXPECT_EQ(trigger->Condition->SQL, "NewRow.Total > 10");
  EXPECT_EQ(trigger->Definition->SQL,
            "TRIGGER \"Audit\"\r\nBEGIN\r\n  DECLARE v INTEGER;\r\n"
            "  SET v = NewRow.Total + 1;\r\nEND\r\n");
  EXPECT_TRUE(f.Catalog->Modified);
  // The catalog renames the column afterwards; the texts compile again.
  f.Amount->Name = "Total";
  trigger->Compile();
  // A column the trigger does not read changes nothing.
  trigger->ReplaceReferencedName(f.ID, "Key");
  EXPECT_EQ(trigger->Condition->SQL, "NewRow.Total > 10");
}

}  // namespace
}  // namespace brn::testing
