// Time conversions, the user's locale settings and the installed locales, through the ANSI
// locale API; COM object creation for the installed-runtime tests.
#include "os/win32/WindowsApi.h"
#include "os/win32/Win32Errors.h"

#include <objbase.h>

#include <cstdlib>

#include "os/os.h"

namespace os {
namespace {

std::string LocaleText(LCID locale, LCTYPE type, int bufferChars) {
  std::string buffer(static_cast<size_t>(bufferChars), '\0');
  if (!GetLocaleInfoA(locale, type, buffer.data(), bufferChars)) return "";
  return std::string(buffer.c_str());
}

char FirstCharOr(const std::string& text, char fallback) {
  return text.empty() ? fallback : text[0];
}

thread_local std::vector<uint32_t>* enumeratedLocales = nullptr;

BOOL CALLBACK CollectLocale(LPSTR idText) {
  enumeratedLocales->push_back(static_cast<uint32_t>(std::strtoul(idText, nullptr, 16)));
  return TRUE;
}

std::wstring Widen(const std::string& text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return L"";
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  return wide;
}

}  // namespace

bool FileTimeToLocalTime(int64_t fileTime, LocalDateTime& local) {
  FILETIME utc{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  FILETIME localTime;
  SYSTEMTIME parts;
  if (fileTime < 0 || !FileTimeToLocalFileTime(&utc, &localTime) ||
      !FileTimeToSystemTime(&localTime, &parts)) {
    return win32::Fail("Cannot convert a file time",
                       fileTime < 0 ? ERROR_INVALID_PARAMETER : GetLastError());
  }
  local = {parts.wYear,   parts.wMonth,  parts.wDay,         parts.wHour,
           parts.wMinute, parts.wSecond, parts.wMilliseconds};
  return true;
}

uint32_t TickCount() { return GetTickCount(); }

char DateSeparator() { return FirstCharOr(LocaleText(LOCALE_USER_DEFAULT, LOCALE_SDATE, 4), '/'); }

char TimeSeparator() { return FirstCharOr(LocaleText(LOCALE_USER_DEFAULT, LOCALE_STIME, 4), ':'); }

std::string ShortDateText(const LocalDateTime& date) {
  SYSTEMTIME parts = {};
  parts.wYear = static_cast<WORD>(date.year);
  parts.wMonth = static_cast<WORD>(date.month);
  parts.wDay = static_cast<WORD>(date.day);
  char buffer[128] = {};
  if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &parts, nullptr, buffer,
                      sizeof buffer)) {
    return "";
  }
  return buffer;
}

int CompareTextIgnoreCase(const std::string& a, const std::string& b) {
  int order = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                             static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
  if (order == 0) {
    int fallback = lstrcmpiA(a.c_str(), b.c_str());
    return (fallback > 0) - (fallback < 0);
  }
  return order - 2;  // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN are 1, 2, 3
}

uint32_t UserDefaultLocaleId() { return GetUserDefaultLCID(); }

std::vector<uint32_t> InstalledLocaleIds() {
  std::vector<uint32_t> ids;
  enumeratedLocales = &ids;
  EnumSystemLocalesA(CollectLocale, LCID_INSTALLED);
  enumeratedLocales = nullptr;
  return ids;
}

std::string LocaleLanguageAbbreviation(uint32_t localeId) {
  return LocaleText(localeId, LOCALE_SABBREVLANGNAME, 4);
}

std::string LocaleLanguageName(uint32_t localeId) {
  return LocaleText(localeId, LOCALE_SLANGUAGE, 256);
}

std::string LocaleAnsiCodePage(uint32_t localeId) {
  return LocaleText(localeId, LOCALE_IDEFAULTANSICODEPAGE, 6);
}

bool CharsetOfCodePage(uint32_t codePage, uint32_t& charset) {
  CHARSETINFO info = {};
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<uintptr_t>(codePage)), &info,
                            TCI_SRCCODEPAGE)) {
    return win32::Fail("Code page " + std::to_string(codePage));
  }
  charset = info.ciCharset;
  return true;
}

bool CanCreateInProcessObject(const std::string& classId, const std::string& interfaceId) {
  CLSID classGuid;
  IID interfaceGuid;
  std::wstring classText = Widen(classId), interfaceText = Widen(interfaceId);
  if (FAILED(CLSIDFromString(classText.data(), &classGuid)) ||
      FAILED(IIDFromString(interfaceText.data(), &interfaceGuid))) {
    return win32::FailWith(classId, "not a class identifier");
  }
  HRESULT initialised = CoInitialize(nullptr);
  void* instance = nullptr;
  bool created = SUCCEEDED(
      CoCreateInstance(classGuid, nullptr, CLSCTX_INPROC_SERVER, interfaceGuid, &instance));
  if (created && instance) static_cast<IUnknown*>(instance)->Release();
  if (SUCCEEDED(initialised)) CoUninitialize();
  return created || win32::FailWith(classId, "no such class can be created here");
}

ComScope::ComScope() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}

ComScope::~ComScope() {
  if (initialised_) CoUninitialize();
}

}  // namespace os
