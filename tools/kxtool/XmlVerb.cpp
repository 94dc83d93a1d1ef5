// kxtool xml: reads a file with the engine's XML reader and writes the tree back with its
// writer, byte for byte as the engine would save it, so that vendors and tests see exactly what
// the reader makes of a text.
#include <cstdio>
#include <string>
#include <vector>

#include "Verbs.h"
#include "database/zrXMLParser.h"
#include "os/os.h"

namespace {

struct Option {
  const char* name;
  bool TXMLSettings::*setting;
};

const Option kOptions[] = {
    {"--keep-value-spaces", &TXMLSettings::KeepValueSpaces},
    {"--keep-text-spaces", &TXMLSettings::KeepTextSpaces},
    {"--allow-unquoted", &TXMLSettings::AllowUnquoted},
    {"--skip-text", &TXMLSettings::SkipText},
    {"--skip-comments", &TXMLSettings::SkipComments},
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "kxtool xml: %s\n", problem.c_str());
  std::fputs(
      "usage: kxtool xml [--keep-value-spaces] [--keep-text-spaces] [--allow-unquoted]"
      " [--skip-text] [--skip-comments] FILE\n",
      stderr);
  return 2;
}

const Option* FindOption(const std::string& arg) {
  for (const Option& option : kOptions) {
    if (arg == option.name) return &option;
  }
  return nullptr;
}

}  // namespace

int RunXmlVerb(const std::vector<std::string>& args) {
  TXMLSettings& settings = XMLSettings();
  settings = TXMLSettings();
  std::string file;
  for (const std::string& arg : args) {
    if (const Option* option = FindOption(arg)) {
      settings.*(option->setting) = true;
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      return Usage("unknown option \"" + arg + "\"");
    } else if (!file.empty()) {
      return Usage("more than one FILE given");
    } else {
      file = arg;
    }
  }
  if (file.empty()) return Usage("no FILE given");

  TXMLTag root;
  try {
    if (!root.LoadFromFile(file)) {
      std::fprintf(stderr, "Cannot read file \"%s\".\n", file.c_str());
      return 2;
    }
  } catch (const TXMLParserError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
  const std::string xml = root.GetXML();
  os::SetStdoutBinary();
  if (std::fwrite(xml.data(), 1, xml.size(), stdout) != xml.size()) return 2;
  return std::fflush(stdout) == 0 ? 0 : 2;
}
