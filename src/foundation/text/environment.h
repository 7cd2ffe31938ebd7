#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brn {

// One collation locale: its LCID (no flag bits), full language name and the
// abbreviation that starts a collation name.
class TBRNLocale {
 public:
  int32_t Id = 0;
  std::string Name;
  std::string Abbreviation;
};

using TBRNLocales = std::vector<TBRNLocale>;

// The engine's window on the operating system: the collation locales, the
// temporary folder, identity of computer, process and thread, OS version and
// the millisecond tick counter. The locale list is built by the constructor
// and read-only afterwards.
class TBRNEnvironment {
 public:
  TBRNEnvironment();
  virtual ~TBRNEnvironment();
  TBRNEnvironment(const TBRNEnvironment&) = delete;
  TBRNEnvironment& operator=(const TBRNEnvironment&) = delete;

  int32_t LocaleCount = 0;
  TBRNLocales Locales;

  // Version of the collator behind the collated comparisons ("58.0.0.50");
  // index orders stored under a collation are valid only under this version.
  const std::string& GetCollatorVersion() const { return CollatorVersion; }

  void LoadLocales();
  void ClearLocales();

  std::string GetTempPath() const;
  std::string GetComputerName() const;
  uint32_t GetProcessId() const;
  uint32_t GetThreadId() const;
  int32_t GetLastOSError() const;
  int64_t GetOSVersion() const;
  int32_t GetOSPlatform() const;
  int32_t GetTickCount() const;
  int32_t GetElapsedTicks(int32_t startTicks, int32_t endTicks) const;
  // Abbreviation of the locale whose Id equals id exactly (flags cleared by
  // the caller); empty when there is none.
  std::string GetLocaleAbbreviation(int32_t id) const;

 private:
  std::string CollatorVersion;
};

void SleepMilliseconds(int32_t ms);
// The full path of the program's own module file (the running executable);
// empty when the system cannot tell. Any thread.
std::string ModuleFileName();
// The system's text for an OS error number, with its trailing line break;
// empty for a number without text.
std::string OSErrorMessage(int32_t code);

}  // namespace brn
