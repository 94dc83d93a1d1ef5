// libFuzzer target for the XML reader and writer: hostile text must end in a tree or in a
// TXMLParserError, never in a crash, and what the writer makes of any tree the reader built
// must read back without a fault and settle after one round.
//
// The first byte picks the reader's settings, the rest is the text. Built and run by
// fuzz/run_xml_fuzz.sh; single-threaded, as the settings are process-wide.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "database/zrXMLParser.h"

namespace {

void ApplySettings(uint8_t flags) {
  TXMLSettings& settings = XMLSettings();
  settings = TXMLSettings();
  settings.KeepTextSpaces = flags & 1;
  settings.KeepValueSpaces = flags & 2;
  settings.AllowUnquoted = flags & 4;
  settings.SkipText = flags & 8;
  settings.SkipComments = flags & 16;
  settings.LowerCaseNames = flags & 32;
  settings.IndentMode = (flags >> 6) & 3;
}

[[noreturn]] void Fault(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "%s\n--- first ---\n%s\n--- second ---\n%s\n", what, a.c_str(), b.c_str());
  std::abort();
}

std::string ReadBack(const std::string& xml) {
  TXMLTag tag;
  try {
    tag.Parse(xml);
  } catch (const TXMLParserError& error) {
    Fault("the writer's text does not read back", xml, error.what());
  }
  return tag.GetXML();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  ApplySettings(data[0]);
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  TXMLTag root;
  try {
    root.Parse(text);
  } catch (const TXMLParserError& error) {
    const std::string message = error.what();
    if (message.find(" Line ") == std::string::npos) Fault("no position", message, "");
  }
  const std::string first = root.GetXML();
  TXMLTag copy;
  copy.Assign(root);
  copy.GetXML();
  if (first.empty()) return 0;
  const std::string second = ReadBack(first);
  const std::string third = ReadBack(second);
  if (second != third) Fault("the written text does not settle", second, third);
  return 0;
}
