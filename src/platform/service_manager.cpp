#include "platform/service_manager.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace brn {

namespace {

// systemd's command-line quoting: the word in double quotes with "\" and
// '"' escaped, "%" doubled against specifier expansion and "$" doubled
// against variable expansion.
std::string QuoteWord(const std::string& word) {
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '\\' || c == '"') {
      quoted += '\\';
      quoted += c;
    } else if (c == '%') {
      quoted += "%%";
    } else if (c == '$') {
      quoted += "$$";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// A path taken as it stands, only "%" doubled against specifier expansion.
std::string EscapeSpecifiers(const std::string& path) {
  std::string escaped;
  for (char c : path) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  return escaped;
}

// A value on one line: line breaks would end the key.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  return line;
}

void RunSystemctl(const std::vector<std::string>& arguments) {
  pid_t child = ::fork();
  if (child < 0) throw std::system_error(errno, std::generic_category(), "Cannot run systemctl");
  if (child == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("systemctl"));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execvp("systemctl", argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "systemctl");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("systemctl " + arguments.front() + " failed");
}

bool SendNotify(const char* message) {
  const char* socketName = std::getenv("NOTIFY_SOCKET");
  if (socketName == nullptr || *socketName == '\0') return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t length = std::strlen(socketName);
  if (length >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, socketName, length);
  // A name starting with "@" is in the abstract namespace.
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  ssize_t sent = ::sendto(fd, message, std::strlen(message), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&address), size);
  ::close(fd);
  return sent == static_cast<ssize_t>(std::strlen(message));
}

}  // namespace

std::string QuoteServiceWord(const std::string& text) {
  return QuoteWord(text);
}

std::string SystemdRoot() {
  const char* root = std::getenv("BRN_SYSTEMD_ROOT");
  return root != nullptr && *root != '\0' ? std::string(root) : std::string("/");
}

bool SystemdRootIsReal() {
  return SystemdRoot() == "/";
}

std::string ServiceUnitPath(const std::string& serviceName) {
  std::string root = SystemdRoot();
  if (root.back() != '/') root += '/';
  return root + "etc/systemd/system/brindle-" + serviceName + ".service";
}

std::string ServiceUnitText(const TBRNServiceDefinition& service) {
  std::string exec = QuoteWord(service.Program);
  for (const std::string& argument : service.Arguments) exec += " " + argument;
  return "[Unit]\n"
         "Description=" +
         OneLine(service.DisplayName) +
         "\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "WorkingDirectory=" +
         EscapeSpecifiers(service.WorkingDirectory) +
         "\n"
         "ExecStart=" +
         exec +
         "\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

void InstallService(const TBRNServiceDefinition& service) {
  if (service.Name.empty() || service.Name.find('/') != std::string::npos)
    throw std::invalid_argument("InstallService: bad service name");
  std::string path = ServiceUnitPath(service.Name);
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw std::runtime_error("Cannot create " + folder.string() + ": " + error.message());
  std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << ServiceUnitText(service);
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary, error);
      throw std::runtime_error("Cannot write " + path);
    }
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    std::string reason = std::strerror(errno);
    std::filesystem::remove(temporary, error);
    throw std::runtime_error("Cannot write " + path + ": " + reason);
  }
  if (SystemdRootIsReal()) {
    RunSystemctl({"daemon-reload"});
    RunSystemctl({"enable", "brindle-" + service.Name + ".service"});
  }
}

void UninstallService(const std::string& serviceName) {
  std::string path = ServiceUnitPath(serviceName);
  if (!std::filesystem::exists(path))
    throw std::runtime_error("The service " + serviceName + " is not installed");
  if (SystemdRootIsReal()) RunSystemctl({"disable", "brindle-" + serviceName + ".service"});
  if (::unlink(path.c_str()) != 0)
    throw std::runtime_error("Cannot remove " + path + ": " + std::strerror(errno));
  if (SystemdRootIsReal()) RunSystemctl({"daemon-reload"});
}

std::optional<std::string> ServiceDisplayName(const std::string& serviceName) {
  std::ifstream in(ServiceUnitPath(serviceName), std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Description=", 0) == 0) return line.substr(12);
  }
  return std::string();
}

bool IsStartedAsService() {
  const char* socketName = std::getenv("NOTIFY_SOCKET");
  return socketName != nullptr && *socketName != '\0';
}

bool NotifyServiceReady() {
  return SendNotify("READY=1");
}

bool NotifyServiceStopping() {
  return SendNotify("STOPPING=1");
}

}  // namespace brn
