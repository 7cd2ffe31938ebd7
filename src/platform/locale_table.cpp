#include "platform/locale_table.h"

#include <algorithm>
#include <array>

namespace brn {

namespace {

// Sorted by LCID. The entries from 0x10000 on are alternate sort orders of a
// language (the German phone book): they compare but are not enumerated.
constexpr PlatformLocale locales[] = {
    {0x0401, "ARA", "Arabic (Saudi Arabia)", 1256, "ar-SA"},
    {0x0402, "BGR", "Bulgarian", 1251, "bg-BG"},
    {0x0403, "CAT", "Catalan", 1252, "ca-ES"},
    {0x0404, "CHT", "Chinese (Taiwan)", 950, "zh-TW"},
    {0x0405, "CSY", "Czech", 1250, "cs-CZ"},
    {0x0406, "DAN", "Danish", 1252, "da-DK"},
    {0x0407, "DEU", "German (Germany)", 1252, "de-DE"},
    {0x0408, "ELL", "Greek", 1253, "el-GR"},
    {0x0409, "ENU", "English (United States)", 1252, "en-US"},
    {0x040a, "ESP", "Spanish (Traditional Sort)", 1252, "es-ES-u-co-trad"},
    {0x040b, "FIN", "Finnish", 1252, "fi-FI"},
    {0x040c, "FRA", "French (France)", 1252, "fr-FR"},
    {0x040d, "HEB", "Hebrew", 1255, "he-IL"},
    {0x040e, "HUN", "Hungarian", 1250, "hu-HU"},
    {0x040f, "ISL", "Icelandic", 1252, "is-IS"},
    {0x0410, "ITA", "Italian (Italy)", 1252, "it-IT"},
    {0x0411, "JPN", "Japanese", 932, "ja-JP"},
    {0x0412, "KOR", "Korean", 949, "ko-KR"},
    {0x0413, "NLD", "Dutch (Netherlands)", 1252, "nl-NL"},
    {0x0414, "NOR", "Norwegian (Bokmal)", 1252, "nb-NO"},
    {0x0415, "PLK", "Polish", 1250, "pl-PL"},
    {0x0416, "PTB", "Portuguese (Brazil)", 1252, "pt-BR"},
    {0x0418, "ROM", "Romanian", 1250, "ro-RO"},
    {0x0419, "RUS", "Russian", 1251, "ru-RU"},
    {0x041a, "HRV", "Croatian", 1250, "hr-HR"},
    {0x041b, "SKY", "Slovak", 1250, "sk-SK"},
    {0x041c, "SQI", "Albanian", 1250, "sq-AL"},
    {0x041d, "SVE", "Swedish", 1252, "sv-SE"},
    {0x041e, "THA", "Thai", 874, "th-TH"},
    {0x041f, "TRK", "Turkish", 1254, "tr-TR"},
    {0x0420, "URD", "Urdu", 1256, "ur-PK"},
    {0x0421, "IND", "Indonesian", 1252, "id-ID"},
    {0x0422, "UKR", "Ukrainian", 1251, "uk-UA"},
    {0x0423, "BEL", "Belarusian", 1251, "be-BY"},
    {0x0424, "SLV", "Slovenian", 1250, "sl-SI"},
    {0x0425, "ETI", "Estonian", 1257, "et-EE"},
    {0x0426, "LVI", "Latvian", 1257, "lv-LV"},
    {0x0427, "LTH", "Lithuanian", 1257, "lt-LT"},
    {0x0429, "FAR", "Farsi", 1256, "fa-IR"},
    {0x042a, "VIT", "Vietnamese", 1258, "vi-VN"},
    {0x042b, "HYE", "Armenian", 0, "hy-AM"},
    {0x042c, "AZE", "Azeri (Latin)", 1254, "az-Latn-AZ"},
    {0x042d, "EUQ", "Basque", 1252, "eu-ES"},
    {0x042f, "MKI", "FYRO Macedonian", 1251, "mk-MK"},
    {0x0436, "AFK", "Afrikaans", 1252, "af-ZA"},
    {0x0437, "KAT", "Georgian", 0, "ka-GE"},
    {0x0438, "FOS", "Faroese", 1252, "fo-FO"},
    {0x0439, "HIN", "Hindi", 0, "hi-IN"},
    {0x043e, "MSL", "Malay (Malaysia)", 1252, "ms-MY"},
    {0x043f, "KKZ", "Kazakh", 1251, "kk-KZ"},
    {0x0440, "KYR", "Kyrgyz", 1251, "ky-KG"},
    {0x0441, "SWK", "Swahili", 1252, "sw-KE"},
    {0x0443, "UZB", "Uzbek (Latin)", 1254, "uz-Latn-UZ"},
    {0x0444, "TTT", "Tatar", 1251, "tt-RU"},
    {0x0446, "PAN", "Punjabi", 0, "pa-IN"},
    {0x0447, "GUJ", "Gujarati", 0, "gu-IN"},
    {0x0449, "TAM", "Tamil", 0, "ta-IN"},
    {0x044a, "TEL", "Telugu", 0, "te-IN"},
    {0x044b, "KAN", "Kannada", 0, "kn-IN"},
    {0x044e, "MAR", "Marathi", 0, "mr-IN"},
    {0x044f, "SAN", "Sanskrit", 0, "sa-IN"},
    {0x0450, "MON", "Mongolian", 1251, "mn-MN"},
    {0x0456, "GLC", "Galician", 1252, "gl-ES"},
    {0x0457, "KNK", "Konkani", 0, "kok-IN"},
    {0x045a, "SYR", "Syriac", 0, "syr-SY"},
    {0x0465, "DIV", "Divehi", 0, "dv-MV"},
    {0x0801, "ARI", "Arabic (Iraq)", 1256, "ar-IQ"},
    {0x0804, "CHS", "Chinese (PRC)", 936, "zh-CN"},
    {0x0807, "DES", "German (Switzerland)", 1252, "de-CH"},
    {0x0809, "ENG", "English (United Kingdom)", 1252, "en-GB"},
    {0x080a, "ESM", "Spanish (Mexico)", 1252, "es-MX"},
    {0x080c, "FRB", "French (Belgium)", 1252, "fr-BE"},
    {0x0810, "ITS", "Italian (Switzerland)", 1252, "it-CH"},
    {0x0813, "NLB", "Dutch (Belgium)", 1252, "nl-BE"},
    {0x0814, "NON", "Norwegian (Nynorsk)", 1252, "nn-NO"},
    {0x0816, "PTG", "Portuguese (Portugal)", 1252, "pt-PT"},
    {0x081a, "SRL", "Serbian (Latin)", 1250, "sr-Latn-RS"},
    {0x081d, "SVF", "Swedish (Finland)", 1252, "sv-FI"},
    {0x082c, "AZE", "Azeri (Cyrillic)", 1251, "az-Cyrl-AZ"},
    {0x083e, "MSB", "Malay (Brunei Darussalam)", 1252, "ms-BN"},
    {0x0843, "UZB", "Uzbek (Cyrillic)", 1251, "uz-Cyrl-UZ"},
    {0x0c01, "ARE", "Arabic (Egypt)", 1256, "ar-EG"},
    {0x0c04, "ZHH", "Chinese (Hong Kong S.A.R.)", 950, "zh-HK"},
    {0x0c07, "DEA", "German (Austria)", 1252, "de-AT"},
    {0x0c09, "ENA", "English (Australia)", 1252, "en-AU"},
    {0x0c0a, "ESN", "Spanish (International Sort)", 1252, "es-ES"},
    {0x0c0c, "FRC", "French (Canada)", 1252, "fr-CA"},
    {0x0c1a, "SRB", "Serbian (Cyrillic)", 1251, "sr-Cyrl-RS"},
    {0x1001, "ARL", "Arabic (Libya)", 1256, "ar-LY"},
    {0x1004, "ZHI", "Chinese (Singapore)", 936, "zh-SG"},
    {0x1007, "DEL", "German (Luxembourg)", 1252, "de-LU"},
    {0x1009, "ENC", "English (Canada)", 1252, "en-CA"},
    {0x100a, "ESG", "Spanish (Guatemala)", 1252, "es-GT"},
    {0x100c, "FRS", "French (Switzerland)", 1252, "fr-CH"},
    {0x1401, "ARG", "Arabic (Algeria)", 1256, "ar-DZ"},
    {0x1404, "ZHM", "Chinese (Macau S.A.R.)", 950, "zh-MO"},
    {0x1407, "DEC", "German (Liechtenstein)", 1252, "de-LI"},
    {0x1409, "ENZ", "English (New Zealand)", 1252, "en-NZ"},
    {0x140a, "ESC", "Spanish (Costa Rica)", 1252, "es-CR"},
    {0x140c, "FRL", "French (Luxembourg)", 1252, "fr-LU"},
    {0x1801, "ARM", "Arabic (Morocco)", 1256, "ar-MA"},
    {0x1809, "ENI", "English (Ireland)", 1252, "en-IE"},
    {0x180a, "ESA", "Spanish (Panama)", 1252, "es-PA"},
    {0x180c, "FRM", "French (Monaco)", 1252, "fr-MC"},
    {0x1c01, "ART", "Arabic (Tunisia)", 1256, "ar-TN"},
    {0x1c09, "ENS", "English (South Africa)", 1252, "en-ZA"},
    {0x1c0a, "ESD", "Spanish (Dominican Republic)", 1252, "es-DO"},
    {0x2001, "ARO", "Arabic (Oman)", 1256, "ar-OM"},
    {0x2009, "ENJ", "English (Jamaica)", 1252, "en-JM"},
    {0x200a, "ESV", "Spanish (Venezuela)", 1252, "es-VE"},
    {0x2401, "ARY", "Arabic (Yemen)", 1256, "ar-YE"},
    {0x2409, "ENB", "English (Caribbean)", 1252, "en-029"},
    {0x240a, "ESO", "Spanish (Colombia)", 1252, "es-CO"},
    {0x2801, "ARS", "Arabic (Syria)", 1256, "ar-SY"},
    {0x2809, "ENL", "English (Belize)", 1252, "en-BZ"},
    {0x280a, "ESR", "Spanish (Peru)", 1252, "es-PE"},
    {0x2c01, "ARJ", "Arabic (Jordan)", 1256, "ar-JO"},
    {0x2c09, "ENT", "English (Trinidad and Tobago)", 1252, "en-TT"},
    {0x2c0a, "ESS", "Spanish (Argentina)", 1252, "es-AR"},
    {0x3001, "ARB", "Arabic (Lebanon)", 1256, "ar-LB"},
    {0x3009, "ENW", "English (Zimbabwe)", 1252, "en-ZW"},
    {0x300a, "ESF", "Spanish (Ecuador)", 1252, "es-EC"},
    {0x3401, "ARK", "Arabic (Kuwait)", 1256, "ar-KW"},
    {0x3409, "ENP", "English (Republic of the Philippines)", 1252, "en-PH"},
    {0x340a, "ESL", "Spanish (Chile)", 1252, "es-CL"},
    {0x3801, "ARU", "Arabic (U.A.E.)", 1256, "ar-AE"},
    {0x380a, "ESY", "Spanish (Uruguay)", 1252, "es-UY"},
    {0x3c01, "ARH", "Arabic (Bahrain)", 1256, "ar-BH"},
    {0x3c0a, "ESZ", "Spanish (Paraguay)", 1252, "es-PY"},
    {0x4001, "ARQ", "Arabic (Qatar)", 1256, "ar-QA"},
    {0x400a, "ESB", "Spanish (Bolivia)", 1252, "es-BO"},
    {0x440a, "ESE", "Spanish (El Salvador)", 1252, "es-SV"},
    {0x480a, "ESH", "Spanish (Honduras)", 1252, "es-HN"},
    {0x4c0a, "ESI", "Spanish (Nicaragua)", 1252, "es-NI"},
    {0x500a, "ESU", "Spanish (Puerto Rico)", 1252, "es-PR"},
    {0x10407, "DEU", "German (Germany)", 1252, "de-DE-u-co-phonebk"},
};

constexpr size_t firstAlternateSort() {
  size_t i = 0;
  while (i < std::size(locales) && locales[i].Lcid <= 0xFFFF) ++i;
  return i;
}

}  // namespace

std::span<const PlatformLocale> SupportedLocales() {
  return std::span<const PlatformLocale>(locales, firstAlternateSort());
}

const PlatformLocale* FindPlatformLocale(uint32_t lcid) {
  const PlatformLocale* end = locales + std::size(locales);
  const PlatformLocale* found = std::lower_bound(
      locales, end, lcid, [](const PlatformLocale& l, uint32_t id) { return l.Lcid < id; });
  return found != end && found->Lcid == lcid ? found : nullptr;
}

}  // namespace brn
