#include "host/main/host_panels.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "clientserver/server/wire_client.h"
#include "host/host_test_support.h"
#include "host/options/fake_dialog_view.h"
#include "host/security/stored_password.h"
#include "host/startup/host_startup.h"
#include "platform/ini_file.h"
#include "platform/registry_file.h"

namespace brn {
namespace {

// The form's window: boxes answered as told, status panels recorded.
class FakeFormView : public TBRNMainFormView {
 public:
  std::string Caption() const override { return "Brindle Server"; }
  bool Confirm(const std::string& text) override {
    Questions.push_back(text);
    return Answer;
  }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  void Beep() override {}
  void SetStatusPanelText(int panel, const std::string& text) override { Status[panel] = text; }
  void SetCloseItemVisible(bool) override {}
  void SetTasksEnabled(bool) override {}
  void HideWindow() override {}
  void RestoreWindow() override {}
  void CloseWindow() override {}
  TBRNWindowLayout GetLayout() const override { return {}; }
  void SetLayout(const TBRNWindowLayout&, bool) override {}

  bool Answer = true;
  std::vector<std::string> Questions;
  std::vector<std::string> Errors;
  std::map<int, std::string> Status;
};

// The panels' window: rows, links, details and the tray icon recorded.
class FakePanelsView : public TBRNHostPanelsView {
 public:
  void AddSessionRow(TServerSession* session, const TBRNSessionRow& row) override {
    EXPECT_EQ(Rows.count(session), 0u);
    Rows[session] = row;
  }
  void UpdateSessionRow(TServerSession* session, const TBRNSessionRow& row) override {
    ASSERT_EQ(Rows.count(session), 1u);
    const int image = Rows[session].Image;
    Rows[session] = row;
    Rows[session].Image = image;
  }
  void DeleteSessionRow(TServerSession* session) override {
    EXPECT_EQ(Rows.erase(session), 1u);
    if (Selected == session) Selected = nullptr;
  }
  TServerSession* SelectedSession() const override { return Selected; }
  TServerSession* FocusedSession() const override { return Selected; }
  void SetTaskLinks(const std::vector<TBRNTaskLink>& links) override {
    Links.clear();
    for (const TBRNTaskLink& link : links) Links.push_back(link.Separator ? "-" : link.Caption);
    LinkActions = links;
  }
  void SetServerDetails(const TBRNDetails& details) override { ServerDetails = details; }
  void SetSessionDetails(const TBRNDetails* details) override {
    SessionDetailsShown = details != nullptr;
    if (details != nullptr) SessionDetails = *details;
  }
  bool AddTrayIcon(bool active, const std::string& tip) override {
    TrayCalls.push_back("add " + std::to_string(active) + " " + tip);
    return TrayAvailable;
  }
  bool ModifyTrayIcon(bool active, const std::string& tip) override {
    TrayCalls.push_back("modify " + std::to_string(active) + " " + tip);
    return TrayAvailable;
  }
  bool DeleteTrayIcon() override {
    TrayCalls.push_back("delete");
    return TrayAvailable;
  }
  void SetIconTimer(bool on) override { IconTimer = on; }
  void SetSystemTimer(bool on) override { SystemTimer = on; }
  void FocusSessionList() override {}
  std::unique_ptr<TBRNServerDialogView> CreateServerDialog() override {
    auto dialog = std::make_unique<brn::testing::FakeServerDialogView>();
    dialog->OnShow = OnShowDialog;
    return dialog;
  }

  void Click(const std::string& caption) {
    for (const TBRNTaskLink& link : LinkActions) {
      if (link.Caption == caption) return link.OnClick();
    }
    ADD_FAILURE() << "no link " << caption;
  }

  std::map<TServerSession*, TBRNSessionRow> Rows;
  TServerSession* Selected = nullptr;
  std::vector<std::string> Links;
  std::vector<TBRNTaskLink> LinkActions;
  TBRNDetails ServerDetails;
  TBRNDetails SessionDetails;
  bool SessionDetailsShown = false;
  bool TrayAvailable = false;
  std::vector<std::string> TrayCalls;
  bool IconTimer = false;
  bool SystemTimer = false;
  std::function<bool(brn::testing::FakeServerDialogView&)> OnShowDialog;
};

const std::string kStoredPassword = "Panel's secret";

class HostPanelsTest : public brn::testing::HostSandbox {
 protected:
  void SetUp() override {
    HostSandbox::SetUp();
    RequireSandbox(temp.Path);
    HostServerName = "brindle-server";
    HostServerDescription = std::string(DefaultServerDescription);
    HostNamedInstance = false;
    program = temp.Path + "/work/brindle-server";
    brn::testing::WriteWholeFile("brindle-server.ini",
                                 "[Server]\nServer Address=127.0.0.1\nServer Port=0\n");
    TBRNRegistryFile registry(TBRNRegistryFile::DefaultFileName(false));
    registry.WriteString(
        kBRNPasswordRegistryKey, kBRNPasswordRegistryValue,
        EncryptText(kStoredPassword, kBRNHostDefaultPassword, std::string(16, 'k')));
    form = std::make_unique<TMainForm>(program, &formView, nullptr);
    auto owned = std::make_unique<TBRNHostPanels>(*form, &view);
    panels = owned.get();
    form->SetPanels(std::move(owned));
  }
  void TearDown() override {
    form.reset();
    HostSandbox::TearDown();
  }

  void Start() {
    form->FormCreate();
    form->StartUp(false);
    ASSERT_TRUE(form->ServerEngine().GetActive());
    ASSERT_TRUE(formView.Errors.empty()) << formView.Errors.front();
  }
  uint16_t Port() {
    return form->ServerEngine().GetInstance().GetServerEngineManager()->GetListeningPort();
  }
  // Hands queued events over until condition holds (10 s at most).
  bool WaitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      form->EventQueue()->ProcessEvents();
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  TServerSession* Row(int32_t sessionId) {
    for (auto& [session, row] : view.Rows) {
      if (session->Session.SessionID == sessionId) return session;
    }
    return nullptr;
  }
  std::string Address(int32_t sessionId) {
    TServerSession* session = Row(sessionId);
    return session == nullptr ? "" : view.Rows[session].Address;
  }

  std::string program;
  FakeFormView formView;
  FakePanelsView view;
  std::unique_ptr<TMainForm> form;
  TBRNHostPanels* panels = nullptr;
};

using Strings = std::vector<std::string>;

TEST_F(HostPanelsTest, SessionRowsCountsLinksAndDetailsFollowTheEngine) {
  Start();
  EXPECT_EQ(view.Links, Strings{"Stop Server"});
  panels->UpdateUpTime();
  EXPECT_EQ(formView.Status[1].rfind("Up Time: ", 0), 0u);

  test::WireClient client;
  client.Open(Port());
  const test::WireConnectReply reply = client.ConnectSession();
  ASSERT_EQ(reply.Code, 0) << reply.Message;
  const int32_t id = reply.SessionID;
  ASSERT_TRUE(WaitFor([&] { return Row(id) != nullptr && formView.Status[3] == "Connected: 1"; }));
  TServerSession* session = Row(id);
  EXPECT_EQ(view.Rows[session].Caption, "None:" + std::to_string(id));
  EXPECT_EQ(view.Rows[session].Address, "127.0.0.1");
  EXPECT_EQ(view.Rows[session].Image, 0);
  EXPECT_EQ(formView.Status[2], "Sessions: 1");

  ASSERT_EQ(client.Login("Administrator", kStoredPassword), 0);
  ASSERT_TRUE(WaitFor([&] { return view.Rows[session].Caption != "None:" + std::to_string(id); }));
  EXPECT_EQ(view.Rows[session].Caption, "Administrator:" + std::to_string(id));

  view.Selected = session;
  panels->SessionsListViewClick();
  EXPECT_EQ(view.Links, (Strings{"Stop Server", "-", "Disconnect Session", "Remove Session"}));
  ASSERT_TRUE(view.SessionDetailsShown);
  EXPECT_EQ(view.SessionDetails.Title, "Administrator:" + std::to_string(id));
  EXPECT_EQ(view.SessionDetails.Description, "wire client");
  ASSERT_EQ(view.SessionDetails.Lines.size(), 2u);
  EXPECT_EQ(view.SessionDetails.Lines[0], "IP Address: 127.0.0.1");
  EXPECT_EQ(view.SessionDetails.Lines[1].rfind("Connected: ", 0), 0u);

  // The connection drops: the row stays, marked, and the details follow.
  client.Close();
  ASSERT_TRUE(WaitFor([&] { return formView.Status[3] == "Connected: 0"; }));
  EXPECT_EQ(view.Rows[session].Address, "127.0.0.1 (Disconnected)");
  EXPECT_EQ(formView.Status[2], "Sessions: 1");
  EXPECT_EQ(view.SessionDetails.Lines[0], "Last IP Address: 127.0.0.1");
  EXPECT_EQ(view.SessionDetails.Lines[1].rfind("Last Connected: ", 0), 0u);
  EXPECT_EQ(view.Links, (Strings{"Stop Server", "-", "Remove Session"}));

  // Remove asks first; the row goes when the engine reports the close.
  formView.Answer = false;
  view.Click("Remove Session");
  EXPECT_EQ(formView.Questions.back(),
            "Removing a session can cause errors in the application that is using the session.  "
            "Are you sure you want to continue ?");
  EXPECT_EQ(Row(id), session);
  formView.Answer = true;
  view.Click("Remove Session");
  EXPECT_FALSE(view.SessionDetailsShown);
  ASSERT_TRUE(WaitFor([&] { return view.Rows.empty(); }));
  EXPECT_EQ(formView.Status[2], "Sessions: 0");
  EXPECT_TRUE(panels->Sessions.empty());
  EXPECT_EQ(view.Links, Strings{"Stop Server"});

  form->StopClick();
  EXPECT_EQ(view.Links, (Strings{"Start Server", "-", "Edit Server Options"}));
  panels->UpdateUpTime();
  EXPECT_EQ(formView.Status[1], "Stopped");
}

TEST_F(HostPanelsTest, DisconnectSessionDropsTheConnection) {
  Start();
  test::WireClient client;
  client.Open(Port());
  const int32_t id = client.ConnectSession().SessionID;
  ASSERT_EQ(client.Login("Administrator", kStoredPassword), 0);
  ASSERT_TRUE(WaitFor([&] { return Row(id) != nullptr && formView.Status[3] == "Connected: 1"; }));
  view.Selected = Row(id);
  panels->SessionsListViewChange();
  view.Click("Disconnect Session");
  EXPECT_EQ(formView.Questions.back(),
            "Disconnecting an active session can cause errors in the application that is using "
            "the session.  Are you sure you want to continue ?");
  ASSERT_TRUE(WaitFor([&] { return Address(id) == "127.0.0.1 (Disconnected)"; }));
  EXPECT_EQ(formView.Status[3], "Connected: 0");
}

// Sixteen clients connect, log in and drop at once.
TEST_F(HostPanelsTest, ManyClientsAtOnceLeaveEveryRowRight) {
  Start();
  const uint16_t port = Port();
  constexpr int kClients = 16;
  std::vector<int32_t> ids(kClients, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      test::WireClient client;
      client.Open(port);
      ids[i] = client.ConnectSession().SessionID;
      if (client.Login("Administrator", kStoredPassword) != 0) ids[i] = -1;
      client.Close();
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(WaitFor([&] {
    return formView.Status[2] == "Sessions: 16" && formView.Status[3] == "Connected: 0" &&
           std::all_of(ids.begin(), ids.end(),
                       [&](int32_t id) { return Address(id) == "127.0.0.1 (Disconnected)"; });
  })) << formView.Status[2]
      << " " << formView.Status[3];
  EXPECT_EQ(view.Rows.size(), 16u);
  for (int32_t id : ids) {
    ASSERT_GT(id, 0);
    EXPECT_EQ(view.Rows[Row(id)].Caption, "Administrator:" + std::to_string(id));
  }
  EXPECT_EQ(panels->SessionCount, 16);
  EXPECT_EQ(panels->ConnectedCount, 0);

  form->StopClick();
  EXPECT_TRUE(WaitFor([&] { return view.Rows.empty(); }));
  EXPECT_EQ(formView.Status[2], "Sessions: 0");
}

TEST_F(HostPanelsTest, WithoutUserInterfaceThereIsNoTrayAndNoList) {
  brn::testing::WriteWholeFile(
      "brindle-server.ini",
      "[Server]\nServer Address=127.0.0.1\nServer Port=0\nNo User Interface=1\n");
  Start();
  ASSERT_TRUE(form->NoUserInterface);
  test::WireClient client;
  client.Open(Port());
  ASSERT_EQ(client.ConnectSession().Code, 0);
  client.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  form->EventQueue()->ProcessEvents();
  EXPECT_TRUE(view.Rows.empty());
  EXPECT_TRUE(panels->Sessions.empty());
  EXPECT_TRUE(view.TrayCalls.empty());
  EXPECT_FALSE(view.IconTimer);
}

TEST_F(HostPanelsTest, TrayIconIsAddedOnceAndItsTipCut) {
  // Default settings: every address, port 12010.
  TBRNEngine& engine = form->ServerEngine();
  EXPECT_EQ(engine.GetServerAddress(), "");
  form->TrayTip = form->GetRunningText();
  // A platform without a tray (the offscreen one) refuses: nothing fails.
  panels->UpdateTrayIcon();
  EXPECT_FALSE(panels->TrayIconAdded);
  view.TrayAvailable = true;
  panels->UpdateTrayIcon();
  EXPECT_TRUE(panels->TrayIconAdded);
  panels->UpdateTrayIcon();
  EXPECT_EQ(view.TrayCalls, (Strings{"add 0 Running on all addresses and port 12010",
                                     "add 0 Running on all addresses and port 12010",
                                     "modify 0 Running on all addresses and port 12010"}));
  // An icon that disappeared is added again by the next update.
  view.TrayAvailable = false;
  panels->UpdateTrayIcon();
  EXPECT_EQ(view.TrayCalls.back().rfind("add", 0), 0u);
  view.TrayCalls.clear();
  form->TrayTip = std::string(200, 't');
  panels->UpdateTrayIcon();
  EXPECT_EQ(view.TrayCalls.front(), "modify 0 " + std::string(127, 't'));
  view.TrayAvailable = true;
  panels->RemoveTrayIcon();
  EXPECT_FALSE(panels->TrayIconAdded);
}

TEST_F(HostPanelsTest, ServerDetailsListTheSettings) {
  form->LoadSettings("Server");
  TBRNEngine& engine = form->ServerEngine();
  engine.SetConfigPath(temp.Path);
  engine.SetTempTablesPath(temp.Path + "/tmp");
  panels->UpdateServerDetails();
  EXPECT_EQ(view.ServerDetails.Title, engine.GetServerName());
  EXPECT_EQ(view.ServerDetails.Description, engine.GetServerDescription());
  EXPECT_EQ(view.ServerDetails.Lines,
            (Strings{"Mode: Application", "IP Address: 127.0.0.1", "Port: 0", "",
                     "Version: " + engine.GetEngineVersion(), "", "Config Folder: " + temp.Path, "",
                     "Large File Support: No",
                     "Max Log File Size: " + std::to_string(engine.GetMaxLogFileSize()), "",
                     "Standard NULL Behavior: Yes", "Temp Tables Folder: " + temp.Path + "/tmp"}));
  HostNamedInstance = true;
  form->IsService = true;
  engine.SetServerAddress("");
  engine.SetConfigMemory(true);
  panels->UpdateServerDetails();
  EXPECT_EQ(view.ServerDetails.Title, engine.GetServerName() + " (Named)");
  EXPECT_EQ(view.ServerDetails.Lines[0], "Mode: Service");
  EXPECT_EQ(view.ServerDetails.Lines[1], "IP Address: All Addresses");
  EXPECT_EQ(view.ServerDetails.Lines[6], "Config In-Memory: Yes");
  HostNamedInstance = false;
}

// The options task: Cancel closes whatever the fields hold; OK saves the
// settings file and leaves the server stopped.
TEST_F(HostPanelsTest, OptionsDialogSavesOnOkOnly) {
  form->FormCreate();
  form->LoadSettings("Server");
  form->ServerEngine().SetConfigPath(temp.Path);
  form->ServerEngine().SetTempTablesPath(temp.Path);
  panels->UpdateTaskLinks();
  const std::string settings = form->GetSettingsFileName();
  std::string caption;
  view.OnShowDialog = [&](brn::testing::FakeServerDialogView& dialog) {
    caption = dialog.Caption;
    dialog.Type(TBRNDialogField::PortEdit, "12a");
    EXPECT_FALSE(dialog.PressOk());
    return false;
  };
  view.Click("Edit Server Options");
  EXPECT_EQ(caption, "Edit Server Options");
  EXPECT_EQ(form->ServerEngine().GetServerPort(), 0);
  EXPECT_EQ(TBRNIniFile(settings).ReadString("Server", "Server Port", ""), "0");

  view.OnShowDialog = [&](brn::testing::FakeServerDialogView& dialog) {
    dialog.Type(TBRNDialogField::PortEdit, "12345");
    return dialog.PressOk();
  };
  view.Click("Edit Server Options");
  EXPECT_TRUE(formView.Errors.empty()) << formView.Errors.front();
  EXPECT_EQ(form->ServerEngine().GetServerPort(), 12345);
  EXPECT_EQ(TBRNIniFile(settings).ReadString("Server", "Server Port", ""), "12345");
  EXPECT_FALSE(form->ServerEngine().GetActive());
  EXPECT_EQ(view.ServerDetails.Lines[2], "Port: 12345");
}

}  // namespace
}  // namespace brn
