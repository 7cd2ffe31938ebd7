#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brn {

// The service manager as a server program sees it: systemd units.
//
// A service named N is the unit "brindle-N.service" in etc/systemd/system
// under the root: BRN_SYSTEMD_ROOT when that variable is set, else "/".
// Only with the real root are daemon-reload, enable and disable run through
// systemctl; under another root the unit file is all there is.
//
// Used from the main thread during start-up and install.

std::string SystemdRoot();
bool SystemdRootIsReal();
// <root>/etc/systemd/system/brindle-<name>.service
std::string ServiceUnitPath(const std::string& serviceName);

struct TBRNServiceDefinition {
  std::string Name;         // the identifier form; no "/" and no blanks
  std::string DisplayName;  // the unit's Description
  std::string WorkingDirectory;
  std::string Program;                 // absolute path, quoted in ExecStart
  std::vector<std::string> Arguments;  // written as given after the program
};

// text as one quoted word of the unit's command line, so that blanks,
// quotes, "%" and "$" reach the program as written.
std::string QuoteServiceWord(const std::string& text);

// The unit file's text: a notify service started at boot.
std::string ServiceUnitText(const TBRNServiceDefinition& service);

// Writes the unit (all or nothing) and, with the real root, reloads and
// enables it. Failures throw std::runtime_error with the reason.
void InstallService(const TBRNServiceDefinition& service);
// Disables (real root), removes the unit file and reloads. A missing unit
// throws std::runtime_error.
void UninstallService(const std::string& serviceName);

// The Description of an installed unit; none when the unit is missing.
std::optional<std::string> ServiceDisplayName(const std::string& serviceName);

// True when the process was started by the service manager (a notify socket
// is given).
bool IsStartedAsService();
// Sends "READY=1" on the notify socket; false when there is none or the
// message could not be sent.
bool NotifyServiceReady();
// Sends "STOPPING=1"; false as above.
bool NotifyServiceStopping();

}  // namespace brn
