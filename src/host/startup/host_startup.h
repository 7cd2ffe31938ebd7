#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/instance_lock.h"

namespace brn {

// Process-wide start-up values: set by HostMain on the main thread before
// the server runs, read afterwards (from the main thread only).
inline std::string HostServerName;
inline std::string HostServerDescription;
inline std::string HostInstanceName;
inline bool HostNamedInstance = false;
inline bool HostInteractive = true;
inline std::string HostMutexName;
inline TBRNInstanceLock HostInstanceMutex;

inline constexpr std::string_view DefaultServerDescription = "VORN Database Server";

// Shows a start-up error to the user. The default writes the text to
// standard error; a window program or a test may replace it.
inline std::function<void(const std::string&)> HostShowError;

// Switches: an argument whose first character is "-", "/" or "\"; names
// compared without regard to case.
bool GetSwitchValue(std::string_view arg, std::string_view name, std::string& value);
std::string GetNameSwitch(const std::vector<std::string>& args);
std::string GetDescSwitch(const std::vector<std::string>& args);
// True when an argument is exactly a switch character and the name.
bool IsSwitchGiven(const std::vector<std::string>& args, std::string_view name);
bool IsInstallSwitchGiven(const std::vector<std::string>& args);
bool IsInteractiveService(const std::vector<std::string>& args);

// The program's file name without its folder, ".exe" removed (any case).
std::string ProgramBaseName(std::string_view programPath);
// The program's file name without its folder, its extension replaced by
// ".ini" (added when it has none): looked up in the current folder.
std::string GetIniFileName(std::string_view programPath);
// The program's own path with every link resolved (/proc/self/exe).
std::string ResolvedProgramPath();
// The description of the program file for error texts.
std::string HostFileDescription();

// Reads "Server Name" and "Server Description" of section "Server" into
// HostServerName and HostServerDescription; a file that cannot be read is
// reported through HostShowError and the values held so far are kept.
void ReadServerIdentity(const std::string& iniFileName);
// When a "desc" switch gives a value: it becomes HostServerDescription and
// is written as "Server Description" into the instance's section, and the
// file is saved; a failure is reported and start-up goes on.
void WriteInstanceDescription(const std::vector<std::string>& args, const std::string& iniFileName);
// "Server" for the default instance, "Server_" + HostServerName for a named
// one.
std::string InstanceSectionName();
// "No User Interface" of the instance's section, read before any window is
// made; false when the file cannot be read.
bool ReadNoUserInterface(const std::string& iniFileName);

// The instance lock's file name: the program path with "/" replaced by "_",
// lower-cased, then for a named instance the server name unchanged. A name
// longer than a file name may be becomes its MD5 in lower-case hex.
std::string InstanceLockName(std::string_view programPath, bool namedInstance,
                             std::string_view serverName);
// The service name: MakeIdentifier, then every blank replaced by "_".
std::string ServiceIdentifier(std::string_view serverName);

// How the server is to run, decided before any window toolkit is touched.
struct TBRNHostRunOptions {
  bool IsService = false;        // started by the service manager
  bool NoUserInterface = false;  // headless: service, the setting or no display
};

// The server proper (the main form's work), handed over to by HostMain.
class TBRNHostRunner {
 public:
  virtual ~TBRNHostRunner() = default;
  // Runs on the main thread until the server ends; returns the exit code.
  virtual int Run(const TBRNHostRunOptions& options) = 0;
};

// The main block: identity, the instance lock, the switches, then install,
// uninstall or a run through runner. A second start of the same instance
// ends at once with 0 and no output. Returns the process's exit code.
int HostMain(const std::vector<std::string>& args, const std::string& programPath,
             TBRNHostRunner& runner);

}  // namespace brn
