#pragma once

#include <cstdint>
#include <string>

namespace brn {

// A calendar time broken into its fields (month and day from 1, day of the
// week from 0 = Sunday).
struct SystemTime {
  int32_t Year = 0;
  int32_t Month = 0;
  int32_t DayOfWeek = 0;
  int32_t Day = 0;
  int32_t Hour = 0;
  int32_t Minute = 0;
  int32_t Second = 0;
  int32_t Milliseconds = 0;
};

// The platform's identity, clock and error texts.
std::string SystemTempPath();      // with its trailing separator
std::string SystemComputerName();  // at most 15 characters
// The absolute path of the running program's file; empty when the system
// cannot tell.
std::string SystemModuleFileName();
uint32_t SystemProcessId();
uint32_t SystemThreadId();
int32_t SystemLastError();  // the calling thread's errno
int32_t SystemOSMajorVersion();
int32_t SystemOSMinorVersion();
int32_t SystemPlatformId();
uint32_t SystemTickCount();  // milliseconds since system start, wrapping
SystemTime SystemLocalTime();
SystemTime SystemUTCTime();
void SystemSleep(int32_t ms);
// The text of an error number; empty when the system has none.
std::string SystemErrorText(int32_t code);

}  // namespace brn
