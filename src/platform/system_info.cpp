#include "platform/system_info.h"

#include <sched.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace brn {

namespace {

SystemTime fromTm(const std::tm& tm, long nanoseconds) {
  SystemTime time;
  time.Year = tm.tm_year + 1900;
  time.Month = tm.tm_mon + 1;
  time.DayOfWeek = tm.tm_wday;
  time.Day = tm.tm_mday;
  time.Hour = tm.tm_hour;
  time.Minute = tm.tm_min;
  time.Second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second stays in its minute
  time.Milliseconds = int32_t(nanoseconds / 1000000);
  return time;
}

// Major and minor number of the kernel release ("6.1.0-13-amd64").
void releaseNumbers(int32_t& major, int32_t& minor) {
  major = 0;
  minor = 0;
  utsname name{};
  if (uname(&name) != 0) return;
  const char* p = name.release;
  auto readNumber = [&p]() {
    int32_t value = 0;
    while (*p >= '0' && *p <= '9' && value < 100000) value = value * 10 + (*p++ - '0');
    return value;
  };
  major = readNumber();
  if (*p == '.') {
    ++p;
    minor = readNumber();
  }
}

}  // namespace

std::string SystemTempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  if (path.back() != '/') path.push_back('/');
  return path;
}

std::string SystemModuleFileName() {
  // The link's target can be longer than any fixed buffer: grow until it
  // fits (readlink fills the buffer without a terminator and cuts silently).
  std::string path(256, '\0');
  while (path.size() <= 65536) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return std::string();
    if (size_t(length) < path.size()) {
      path.resize(size_t(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
  return std::string();
}

std::string SystemComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  std::string text(name);
  if (text.size() > 15) text.resize(15);
  return text;
}

uint32_t SystemProcessId() {
  return uint32_t(getpid());
}

uint32_t SystemThreadId() {
  return uint32_t(syscall(SYS_gettid));
}

int32_t SystemLastError() {
  return errno;
}

int32_t SystemOSMajorVersion() {
  int32_t major, minor;
  releaseNumbers(major, minor);
  return major;
}

int32_t SystemOSMinorVersion() {
  int32_t major, minor;
  releaseNumbers(major, minor);
  return minor;
}

// A multi-user system of the NT family is what the engine expects.
int32_t SystemPlatformId() {
  return 2;
}

uint32_t SystemTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
  return uint32_t(ms);
}

SystemTime SystemLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm tm{};
  localtime_r(&now.tv_sec, &tm);
  return fromTm(tm, now.tv_nsec);
}

SystemTime SystemUTCTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm tm{};
  gmtime_r(&now.tv_sec, &tm);
  return fromTm(tm, now.tv_nsec);
}

void SystemSleep(int32_t ms) {
  if (ms <= 0) {
    sched_yield();
    return;
  }
  timespec wait{ms / 1000, long(ms % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

std::string SystemErrorText(int32_t code) {
  const char* text = strerrordesc_np(code);
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace brn
