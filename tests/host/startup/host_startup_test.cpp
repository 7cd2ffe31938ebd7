#include "host/startup/host_startup.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_test_support.h"
#include "platform/event_log.h"
#include "platform/ini_file.h"
#include "platform/service_manager.h"

namespace brn {
namespace {

using Args = std::vector<std::string>;

TEST(HostSwitchesTest, NameSwitchAcceptsEachSwitchCharacterAndTheFirstCounts) {
  struct Case {
    Args args;
    std::string name;
  } cases[] = {
      {{"-NAME=Alpha"}, "Alpha"},      {{"/name=Alpha"}, "Alpha"},
      {{"\\Name=Alpha"}, "Alpha"},     {{"/name"}, ""},
      {{"/names=Alpha"}, ""},          {{"name=Alpha"}, ""},
      {{"", "-name=Alpha"}, "Alpha"},  {{"/name=First", "-name=Second"}, "First"},
      {{"/name=", "/name=Later"}, ""}, {{"-desc=x", "-name=a=b c"}, "a=b c"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetNameSwitch(c.args), c.name) << ::testing::PrintToString(c.args);
  }
  EXPECT_EQ(GetDescSwitch({"-name=B", "/DESC=Second one"}), "Second one");
}

TEST(HostSwitchesTest, ModeSwitchesMustBeTheWholeArgument) {
  struct Case {
    Args args;
    bool install;
    bool interactive;
  } cases[] = {
      {{}, false, true},
      {{"/INSTALL"}, true, true},
      {{"-uninstall"}, true, true},
      {{"\\Install", "/nointeract"}, true, false},
      {{"/INSTALLX"}, false, true},
      {{"/install=1"}, false, true},
      {{"INSTALL"}, false, true},
      {{"-NOINTERACTIVE"}, false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsInstallSwitchGiven(c.args), c.install) << ::testing::PrintToString(c.args);
    EXPECT_EQ(IsInteractiveService(c.args), c.interactive) << ::testing::PrintToString(c.args);
  }
}

TEST(HostNamesTest, ProgramSettingsLockAndServiceNames) {
  EXPECT_EQ(ProgramBaseName("/opt/Srv/Host.EXE"), "Host");
  EXPECT_EQ(ProgramBaseName("/opt/srv/brindle-server"), "brindle-server");
  EXPECT_EQ(ProgramBaseName("/opt/srv/host.exe.old"), "host.exe.old");
  EXPECT_EQ(GetIniFileName("/opt/srv/brindle-server"), "brindle-server.ini");
  EXPECT_EQ(GetIniFileName("/opt/srv/Host.exe"), "Host.ini");

  // The path is lowered, the instance name is not: B and b are two
  // instances of one program file.
  EXPECT_EQ(InstanceLockName("/opt/Srv/Host", false, "Host"), "_opt_srv_host");
  EXPECT_EQ(InstanceLockName("/opt/Srv/Host", true, "B"), "_opt_srv_hostB");
  EXPECT_NE(InstanceLockName("/opt/Srv/Host", true, "b"),
            InstanceLockName("/opt/Srv/Host", true, "B"));
  EXPECT_EQ(InstanceLockName("/opt/srv/host", true, "x/y"), "_opt_srv_hostx_y");
  std::string deep = "/" + std::string(300, 'd') + "/host";
  std::string hashed = InstanceLockName(deep, true, "B");
  EXPECT_EQ(hashed.size(), 32u);
  EXPECT_EQ(hashed.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(InstanceLockName(deep, true, "B"), hashed);
  EXPECT_NE(InstanceLockName(deep, true, "b"), hashed);

  EXPECT_EQ(ServiceIdentifier("Brindle Server"), "Brindle_Server");
  EXPECT_EQ(ServiceIdentifier("B"), "B");
  EXPECT_EQ(ServiceIdentifier("9/x"), "__x");
}

TEST(ServiceUnitTest, ProgramPathIsQuotedSoBlanksCannotStartAnotherProgram) {
  TBRNServiceDefinition service;
  service.Name = "B";
  service.DisplayName = "Second";
  service.WorkingDirectory = "/opt/my server";
  service.Program = "/opt/my server/brindle %d \"x\"";
  service.Arguments = {"-name=\"B\""};
  EXPECT_EQ(ServiceUnitText(service),
            "[Unit]\n"
            "Description=Second\n"
            "\n"
            "[Service]\n"
            "Type=notify\n"
            "WorkingDirectory=/opt/my server\n"
            "ExecStart=\"/opt/my server/brindle %%d \\\"x\\\"\" -name=\"B\"\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
}

// Records the run HostMain hands over to.
class RecordingRunner : public TBRNHostRunner {
 public:
  int Run(const TBRNHostRunOptions& options) override {
    runs.push_back(options);
    if (options.IsService) notified = NotifyServiceReady();
    return 7;
  }
  std::vector<TBRNHostRunOptions> runs;
  bool notified = false;
};

class HostMainTest : public testing::HostSandbox {
 protected:
  void SetUp() override {
    HostSandbox::SetUp();
    program = temp.Path + "/my server/brindle-server";
    errors.clear();
    HostShowError = [this](const std::string& text) { errors.push_back(text); };
  }
  void TearDown() override {
    HostShowError = nullptr;
    HostInstanceMutex.Release();
    HostSandbox::TearDown();
  }

  int Main(const Args& args) {
    HostInstanceMutex.Release();
    return HostMain(args, program, runner);
  }

  std::string program;
  RecordingRunner runner;
  std::vector<std::string> errors;
};

TEST_F(HostMainTest, InstallWritesTheUnitAndTheDescriptionAndStartsNothing) {
  RequireSandbox(temp.Path);
  if (HasFatalFailure()) return;
  std::string unit = temp.Path + "/root/etc/systemd/system/brindle-B.service";

  EXPECT_EQ(Main({"-INSTALL", "-name=B", "-desc=Second"}), 0);
  EXPECT_TRUE(runner.runs.empty());
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(testing::ReadWholeFile(unit),
            "[Unit]\nDescription=Second\n\n[Service]\nType=notify\nWorkingDirectory=" + temp.Path +
                "/my server\nExecStart=\"" + program +
                "\" -name=\"B\"\n\n[Install]\nWantedBy=multi-user.target\n");
  TBRNIniFile ini("brindle-server.ini");
  EXPECT_EQ(ini.ReadString("Server_B", "Server Description", ""), "Second");
  EXPECT_FALSE(ini.SectionExists("Server"));

  EXPECT_EQ(Main({"/uninstall", "/name=B"}), 0);
  EXPECT_TRUE(runner.runs.empty());
  EXPECT_FALSE(std::filesystem::exists(unit));

  // A second uninstall has nothing to remove: the error is shown.
  EXPECT_EQ(Main({"/uninstall", "/name=B"}), 1);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].find("Error running the "), 0u);
  EXPECT_NE(errors[0].find(" as a service:\r\n\r\n"), std::string::npos);
}

TEST_F(HostMainTest, UnnamedInstallUsesTheIdentifierFormOfTheProgramName) {
  RequireSandbox(temp.Path);
  if (HasFatalFailure()) return;
  program = temp.Path + "/my server/Brindle Server.exe";
  EXPECT_EQ(Main({"/install"}), 0);
  std::string unit =
      testing::ReadWholeFile(temp.Path + "/root/etc/systemd/system/brindle-Brindle_Server.service");
  EXPECT_NE(unit.find("Description=VORN Database Server\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=\"" + program + "\"\n"), std::string::npos);
}

TEST_F(HostMainTest, IdentityComesFromTheSettingsThenTheNameSwitch) {
  testing::WriteWholeFile("brindle-server.ini",
                          "[server]\nSERVER NAME=Custom\nServer Description=One<#CR#><#LF#>Two\n");
  EXPECT_EQ(Main({}), 7);
  EXPECT_EQ(HostServerName, "Custom");
  EXPECT_EQ(HostServerDescription, "One\r\nTwo");
  EXPECT_FALSE(HostNamedInstance);

  EXPECT_EQ(Main({"-name=B"}), 7);
  EXPECT_EQ(HostServerName, "B");
  EXPECT_EQ(HostInstanceName, "B");
  EXPECT_TRUE(HostNamedInstance);
}

TEST_F(HostMainTest, UnreadableSettingsAreReportedAndStartUpGoesOn) {
  std::filesystem::create_directory("brindle-server.ini");
  EXPECT_EQ(Main({}), 7);
  EXPECT_EQ(HostServerName, "brindle-server");
  EXPECT_EQ(HostServerDescription, "VORN Database Server");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].find("Error reading the "), 0u);
  EXPECT_NE(errors[0].find(" configuration information:\r\n\r\n"), std::string::npos);
}

TEST_F(HostMainTest, HeadlessIsDecidedFromTheInstanceSectionAndTheDisplay) {
  struct Case {
    const char* display;
    const char* settings;
    Args args;
    bool headless;
  } cases[] = {
      {":0", "", {}, false},
      {"", "", {}, true},
      {":0", "[Server]\nNo User Interface=1\n", {}, true},
      {":0", "[Server]\nNo User Interface=0\n", {}, false},
      {":0", "[Server]\nNo User Interface=yes\n", {}, false},
      {":0", "[Server]\nNo User Interface=1\n", {"-name=B"}, false},
      {":0", "[Server_B]\nNo User Interface=1\n", {"-name=B"}, true},
  };
  for (const Case& c : cases) {
    Save("DISPLAY", c.display);
    testing::WriteWholeFile("brindle-server.ini", c.settings);
    runner.runs.clear();
    EXPECT_EQ(Main(c.args), 7);
    ASSERT_EQ(runner.runs.size(), 1u);
    EXPECT_FALSE(runner.runs[0].IsService);
    EXPECT_EQ(runner.runs[0].NoUserInterface, c.headless) << c.display << " " << c.settings;
  }
}

TEST_F(HostMainTest, ServiceStartRunsHeadlessWithTheUnitsDescriptionAndNotifies) {
  RequireSandbox(temp.Path);
  if (HasFatalFailure()) return;
  ASSERT_EQ(Main({"-INSTALL", "-name=B", "-desc=Second"}), 0);

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
  testing::WriteWholeFile("brindle-server.ini", "[Server]\nServer Description=Other\n");

  EXPECT_EQ(Main({"-name=B"}), 7);
  ASSERT_EQ(runner.runs.size(), 1u);
  EXPECT_TRUE(runner.runs[0].IsService);
  EXPECT_TRUE(runner.runs[0].NoUserInterface);
  EXPECT_FALSE(HostInteractive);
  EXPECT_EQ(HostServerDescription, "Second");
  EXPECT_TRUE(runner.notified);
  char buffer[64] = {};
  ssize_t got = ::recv(fd, buffer, sizeof buffer - 1, MSG_DONTWAIT);
  ::close(fd);
  EXPECT_EQ(std::string(buffer, got > 0 ? size_t(got) : 0), "READY=1");
}

TEST(EventLogTest, SinkReceivesTheSourceTypeAndText) {
  struct Logged {
    std::string source;
    TBRNEventLogType type;
    std::string text;
  };
  std::vector<Logged> logged;
  TBRNEventLogSink old = SetEventLogSink(
      [&](const std::string& source, TBRNEventLogType type, const std::string& text) {
        logged.push_back({source, type, text});
      });
  TBRNEventLogger("B").LogMessage("Server B is stopped.", TBRNEventLogType::Information);
  TBRNEventLogger("B").LogMessage("failed", TBRNEventLogType::Error);
  SetEventLogSink(old);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].source, "B");
  EXPECT_EQ(logged[0].type, TBRNEventLogType::Information);
  EXPECT_EQ(logged[0].text, "Server B is stopped.");
  EXPECT_EQ(logged[1].type, TBRNEventLogType::Error);
}

}  // namespace
}  // namespace brn
