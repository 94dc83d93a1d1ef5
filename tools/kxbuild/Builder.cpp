#include "Builder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "BinaryKind.h"
#include "CabWriter.h"
#include "KitFiles.h"
#include "Payload.h"
#include "Signing.h"
#include "StagedOutputs.h"
#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "os/PeVersion.h"
#include "os/os.h"
#include "package/PackageCipher.h"
#include "package/TrailerLayout.h"
#include "support/Errors.h"
#include "support/SafeNames.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

constexpr char kDataPrefix[] = "data\\";
// The maintenance program every main package carries, as the engine takes it from the presetup
// files.
constexpr char kUninstallerName[] = "Uninstall.exe";
// The uncompressed size at which a cabinet folder is closed. Each folder is a compression stream
// of its own, so that folders compress in parallel. The history that starts empty in each costs
// nothing measurable: on a mixed payload of 200 MiB the output was within 0.1% of one folder's
// for every size from 64 KiB to 8 MiB (at 4 MiB 0.004% smaller). 4 MiB makes a few dozen folders
// of such a payload to share among the cores, and at most twice as many as the cores wait in
// memory.
constexpr uint64_t kCabinetFolderSize = uint64_t{4} << 20;

// ---------------------------------------------------------------------------------------------
// Paths

bool EndsWithText(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && SameText(text.substr(text.size() - suffix.size()), suffix);
}

// The Windows build of kxbuild is kxbuild.exe; the OS layer offers no other way to tell.
bool RunsOnWindows() { return EndsWithText(os::ModuleFileName(), ".exe"); }

bool IsAbsolutePath(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || path.rfind("\\\\", 0) == 0;
}

// A path as a user wrote it (command line or <build> element) made absolute in Windows form.
// Either slash separates; on Linux an absolute Linux path stands for drive Z:, as everywhere in
// the host OS layer.
std::string ResolvePath(const std::string& base, const std::string& written) {
  std::string path = ReplaceAll(written, "/", "\\");
  if (path.empty()) return path;
  if (!RunsOnWindows() && written[0] == '/') return "Z:" + path;
  if (IsAbsolutePath(path)) return path;
  if (path[0] == '\\') return base.substr(0, 2) + path;
  return WithTrailingBackslash(base) + path;
}

std::string FolderOf(const std::string& path) { return ExtractFilePath(path); }

// The extension test of the engine's matching: a dot in the last name.
bool HasExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t separator = path.find_last_of("\\:");
  return dot != std::string::npos && (separator == std::string::npos || dot > separator);
}

std::string WithExtensionDot(const std::string& path) {
  return HasExtension(path) ? path : path + ".";
}

// A relative name that stays inside the folder it follows and that the engine accepts there
// (see support/SafeNames.h), written with backslashes as the package stores it.
bool IsSafeRelativeName(const std::string& name) {
  return name.find('/') == std::string::npos && IsSafeEntryName(name);
}

// A file item's source: a folder path inside the component's payload folder, then a file name
// that may hold wildcards (the payload's own names are checked where it is read).
bool IsSafeSourcePattern(const std::string& src) {
  const std::string name = ExtractFileName(src);
  if (name.empty() || name == "." || name == "..") return false;
  const std::string folder = ExtractFilePath(src);
  return folder.empty() || IsSafeRelativeName(WithoutTrailingBackslash(folder));
}

// ---------------------------------------------------------------------------------------------
// Names

// Component IDs and package names become folder and file names: letters, digits, "_", "-" and
// "." (not first, so that neither "." nor ".." nor a hidden name can occur), and a name the engine
// takes as a file name (no device, no final dot).
bool IsPlainName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.' || !IsSafeFileName(name)) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
  });
}

// ---------------------------------------------------------------------------------------------
// Numbers in the <build> element

std::optional<int64_t> ParseInteger(const std::string& written) {
  std::string text = Trim(written);
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.erase(0, 1);
  }
  int base = 10;
  if (text.rfind("$", 0) == 0) {
    base = 16;
    text.erase(0, 1);
  } else if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) {
    base = 16;
    text.erase(0, 2);
  }
  if (text.empty() || text.size() > 10) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
  }
  return negative ? -value : value;
}

// ---------------------------------------------------------------------------------------------
// The <build> element

struct TNamedFile {
  std::string Name;  // inside the package
  std::string Path;  // on disk; relative to the target's plug-in folder until that is known
  bool InPluginFolder = false;
};

struct TSplash {
  std::string Path;
  bool HasTrailer = false;  // the project gives the values: kxbuild appends them
  uint32_t Seconds = 0;
  uint32_t Transparent = 0xFFFFFFFFu;
  uint32_t Opacity = 100;
};

struct TPluginFiles {
  std::string Package;  // "" for the main package
  std::string ID;
  std::vector<TNamedFile> Files;
  int Line = 0;
};

struct TBuildElement {
  std::string Output, Target, Payload, Compression, Stub, Languages, PluginFolder;
  std::optional<TSplash> Splash;
  std::string PresetupBitmap;
  std::vector<TNamedFile> PresetupFiles;
  std::vector<TNamedFile> LanguageFiles;
  std::vector<TPluginFiles> Plugins;
};

class TBuildReader {
 public:
  explicit TBuildReader(std::string projectFolder) : folder_(std::move(projectFolder)) {}

  TBuildElement Read(const TXMLTag* tag) {
    TBuildElement build;
    if (!tag) return build;
    ReadAttributes(*tag,
                   {"output", "target", "payload", "compression", "stub", "languages", "plugins"});
    build.Output = Attribute(*tag, "output");
    build.Target = Attribute(*tag, "target");
    build.Payload = Attribute(*tag, "payload");
    build.Compression = Attribute(*tag, "compression");
    build.Stub = Attribute(*tag, "stub");
    build.Languages = Attribute(*tag, "languages");
    if (!Attribute(*tag, "plugins").empty()) {
      build.PluginFolder = ResolvePath(folder_, Attribute(*tag, "plugins"));
    }
    for (const auto& child : tag->Children) {
      if (child->Kind != TXMLTagKind::Element) continue;
      const TXMLTag& element = *child;
      if (element.Name == "splash") {
        if (build.Splash) Fail(element, "a second <splash>");
        build.Splash = ReadSplash(element);
      } else if (element.Name == "presetupbitmap") {
        if (!build.PresetupBitmap.empty()) Fail(element, "a second <presetupbitmap>");
        ReadAttributes(element, {"src"});
        build.PresetupBitmap = Source(element);
      } else if (element.Name == "presetup") {
        build.PresetupFiles.push_back(ReadNamedFile(element));
      } else if (element.Name == "language") {
        TNamedFile file = ReadNamedFile(element);
        if (file.Name.find('\\') != std::string::npos || !EndsWithText(file.Name, ".lng")) {
          Fail(element, "a language file is named like \"FRA.lng\", not \"" + file.Name + "\"");
        }
        build.LanguageFiles.push_back(file);
      } else if (element.Name == "plugin") {
        build.Plugins.push_back(ReadPlugin(element));
      } else {
        Fail(element, "unknown element <" + element.Name + "> in <build>");
      }
    }
    return build;
  }

 private:
  [[noreturn]] void Fail(const TXMLTag& tag, const std::string& problem) {
    ThrowError("<build>, line %d: %s", tag.Line, problem.c_str());
  }

  // Every attribute must be one of names, so that a misspelt one is not silently ignored.
  void ReadAttributes(const TXMLTag& tag, std::initializer_list<const char*> names) {
    for (const std::string& entry : tag.Attributes) {
      const std::string name = NameOf(entry);
      bool known =
          std::any_of(names.begin(), names.end(), [&](const char* n) { return SameText(name, n); });
      if (!known) Fail(tag, "unknown attribute \"" + name + "\" of <" + tag.Name + ">");
    }
  }

  static std::string Attribute(const TXMLTag& tag, const char* name) {
    std::string value;
    tag.FindAttribute(name, value);
    return value;
  }

  std::string Source(const TXMLTag& tag) {
    const std::string src = Attribute(tag, "src");
    if (src.empty()) Fail(tag, "<" + tag.Name + "> needs a src");
    return ResolvePath(folder_, src);
  }

  TNamedFile ReadNamedFile(const TXMLTag& tag) {
    ReadAttributes(tag, {"src", "name"});
    TNamedFile file;
    file.Path = Source(tag);
    NameFile(tag, file);
    return file;
  }

  // A plug-in's file comes from the project (the default) or, with from="plugins", from the
  // plug-in folder of the target, which is known only once the target is.
  TNamedFile ReadPluginFile(const TXMLTag& tag) {
    ReadAttributes(tag, {"src", "name", "from"});
    const std::string from = Attribute(tag, "from");
    TNamedFile file;
    if (SameText(from, "plugins")) {
      file.Path = ReplaceAll(Attribute(tag, "src"), "/", "\\");
      file.InPluginFolder = true;
      if (!IsSafeRelativeName(file.Path)) {
        Fail(tag, "src=\"" + file.Path + "\" is no path inside the plug-in folder");
      }
    } else if (from.empty() || SameText(from, "project")) {
      file.Path = Source(tag);
    } else {
      Fail(tag, "from=\"" + from + "\" is neither \"project\" nor \"plugins\"");
    }
    NameFile(tag, file);
    return file;
  }

  void NameFile(const TXMLTag& tag, TNamedFile& file) {
    file.Name = ReplaceAll(Attribute(tag, "name"), "/", "\\");
    if (file.Name.empty()) file.Name = ExtractFileName(file.Path);
    if (!IsSafeRelativeName(file.Name)) {
      Fail(tag, "the name \"" + file.Name + "\" is not a relative path inside the package");
    }
  }

  uint32_t Number(const TXMLTag& tag, const char* name, int64_t low, int64_t high) {
    const std::string text = Attribute(tag, name);
    std::optional<int64_t> value = ParseInteger(text);
    if (!value || *value < low || *value > high) {
      Fail(tag, Format("%s=\"%s\" is not a number from %lld to %lld", name, text.c_str(),
                       static_cast<long long>(low), static_cast<long long>(high)));
    }
    return static_cast<uint32_t>(*value);
  }

  TSplash ReadSplash(const TXMLTag& tag) {
    ReadAttributes(tag, {"src", "time", "transparent", "opacity"});
    TSplash splash;
    splash.Path = Source(tag);
    std::string value;
    if (tag.FindAttribute("time", value)) {
      splash.HasTrailer = true;
      splash.Seconds = Number(tag, "time", 0, 3600);
    }
    if (tag.FindAttribute("transparent", value)) {
      splash.HasTrailer = true;
      if (SameText(value, "none")) {
        splash.Transparent = 0xFFFFFFFFu;
      } else if (value.size() == 7 && value[0] == '#') {
        std::optional<int64_t> rgb = ParseInteger("$" + value.substr(1));
        if (!rgb) Fail(tag, "transparent=\"" + value + "\" is no colour of the form #RRGGBB");
        splash.Transparent = static_cast<uint32_t>(*rgb);
      } else {
        const int64_t number = Number(tag, "transparent", -1, 0xFFFFFF);
        splash.Transparent = static_cast<uint32_t>(number);
      }
    }
    if (tag.FindAttribute("opacity", value)) {
      splash.HasTrailer = true;
      splash.Opacity = Number(tag, "opacity", 0, 100);
    }
    return splash;
  }

  TPluginFiles ReadPlugin(const TXMLTag& tag) {
    ReadAttributes(tag, {"id", "package"});
    TPluginFiles plugin;
    plugin.ID = Attribute(tag, "id");
    plugin.Package = Attribute(tag, "package");
    plugin.Line = tag.Line;
    if (plugin.ID.empty()) Fail(tag, "<plugin> needs the id of a plug-in entry");
    for (const auto& child : tag.Children) {
      if (child->Kind != TXMLTagKind::Element) continue;
      if (child->Name != "file") Fail(*child, "unknown element <" + child->Name + "> in <plugin>");
      plugin.Files.push_back(ReadPluginFile(*child));
    }
    if (plugin.Files.empty()) Fail(tag, "<plugin id=\"" + plugin.ID + "\"> lists no <file>");
    return plugin;
  }

  std::string folder_;
};

// The engine's rule for matching an archive entry to a file item, applied to a payload file's
// path relative to its component folder.
bool SourceMatchesEntry(const std::string& src, const std::string& relativePath) {
  const std::string mask = WithExtensionDot(src);
  const std::string relative = WithExtensionDot(relativePath);
  const std::string maskName = ExtractFileName(mask);
  if (!HasWildcards(maskName)) return SameText(mask, relative);
  return MatchWild(ExtractFileName(relative), maskName, true) &&
         StartsText(ExtractFilePath(relative), ExtractFilePath(mask));
}

// ---------------------------------------------------------------------------------------------
// Files read for the packages

std::string ReadFileBytes(const std::string& path, const char* what) {
  if (!FileExists(path)) ThrowError("The %s %s does not exist", what, path.c_str());
  std::string bytes;
  if (!TryReadWholeFile(path, bytes)) {
    ThrowError("Cannot read the %s %s: %s", what, path.c_str(), os::LastErrorMessage().c_str());
  }
  return bytes;
}

// The first bytes of a file, as many as BinaryKindOf needs.
std::string ReadFileHead(const std::string& path) {
  constexpr size_t kHeadSize = 64 * 1024;
  os::File file = os::File::Open(path, os::File::Mode::kRead);
  std::string head(kHeadSize, '\0');
  const int64_t read = file.IsOpen() ? file.ReadAt(0, head.data(), head.size()) : -1;
  if (read < 0) {
    ThrowError("Cannot read %s: %s", path.c_str(), os::LastErrorMessage().c_str());
  }
  head.resize(static_cast<size_t>(read));
  return head;
}

std::string VersionOf(const std::string& path) {
  os::File file = os::File::Open(path, os::File::Mode::kRead);
  if (!file.IsOpen()) return "";
  auto read = [&file](uint64_t offset, void* buffer, size_t count) -> size_t {
    return static_cast<size_t>(std::max<int64_t>(0, file.ReadAt(offset, buffer, count)));
  };
  std::optional<os::PeFixedFileInfo> info = os::ReadPeFixedFileInfo(read);
  if (!info) return "";
  return Format("%u.%u.%u.%u", info->fileVersionMS >> 16, info->fileVersionMS & 0xFFFF,
                info->fileVersionLS >> 16, info->fileVersionLS & 0xFFFF);
}

void PutLe32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// ---------------------------------------------------------------------------------------------
// The build

struct TDataFile {
  std::string Name;  // "data\<ID>\<relative path>"
  std::string Path;
};

struct TPackagePlan {
  std::string Name;  // "" for the main package
  std::string OutputPath;
  const TkxPackage* Definition = nullptr;  // the project's <package>, if any
  std::vector<const TkxComponent*> Components;
  std::vector<std::vector<TNamedFile>> PluginFiles;  // by entry position
  std::vector<TDataFile> DataFiles;
};

class TBuilder {
 public:
  explicit TBuilder(const TBuildOptions& options) : options_(options) {}

  TBuildResult Run() {
    LoadProject();
    ChooseSettings();
    PlanPackages();
    CollectPlugins();
    CollectData();
    languageFiles_ = LanguageFiles();
    CheckInputsAndOutputs();
    const std::string mainXml = MainDatabaseXml();
    std::vector<std::string> packageXml;
    for (const TPackagePlan& plan : plans_) packageXml.push_back(PackageDatabaseXml(plan));
    if (!FileExists(stubPath_)) {
      ThrowError("The engine stub %s for the target %s does not exist; give one with --stub",
                 stubPath_.c_str(), target_.c_str());
    }
    const std::string stub = ReadFileBytes(stubPath_, "engine stub");
    CheckStub(stub);
    CheckUninstaller();
    // Further packages first: the main package is the one a user starts, so it takes its place
    // last, when everything else is in place.
    for (size_t i = plans_.size(); i-- > 0;) {
      result_.Packages.insert(result_.Packages.begin(),
                              WritePackage(plans_[i], i == 0 ? stub : std::string(), packageXml[i],
                                           i == 0 ? mainXml : std::string()));
    }
    if (!options_.SignCommand.empty()) SignMainPackage();
    outputs_.Commit(result_.Warnings);
    return std::move(result_);
  }

 private:
  // --- the project file

  void LoadProject() {
    projectPath_ = ResolvePath(os::GetCurrentDir(), options_.ProjectFile);
    projectFolder_ = FolderOf(projectPath_);
    if (!FileExists(projectPath_)) ThrowError("Project file %s not found", projectPath_.c_str());
    projectTime_ = FileTime(projectPath_);
    // Read as the engine reads the databases made of it: a value keeps its runs of spaces.
    XMLSettings().KeepValueSpaces = true;
    try {
      if (!root_.LoadFromFile(projectPath_)) {
        ThrowError("Cannot read project file %s: %s", projectPath_.c_str(),
                   os::LastErrorMessage().c_str());
      }
    } catch (const TXMLParserError& error) {
      ThrowError("Project file %s: %s", projectPath_.c_str(), error.what());
    }
    if (root_.Kind != TXMLTagKind::Element || root_.Name != kProjectRootName) {
      ThrowError("Project file %s: the root element must be <%s>", projectPath_.c_str(),
                 kProjectRootName);
    }
    const TXMLTag* buildTag = nullptr;
    for (const auto& child : root_.Children) {
      if (child->Kind != TXMLTagKind::Element || child->Name != "build") continue;
      if (buildTag) ThrowError("Project file %s holds two <build> elements", projectPath_.c_str());
      buildTag = child.get();
    }
    build_ = TBuildReader(projectFolder_).Read(buildTag);
    project_.Assign(root_);
  }

  void ChooseSettings() {
    const std::string here = os::GetCurrentDir();
    const std::string own = os::ModuleFileName();
    target_ = !options_.Target.empty() ? options_.Target : build_.Target;
    if (target_.empty())
      target_ = RunsOnWindows() ? (sizeof(void*) == 8 ? "win64" : "win32") : "host";
    if (target_ != "win32" && target_ != "win64" && target_ != "host") {
      ThrowError("Unknown target \"%s\": win32, win64 or host", target_.c_str());
    }
    const bool windowsTarget = target_ != "host";

    std::string compression =
        !options_.Compression.empty() ? options_.Compression : build_.Compression;
    if (compression.empty() || compression == "mszip") {
      compression_ = TCabCompression::kMszip;
    } else if (compression == "none") {
      compression_ = TCabCompression::kNone;
    } else {
      ThrowError("Unknown compression \"%s\": none or mszip", compression.c_str());
    }

    if (!options_.Output.empty()) {
      outputPath_ = ResolvePath(here, options_.Output);
    } else if (!build_.Output.empty()) {
      outputPath_ = ResolvePath(projectFolder_, build_.Output);
    } else {
      outputPath_ = ChangeFileExt(projectPath_, windowsTarget ? ".exe" : "");
    }
    if (outputPath_.empty() || outputPath_.back() == '\\' || ExtractFileName(outputPath_).empty()) {
      ThrowError("The output %s names no file", outputPath_.c_str());
    }
    outputs_.MakeFolder(FolderOf(outputPath_));

    if (!options_.PayloadFolder.empty()) {
      payloadFolder_ = ResolvePath(here, options_.PayloadFolder);
    } else {
      payloadFolder_ =
          ResolvePath(projectFolder_, build_.Payload.empty() ? "payload" : build_.Payload);
    }
    payloadFolder_ = WithoutTrailingBackslash(payloadFolder_);
    payload_.emplace(payloadFolder_, options_.FollowLinks);

    if (!options_.StubFile.empty()) {
      stubPath_ = ResolvePath(here, options_.StubFile);
    } else if (!build_.Stub.empty()) {
      stubPath_ = ResolvePath(projectFolder_, build_.Stub);
    } else {
      stubPath_ = KitStub(own);
    }
    ChooseUninstaller(here, own);
  }

  // Signed under its temporary name: a package the command or the check refuses never takes
  // the place of the previous build's.
  void SignMainPackage() {
    const TBuiltPackage& main = result_.Packages.front();
    SignPackage(outputs_.StagedPath(main.FileName), options_.SignCommand, RunsOnWindows(),
                {main.BuiltSize, main.PresetupSize, main.DataSize});
  }

  // The first stub of the target that exists beside kxbuild or in its kit.
  std::string KitStub(const std::string& own) const {
    const std::vector<std::string> candidates = KitStubCandidates(FolderOf(own), target_);
    std::string tried;
    for (const std::string& candidate : candidates) {
      if (FileExists(candidate)) return candidate;
      tried += "\n  " + candidate;
    }
    ThrowError(
        "The engine stub for the target %s was not found; looked for:%s\nGive one with --stub",
        target_.c_str(), tried.c_str());
  }

  // Named by --uninstaller, else the one that comes with the engine stub, else the one beside
  // kxbuild (a stub given from elsewhere, as tests do, still gets the build's uninstaller).
  void ChooseUninstaller(const std::string& here, const std::string& own) {
    if (!options_.UninstallerFile.empty()) {
      uninstallerPath_ = ResolvePath(here, options_.UninstallerFile);
      return;
    }
    uninstallerPath_ = FolderOf(stubPath_) + kUninstallerName;
    const std::string besideKxbuild = FolderOf(own) + kUninstallerName;
    if (!FileExists(uninstallerPath_) && FileExists(besideKxbuild)) {
      uninstallerPath_ = besideKxbuild;
    }
  }

  // The engine runs the uninstaller on the target's machine: it must be a program of the target.
  // A Linux program built position-independent has the type of a shared object, so only a
  // Windows DLL is told from a program.
  void CheckUninstaller() const {
    if (!FileExists(uninstallerPath_)) {
      ThrowError("The uninstaller %s does not exist; give one with --uninstaller",
                 uninstallerPath_.c_str());
    }
    const TBinaryKind kind = BinaryKindOf(ReadFileHead(uninstallerPath_));
    if (kind.Target == target_ && (!kind.Library || target_ == "host")) return;
    ThrowError(
        "The uninstaller %s is %s, not a program for the target %s; give the right one with "
        "--uninstaller",
        uninstallerPath_.c_str(), DescribeKind(kind).c_str(), target_.c_str());
  }

  void CheckStub(const std::string& stub) {
    TBinaryKind kind = BinaryKindOf(stub);
    if (kind.Target == target_) return;
    kind.Library = false;  // named as the program it should be
    ThrowError(
        "The engine stub %s is %s, not one for the target %s; give the right one with "
        "--stub",
        stubPath_.c_str(), DescribeKind(kind).c_str(), target_.c_str());
  }

  // --- packages and components

  void PlanPackages() {
    plans_.emplace_back();
    plans_[0].OutputPath = outputPath_;
    const std::string mainName = ChangeFileExt(ExtractFileName(outputPath_), "");
    for (int i = 0; i < project_.Packages->Count(); ++i) {
      const TkxPackage& package = *project_.Packages->Items(i);
      if (package.FileName.empty()) {
        if (plans_[0].Definition) ThrowError("Two <package> elements describe the main package");
        plans_[0].Definition = &package;
        continue;
      }
      const std::string& name = package.FileName;
      if (!IsPlainName(name)) {
        ThrowError(
            "Package name \"%s\" is not a plain name (letters, digits, \"_\", \"-\" and "
            "\".\", not first or last; at most 64 characters; no device name)",
            name.c_str());
      }
      if (FindPlan(name)) ThrowError("Package \"%s\" is declared twice", name.c_str());
      if (SameText(name, mainName)) {
        ThrowError("Package \"%s\" has the name of the main package %s", name.c_str(),
                   outputPath_.c_str());
      }
      TPackagePlan plan;
      plan.Name = name;
      plan.Definition = &package;
      plan.OutputPath = FolderOf(outputPath_) + name + ".kxp";
      plans_.push_back(std::move(plan));
    }

    std::set<std::string> ids;
    for (int i = 0; i < project_.Components->Count(); ++i) {
      const TkxComponent& component = *project_.Components->Items(i);
      const std::string& id = component.ID();
      if (!IsPlainName(id)) {
        ThrowError(
            "Component ID \"%s\" is not a plain name (letters, digits, \"_\", \"-\" and "
            "\".\", not first or last; at most 64 characters; no device name)",
            id.c_str());
      }
      // The engine finds components by ID without regard to case.
      if (!ids.insert(UpperCaseText(id)).second) {
        ThrowError("Duplicate component ID \"%s\"", id.c_str());
      }
      TPackagePlan* plan = component.Package.empty() ? &plans_[0] : FindPlan(component.Package);
      if (!plan) {
        ThrowError(
            "Component \"%s\" names the package \"%s\", which no <package filename=...> in "
            "<packages> declares",
            id.c_str(), component.Package.c_str());
      }
      plan->Components.push_back(&component);
    }
  }

  TPackagePlan* FindPlan(const std::string& name) {
    for (size_t i = 1; i < plans_.size(); ++i) {
      if (SameText(plans_[i].Name, name)) return &plans_[i];
    }
    return nullptr;
  }

  static std::string PackageLabel(const TPackagePlan& plan) {
    return plan.Name.empty() ? std::string("the main package") : "package \"" + plan.Name + "\"";
  }

  void CollectPlugins() {
    for (const TPluginFiles& files : build_.Plugins) {
      TPackagePlan* plan = files.Package.empty() ? &plans_[0] : FindPlan(files.Package);
      if (!plan) {
        ThrowError("<build>, line %d: <plugin> names the unknown package \"%s\"", files.Line,
                   files.Package.c_str());
      }
      const TkxPlugins* entries = plan->Definition ? plan->Definition->Plugins.get() : nullptr;
      const int count = entries ? entries->Count() : 0;
      int index = -1;
      for (int i = 0; i < count; ++i) {
        if (SameText(entries->Items(i)->ID, files.ID)) {
          index = i;
          break;
        }
      }
      if (index < 0) {
        ThrowError("<build>, line %d: %s has no plug-in entry \"%s\"", files.Line,
                   PackageLabel(*plan).c_str(), files.ID.c_str());
      }
      plan->PluginFiles.resize(static_cast<size_t>(count));
      auto& target = plan->PluginFiles[static_cast<size_t>(index)];
      if (!target.empty()) {
        ThrowError("<build>, line %d: the files of plug-in \"%s\" are listed twice", files.Line,
                   files.ID.c_str());
      }
      target = files.Files;
      for (TNamedFile& file : target) {
        if (file.InPluginFolder) file.Path = PluginFolder() + "\\" + file.Path;
      }
    }
    for (TPackagePlan& plan : plans_) {
      const TkxPlugins* entries = plan.Definition ? plan.Definition->Plugins.get() : nullptr;
      const int count = entries ? entries->Count() : 0;
      plan.PluginFiles.resize(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i) {
        const TkxPlugin& entry = *entries->Items(i);
        if (!entry.DebugDll.empty()) continue;
        const auto& files = plan.PluginFiles[static_cast<size_t>(i)];
        // The engine loads a plug-in by searching its folder for "*.dll" (also on Linux, where
        // the shared object only needs that name).
        bool hasLibrary = std::any_of(files.begin(), files.end(), [](const TNamedFile& file) {
          return MatchWild(ExtractFileName(file.Name), "*.dll", true);
        });
        if (!hasLibrary) {
          ThrowError(
              "Plug-in \"%s\" of %s has no library: list it (named \"*.dll\") in "
              "<build><plugin id=\"%s\">",
              entry.ID.c_str(), PackageLabel(plan).c_str(), entry.ID.c_str());
        }
        for (const TNamedFile& file : files) CheckPluginLibrary(entry, file);
      }
    }
  }

  // The engine loads every "*.dll" of a plug-in's folder that it can; one built for another
  // target would only fail on the user's machine, with "Cannot load plug-in".
  void CheckPluginLibrary(const TkxPlugin& entry, const TNamedFile& file) const {
    if (!MatchWild(ExtractFileName(file.Name), "*.dll", true)) return;
    if (!FileExists(file.Path)) ThrowError("The plug-in file %s does not exist", file.Path.c_str());
    const TBinaryKind kind = BinaryKindOf(ReadFileHead(file.Path));
    if (kind.Target == target_ && kind.Library) return;
    ThrowError(
        "Plug-in \"%s\": the library %s (packed as %s) is %s; the target %s needs %s built "
        "for it",
        entry.ID.c_str(), file.Path.c_str(), file.Name.c_str(), DescribeKind(kind).c_str(),
        target_.c_str(), PluginKindFor(target_).c_str());
  }

  // The plug-ins built for the target: named by --plugins or <build plugins>, else those that
  // come with the engine stub, in its folder or beside it (bin\ and plugins\ of a build tree).
  const std::string& PluginFolder() {
    if (!pluginFolder_.empty()) return pluginFolder_;
    std::vector<std::string> candidates;
    if (!options_.PluginFolder.empty()) {
      candidates.push_back(ResolvePath(os::GetCurrentDir(), options_.PluginFolder));
    } else if (!build_.PluginFolder.empty()) {
      candidates.push_back(build_.PluginFolder);
    } else {
      const std::string stubFolder = WithoutTrailingBackslash(FolderOf(stubPath_));
      candidates = {stubFolder + "\\plugins", FolderOf(stubFolder) + "plugins"};
    }
    std::string tried;
    for (const std::string& candidate : candidates) {
      const std::string folder = WithoutTrailingBackslash(candidate);
      if (FolderExists(folder)) return pluginFolder_ = folder;
      tried += "\n  " + folder;
    }
    ThrowError(
        "The plug-in folder of the target %s was not found; looked in:%s\nName it with "
        "--plugins or <build plugins=\"...\">",
        target_.c_str(), tried.c_str());
  }

  void CollectData() {
    for (TPackagePlan& plan : plans_) {
      for (const TkxComponent* component : plan.Components) CollectComponent(*component, plan);
    }
    // A folder whose name is no component ID is most likely a misspelt one.
    std::vector<os::FindData> entries;
    if (!FolderExists(payloadFolder_) || !os::ListFolder(payloadFolder_, entries)) return;
    std::sort(entries.begin(), entries.end(),
              [](const os::FindData& a, const os::FindData& b) { return a.name < b.name; });
    for (const os::FindData& entry : entries) {
      if ((entry.attributes & os::kAttrDirectory) && !project_.Components->FindByID(entry.name)) {
        result_.Warnings.push_back(
            Format("the payload folder \"%s\" belongs to no component", entry.name.c_str()));
      }
    }
  }

  // Every payload file that some item of the component can match at install time, whatever the
  // conditions then; in item order, each file once, under the first item that matches it.
  void CollectComponent(const TkxComponent& component, TPackagePlan& plan) {
    const std::string folder = payloadFolder_ + "\\" + component.ID();
    std::vector<TPayloadFile> payload;
    bool listed = false;
    std::vector<bool> taken;
    for (int i = 0; i < component.Files->Count(); ++i) {
      const TkxFile& item = *component.Files->Items(i);
      if (item.Action != TkxAction::add || item.Flags.Has(TkxFlag::external)) continue;
      CheckSource(component, item);
      if (!listed) {
        payload = payload_->List(folder);
        taken.assign(payload.size(), false);
        listed = true;
      }
      size_t matched = 0;
      for (size_t f = 0; f < payload.size(); ++f) {
        if (!SourceMatchesEntry(item.Src, payload[f].Relative)) continue;
        ++matched;
        if (taken[f]) continue;
        taken[f] = true;
        plan.DataFiles.push_back(
            {kDataPrefix + component.ID() + "\\" + payload[f].Relative, payload[f].Path});
      }
      if (matched > 0) continue;
      if (!HasWildcards(ExtractFileName(item.Src))) {
        ThrowError("Component \"%s\": the file \"%s\" is not in the payload folder %s",
                   component.ID().c_str(), item.Src.c_str(), folder.c_str());
      }
      result_.Warnings.push_back(Format("component \"%s\": \"%s\" matches no file in %s",
                                        component.ID().c_str(), item.Src.c_str(), folder.c_str()));
    }
  }

  // A source that the engine could never match to a packed entry is a mistake of the project.
  void CheckSource(const TkxComponent& component, const TkxFile& item) {
    const std::string& src = item.Src;
    const char* problem = nullptr;
    if (src.empty()) {
      problem = "has no src";
    } else if (src.find('/') != std::string::npos) {
      problem = "uses \"/\"; the engine matches paths with \"\\\" only";
    } else if (!IsSafeSourcePattern(src)) {
      problem = "is not a path relative to the component's payload folder";
    } else if (HasWildcards(ExtractFilePath(src))) {
      problem = "has a wildcard in its folder; wildcards may stand in the file name only";
    }
    if (problem) {
      ThrowError("Component \"%s\": the file item \"%s\" %s", component.ID().c_str(), src.c_str(),
                 problem);
    }
  }

  // --- inputs and outputs

  // Every file the packages are made of, as the project and the options name it.
  std::vector<std::string> InputPaths() const {
    std::vector<std::string> paths{projectPath_, stubPath_, uninstallerPath_};
    if (build_.Splash) paths.push_back(build_.Splash->Path);
    if (!build_.PresetupBitmap.empty()) paths.push_back(build_.PresetupBitmap);
    for (const TNamedFile& file : build_.PresetupFiles) paths.push_back(file.Path);
    for (const TNamedFile& file : languageFiles_) paths.push_back(file.Path);
    for (const TPackagePlan& plan : plans_) {
      for (const auto& files : plan.PluginFiles) {
        for (const TNamedFile& file : files) paths.push_back(file.Path);
      }
      for (const TDataFile& file : plan.DataFiles) paths.push_back(file.Path);
    }
    return paths;
  }

  // An output that is also an input would be destroyed by the build that reads it. Paths are
  // compared by where they lead, however they are written (another spelling, "..", a link); a
  // Windows target's names by the rule of its file systems, without regard to case. An input
  // that is no regular file would hang the build when read.
  void CheckInputsAndOutputs() const {
    const bool ignoreCase = os::FileNamesIgnoreCase() || target_ != "host";
    auto key = [ignoreCase](const std::string& path) {
      return ignoreCase ? UpperCaseText(path) : path;
    };
    std::map<std::string, std::string> inputs;  // where an input leads -> the input
    for (const std::string& path : InputPaths()) {
      const os::PathTarget local = os::ResolvePath(path);
      if (local.kind == os::PathKind::kSpecial) {
        ThrowError("The input %s is no regular file (a pipe, socket or device)", path.c_str());
      }
      for (const std::string& where : {local.entryPath, local.finalPath}) {
        if (!where.empty()) inputs.emplace(key(where), path);
      }
    }
    for (const TPackagePlan& plan : plans_) {
      const std::string entry = os::ResolvePath(plan.OutputPath).entryPath;
      const auto input = entry.empty() ? inputs.end() : inputs.find(key(entry));
      if (input != inputs.end()) {
        ThrowError("The output %s is also an input of the build (%s); choose another output",
                   plan.OutputPath.c_str(), input->second.c_str());
      }
    }
  }

  // --- the databases

  static std::string ToXml(const TXMLObject& object, const char* rootName) {
    TXMLTag tag;
    tag.SetName(rootName);
    object.AssignTo(tag);
    return tag.GetXML();
  }

  // The project without the items of its components; package 0 comes from the engine itself, so
  // "packages" lists the further packages only.
  std::string MainDatabaseXml() {
    TkxMainDatabase database;
    database.Version = project_.Version;
    database.Variables->Assign(*project_.Variables);
    database.Features->Assign(*project_.Features);
    database.InstallTypes->Assign(*project_.InstallTypes);
    database.LaunchConditions->Assign(*project_.LaunchConditions);
    for (size_t i = 1; i < plans_.size(); ++i) {
      database.Packages->AddNew().FileName = plans_[i].Name;
    }
    for (int i = 0; i < project_.Components->Count(); ++i) {
      const TkxComponent& source = *project_.Components->Items(i);
      TkxComponent& component = database.Components->AddNew();
      component.SetID(source.ID());
      component.Name = source.Name;
      component.Package = source.Package;
      component.Condition = source.Condition;
    }
    return ToXml(database, kProjectRootName);
  }

  // The package's own database. What the engine sets when it checks and prepares the package
  // (file name, folders, sizes, state) is left out: the database is merged over it.
  std::string PackageDatabaseXml(const TPackagePlan& plan) {
    TkxPackage package;
    if (plan.Definition) {
      package.Plugins->Assign(*plan.Definition->Plugins);
      package.Variables->Assign(*plan.Definition->Variables);
    }
    for (const TkxComponent* component : plan.Components) {
      package.Components->AddNew().Assign(*component);
    }
    const TkxFileInfos* given = plan.Definition ? plan.Definition->FileInfos.get() : nullptr;
    for (const TDataFile& file : plan.DataFiles) {
      TkxFileInfo& info = package.FileInfos->AddNew();
      info.Name = file.Name.substr(std::strlen(kDataPrefix));
      const int64_t size = FileSize(file.Path);
      if (size < 0) ThrowError("Cannot take the size of %s", file.Path.c_str());
      if (size > INT32_MAX) {
        ThrowError("%s is larger than 2 GiB; a package cannot hold it", file.Path.c_str());
      }
      info.Size = static_cast<int32_t>(size);
      info.Version = VersionOf(file.Path);
      // What only the author knows (a font's face name, assembly data) comes from the project.
      if (const TkxFileInfo* known = given ? given->FindByName(info.Name) : nullptr) {
        info.FontName = known->FontName;
        info.AssemblyData = known->AssemblyData;
        if (info.Version.empty()) info.Version = known->Version;
      }
    }
    return ToXml(package, "package");
  }

  // --- the package files

  std::string LanguageFolder() {
    std::string named;
    if (!options_.LanguageFolder.empty()) {
      named = ResolvePath(os::GetCurrentDir(), options_.LanguageFolder);
    } else if (!build_.Languages.empty()) {
      named = ResolvePath(projectFolder_, build_.Languages);
    }
    if (!named.empty()) {
      if (!FolderExists(named)) ThrowError("The language folder %s does not exist", named.c_str());
      return named;
    }
    std::string tried;
    for (const std::string& folder : KitLanguageFolderCandidates(FolderOf(os::ModuleFileName()))) {
      if (FileExists(folder + "\\ENU.lng")) return folder;
      tried += "\n  " + folder;
    }
    ThrowError(
        "The engine's language files (ENU.lng) were not found; looked in:%s\nName their "
        "folder with --languages or <build languages=\"...\">",
        tried.c_str());
  }

  // "lng\<name>" -> path: the standard files, then the project's (which replace the same name).
  std::vector<TNamedFile> LanguageFiles() {
    std::map<std::string, TNamedFile> byName;
    const std::string folder = WithoutTrailingBackslash(LanguageFolder());
    std::vector<os::FindData> entries;
    if (!os::ListFolder(folder, entries)) {
      ThrowError("Cannot list folder %s: %s", folder.c_str(), os::LastErrorMessage().c_str());
    }
    for (const os::FindData& entry : entries) {
      if ((entry.attributes & os::kAttrDirectory) || !EndsWithText(entry.name, ".lng")) continue;
      byName[UpperCaseText(entry.name)] = {"lng\\" + entry.name, folder + "\\" + entry.name};
    }
    for (const TNamedFile& file : build_.LanguageFiles) {
      byName[UpperCaseText(file.Name)] = {"lng\\" + file.Name, file.Path};
    }
    std::vector<TNamedFile> files;
    for (auto& [key, file] : byName) files.push_back(file);
    return files;
  }

  void AddBitmap(TCabWriter& cab, const std::string& name, const std::string& path,
                 const TSplash* splash) {
    std::string bytes = ReadFileBytes(path, "bitmap");
    if (bytes.size() < 2 || bytes.compare(0, 2, "BM") != 0) {
      ThrowError("%s is no Windows bitmap (.bmp) and cannot be the %s", path.c_str(), name.c_str());
    }
    if (!splash || !splash->HasTrailer) {
      cab.AddFile(name, path);
      return;
    }
    PutLe32(bytes, splash->Seconds);
    PutLe32(bytes, splash->Transparent);
    PutLe32(bytes, splash->Opacity);
    os::FindData found;
    if (!os::FindFile(path, found)) ThrowError("Cannot find file %s", path.c_str());
    cab.AddData(name, std::move(bytes), found.writeTime, found.attributes);
  }

  void AddPresetupFile(TCabWriter& cab, const TNamedFile& file) {
    const std::string upper = UpperCaseText(file.Name);
    if (upper.rfind("DATA\\", 0) == 0 || upper == "DB.PDB" || upper == "MAIN.PDB" ||
        upper == "SPLASH.BMP" || upper == "PRESETUP.BMP" || upper.rfind("LNG\\", 0) == 0 ||
        upper.rfind("PLUGINS\\", 0) == 0 || upper == UpperCaseText(kUninstallerName)) {
      ThrowError(
          "The presetup file %s cannot be named \"%s\": kxbuild writes that name itself "
          "(use <splash>, <presetupbitmap>, <language>, <plugin> or --uninstaller for bitmaps, "
          "language files, plug-ins and the uninstaller)",
          file.Path.c_str(), file.Name.c_str());
    }
    if (!FileExists(file.Path))
      ThrowError("The presetup file %s does not exist", file.Path.c_str());
    cab.AddFile(file.Name, file.Path);
  }

  // Written under a temporary name; outputs_ puts it in place, or takes it away.
  TBuiltPackage WritePackage(const TPackagePlan& plan, const std::string& stub,
                             const std::string& packageXml, const std::string& mainXml) {
    os::File output = os::File::Open(outputs_.Stage(plan.OutputPath), os::File::Mode::kCreate);
    if (!output.IsOpen()) {
      ThrowError("Cannot create %s: %s", plan.OutputPath.c_str(), os::LastErrorMessage().c_str());
    }
    TBuiltPackage built =
        WritePackageTo(output, plan, plan.Name.empty(), stub, packageXml, mainXml);
    output.Close();
    return built;
  }

  // Folders compressed on every core by default; the bytes are the same for any number of jobs.
  void SetUpFolders(TCabWriter& cab) const {
    unsigned jobs = options_.Jobs;
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
    cab.SetJobs(jobs);
    cab.SetFolderSize(kCabinetFolderSize);
  }

  TBuiltPackage WritePackageTo(os::File& output, const TPackagePlan& plan, bool isMain,
                               const std::string& stub, const std::string& packageXml,
                               const std::string& mainXml) {
    if (!output.Write(stub.data(), stub.size())) {
      ThrowError("Cannot write %s: %s", plan.OutputPath.c_str(), os::LastErrorMessage().c_str());
    }
    TCabWriter cab(output, compression_);
    SetUpFolders(cab);
    if (isMain) {
      if (build_.Splash) AddBitmap(cab, "splash.bmp", build_.Splash->Path, &*build_.Splash);
      if (!build_.PresetupBitmap.empty()) {
        AddBitmap(cab, "presetup.bmp", build_.PresetupBitmap, nullptr);
      }
      for (const TNamedFile& file : build_.PresetupFiles) AddPresetupFile(cab, file);
      for (const TNamedFile& file : languageFiles_) cab.AddFile(file.Name, file.Path);
      cab.AddFile(kUninstallerName, uninstallerPath_);
    }
    for (size_t i = 0; i < plan.PluginFiles.size(); ++i) {
      for (const TNamedFile& file : plan.PluginFiles[i]) {
        if (!FileExists(file.Path)) {
          ThrowError("The plug-in file %s does not exist", file.Path.c_str());
        }
        cab.AddFile(Format("plugins\\%u\\", static_cast<unsigned>(i)) + file.Name, file.Path);
      }
    }
    // The project file's time stands for the databases' own: the same project gives the same
    // bytes.
    constexpr uint32_t kArchive = os::kAttrArchive;
    cab.AddData("db.pdb", EncipherDatabase(packageXml), projectTime_, kArchive);
    if (isMain) cab.AddData("main.pdb", EncipherDatabase(mainXml), projectTime_, kArchive);
    // Preparation stops at the first data entry: in folders of their own, the data entries are
    // never decompressed then.
    cab.StartFolder();
    for (const TDataFile& file : plan.DataFiles) cab.AddFile(file.Name, file.Path);
    cab.Finish();

    TBuiltPackage built;
    built.FileName = plan.OutputPath;
    built.EntryCount = static_cast<uint32_t>(cab.Entries().size());
    uint64_t data = 0, presetup = 0;
    for (const TCabEntry& entry : cab.Entries()) {
      (StartsText(entry.Name, kDataPrefix) ? data : presetup) += entry.Size;
    }
    const int64_t end = output.Tell();
    const uint64_t builtSize = static_cast<uint64_t>(end) + 18;
    if (end < 0 || builtSize > UINT32_MAX) {
      ThrowError("%s would be larger than 4 GiB, which the package trailer cannot describe",
                 plan.OutputPath.c_str());
    }
    built.DataSize = static_cast<uint32_t>(data);
    built.PresetupSize = static_cast<uint32_t>(presetup);
    built.BuiltSize = static_cast<uint32_t>(builtSize);
    const auto trailer = EncodeTrailer({built.BuiltSize, built.PresetupSize, built.DataSize});
    if (!output.Write(trailer.data(), trailer.size()) || !output.Truncate()) {
      ThrowError("Cannot write %s: %s", plan.OutputPath.c_str(), os::LastErrorMessage().c_str());
    }
    return built;
  }

  const TBuildOptions& options_;
  // First, so that it goes last: the temporary files it removes are closed by then.
  TStagedOutputs outputs_;
  TBuildResult result_;
  std::string projectPath_, projectFolder_;
  int64_t projectTime_ = 0;
  TXMLTag root_;
  TkxMainDatabase project_;
  TBuildElement build_;
  std::string target_, outputPath_, payloadFolder_, stubPath_, pluginFolder_, uninstallerPath_;
  TCabCompression compression_ = TCabCompression::kMszip;
  std::vector<TPackagePlan> plans_;
  std::optional<TPayloadReader> payload_;
  std::vector<TNamedFile> languageFiles_;  // "lng\<name>" and where it comes from
};

}  // namespace

TBuildResult BuildProject(const TBuildOptions& options) { return TBuilder(options).Run(); }
