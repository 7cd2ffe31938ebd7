#include "host/startup/host_startup.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "foundation/core/digest.h"
#include "foundation/files/version_info.h"
#include "foundation/text/collation.h"
#include "foundation/text/identifiers.h"
#include "platform/ini_file.h"
#include "platform/service_manager.h"

namespace brn {

namespace {

constexpr std::string_view CRLF2 = "\r\n\r\n";

bool IsSwitchChar(char c) {
  return c == '-' || c == '/' || c == '\\';
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && LowerCaseBinary(a) == LowerCaseBinary(b);
}

std::string FirstSwitchValue(const std::vector<std::string>& args, std::string_view name) {
  std::string value;
  for (const std::string& arg : args)
    if (GetSwitchValue(arg, name, value)) return value;
  return {};
}

void ShowError(const std::string& text) {
  if (HostShowError) {
    HostShowError(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

std::string FileNameOf(std::string_view path) {
  size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// A desktop to show a window on.
bool DisplayAvailable() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

bool GetSwitchValue(std::string_view arg, std::string_view name, std::string& value) {
  if (arg.empty() || !IsSwitchChar(arg.front())) return false;
  if (arg.size() < 1 + name.size() + 1) return false;
  if (!SameText(arg.substr(1, name.size()), name) || arg[1 + name.size()] != '=') return false;
  value = std::string(arg.substr(2 + name.size()));
  return true;
}

std::string GetNameSwitch(const std::vector<std::string>& args) {
  return FirstSwitchValue(args, "name");
}

std::string GetDescSwitch(const std::vector<std::string>& args) {
  return FirstSwitchValue(args, "desc");
}

bool IsSwitchGiven(const std::vector<std::string>& args, std::string_view name) {
  for (const std::string& arg : args)
    if (arg.size() == name.size() + 1 && IsSwitchChar(arg.front()) &&
        SameText(std::string_view(arg).substr(1), name))
      return true;
  return false;
}

bool IsInstallSwitchGiven(const std::vector<std::string>& args) {
  return IsSwitchGiven(args, "INSTALL") || IsSwitchGiven(args, "UNINSTALL");
}

bool IsInteractiveService(const std::vector<std::string>& args) {
  return !IsSwitchGiven(args, "NOINTERACT");
}

std::string ProgramBaseName(std::string_view programPath) {
  std::string name = FileNameOf(programPath);
  if (name.size() > 4 && SameText(std::string_view(name).substr(name.size() - 4), ".exe"))
    name.resize(name.size() - 4);
  return name;
}

std::string GetIniFileName(std::string_view programPath) {
  std::string name = FileNameOf(programPath);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name + ".ini";
}

std::string ResolvedProgramPath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

std::string HostFileDescription() {
  std::string path = ResolvedProgramPath();
  std::string description = path.empty() ? std::string() : TBRNVersionInfo(path).FileDescription;
  return description.empty() ? std::string(DefaultServerDescription) : description;
}

void ReadServerIdentity(const std::string& iniFileName) {
  try {
    TBRNIniFile ini(iniFileName);
    HostServerName = ini.ReadString("Server", "Server Name", HostServerName);
    HostServerDescription = ini.ReadText("Server", "Server Description", HostServerDescription);
  } catch (const std::exception& error) {
    ShowError("Error reading the " + HostFileDescription() +
              " configuration information:" + std::string(CRLF2) + error.what());
  }
}

std::string InstanceSectionName() {
  return HostNamedInstance ? "Server_" + HostServerName : std::string("Server");
}

void WriteInstanceDescription(const std::vector<std::string>& args,
                              const std::string& iniFileName) {
  std::string description = GetDescSwitch(args);
  if (description.empty()) return;
  HostServerDescription = description;
  try {
    TBRNIniFile ini(iniFileName);
    ini.WriteText("Server_" + HostServerName, "Server Description", HostServerDescription);
    ini.UpdateFile();
  } catch (const std::exception& error) {
    ShowError("Error writing the " + HostFileDescription() +
              " configuration information:" + std::string(CRLF2) + error.what());
  }
}

bool ReadNoUserInterface(const std::string& iniFileName) {
  try {
    return TBRNIniFile(iniFileName).ReadBool(InstanceSectionName(), "No User Interface", false);
  } catch (const std::exception&) {
    return false;
  }
}

std::string InstanceLockName(std::string_view programPath, bool namedInstance,
                             std::string_view serverName) {
  std::string name(programPath);
  for (char& c : name)
    if (c == '/') c = '_';
  name = LowerCaseBinary(name);
  if (namedInstance) name += serverName;
  // A "/" in the instance name would reach into another folder.
  for (char& c : name)
    if (c == '/') c = '_';
  if (name.size() <= NAME_MAX) return name;
  TBRNDigest digest;
  digest.DigestString(name);
  static constexpr char Hex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest.Digest) {
    hex += Hex[byte >> 4];
    hex += Hex[byte & 15];
  }
  return hex;
}

std::string ServiceIdentifier(std::string_view serverName) {
  std::string name = MakeIdentifier(serverName);
  for (char& c : name)
    if (c == ' ') c = '_';
  return name;
}

int HostMain(const std::vector<std::string>& args, const std::string& programPath,
             TBRNHostRunner& runner) {
  std::string iniFileName = GetIniFileName(programPath);
  HostServerName = ProgramBaseName(programPath);
  HostServerDescription = DefaultServerDescription;
  ReadServerIdentity(iniFileName);

  HostInstanceName = GetNameSwitch(args);
  HostNamedInstance = !HostInstanceName.empty();
  if (HostNamedInstance) HostServerName = HostInstanceName;

  // The lock comes before the switches are looked at: an install given to a
  // running instance ends silently, too.
  HostMutexName = InstanceLockName(programPath, HostNamedInstance, HostServerName);
  try {
    if (!HostInstanceMutex.Acquire(HostMutexName)) return 0;
  } catch (const std::exception&) {
    return 1;
  }

  HostInteractive = IsInteractiveService(args);
  bool install = IsInstallSwitchGiven(args);
  bool starting = !install && IsStartedAsService();

  if (install || starting) {
    try {
      if (install) {
        if (HostNamedInstance) WriteInstanceDescription(args, iniFileName);
        std::string service = ServiceIdentifier(HostServerName);
        if (IsSwitchGiven(args, "INSTALL")) {
          TBRNServiceDefinition definition;
          definition.Name = service;
          definition.DisplayName = HostServerDescription;
          definition.Program = programPath;
          definition.WorkingDirectory = std::filesystem::path(programPath).parent_path().string();
          if (HostNamedInstance)
            definition.Arguments.push_back("-name=" + QuoteServiceWord(HostServerName));
          InstallService(definition);
        } else {
          UninstallService(service);
        }
        return 0;
      }
      // A service has no desktop: it always runs without user interface,
      // and its description is the unit's.
      HostInteractive = false;
      if (auto displayName = ServiceDisplayName(ServiceIdentifier(HostServerName)))
        if (!displayName->empty()) HostServerDescription = *displayName;
      TBRNHostRunOptions options;
      options.IsService = true;
      options.NoUserInterface = true;
      return runner.Run(options);
    } catch (const std::exception& error) {
      ShowError("Error running the " + HostFileDescription() +
                " as a service:" + std::string(CRLF2) + error.what());
      return 1;
    }
  }

  if (HostNamedInstance) WriteInstanceDescription(args, iniFileName);
  TBRNHostRunOptions options;
  options.NoUserInterface = ReadNoUserInterface(iniFileName) || !DisplayAvailable();
  return runner.Run(options);
}

}  // namespace brn
