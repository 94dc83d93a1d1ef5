// Time conversions and locales on the host: the user's settings are those of a United States
// English Windows, and the installed locales are a fixed set with the identifiers, abbreviations
// and code pages Windows gives them, so language choice and character sets can be tested.
#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <ctime>

#include "os/host/HostErrors.h"
#include "os/os.h"

namespace os {
namespace {

constexpr int64_t kEpochDelta = 11644473600LL;  // seconds from 1601-01-01 to 1970-01-01

struct HostLocale {
  uint32_t id;
  const char* abbreviation;
  const char* name;  // as an English-speaking user's system names it
  const char* codePage;
};

constexpr HostLocale kLocales[] = {
    {0x0407, "DEU", "German (Germany)", "1252"},
    {0x0409, "ENU", "English (United States)", "1252"},
    {0x0809, "ENG", "English (United Kingdom)", "1252"},
    {0x0C0A, "ESN", "Spanish (Spain)", "1252"},
    {0x040C, "FRA", "French (France)", "1252"},
    {0x0410, "ITA", "Italian (Italy)", "1252"},
    {0x0413, "NLD", "Dutch (Netherlands)", "1252"},
    {0x0415, "PLK", "Polish (Poland)", "1250"},
    {0x0405, "CSY", "Czech (Czech Republic)", "1250"},
    {0x0419, "RUS", "Russian (Russia)", "1251"},
    {0x0408, "ELL", "Greek (Greece)", "1253"},
    {0x041F, "TRK", "Turkish (Turkey)", "1254"},
};

struct CodePageCharset {
  uint32_t codePage;
  uint32_t charset;
};

constexpr CodePageCharset kCharsets[] = {
    {1252, 0},   {1250, 238}, {1251, 204}, {1253, 161}, {1254, 162}, {1255, 177}, {1256, 178},
    {1257, 186}, {1258, 163}, {874, 222},  {932, 128},  {936, 134},  {949, 129},  {950, 136},
};

const HostLocale* FindLocale(uint32_t id) {
  for (const HostLocale& locale : kLocales) {
    if (locale.id == id) return &locale;
  }
  return nullptr;
}

std::string TwoDigits(int value) {
  return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

bool FileTimeToLocalTime(int64_t fileTime, LocalDateTime& local) {
  if (fileTime < 0) return host::Fail("Cannot convert a file time", EINVAL);
  time_t seconds = static_cast<time_t>(fileTime / 10000000 - kEpochDelta);
  tm parts;
  if (!localtime_r(&seconds, &parts)) return host::Fail("Cannot convert a file time");
  local = {parts.tm_year + 1900,
           parts.tm_mon + 1,
           parts.tm_mday,
           parts.tm_hour,
           parts.tm_min,
           parts.tm_sec,
           static_cast<int>(fileTime / 10000 % 1000)};
  return true;
}

uint32_t TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

char DateSeparator() { return '/'; }

char TimeSeparator() { return ':'; }

std::string ShortDateText(const LocalDateTime& date) {
  return TwoDigits(date.month) + "/" + TwoDigits(date.day) + "/" + std::to_string(date.year);
}

int CompareTextIgnoreCase(const std::string& a, const std::string& b) {
  int order = strcasecmp(a.c_str(), b.c_str());
  return (order > 0) - (order < 0);
}

uint32_t UserDefaultLocaleId() {
  const char* configured = std::getenv("KX_LOCALE");
  uint32_t id = configured ? static_cast<uint32_t>(std::strtoul(configured, nullptr, 16)) : 0;
  return id ? id : 0x0409;
}

std::vector<uint32_t> InstalledLocaleIds() {
  std::vector<uint32_t> ids;
  for (const HostLocale& locale : kLocales) ids.push_back(locale.id);
  return ids;
}

std::string LocaleLanguageAbbreviation(uint32_t localeId) {
  const HostLocale* locale = FindLocale(localeId);
  return locale ? locale->abbreviation : "";
}

std::string LocaleLanguageName(uint32_t localeId) {
  const HostLocale* locale = FindLocale(localeId);
  return locale ? locale->name : "";
}

std::string LocaleAnsiCodePage(uint32_t localeId) {
  const HostLocale* locale = FindLocale(localeId);
  return locale ? locale->codePage : "";
}

bool CharsetOfCodePage(uint32_t codePage, uint32_t& charset) {
  for (const CodePageCharset& entry : kCharsets) {
    if (entry.codePage == codePage) {
      charset = entry.charset;
      return true;
    }
  }
  return host::FailWith("Code page " + std::to_string(codePage), "not installed");
}

bool CanCreateInProcessObject(const std::string& classId, const std::string&) {
  return host::FailWith(classId, "the host has no COM classes");
}

ComScope::ComScope() = default;
ComScope::~ComScope() = default;

}  // namespace os
