// kxtool: diagnostics for vendors and tests. The first argument names a verb; the rest is the
// verb's.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "Verbs.h"

namespace {

struct Verb {
  const char* name;
  int (*run)(const std::vector<std::string>& args);
  const char* usage;
};

const Verb kVerbs[] = {
    {"ini", RunIniVerb, "ini [--unquote] FILE OP...   read and edit an INI file"},
    {"xml", RunXmlVerb,
     "xml [--keep-value-spaces] [--keep-text-spaces] [--allow-unquoted] [--skip-text]"
     " [--skip-comments] FILE   read an XML file and write it back"},
    {"db", RunDbVerb, "db [--root kx2project|silentsettings] FILE   load and save a database"},
    {"eval", RunEvalVerb, "eval [--var NAME=VALUE]... EXPR   evaluate an expression"},
    {"expand", RunExpandVerb, "expand [--var NAME=VALUE]... TEXT   expand %NAME% references"},
    {"encipher", RunEncipherVerb,
     "encipher IN OUT   encipher a project file as a package holds it"},
    {"decipher", RunDecipherVerb, "decipher IN OUT   decipher a project file of a package"},
    {"haval", RunHavalVerb, "haval [FILE]   the engine's HAVAL of FILE or standard input"},
    {"reg", RunRegVerb,
     "reg get KEY [VALUE] | set KEY VALUE TYPE DATA | del KEY [VALUE] | list KEY | dump [KEY]"
     "   read and change the registry"},
    {"reboot", RunRebootVerb,
     "reboot   apply the file operations pending until a restart, then run the RunOnce commands"},
    {"inspect", RunPackageVerb,
     "inspect PACKAGE   trailer, entries and deciphered databases of a package"},
};

int Usage() {
  std::fputs("usage: kxtool VERB ARGUMENTS...\nverbs:\n", stderr);
  for (const Verb& verb : kVerbs) std::fprintf(stderr, "  %s\n", verb.usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string name = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const Verb& verb : kVerbs) {
    if (name != verb.name) continue;
    try {
      return verb.run(args);
    } catch (const std::exception& error) {
      std::fflush(stdout);
      std::fprintf(stderr, "kxtool %s: %s\n", verb.name, error.what());
      return 2;
    }
  }
  std::fprintf(stderr, "kxtool: unknown verb \"%s\"\n", name.c_str());
  return Usage();
}
