// kxtool encipher, decipher and haval: the project-file cipher as the engine and the authoring
// tool apply it, so vendors can look inside a "db.pdb" or "main.pdb" and tests can make them.
#include <cstdio>
#include <string>
#include <vector>

#include "Verbs.h"
#include "os/os.h"
#include "package/Haval.h"
#include "package/PackageCipher.h"
#include "support/zrFileUtils.h"

namespace {

int Fail(const char* verb, const std::string& problem) {
  std::fprintf(stderr, "kxtool %s: %s\n", verb, problem.c_str());
  return 2;
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  os::File file = os::File::Open(path, os::File::Mode::kCreate);
  return file.IsOpen() && file.Write(bytes.data(), bytes.size());
}

int Transform(const char* verb, const std::vector<std::string>& args,
              std::string (*transform)(const std::string&)) {
  if (args.size() != 2) {
    std::fprintf(stderr, "kxtool %s: expected IN and OUT\nusage: kxtool %s IN OUT\n", verb, verb);
    return 2;
  }
  // Unlike the engine, which reads a file it cannot open as empty text, the tool says so: an
  // enciphered empty output for a mistyped name would hide the mistake.
  std::string input;
  if (!TryReadWholeFile(args[0], input)) {
    return Fail(verb, "cannot read \"" + args[0] + "\": " + os::LastErrorMessage());
  }
  if (!WriteAll(args[1], transform(input))) {
    return Fail(verb, "cannot write \"" + args[1] + "\": " + os::LastErrorMessage());
  }
  return 0;
}

}  // namespace

int RunEncipherVerb(const std::vector<std::string>& args) {
  return Transform("encipher", args, EncipherDatabase);
}

int RunDecipherVerb(const std::vector<std::string>& args) {
  return Transform("decipher", args, DecipherDatabase);
}

int RunHavalVerb(const std::vector<std::string>& args) {
  if (args.size() > 1) {
    std::fputs("kxtool haval: expected at most one FILE\nusage: kxtool haval [FILE]\n", stderr);
    return 2;
  }
  THaval haval;
  if (args.empty()) {
    os::SetStdinBinary();
    char buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof(buffer), stdin)) > 0) haval.Update(buffer, count);
    if (std::ferror(stdin)) return Fail("haval", "cannot read standard input");
  } else {
    std::string bytes;
    if (!TryReadWholeFile(args[0], bytes)) {
      return Fail("haval", "cannot read \"" + args[0] + "\": " + os::LastErrorMessage());
    }
    haval.Update(bytes.data(), bytes.size());
  }
  std::string line = DigestToHex(haval.Finish()) + "\n";
  os::SetStdoutBinary();
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0) {
    return Fail("haval", "cannot write the output");
  }
  return 0;
}
