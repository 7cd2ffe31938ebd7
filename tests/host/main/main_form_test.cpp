#include "host/main/main_form.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "clientserver/server/wire_client.h"
#include "host/host_test_support.h"
#include "host/main/host_program.h"
#include "host/startup/host_startup.h"
#include "platform/event_log.h"
#include "platform/ini_file.h"

namespace brn {
namespace {

// A window that records what the form shows and answers the boxes as told.
class FakeView : public TBRNMainFormView {
 public:
  std::string Caption() const override { return "Brindle Server"; }
  bool Confirm(const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void Beep() override { ++beeps; }
  void SetStatusPanelText(int panel, const std::string& text) override {
    if (panel == 0) status = text;
  }
  void SetCloseItemVisible(bool visible) override { closeItemVisible = visible; }
  void SetTasksEnabled(bool enabled) override { tasksEnabled = enabled; }
  void HideWindow() override { hidden = true; }
  void RestoreWindow() override { hidden = false; }
  void CloseWindow() override { closed = true; }
  TBRNWindowLayout GetLayout() const override { return layout; }
  void SetLayout(const TBRNWindowLayout& value, bool positionToo) override {
    layout.TaskPanelWidth = value.TaskPanelWidth;
    layout.WindowState = value.WindowState;
    if (positionToo) {
      layout.Top = value.Top;
      layout.Left = value.Left;
      layout.Height = value.Height;
      layout.Width = value.Width;
    }
  }

  bool answer = false;
  std::vector<std::string> questions;
  std::vector<std::string> errors;
  int beeps = 0;
  std::string status;
  bool closeItemVisible = true;
  bool tasksEnabled = true;
  bool hidden = false;
  bool closed = false;
  TBRNWindowLayout layout{225, 0, 10, 20, 300, 400};
};

// Collects what the form writes to the event log.
class LogSink {
 public:
  LogSink() {
    SetEventLogSink([this](const std::string& source, TBRNEventLogType, const std::string& text) {
      std::lock_guard guard(lock_);
      lines_.push_back(source + ": " + text);
    });
  }
  ~LogSink() { SetEventLogSink(nullptr); }
  std::vector<std::string> Lines() {
    std::lock_guard guard(lock_);
    return lines_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
};

class MainFormTest : public testing::HostSandbox {
 protected:
  void SetUp() override {
    HostSandbox::SetUp();
    RequireSandbox(temp.Path);
    program = temp.Path + "/work/brindle-server";
    HostServerName = "brindle-server";
    HostServerDescription = std::string(DefaultServerDescription);
    HostNamedInstance = false;
    HostInteractive = true;
  }
  void TearDown() override {
    HostNamedInstance = false;
    HostInstanceMutex.Release();
    HostSandbox::TearDown();
  }

  void Named(const std::string& name) {
    HostServerName = name;
    HostInstanceName = name;
    HostNamedInstance = true;
  }

  std::string program;
  FakeView view;
};

TEST_F(MainFormTest, NoSettingsFileGivesTheDefaultPortAndEveryAddress) {
  TMainForm form(program, &view, nullptr);
  form.LoadSettings(InstanceSectionName());
  TBRNEngine& engine = form.ServerEngine();
  EXPECT_EQ(engine.GetServerPort(), 12010);
  EXPECT_EQ(engine.GetServerAddress(), "");
  EXPECT_EQ(engine.GetServerAuthorizedAddresses().Items(), std::vector<std::string>{"*"});
  EXPECT_EQ(engine.GetConfigPath(), ".");
  EXPECT_EQ(engine.GetServerDeadSessionExpiration(), 60);
  EXPECT_EQ(engine.GetTempTablesPath(), engine.GetDefaultTempTablesPath());
  EXPECT_FALSE(std::filesystem::exists("brindle-server.ini"));
}

TEST_F(MainFormTest, NamedInstanceWritesEveryKeyInOrderInItsOwnSection) {
  Named("B");
  testing::WriteWholeFile("brindle-server.ini",
                          "[Server_B]\nServer Name=Other\nServer Port=12345\n"
                          "Encryption Password=secret\nShow User Passwords=0\n"
                          "No User Interface=1\nCurrent Folder=/srv\n"
                          "Server Description=Line one<#CR#><#LF#>Line two\n");
  TMainForm form(program, &view, nullptr);
  form.LoadSettings(InstanceSectionName());
  TBRNEngine& engine = form.ServerEngine();
  EXPECT_EQ(engine.GetServerPort(), 12345);
  EXPECT_EQ(engine.GetEncryptionPassword(), "secret");
  EXPECT_FALSE(engine.GetShowUserPasswords());
  EXPECT_TRUE(form.NoUserInterface);
  EXPECT_EQ(form.CurrentFolder, "/srv");
  EXPECT_EQ(engine.GetServerDescription(), "Line one\r\nLine two");
  // A named instance's name is its own, never the file's.
  EXPECT_NE(engine.GetServerName(), "Other");

  std::filesystem::remove("brindle-server.ini");
  form.SaveSettings(InstanceSectionName());
  TBRNIniFile ini("brindle-server.ini");
  EXPECT_FALSE(ini.SectionExists("Server"));
  EXPECT_EQ(ini.ReadSection("Server_B"), (std::vector<std::string>{"Configuration In Memory",
                                                                   "Configuration Folder",
                                                                   "Configuration Name",
                                                                   "Large File Support",
                                                                   "Standard NULL Behavior",
                                                                   "Maximum Log File Size",
                                                                   "Log Information Events",
                                                                   "Log Warning Events",
                                                                   "Log Error Events",
                                                                   "Catalog Name",
                                                                   "Configuration File Extension",
                                                                   "Lock Files Extension",
                                                                   "Log File Extension",
                                                                   "Backup Files Extension",
                                                                   "Update Files Extension",
                                                                   "Catalog Files Extension",
                                                                   "Table Files Extension",
                                                                   "Table Index Files Extension",
                                                                   "Table BLOB Files Extension",
                                                                   "Table Publish Files Extension",
                                                                   "Signature",
                                                                   "Temporary Tables Folder",
                                                                   "Server Description",
                                                                   "Server Run Jobs",
                                                                   "Server Job Category",
                                                                   "Server Address",
                                                                   "Server Port",
                                                                   "Server Thread Cache Size",
                                                                   "Server Encrypted Only",
                                                                   "Server Session Timeout",
                                                                   "Server Dead Session Interval",
                                                                   "Server Dead Session Expiration",
                                                                   "Server Maximum Dead Sessions",
                                                                   "Server Authorized Addresses",
                                                                   "Server Blocked Addresses",
                                                                   "Current Folder"}));
  EXPECT_EQ(ini.ReadString("Server_B", "Server Description", ""), "Line one<#CR#><#LF#>Line two");
  EXPECT_EQ(ini.ReadString("Server_B", "Server Authorized Addresses", ""), "*<#CR#><#LF#>");
  EXPECT_EQ(ini.ReadString("Server_B", "Standard NULL Behavior", ""), "1");
  EXPECT_EQ(ini.ReadString("Server_B", "Server Port", ""), "12345");
}

TEST_F(MainFormTest, DefaultInstanceReadsAndWritesServerName) {
  testing::WriteWholeFile("brindle-server.ini", "[Server]\nServer Name=Main\n");
  TMainForm form(program, &view, nullptr);
  form.LoadSettings(InstanceSectionName());
  EXPECT_EQ(form.ServerEngine().GetServerName(), "Main");
  form.SaveSettings(InstanceSectionName());
  EXPECT_EQ(TBRNIniFile("brindle-server.ini").ReadString("Server", "Server Name", ""), "Main");
}

TEST_F(MainFormTest, AddressListsAreLinesEachFollowedByTheToken) {
  struct Case {
    const char* stored;
    std::vector<std::string> lines;
  } cases[] = {
      {"10.0.0.1<#CR#><#LF#>10.0.0.2<#CR#><#LF#>", {"10.0.0.1", "10.0.0.2"}},
      {"10.0.0.1<#CR#><#LF#>10.0.0.2", {"10.0.0.1", "10.0.0.2"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    testing::WriteWholeFile("brindle-server.ini",
                            std::string("[Server]\nServer Authorized Addresses=") + c.stored +
                                "\nServer Blocked Addresses=" + c.stored + "\n");
    TMainForm form(program, &view, nullptr);
    form.LoadSettings("Server");
    EXPECT_EQ(form.ServerEngine().GetServerAuthorizedAddresses().Items(), c.lines) << c.stored;
    EXPECT_EQ(form.ServerEngine().GetServerBlockedAddresses().Items(), c.lines) << c.stored;
    form.SaveSettings("Server");
    std::string written;
    for (const std::string& line : c.lines) written += line + "<#CR#><#LF#>";
    EXPECT_EQ(
        TBRNIniFile("brindle-server.ini").ReadString("Server", "Server Blocked Addresses", "-"),
        written);
  }
}

TEST_F(MainFormTest, MissingTemporaryFolderIsCreatedOneLevelDeep) {
  std::string created = temp.Path + "/tables";
  std::string deeper = temp.Path + "/missing/tables";
  for (const std::string& folder : {created, deeper}) {
    testing::WriteWholeFile("brindle-server.ini",
                            "[Server]\nTemporary Tables Folder=" + folder + "\n");
    TMainForm form(program, &view, nullptr);
    form.LoadSettings("Server");
    EXPECT_EQ(form.ServerEngine().GetTempTablesPath(), folder);
  }
  EXPECT_TRUE(std::filesystem::is_directory(created));
  EXPECT_FALSE(std::filesystem::exists(temp.Path + "/missing"));
}

TEST_F(MainFormTest, MaximizedLayoutIgnoresThePositionKeys) {
  struct Case {
    int state;
    TBRNWindowLayout expected;
  } cases[] = {
      {2, {300, 2, 10, 20, 300, 400}},
      {0, {300, 0, 1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    testing::WriteWholeFile(
        "brindle-server.ini",
        "[Layout]\nTask Panel Width=300\nWindow State=" + std::to_string(c.state) +
            "\nWindow Top=1\nWindow Left=2\nWindow Height=3\nWindow Width=4\n");
    FakeView fresh;
    TMainForm form(program, &fresh, nullptr);
    form.LoadLayout();
    EXPECT_EQ(fresh.layout.WindowState, c.expected.WindowState);
    EXPECT_EQ(fresh.layout.TaskPanelWidth, c.expected.TaskPanelWidth);
    EXPECT_EQ(fresh.layout.Top, c.expected.Top) << c.state;
    EXPECT_EQ(fresh.layout.Left, c.expected.Left) << c.state;
    EXPECT_EQ(fresh.layout.Height, c.expected.Height) << c.state;
    EXPECT_EQ(fresh.layout.Width, c.expected.Width) << c.state;
  }
}

TEST_F(MainFormTest, ClosingHidesAsksOrEndsAsTheCaseMayBe) {
  TMainForm form(program, &view, nullptr);
  // The close button only hides.
  EXPECT_FALSE(form.FormCloseQuery());
  EXPECT_TRUE(view.hidden);
  // "Close" with the server stopped closes without asking.
  form.CloseItemClick();
  EXPECT_TRUE(view.closed);
  EXPECT_TRUE(form.FormCloseQuery());
  EXPECT_FALSE(form.CloseRequested);
  EXPECT_TRUE(view.questions.empty());
  // A log-off ends a desktop program but not a service.
  form.IsService = true;
  form.EndSession(true);
  EXPECT_FALSE(form.EndingSession);
  form.EndSession(false);
  EXPECT_TRUE(form.EndingSession);
  EXPECT_TRUE(form.FormCloseQuery());
  form.FormDestroy();
  TBRNIniFile ini("brindle-server.ini");
  EXPECT_EQ(ini.ReadSection("Layout"),
            (std::vector<std::string>{"Task Panel Width", "Window State", "Window Top",
                                      "Window Left", "Window Height", "Window Width"}));
}

// A server on an ephemeral port of 127.0.0.1, started through the form.
class RunningFormTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    testing::WriteWholeFile("brindle-server.ini",
                            "[Server]\nServer Address=127.0.0.1\nServer Port=0\n");
  }
  static uint16_t Port(TMainForm& form) {
    return form.ServerEngine().GetInstance().GetServerEngineManager()->GetListeningPort();
  }
};

TEST_F(RunningFormTest, StoppingWithAConnectedSessionAsksFirst) {
  LogSink log;
  TMainForm form(program, &view, nullptr);
  form.FormCreate();
  form.StartUp(false);
  ASSERT_TRUE(form.ServerEngine().GetActive());
  EXPECT_EQ(form.TrayTip, "Running on address 127.0.0.1 and port 0");
  {
    test::WireClient client;
    client.OpenAndLogin(Port(form));
    view.answer = false;
    form.StopClick();
    EXPECT_TRUE(form.ServerEngine().GetActive());
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0],
              "There are active sessions currently connected and stopping the Brindle Server will "
              "disconnect and remove these active sessions.  Are you sure you want to stop the "
              "Brindle Server ?");
    EXPECT_TRUE(view.tasksEnabled);

    // Closing from the tray menu asks too, with a beep.
    form.CloseItemClick();
    EXPECT_FALSE(form.FormCloseQuery());
    EXPECT_EQ(view.beeps, 1);
    ASSERT_EQ(view.questions.size(), 2u);
    EXPECT_EQ(view.questions[1].rfind("There are active sessions currently connected and closing "
                                      "the Brindle Server",
                                      0),
              0u);

    view.answer = true;
    form.StopClick();
    EXPECT_FALSE(form.ServerEngine().GetActive());
  }
  EXPECT_EQ(form.TrayTip, "Stopped on address 127.0.0.1 and port 0");
  EXPECT_EQ(view.status, " ");
  // Stopping again with no session asks nothing.
  form.StartClick();
  form.StopClick();
  EXPECT_EQ(view.questions.size(), 3u);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "brindle-server: Server brindle-server is started.",
                             "brindle-server: Server brindle-server is stopped.",
                             "brindle-server: Server brindle-server is started.",
                             "brindle-server: Server brindle-server is stopped.",
                         }));
}

TEST_F(RunningFormTest, FailingStartFromTheTaskShowsTheErrorAndTheStoppedTip) {
  // A port that another socket holds.
  int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  int port = ntohs(address.sin_port);
  testing::WriteWholeFile("brindle-server.ini", "[Server]\nServer Address=127.0.0.1\nServer Port=" +
                                                    std::to_string(port) + "\n");

  TMainForm form(program, &view, nullptr);
  form.FormCreate();
  // The failure at start-up is left to the start events.
  form.StartUp(false);
  EXPECT_FALSE(form.ServerEngine().GetActive());
  EXPECT_TRUE(view.errors.empty());

  EXPECT_ANY_THROW(form.StartClick());
  EXPECT_FALSE(form.ServerEngine().GetActive());
  EXPECT_EQ(view.status, " Error starting server");
  EXPECT_EQ(form.TrayTip, "Stopped on address 127.0.0.1 and port " + std::to_string(port));
  EXPECT_TRUE(view.tasksEnabled);
  ::close(holder);
}

TEST_F(MainFormTest, UnreadableSettingsAreShownAndTheServerStillStarts) {
  std::filesystem::create_directory("brindle-server.ini");
  TMainForm form(program, &view, nullptr);
  // Any port will do: only the report is looked at.
  form.ServerEngine().SetServerAddress("127.0.0.1");
  form.ServerEngine().SetServerPort(0);
  form.FormCreate();
  form.StartUp(false);
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(view.errors[0].find("Error reading the "), 0u);
  EXPECT_NE(view.errors[0].find(" configuration information:\r\n\r\n"), std::string::npos);
  EXPECT_TRUE(form.ServerEngine().GetActive());
}

TEST_F(MainFormTest, ServiceSendsReadyMakesNoWindowAndStopsOnSigterm) {
  testing::WriteWholeFile("brindle-server.ini",
                          "[Server_B]\nServer Address=127.0.0.1\nServer Port=0\n");
  std::string socketPath = temp.Path + "/notify";
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Save("NOTIFY_SOCKET", socketPath);
  Save("DISPLAY", ":0");

  LogSink log;
  TBRNHostProgram program(this->program);
  bool windowMade = false;
  program.MakeDesktop = [&]() -> std::unique_ptr<TBRNHostDesktop> {
    windowMade = true;
    return nullptr;
  };
  // Waits for READY=1, then stops the program as the service manager does.
  std::string received;
  std::thread manager([&] {
    timeval wait{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[64] = {};
    ssize_t got = ::recv(fd, buffer, sizeof buffer - 1, 0);
    if (got > 0) received.assign(buffer, size_t(got));
    ::kill(::getpid(), SIGTERM);
  });
  int code = HostMain({"-name=B"}, this->program, program);
  manager.join();
  ::close(fd);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(received, "READY=1");
  EXPECT_FALSE(windowMade);
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"B: Server B is started.", "B: Server B is stopped."}));
}

}  // namespace
}  // namespace brn
