// The INI half of zrRegIni: INI files reached by name through one process-wide cache of
// TzrIniFile objects, so that many small writes do not reread and rewrite a file each time.
#include <exception>
#include <map>
#include <memory>
#include <utility>

#include "support/Errors.h"
#include "support/zrIniFile.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

namespace {

// Keyed by the upper-cased full path, so that every spelling of a file (and a bare name and its
// Windows-folder path) shares one object. The object keeps the spelling of its first caller:
// a file it creates gets that name, and native host paths (which are matched exactly) still
// resolve.
using IniCache = std::map<std::string, std::unique_ptr<TzrIniFile>>;

// Never destroyed: flushing at static destruction could reach parts of the OS layer that are
// already gone. The driver closes every file (IniCloseAll) before the program ends.
IniCache& Cache() {
  static IniCache* cache = new IniCache;
  return *cache;
}

std::string CacheKey(const std::string& file) { return UpperCaseText(IniFullName(file)); }

TzrIniFile& CachedFile(const std::string& file, bool write) {
  IniCache& cache = Cache();
  std::string key = CacheKey(file);
  auto found = cache.find(key);
  // A reader has closed its file and would never write; a writer takes its place.
  if (found != cache.end() && write && found->second->ReadOnly) {
    cache.erase(found);
    found = cache.end();
  }
  if (found == cache.end()) {
    const TIniDefaults& defaults = IniDefaults();
    auto object =
        std::make_unique<TzrIniFile>(file, !write, defaults.SkipComments, defaults.SkipNoEquals,
                                     defaults.TrimEquals, defaults.Unquote);
    found = cache.emplace(std::move(key), std::move(object)).first;
  }
  return *found->second;
}

}  // namespace

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& defaultValue) {
  return CachedFile(file, false).ReadString(section, key, defaultValue);
}

void IniListSections(const std::string& file, std::vector<std::string>& list) {
  CachedFile(file, false).ReadSections(list);
}

void IniListKeys(const std::string& file, const std::string& section,
                 std::vector<std::string>& list) {
  list.clear();
  CachedFile(file, false).ReadSection(section, list);
}

void IniListValues(const std::string& file, const std::string& section,
                   std::vector<std::string>& list) {
  list.clear();
  CachedFile(file, false).ReadSectionValues(section, list);
}

bool IniWriteString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
  CachedFile(file, true).WriteString(section, key, value);
  return true;
}

void IniDeleteKey(const std::string& file, const std::string& section, const std::string& key) {
  CachedFile(file, true).DeleteKey(section, key);
}

void IniWriteLines(const std::string& file, const std::string& section,
                   const std::vector<std::string>& lines) {
  CachedFile(file, true).WriteSectionValues(section, lines);
}

void IniClose(const std::string& file) {
  IniCache& cache = Cache();
  auto found = cache.find(CacheKey(file));
  if (found == cache.end()) return;
  std::unique_ptr<TzrIniFile> object = std::move(found->second);
  cache.erase(found);
  object->UpdateFile();
}

void IniCloseAll() {
  IniCache objects;
  objects.swap(Cache());
  // One file that cannot be written must not keep the others from being saved.
  std::exception_ptr firstError;
  for (auto& entry : objects) {
    try {
      entry.second->UpdateFile();
    } catch (const std::exception&) {
      if (!firstError) firstError = std::current_exception();
    }
  }
  objects.clear();
  if (firstError) std::rethrow_exception(firstError);
}
