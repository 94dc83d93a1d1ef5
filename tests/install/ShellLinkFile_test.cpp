// The host's link files, read back by an independent reader of the format (lnkinfo, from liblnk).
// Host only: the reader is a Linux program.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "support/zrFileUtils.h"
#include "support/zrShellLink.h"

namespace {

// "Z:\x\y" on the host is "/x/y".
std::string HostPath(const std::string& path) {
  std::string host = path.substr(2);
  for (char& c : host) {
    if (c == '\\') c = '/';
  }
  return host;
}

// lnkinfo's "name : value" lines; an empty map when it could not read the file.
std::map<std::string, std::string> LinkInfo(const std::string& link) {
  std::map<std::string, std::string> fields;
  FILE* pipe = popen(("lnkinfo '" + HostPath(link) + "' 2>&1").c_str(), "r");
  if (!pipe) return fields;
  char line[4096];
  while (fgets(line, sizeof line, pipe)) {
    std::string text = line;
    const size_t colon = text.find(':');
    if (colon == std::string::npos || text.empty() || text[0] != '\t') continue;
    auto trim = [](std::string part) {
      const size_t first = part.find_first_not_of(" \t\r\n");
      const size_t last = part.find_last_not_of(" \t\r\n");
      return first == std::string::npos ? std::string() : part.substr(first, last - first + 1);
    };
    fields[trim(text.substr(0, colon))] = trim(text.substr(colon + 1));
  }
  return pclose(pipe) == 0 ? fields : std::map<std::string, std::string>();
}

struct LinkCase {
  const char* title;
  // The link's fields; "$" stands for the scratch folder (with its trailing backslash).
  const char* target;
  const char* arguments;
  const char* workingFolder;
  const char* description;
  const char* iconFile;
  int32_t iconIndex;
  // What lnkinfo reports; a value of nullptr: the field must be absent.
  std::vector<std::pair<const char*, const char*>> expected;
};

std::string Filled(const char* text, const std::string& scratch) {
  std::string result = text;
  for (size_t at = result.find('$'); at != std::string::npos; at = result.find('$', at)) {
    result.replace(at, 1, scratch);
    at += scratch.size();
  }
  return result;
}

const LinkCase kCases[] = {
    {"every field, quoted",
     "\"$app dir\\app.exe\"",
     "-x \"two words\"",
     "\"$app dir\"",
     "\"The application\"",
     "\"$app dir\\app.exe\"",
     2,
     {{"Local path", "$app dir\\app.exe"},
      {"Relative path", "..\\app dir\\app.exe"},
      {"Command line arguments", "-x \"two words\""},
      {"Working directory", "$app dir"},
      {"Description", "The application"},
      {"Icon location", "$app dir\\app.exe"},
      {"Icon index", "2"},
      {"File size", "11 bytes"},
      {"Drive type", "Fixed (3)"}}},
    {"a target that does not exist, nothing else",
     "C:\\Program Files\\Missing\\tool.exe",
     "",
     "",
     "",
     "",
     0,
     {{"Local path", "C:\\Program Files\\Missing\\tool.exe"},
      {"File size", "0 bytes"},
      {"Relative path", nullptr},
      {"Command line arguments", nullptr},
      {"Working directory", nullptr},
      {"Description", nullptr},
      {"Icon location", nullptr}}},
    {"a target beside the link, an icon from a library",
     "$tool.exe",
     "",
     "$",
     "",
     "C:\\Windows\\system32\\shell32.dll",
     -21,
     {{"Local path", "$tool.exe"},
      {"Relative path", ".\\tool.exe"},
      {"Icon location", "C:\\Windows\\system32\\shell32.dll"},
      {"Icon index", "-21"}}},
};

TEST(ShellLinkFile, LnkinfoReadsBackEveryField) {
  ScratchFolder scratch(CurrentTestName());
  ASSERT_TRUE(ForceFolders(scratch.Path() + "app dir"));
  ASSERT_TRUE(WriteFileText(scratch.Path() + "app dir\\app.exe", "the program"));
  ASSERT_TRUE(WriteFileText(scratch.Path() + "tool.exe", "tool"));
  const std::string links = scratch.Path() + "links\\";
  ASSERT_TRUE(ForceFolders(links));
  int index = 0;
  for (const LinkCase& item : kCases) {
    TzrShellLink link;
    link.Path = Filled(item.target, scratch.Path());
    link.Arguments = Filled(item.arguments, scratch.Path());
    link.WorkingDirectory = Filled(item.workingFolder, scratch.Path());
    link.Description = item.description;
    link.IconFile = Filled(item.iconFile, scratch.Path());
    link.IconIndex = item.iconIndex;
    // The third link lies beside its target.
    const std::string file = (index == 2 ? scratch.Path() : links) + std::to_string(index) + ".lnk";
    ++index;
    ASSERT_TRUE(link.Save("\"" + file + "\"")) << item.title;
    const auto fields = LinkInfo(file);
    ASSERT_FALSE(fields.empty()) << item.title << ": lnkinfo could not read " << file;
    for (const auto& [name, value] : item.expected) {
      const auto found = fields.find(name);
      if (!value) {
        EXPECT_EQ(found, fields.end()) << item.title << ": " << name;
      } else if (found == fields.end()) {
        ADD_FAILURE() << item.title << ": no " << name;
      } else {
        EXPECT_EQ(found->second, Filled(value, scratch.Path())) << item.title << ": " << name;
      }
    }
  }
}

}  // namespace
