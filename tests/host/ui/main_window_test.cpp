#include "host/ui/main_window.h"

#include <QLabel>
#include <QSplitter>

#include <thread>

#include <gtest/gtest.h>

#include "host/host_test_support.h"
#include "host/ui/ui_test_support.h"
#include "platform/ini_file.h"

namespace brn {
namespace {

class MainWindowTest : public testing::HostSandbox {
 protected:
  void SetUp() override {
    HostSandbox::SetUp();
    RequireSandbox(temp.Path);
    testing::TestApplication();
    HostServerName = "brindle-server";
    HostNamedInstance = false;
  }
};

TEST_F(MainWindowTest, WindowHasTheFormsPartsAndKeepsItsLayout) {
  testing::WriteWholeFile("brindle-server.ini",
                          "[Layout]\nTask Panel Width=260\nWindow State=0\nWindow Top=40\n"
                          "Window Left=30\nWindow Height=500\nWindow Width=800\n");
  TBRNMainWindow window;
  TMainForm form(temp.Path + "/work/brindle-server", &window, nullptr);
  window.SetForm(&form);
  form.FormCreate();
  window.show();
  QApplication::processEvents();

  for (const char* name : {"MainPanel", "TaskPanel", "ServerTaskPanelScrollBox",
                           "ServerTaskHeaderPanel", "ServerTaskPanel", "ServerDetailsHeaderPanel",
                           "ServerDetailsPanel", "SessionDetailsHeaderPanel", "SessionDetailsPanel",
                           "SessionDetailsSpacerLabel", "SessionsListView"})
    EXPECT_NE(window.findChild<QWidget*>(name), nullptr) << name;
  EXPECT_TRUE(window.SessionDetailsPanel().isHidden());
  EXPECT_TRUE(window.SessionDetailsHeaderPanel().isHidden());
  const int widths[4] = {200, 260, 110, 110};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(window.StatusPanel(i).width(), widths[i]);
  EXPECT_EQ(window.ServerTaskHeaderPanel().Title(), "Tasks");
  EXPECT_EQ(window.GetLayout().TaskPanelWidth, 260);
  EXPECT_EQ(window.GetLayout().Width, 800);

  // Fill the pane as the running server does, then look at it.
  TBRNTaskLinksTaskPanel& links = window.ServerTaskPanel();
  ClearTaskLinks(links);
  AddTaskLink(links, "Start Server", 0, nullptr, 0);
  AddTaskLinkSeparator(links);
  AddTaskLink(links, "Edit Server Options", 0, nullptr, 2);
  window.ServerDetailsPanel().BeginUpdate();
  window.ServerDetailsPanel().SetTitle("brindle-server");
  window.ServerDetailsPanel().SetDescription("VORN Database Server");
  window.ServerDetailsPanel().SetInformation(
      {"Mode: Application", "IP Address: All Addresses", "Port: 12010"});
  window.ServerDetailsPanel().EndUpdate();
  window.PlacePanels();
  form.SetStatusText("Stopped");
  EXPECT_EQ(window.StatusPanel(0).text().toStdString(), " Stopped");
  EXPECT_EQ(window.ServerDetailsHeaderPanel().y(),
            window.ServerTaskPanel().geometry().bottom() + 21);
  EXPECT_EQ(window.ServerDetailsPanel().y(), window.ServerDetailsHeaderPanel().geometry().bottom());
  testing::SaveScreenshot(window, "main_window");

  // Collapsing the tasks moves the details up.
  window.ServerTaskHeaderPanel().SetCollapsed(true);
  EXPECT_TRUE(window.ServerTaskPanel().isHidden());
  EXPECT_EQ(window.ServerDetailsHeaderPanel().y(),
            window.ServerTaskHeaderPanel().geometry().bottom() + 21);

  // The close button hides; the layout is kept when the form goes.
  window.close();
  EXPECT_TRUE(window.isHidden());
  form.FormDestroy();
  window.SetForm(nullptr);
  TBRNIniFile ini("brindle-server.ini");
  EXPECT_EQ(ini.ReadInteger("Layout", "Task Panel Width", 0), 260);
  EXPECT_EQ(ini.ReadInteger("Layout", "Window Width", 0), 800);
}

TEST_F(MainWindowTest, QtLoopWakesForQueuedEventsAndQuitEndsIt) {
  TBRNQtMainLoop loop;
  std::vector<int> handled;
  std::thread::id mainThread = std::this_thread::get_id();
  bool onMainThread = true;
  {
    TBRNApplicationEventQueue queue(&loop);
    queue.Handler = [&](TBRNApplicationEvent& event, bool& isHandled) {
      onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
      handled.push_back(int(event.EventType));
      isHandled = true;
      if (handled.size() == 3) loop.PostQuit();
    };
    std::thread poster([&] {
      for (TBRNServerSessionEventType type : {seOpen, seConnect, seLogin})
        queue.Post(std::make_unique<TBRNApplicationEvent>(type, nullptr));
    });
    loop.Run();
    poster.join();
  }
  EXPECT_TRUE(onMainThread);
  EXPECT_EQ(handled, (std::vector<int>{int(seOpen), int(seConnect), int(seLogin)}));
  EXPECT_TRUE(loop.Terminated());
}

}  // namespace
}  // namespace brn
