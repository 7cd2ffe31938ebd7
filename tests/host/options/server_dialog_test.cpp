#include "host/options/server_dialog.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "clientserver/components/engine_component.h"
#include "host/host_test_support.h"
#include "host/options/fake_dialog_view.h"

namespace brn {
namespace {

using F = TBRNDialogField;
using P = TBRNDialogPage;
using brn::testing::FakeServerDialogView;

class ServerDialogTest : public brn::testing::HostSandbox {
 protected:
  void SetUp() override {
    HostSandbox::SetUp();
    RequireSandbox(temp.Path);
    std::filesystem::create_directories(temp.Path + "/config");
    std::filesystem::create_directories(temp.Path + "/temp");
    engine = std::make_unique<TBRNEngine>(nullptr);
    engine->SetConfigPath(temp.Path + "/config");
    engine->SetTempTablesPath(temp.Path + "/temp");
  }
  void TearDown() override {
    engine.reset();
    HostSandbox::TearDown();
  }

  std::unique_ptr<TBRNEngine> engine;
};

// Each case changes one field of the valid settings of a default engine.
TEST_F(ServerDialogTest, ValidationRowsInOrder) {
  struct Case {
    const char* name;
    std::function<void(FakeServerDialogView&)> change;
    std::string message;  // empty: valid
    P page;
    F field;
  };
  const auto set = [](F field, const char* text) {
    return [=](FakeServerDialogView& view) { view.SetText(field, text); };
  };
  const auto ext = [&](F field, const char* message) {
    return Case{message, set(field, ""), message, P::Customizations, field};
  };
  const std::string missing = temp.Path + "/missing";
  const std::vector<Case> cases = {
      {"valid", [](FakeServerDialogView&) {}, "", P::Server, F::NameEdit},
      {"name", set(F::NameEdit, ""), "You must provide a server name", P::Server, F::NameEdit},
      {"description", set(F::DescriptionMemo, ""), "You must provide a server description",
       P::Server, F::DescriptionMemo},
      {"thread cache 0", set(F::ThreadCacheSizeEdit, "0"),
       "You must provide a valid thread cache size value between 1 and 4096", P::Connections,
       F::ThreadCacheSizeEdit},
      {"thread cache 4097", set(F::ThreadCacheSizeEdit, "4097"),
       "You must provide a valid thread cache size value between 1 and 4096", P::Connections,
       F::ThreadCacheSizeEdit},
      {"thread cache 4096", set(F::ThreadCacheSizeEdit, "4096"), "", P::Server, F::NameEdit},
      {"port 0", set(F::PortEdit, "0"), "You must provide a valid port value between 1 and 65535",
       P::Connections, F::PortEdit},
      {"port 65536", set(F::PortEdit, "65536"),
       "You must provide a valid port value between 1 and 65535", P::Connections, F::PortEdit},
      {"port 12a", set(F::PortEdit, "12a"),
       "You must provide a valid port value between 1 and 65535", P::Connections, F::PortEdit},
      {"port beyond 32 bits", set(F::PortEdit, "4294967297"),
       "You must provide a valid port value between 1 and 65535", P::Connections, F::PortEdit},
      {"port 65535", set(F::PortEdit, "65535"), "", P::Server, F::NameEdit},
      {"timeout", set(F::TimeoutEdit, "59"),
       "You must provide a valid session timeout value greater than or equal to 60", P::Sessions,
       F::TimeoutEdit},
      {"negative timeout", set(F::TimeoutEdit, "-60"),
       "You must provide a valid session timeout value greater than or equal to 60", P::Sessions,
       F::TimeoutEdit},
      {"dead interval", set(F::DeadSessionIntervalEdit, "29"),
       "You must provide a valid dead session interval value greater than or equal to 30",
       P::Sessions, F::DeadSessionIntervalEdit},
      {"dead expiration", set(F::DeadSessionExpirationEdit, ""),
       "You must provide a valid dead session expiration value greater than or equal to 10",
       P::Sessions, F::DeadSessionExpirationEdit},
      {"max dead", set(F::MaxDeadSessionsEdit, "0"),
       "You must provide a valid maximum dead sessions value greater than or equal to 1",
       P::Sessions, F::MaxDeadSessionsEdit},
      {"empty folder on disk", set(F::ConfigPathEdit, ""),
       "You must provide a configuration file folder", P::Configuration, F::ConfigPathEdit},
      {"missing folder on disk", set(F::ConfigPathEdit, missing.c_str()),
       "You must enter a valid configuration file folder", P::Configuration, F::ConfigPathEdit},
      {"empty folder in memory",
       [](FakeServerDialogView& view) {
         view.SetChecked(F::InMemoryRadioButton, true);
         view.Dialog->OnDiskRadioButtonClick();
       },
       "", P::Server, F::NameEdit},
      {"empty folder back on disk",
       [](FakeServerDialogView& view) {
         view.SetChecked(F::InMemoryRadioButton, true);
         view.Dialog->OnDiskRadioButtonClick();
         view.SetChecked(F::OnDiskRadioButton, true);
         view.Dialog->OnDiskRadioButtonClick();
       },
       "You must provide a configuration file folder", P::Configuration, F::ConfigPathEdit},
      {"log size", set(F::MaxLogFileSizeEdit, "262143"),
       "You must provide a valid maximum log file size greater than or equal to 262144",
       P::Configuration, F::MaxLogFileSizeEdit},
      {"log size 262144", set(F::MaxLogFileSizeEdit, "262144"), "", P::Server, F::NameEdit},
      {"config name", set(F::ConfigNameEdit, ""), "You must provide a configuration name",
       P::Customizations, F::ConfigNameEdit},
      {"catalog name", set(F::CatalogNameEdit, ""), "You must provide a catalog name",
       P::Customizations, F::CatalogNameEdit},
      ext(F::ConfigExtensionEdit, "You must provide a configuration file extension"),
      ext(F::LockExtensionsEdit, "You must provide a lock files extension"),
      ext(F::LogExtensionEdit, "You must provide a log file extension"),
      ext(F::BackupExtensionsEdit, "You must provide a backup files extension"),
      ext(F::UpdateExtensionsEdit, "You must provide an update files extension"),
      ext(F::CatalogExtensionsEdit, "You must provide a catalog files extension"),
      ext(F::TableExtensionsEdit, "You must provide a tables file extension"),
      ext(F::IndexExtensionsEdit, "You must provide an indexes file extension"),
      ext(F::BlobExtensionsEdit, "You must provide a BLOBs file extension"),
      ext(F::PublishExtensionsEdit, "You must provide a publish file extension"),
      ext(F::SignatureEdit, "You must provide a signature"),
      {"temp folder", set(F::TempTablesPathEdit, ""), "You must provide a temporary tables folder",
       P::Database, F::TempTablesPathEdit},
      {"missing temp folder", set(F::TempTablesPathEdit, missing.c_str()),
       "You must enter a valid temporary tables folder", P::Database, F::TempTablesPathEdit},
      // Not checked at all.
      {"unchecked fields",
       [](FakeServerDialogView& view) {
         view.SetText(F::JobCategoryEdit, "");
         view.SetText(F::IPAddressEdit, "not an address");
         view.SetText(F::AuthorizedAddressesMemo, "");
         view.SetText(F::TableExtensionsEdit, "dat");
       },
       "", P::Server, F::NameEdit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServerDialogView view;
    TServerDialog dialog(view);
    dialog.Fill(*engine, false, false);
    dialog.FormCreate();
    c.change(view);
    view.OkEnabled = true;
    EXPECT_EQ(view.PressOk(), c.message.empty());
    if (c.message.empty()) {
      EXPECT_TRUE(view.Errors.empty()) << view.Errors.front();
    } else {
      EXPECT_EQ(view.Errors, std::vector<std::string>{c.message});
      EXPECT_EQ(view.Page, c.page);
      EXPECT_EQ(view.Focus, c.field);
    }
  }
}

TEST_F(ServerDialogTest, OnlyTheFirstFailureIsReported) {
  FakeServerDialogView view;
  TServerDialog dialog(view);
  dialog.Fill(*engine, false, false);
  view.SetText(F::SignatureEdit, "");
  view.SetText(F::PortEdit, "x");
  view.SetText(F::TempTablesPathEdit, "");
  view.SetText(F::DescriptionMemo, "");
  EXPECT_FALSE(view.PressOk());
  EXPECT_EQ(view.Errors, std::vector<std::string>{"You must provide a server description"});
  EXPECT_EQ(view.Page, P::Server);
}

TEST_F(ServerDialogTest, OkFollowsTheNameAndLocationButtonsTheFolder) {
  FakeServerDialogView view;
  TServerDialog dialog(view);
  dialog.Fill(*engine, false, false);
  dialog.FormCreate();
  EXPECT_EQ(view.Page, P::Server);
  EXPECT_EQ(view.Focus, F::NameEdit);
  EXPECT_TRUE(view.OkEnabled);
  view.Type(F::NameEdit, "");
  EXPECT_FALSE(view.OkEnabled);
  EXPECT_FALSE(view.PressOk());
  view.Type(F::NameEdit, "S");
  EXPECT_TRUE(view.OkEnabled);

  EXPECT_TRUE(view.Checked[F::OnDiskRadioButton]);
  EXPECT_TRUE(view.Enabled[F::ConfigPathEdit]);
  view.SetChecked(F::InMemoryRadioButton, true);
  dialog.OnDiskRadioButtonClick();
  EXPECT_EQ(view.GetText(F::ConfigPathEdit), "");
  EXPECT_FALSE(view.Enabled[F::ConfigPathEdit]);
  EXPECT_FALSE(view.Enabled[F::SelectPathButton]);
  view.SetChecked(F::OnDiskRadioButton, true);
  dialog.OnDiskRadioButtonClick();
  EXPECT_TRUE(view.Enabled[F::ConfigPathEdit]);
  EXPECT_TRUE(view.Enabled[F::SelectPathButton]);

  // The folder chooser opens at the field's folder; only a confirmed choice
  // changes the field.
  view.BrowseAnswer = "";
  dialog.SelectTempPathButtonClick();
  EXPECT_EQ(view.BrowsedFrom, temp.Path + "/temp");
  EXPECT_EQ(view.GetText(F::TempTablesPathEdit), temp.Path + "/temp");
  view.BrowseAnswer = temp.Path + "/config";
  dialog.SelectTempPathButtonClick();
  EXPECT_EQ(view.GetText(F::TempTablesPathEdit), temp.Path + "/config");
  dialog.SelectPathButtonClick();
  EXPECT_EQ(view.BrowsedFrom, "");
  EXPECT_EQ(view.GetText(F::ConfigPathEdit), temp.Path + "/config");
}

TEST_F(ServerDialogTest, FieldsGoToTheEngineAndBack) {
  FakeServerDialogView view;
  TServerDialog dialog(view);
  dialog.Fill(*engine, false, false);
  EXPECT_EQ(view.GetText(F::PortEdit), "12010");
  EXPECT_EQ(view.GetText(F::NameEdit), engine->GetServerName());
  EXPECT_FALSE(view.ReadOnly[F::NameEdit]);

  view.SetText(F::NameEdit, "Other");
  view.SetText(F::DescriptionMemo, "Line one\r\nLine two");
  view.SetText(F::PortEdit, "12011");
  view.SetText(F::AuthorizedAddressesMemo, "127.0.0.1\r\n192.168.*\r\n");
  view.SetText(F::BlockedAddressesMemo, "");
  view.SetChecked(F::LogInformationCheckBox, false);
  view.SetChecked(F::LogWarningCheckBox, true);
  view.SetChecked(F::LogErrorCheckBox, true);
  view.SetChecked(F::RunJobsCheckBox, false);
  view.SetText(F::MaxLogFileSizeEdit, "300000");
  ASSERT_TRUE(dialog.FormCloseQuery());
  dialog.ReadBack(*engine);
  EXPECT_EQ(engine->GetServerName(), "Other");
  EXPECT_EQ(engine->GetServerDescription(), "Line one\r\nLine two");
  EXPECT_EQ(engine->GetServerPort(), 12011);
  EXPECT_EQ(engine->GetServerAuthorizedAddresses().Items(),
            (std::vector<std::string>{"127.0.0.1", "192.168.*"}));
  EXPECT_EQ(engine->GetServerBlockedAddresses().Count(), 0);
  EXPECT_EQ(engine->GetLogCategories(), LogCategoryBit(lcWarning) | LogCategoryBit(lcError));
  EXPECT_FALSE(engine->GetServerRunJobs());
  EXPECT_EQ(engine->GetMaxLogFileSize(), 300000);

  FakeServerDialogView again;
  TServerDialog second(again);
  second.Fill(*engine, false, false);
  // The same fields again, the memo without its trailing empty line.
  auto expected = view.Texts;
  expected[F::AuthorizedAddressesMemo] = "127.0.0.1\r\n192.168.*";
  EXPECT_EQ(again.Texts, expected);

  engine->SetConfigMemory(true);
  second.Fill(*engine, false, false);
  EXPECT_TRUE(again.Checked[F::InMemoryRadioButton]);
  EXPECT_FALSE(again.Checked[F::OnDiskRadioButton]);
  EXPECT_FALSE(again.Enabled[F::ConfigPathEdit]);
}

TEST_F(ServerDialogTest, NamedInstancesKeepTheirNameAndServicesTheirDescription) {
  struct Case {
    bool named;
    bool service;
    bool nameReadOnly;
    bool descriptionReadOnly;
  };
  for (const Case& c : {Case{false, false, false, false}, Case{true, false, true, false},
                        Case{true, true, true, true}, Case{false, true, false, true}}) {
    SCOPED_TRACE(std::to_string(c.named) + std::to_string(c.service));
    FakeServerDialogView view;
    TServerDialog dialog(view);
    dialog.Fill(*engine, c.named, c.service);
    EXPECT_EQ(view.ReadOnly[F::NameEdit], c.nameReadOnly);
    EXPECT_EQ(view.ReadOnly[F::DescriptionMemo], c.descriptionReadOnly);
  }
}

}  // namespace
}  // namespace brn
