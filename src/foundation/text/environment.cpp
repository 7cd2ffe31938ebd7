#include "foundation/text/environment.h"

#include "foundation/text/collation.h"
#include "platform/locale_compare.h"
#include "platform/locale_table.h"
#include "platform/system_info.h"

namespace brn {

TBRNEnvironment::TBRNEnvironment() {
  LoadLocales();
  CollatorVersion = LocaleCollatorVersion();
}

TBRNEnvironment::~TBRNEnvironment() {
  ClearLocales();
}

// Entry 0 is the binary collation; then the platform's locales in their
// enumeration order, the German phone-book order right after German.
void TBRNEnvironment::LoadLocales() {
  ClearLocales();
  Locales.push_back(TBRNLocale{0, "ANSI (Binary)", "ANSI"});
  const int32_t germanGermany = MakeLanguageId(7, 1);
  for (const PlatformLocale& platformLocale : SupportedLocales()) {
    TBRNLocale locale;
    locale.Id = int32_t(platformLocale.Lcid & 0xFFFF);
    locale.Name = platformLocale.LanguageName;
    locale.Abbreviation = platformLocale.Abbreviation;
    if (locale.Abbreviation.empty()) continue;
    // The Latin and Cyrillic script variants share their abbreviations.
    if (locale.Id == 1068 || locale.Id == 1091) locale.Abbreviation += "L";
    if (locale.Id == 2092 || locale.Id == 2115) locale.Abbreviation += "C";
    bool german = PrimaryLanguageId(locale.Id) == 7 && SubLanguageId(locale.Id) == 1;
    Locales.push_back(std::move(locale));
    if (german)
      Locales.push_back(
          TBRNLocale{MakeLocaleId(germanGermany, 1), "German (German Phone Book)", "DEP"});
  }
  LocaleCount = int32_t(Locales.size());
}

void TBRNEnvironment::ClearLocales() {
  Locales.clear();
  LocaleCount = 0;
}

std::string TBRNEnvironment::GetTempPath() const {
  return SystemTempPath();
}

std::string TBRNEnvironment::GetComputerName() const {
  return SystemComputerName();
}

uint32_t TBRNEnvironment::GetProcessId() const {
  return SystemProcessId();
}

uint32_t TBRNEnvironment::GetThreadId() const {
  return SystemThreadId();
}

int32_t TBRNEnvironment::GetLastOSError() const {
  return SystemLastError();
}

// Major.minor read as a decimal and scaled by 10000: 5.1 gives 51000.
int64_t TBRNEnvironment::GetOSVersion() const {
  int64_t major = SystemOSMajorVersion();
  int64_t minor = SystemOSMinorVersion();
  int64_t scale = 10000;
  int64_t fraction = minor;
  // The minor number's digits are the decimals: 1 is .1, 15 is .15.
  int64_t digits = 1;
  while (digits <= fraction) digits *= 10;
  while (digits > scale) {
    fraction /= 10;
    digits /= 10;
  }
  return major * scale + fraction * (scale / digits);
}

int32_t TBRNEnvironment::GetOSPlatform() const {
  int32_t id = SystemPlatformId();
  return id >= 1 && id <= 3 ? id : 0;
}

int32_t TBRNEnvironment::GetTickCount() const {
  return int32_t(SystemTickCount());
}

int32_t TBRNEnvironment::GetElapsedTicks(int32_t startTicks, int32_t endTicks) const {
  return int32_t(uint32_t(endTicks) - uint32_t(startTicks));
}

std::string TBRNEnvironment::GetLocaleAbbreviation(int32_t id) const {
  for (const TBRNLocale& locale : Locales)
    if (locale.Id == id) return locale.Abbreviation;
  return std::string();
}

void SleepMilliseconds(int32_t ms) {
  SystemSleep(ms);
}

std::string ModuleFileName() {
  return SystemModuleFileName();
}

std::string OSErrorMessage(int32_t code) {
  std::string text = SystemErrorText(code);
  if (!text.empty()) text += "\r\n";
  return text;
}

}  // namespace brn
