// kxtool db: loads a project database (or silent settings) file through the schema classes and
// writes it back through the binding, so that vendors see exactly what the engine keeps of a
// file: unknown attributes and elements dropped, defaults left out, attributes in binding order.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Verbs.h"
#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "os/os.h"

namespace {

int Usage(const std::string& problem) {
  std::fprintf(stderr, "kxtool db: %s\n", problem.c_str());
  std::fputs("usage: kxtool db [--root kx2project|silentsettings] FILE\n", stderr);
  return 2;
}

std::unique_ptr<TXMLObject> RootObject(const std::string& rootName) {
  if (rootName == kProjectRootName) return std::make_unique<TkxMainDatabase>();
  if (rootName == kSilentSettingsRootName) return std::make_unique<TkxSilentSettings>();
  return nullptr;
}

}  // namespace

int RunDbVerb(const std::vector<std::string>& args) {
  std::string rootName = kProjectRootName;
  size_t next = 0;
  if (next < args.size() && args[next] == "--root") {
    if (next + 1 >= args.size()) return Usage("--root needs a name");
    rootName = args[next + 1];
    next += 2;
  }
  if (next + 1 != args.size()) return Usage("expected one FILE");
  const std::string& fileName = args[next];
  std::unique_ptr<TXMLObject> object = RootObject(rootName);
  if (!object) return Usage("unknown root \"" + rootName + "\"");

  // Read as the engine reads its databases, so that what is shown is what it would keep: runs of
  // spaces in values stay.
  XMLSettings().KeepValueSpaces = true;
  // The root's name is not checked (packages name theirs freely); it is written back as read.
  TXMLTag input;
  if (!input.LoadFromFile(fileName)) {
    std::fprintf(stderr, "kxtool db: cannot read \"%s\"\n", fileName.c_str());
    return 2;
  }
  if (input.Kind != TXMLTagKind::Element || input.Name.empty()) {
    std::fprintf(stderr, "kxtool db: \"%s\" holds no root element\n", fileName.c_str());
    return 2;
  }
  object->Assign(input);

  TXMLTag output;
  output.SetName(input.Name);
  object->AssignTo(output);
  std::string text = output.GetXML();
  os::SetStdoutBinary();
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    std::fputs("kxtool db: cannot write the output\n", stderr);
    return 2;
  }
  return 0;
}
