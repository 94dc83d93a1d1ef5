// kxbuild: the authoring tool. A project file and its payload folder become the setup program
// and its further packages; docs/kxbuild.md describes the project file.
//
// Exit codes: 0 built, 2 bad usage or a build error (the message is on standard error).
#include <cstdio>
#include <exception>
#include <string>

#include "Builder.h"

namespace {

const char kUsage[] =
    "usage: kxbuild PROJECT.xml [-o OUTPUT] [--target win32|win64|host] [--payload DIR]\n"
    "               [--stub FILE] [--uninstaller FILE] [--plugins DIR]\n"
    "               [--languages DIR] [--compression none|mszip] [--follow-links]\n"
    "               [--sign \"COMMAND\"] [--jobs N]\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "kxbuild: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

// More threads than this would only hold more folders in memory (twice as many as threads).
constexpr unsigned kMaxJobs = 64;

bool ParseJobs(const std::string& text, unsigned& jobs) {
  if (text.empty() || text.size() > 3 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  jobs = static_cast<unsigned>(std::stoul(text));
  return jobs >= 1 && jobs <= kMaxJobs;
}

}  // namespace

int main(int argc, char** argv) {
  TBuildOptions options;
  std::string jobs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string* value = nullptr;
    if (arg == "-o" || arg == "--output") {
      value = &options.Output;
    } else if (arg == "--target") {
      value = &options.Target;
    } else if (arg == "--payload") {
      value = &options.PayloadFolder;
    } else if (arg == "--stub") {
      value = &options.StubFile;
    } else if (arg == "--uninstaller") {
      value = &options.UninstallerFile;
    } else if (arg == "--plugins") {
      value = &options.PluginFolder;
    } else if (arg == "--languages") {
      value = &options.LanguageFolder;
    } else if (arg == "--sign") {
      value = &options.SignCommand;
    } else if (arg == "--compression") {
      value = &options.Compression;
    } else if (arg == "--follow-links") {
      options.FollowLinks = true;
      continue;
    } else if (arg == "--jobs" || arg == "-j") {
      value = &jobs;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (options.ProjectFile.empty()) {
      options.ProjectFile = arg;
      continue;
    } else {
      return Usage("more than one project file");
    }
    if (i + 1 >= argc || std::string(argv[i + 1]).empty()) return Usage(arg + " needs a value");
    *value = argv[++i];
  }
  if (options.ProjectFile.empty()) return Usage("no project file");
  if (!jobs.empty() && !ParseJobs(jobs, options.Jobs)) {
    return Usage("--jobs needs a number of threads from 1 to " + std::to_string(kMaxJobs));
  }

  try {
    TBuildResult result = BuildProject(options);
    for (const std::string& warning : result.Warnings) {
      std::fprintf(stderr, "kxbuild: warning: %s\n", warning.c_str());
    }
    for (const TBuiltPackage& package : result.Packages) {
      std::printf("%s: %u files, presetup %u bytes, data %u bytes, %u bytes built\n",
                  package.FileName.c_str(), package.EntryCount, package.PresetupSize,
                  package.DataSize, package.BuiltSize);
    }
    return 0;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "kxbuild: %s\n", error.what());
    return 2;
  }
}
