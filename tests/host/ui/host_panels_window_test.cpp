#include "host/ui/host_panels_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "clientserver/server/wire_client.h"
#include "host/host_test_support.h"
#include "host/security/stored_password.h"
#include "host/startup/host_startup.h"
#include "host/ui/main_window.h"
#include "host/ui/server_dialog_window.h"
#include "host/ui/ui_test_support.h"
#include "platform/registry_file.h"

namespace brn {
namespace {

const std::string kPassword = "Window secret";

class HostPanelsWindowTest : public testing::HostSandbox {
 protected:
  void SetUp() override {
    HostSandbox::SetUp();
    RequireSandbox(temp.Path);
    testing::TestApplication();
    HostServerName = "brindle-server";
    HostServerDescription = std::string(DefaultServerDescription);
    HostNamedInstance = false;
    testing::WriteWholeFile("brindle-server.ini",
                            "[Server]\nServer Address=127.0.0.1\nServer Port=0\n");
    TBRNRegistryFile registry(TBRNRegistryFile::DefaultFileName(false));
    registry.WriteString(kBRNPasswordRegistryKey, kBRNPasswordRegistryValue,
                         EncryptText(kPassword, kBRNHostDefaultPassword, std::string(16, 'w')));
  }

  // Hands queued events and the window's events over until condition holds.
  static bool WaitFor(TMainForm& form, const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      form.EventQueue()->ProcessEvents();
      QApplication::processEvents();
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  static std::vector<std::string> Links(TBRNMainWindow& window) {
    std::vector<std::string> links;
    TBRNTaskLinksTaskPanel& panel = window.ServerTaskPanel();
    for (int i = 0; i < panel.Count(); ++i) links.push_back(panel.Item(i).Caption());
    return links;
  }
};

TEST_F(HostPanelsWindowTest, WindowShowsTheServerAndItsSessions) {
  TBRNMainWindow window;
  window.AnswerConfirm = [](const std::string&) { return true; };
  TMainForm form(temp.Path + "/work/brindle-server", &window, nullptr);
  window.SetForm(&form);
  auto owned = std::make_unique<TBRNQtHostPanels>(form, window);
  TBRNQtHostPanels& panels = *owned;
  form.SetPanels(std::move(owned));
  form.FormCreate();
  form.StartUp(false);
  ASSERT_TRUE(form.ServerEngine().GetActive());
  window.show();
  QApplication::processEvents();

  QTreeWidget& list = panels.View().SessionsListView();
  EXPECT_EQ(window.SessionsListView(), &list);
  EXPECT_EQ(list.columnCount(), 4);
  EXPECT_EQ(list.columnWidth(0), 160);
  // The offscreen platform has no tray: nothing is added and nothing fails.
  EXPECT_FALSE(panels.TrayIconAdded);
  EXPECT_EQ(Links(window), std::vector<std::string>{"Stop Server"});
  EXPECT_EQ(window.StatusPanel(1).text().left(9), "Up Time: ");
  testing::SaveScreenshot(window, "panels_running");

  test::WireClient client;
  client.Open(form.ServerEngine().GetInstance().GetServerEngineManager()->GetListeningPort());
  const int32_t id = client.ConnectSession().SessionID;
  ASSERT_EQ(client.Login("Administrator", kPassword), 0);
  const QString caption = QString("Administrator:%1").arg(id);
  ASSERT_TRUE(WaitFor(form, [&] {
    return list.topLevelItemCount() == 1 && list.topLevelItem(0)->text(0) == caption;
  }));
  EXPECT_EQ(list.topLevelItem(0)->text(1), "127.0.0.1");
  EXPECT_EQ(window.StatusPanel(2).text(), "Sessions: 1");
  EXPECT_EQ(window.StatusPanel(3).text(), "Connected: 1");
  list.setCurrentItem(list.topLevelItem(0));
  QApplication::processEvents();
  EXPECT_FALSE(window.SessionDetailsPanel().isHidden());
  EXPECT_EQ(window.SessionDetailsPanel().Title(), caption.toStdString());
  EXPECT_EQ(Links(window),
            (std::vector<std::string>{"Stop Server", "-", "Disconnect Session", "Remove Session"}));
  testing::SaveScreenshot(window, "panels_with_sessions");

  client.Close();
  ASSERT_TRUE(WaitFor(form, [&] { return window.StatusPanel(3).text() == "Connected: 0"; }));
  EXPECT_EQ(list.topLevelItem(0)->text(1), "127.0.0.1 (Disconnected)");
  EXPECT_EQ(window.SessionDetailsPanel().Information().at(0), "Last IP Address: 127.0.0.1");

  form.StopClick();
  ASSERT_TRUE(WaitFor(form, [&] { return list.topLevelItemCount() == 0; }));
  EXPECT_EQ(Links(window), (std::vector<std::string>{"Start Server", "-", "Edit Server Options"}));
  EXPECT_EQ(window.StatusPanel(1).text(), "Stopped");
  EXPECT_TRUE(window.SessionDetailsPanel().isHidden());
  testing::SaveScreenshot(window, "panels_stopped");
  form.FormDestroy();
  window.SetForm(nullptr);
}

TEST_F(HostPanelsWindowTest, DialogShowsSixPagesAndClosesAsItShould) {
  TBRNEngine engine(nullptr);
  engine.SetConfigPath(temp.Path);
  engine.SetTempTablesPath(temp.Path);
  TBRNServerDialogWindow window(nullptr);
  TServerDialog dialog(window);
  window.SetCaption("Edit Server Options");
  dialog.Fill(engine, false, false);
  dialog.FormCreate();
  QTabWidget& pages = window.OptionsPageControl();
  ASSERT_EQ(pages.count(), 6);
  const char* names[6] = {"server",        "connections", "sessions",
                          "configuration", "database",    "customizations"};
  window.show();
  for (int i = 0; i < 6; ++i) {
    pages.setCurrentIndex(i);
    QApplication::processEvents();
    testing::SaveScreenshot(window, std::string("dialog_") + names[i]);
  }
  EXPECT_EQ(window.GetText(TBRNDialogField::PortEdit), "12010");

  // Typing empties the name: OK goes off; one character turns it on.
  auto& name = static_cast<QLineEdit&>(window.Field(TBRNDialogField::NameEdit));
  name.clear();
  EXPECT_FALSE(window.OkButton().isEnabled());
  name.setText("S");
  EXPECT_TRUE(window.OkButton().isEnabled());

  // "In Memory" empties and disables the folder.
  static_cast<QAbstractButton&>(window.Field(TBRNDialogField::InMemoryRadioButton)).click();
  EXPECT_EQ(window.GetText(TBRNDialogField::ConfigPathEdit), "");
  EXPECT_FALSE(window.Field(TBRNDialogField::ConfigPathEdit).isEnabled());

  // Cancel closes with an invalid port; OK with valid fields accepts.
  window.SetText(TBRNDialogField::PortEdit, "12a");
  QTimer::singleShot(0, [&] { window.findChild<QPushButton*>("CancelButton")->click(); });
  EXPECT_FALSE(window.ShowModal());
  window.SetText(TBRNDialogField::PortEdit, "65535");
  QTimer::singleShot(0, [&] { window.OkButton().click(); });
  EXPECT_TRUE(window.ShowModal());
}

}  // namespace
}  // namespace brn
