// kxtool inspect PACKAGE: what the engine sees in a package, for vendors who ship one and for
// tests that build one. The trailer is checked exactly as the engine checks it, the entries are
// read through the engine's own unpack library (carried inside kxtool the way the engine carries
// it), and the two databases are extracted and deciphered. The output is line-oriented and
// documented in README.md, so that scripts may rely on it.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Verbs.h"
#include "database/zrXMLParser.h"
#include "os/os.h"
#include "package/PackageCipher.h"
#include "package/PackageTrailer.h"
#include "package/Unpacker.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

constexpr char kUnpackLibraryName[] = "unpack.dll";
constexpr char kOtherEntryName[] = "entry.tmp";  // where presetup entries are read to
constexpr size_t kNone = static_cast<size_t>(-1);

int Fail(const std::string& problem) {
  std::fprintf(stderr, "kxtool inspect: %s\n", problem.c_str());
  return 2;
}

// ---------------------------------------------------------------------------------------------
// The trailer

struct TTrailerFacts {
  int64_t FileSize = -1;
  // The file begins with a program image: a setup program, which the engine reads its project
  // from, so its package must hold main.pdb.
  bool Program = false;
  std::optional<TPackageTrailer> Trailer;
  std::optional<int64_t> DistantTail;  // bytes after a trailer the engine does not reach
};

// Asked only when the engine finds no trailer: data appended beyond its 64 KiB reach (a large
// signature) is the likeliest cause, and saying so beats calling the file no package at all. A
// marker counts only when its BuiltSize names its own end, since appended data may hold the
// marker's bytes by chance; the one nearest the end wins, as it would for the engine.
std::optional<int64_t> FindDistantTrailer(os::File& file, int64_t fileSize) {
  constexpr int64_t kMarkerSize = kPackageMarkerSize, kNumbersSize = kPackageTrailerNumbersSize;
  constexpr int64_t kChunk = 1 << 20;
  std::string chunk;
  std::optional<int64_t> nearest;  // the offset of the genuine marker nearest the end so far
  // Each chunk holds the markers that begin in it, whole, with the BuiltSize before each.
  for (int64_t start = 0; start + kMarkerSize <= fileSize; start += kChunk) {
    const int64_t base = std::max<int64_t>(0, start - kNumbersSize);
    const int64_t end = std::min<int64_t>(fileSize, start + kChunk + kMarkerSize - 1);
    chunk.resize(static_cast<size_t>(end - base));
    auto* data = reinterpret_cast<unsigned char*>(chunk.data());
    if (file.ReadAt(base, data, static_cast<size_t>(end - base)) != end - base) return {};
    for (size_t at = chunk.find(kPackageMarker, static_cast<size_t>(start - base));
         at != std::string::npos; at = chunk.find(kPackageMarker, at + 1)) {
      const int64_t offset = base + static_cast<int64_t>(at);
      if (offset >= start + kChunk) break;  // the next chunk's
      if (offset < kNumbersSize) continue;
      if (DecodeLittleEndian32(data + at - kNumbersSize) == offset + kMarkerSize) nearest = offset;
    }
  }
  if (!nearest) return {};
  return fileSize - *nearest - kMarkerSize;
}

// False with a message when the file cannot be read at all; a file without a trailer is read.
bool ReadTrailer(const std::string& path, TTrailerFacts& facts, std::string& problem) {
  const uint32_t attributes = os::GetFileAttributes(path);
  if (attributes != os::kInvalidAttributes && (attributes & os::kAttrDirectory)) {
    problem = "\"" + path + "\" is a folder, not a package";
    return false;
  }
  os::File file = os::File::Open(path, os::File::Mode::kRead);
  if (!file.IsOpen()) {
    problem = "cannot read \"" + path + "\": " + os::LastErrorMessage();
    return false;
  }
  facts.FileSize = file.Size();
  if (facts.FileSize < 0) {
    problem = "cannot read the size of \"" + path + "\": " + os::LastErrorMessage();
    return false;
  }
  unsigned char start[4] = {};
  if (facts.FileSize >= 4 && file.ReadAt(0, start, sizeof start) == sizeof start) {
    facts.Program = (start[0] == 'M' && start[1] == 'Z') ||
                    (start[0] == 0x7F && start[1] == 'E' && start[2] == 'L' && start[3] == 'F');
  }
  facts.Trailer = FindPackageTrailer(file, facts.FileSize);
  if (!facts.Trailer) facts.DistantTail = FindDistantTrailer(file, facts.FileSize);
  return true;
}

// ---------------------------------------------------------------------------------------------
// The temporary folder and the unpack library in it

// The folder goes on every way out, an exception included: it holds a library and the databases
// of somebody's package. A folder that cannot be removed is said, since it is left behind.
class TTemporaryFolder {
 public:
  TTemporaryFolder() : path_(CreateUniqueFolder(TemporaryPath(), true)) {}
  ~TTemporaryFolder() {
    if (!DeleteTree(path_, true)) {
      Fail("cannot remove the temporary folder \"" + path_ + "\": " + os::LastErrorMessage());
    }
  }
  TTemporaryFolder(const TTemporaryFolder&) = delete;
  TTemporaryFolder& operator=(const TTemporaryFolder&) = delete;

  const std::string& Path() const { return path_; }  // with a trailing backslash

 private:
  const std::string path_;
};

bool WriteUnpackLibrary(const std::string& path, std::string& problem) {
  auto resource = os::FindResource("RCDATA", "UNPACK");
  if (!resource) {
    problem = "this kxtool carries no unpack library";
    return false;
  }
  os::File file = os::File::Open(path, os::File::Mode::kCreate);
  if (!file.IsOpen() || !file.Write(resource->data(), resource->size())) {
    problem = "cannot write the unpack library \"" + path + "\": " + os::LastErrorMessage();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// The archive

// One database of the package: where it was met, and what it holds once extracted.
struct TDatabaseFacts {
  explicit TDatabaseFacts(const char* name) : Name(name) {}
  const char* Name;
  bool Found = false;      // among the presetup entries, where the engine takes it from
  bool FoundLate = false;  // after the first data entry, where the engine never looks
  bool Extracted = false;
  std::string Text;  // deciphered
};

struct TArchiveFacts {
  std::vector<TUnpackEntry> Entries;
  bool Complete = false;     // the library read the archive to its end
  size_t FirstData = kNone;  // index of the first data entry
  TDatabaseFacts Databases[2] = {TDatabaseFacts("main.pdb"), TDatabaseFacts("db.pdb")};
};

// Lists every entry and extracts the presetup entries (those before the first data entry) the
// way the engine does, so that one the library cannot read fails here as it fails there. The
// databases are kept under their fixed names, every other entry is written to one fixed name and
// deleted at once: no name read from the package is ever joined to the folder.
class TArchiveReader {
 public:
  TArchiveReader(const std::string& folder, TArchiveFacts& facts)
      : folder_(folder), facts_(facts) {}

  void Read(const std::string& libraryPath, const std::string& packagePath) {
    TUnpacker unpacker(libraryPath, packagePath);
    facts_.Complete = unpacker.Extract(
        [this](const TUnpackEntry& entry, std::string& target) { return Before(entry, target); },
        [this](const TUnpackEntry& entry, const std::string& path) { return After(entry, path); });
  }

 private:
  TDatabaseFacts* DatabaseNamed(const std::string& name) {
    for (TDatabaseFacts& database : facts_.Databases) {
      if (SameText(name, database.Name)) return &database;
    }
    return nullptr;
  }

  int Before(const TUnpackEntry& entry, std::string& target) {
    facts_.Entries.push_back(entry);
    if (IsDataEntryName(entry.Name) && facts_.FirstData == kNone) {
      facts_.FirstData = facts_.Entries.size() - 1;
    }
    TDatabaseFacts* database = DatabaseNamed(entry.Name);
    if (facts_.FirstData != kNone) {
      if (database) database->FoundLate = true;
      return 0;
    }
    if (!database) {
      target = folder_ + kOtherEntryName;
      return 1;
    }
    database->Found = true;
    target = folder_ + database->Name;
    return 1;
  }

  int After(const TUnpackEntry& entry, const std::string& path) {
    if (TDatabaseFacts* database = DatabaseNamed(entry.Name)) {
      database->Extracted = true;
    } else {
      os::DeleteFile(path);
    }
    return 1;
  }

  const std::string folder_;
  TArchiveFacts& facts_;
};

// Reads the archive through a fresh copy of the unpack library; the folder and all in it are gone
// when this returns. False with a message when kxtool itself cannot do its part.
bool ReadArchive(const std::string& packagePath, TArchiveFacts& facts, std::string& problem) {
  TTemporaryFolder folder;
  const std::string libraryPath = folder.Path() + kUnpackLibraryName;
  if (!WriteUnpackLibrary(libraryPath, problem)) return false;
  // The library is unloaded when the reader's unpacker goes, before the folder is removed:
  // Windows cannot delete a loaded library.
  TArchiveReader(folder.Path(), facts).Read(libraryPath, packagePath);
  for (TDatabaseFacts& database : facts.Databases) {
    if (!database.Extracted) continue;
    std::string bytes;
    if (!TryReadWholeFile(folder.Path() + database.Name, bytes)) {
      problem =
          Format("cannot read the extracted %s: %s", database.Name, os::LastErrorMessage().c_str());
      return false;
    }
    database.Text = DecipherDatabase(bytes);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// The report

class TReport {
 public:
  void Line(const std::string& text) { text_ += text + "\n"; }
  void Raw(const std::string& text) { text_ += text; }
  bool Failed() const { return failed_; }
  void Failure() { failed_ = true; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  bool failed_ = false;
};

std::string Number(uint64_t value) {
  return Format("%llu", static_cast<unsigned long long>(value));
}

void ReportTrailer(TReport& report, const TTrailerFacts& facts) {
  report.Line("file size: " + Number(static_cast<uint64_t>(facts.FileSize)));
  if (!facts.Trailer) {
    report.Line("trailer: not found in the last 64 KiB");
    if (facts.DistantTail) {
      report.Line("distant trailer: found, " + Number(static_cast<uint64_t>(*facts.DistantTail)) +
                  " bytes appended after it, out of the engine's reach");
    }
    report.Line("check: failed (no package trailer in the last 64 KiB)");
    report.Failure();
    return;
  }
  const TPackageTrailer& trailer = *facts.Trailer;
  report.Line("trailer: found, " + Number(static_cast<uint64_t>(trailer.Tail)) +
              " bytes appended after it");
  report.Line("built size: " + Number(trailer.BuiltSize));
  report.Line("presetup size: " + Number(trailer.PresetupSize));
  report.Line("data size: " + Number(trailer.DataSize));
  if (trailer.MatchesFileSize(facts.FileSize)) {
    report.Line("check: passed");
    return;
  }
  report.Line("check: failed (the file is " + Number(static_cast<uint64_t>(facts.FileSize)) +
              " bytes, built " + Number(trailer.BuiltSize) + " + appended " +
              Number(static_cast<uint64_t>(trailer.Tail)) + ")");
  report.Failure();
}

// Names come from the package: a control character would break the lines or the terminal.
std::string Printable(const std::string& name) {
  std::string result = name;
  for (char& c : result) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return result;
}

// A database's text with the same treatment, except for its layout: TABs, line feeds and the CR
// of a CR LF pair stay. A lone CR would let the text overwrite the line shown before it.
std::string PrintableText(const std::string& text) {
  std::string result = text;
  for (size_t i = 0; i < result.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(result[i]);
    const bool layout =
        c == '\t' || c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    if ((c < 0x20 && !layout) || c == 0x7F) result[i] = '?';
  }
  return result;
}

std::string DosDateTime(uint16_t date, uint16_t time) {
  return Format("%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                time >> 11, (time >> 5) & 63, (time & 31) * 2);
}

// Read-only, hidden, system, archive: the attributes a cabinet carries for Windows.
std::string AttributeLetters(uint32_t attributes) {
  std::string letters = "----";
  if (attributes & os::kAttrReadOnly) letters[0] = 'r';
  if (attributes & os::kAttrHidden) letters[1] = 'h';
  if (attributes & os::kAttrSystem) letters[2] = 's';
  if (attributes & os::kAttrArchive) letters[3] = 'a';
  return letters;
}

void ReportSizeCheck(TReport& report, const char* what, uint32_t inTrailer, uint64_t inEntries) {
  if (inTrailer == inEntries) {
    report.Line(Format("%s size check: matches the entries", what));
  } else {
    report.Line(Format("%s size check: differs (trailer %s, entries %s)", what,
                       Number(inTrailer).c_str(), Number(inEntries).c_str()));
  }
}

// The sizes are what the engine measures its presetup progress and free space against; it does
// not reject a package for them, so a difference is a line, not a failure.
void ReportSums(TReport& report, const TArchiveFacts& archive, const TTrailerFacts& facts) {
  uint64_t presetupCount = 0, presetupBytes = 0, dataCount = 0, dataBytes = 0, lateCount = 0,
           lateBytes = 0;
  for (size_t i = 0; i < archive.Entries.size(); ++i) {
    const TUnpackEntry& entry = archive.Entries[i];
    if (IsDataEntryName(entry.Name)) {
      ++dataCount, dataBytes += entry.Size;
    } else if (i < archive.FirstData) {
      ++presetupCount, presetupBytes += entry.Size;
    } else {
      ++lateCount, lateBytes += entry.Size;
    }
  }
  report.Line("presetup entries: " + Number(presetupCount) + " (" + Number(presetupBytes) +
              " bytes)   data entries: " + Number(dataCount) + " (" + Number(dataBytes) +
              " bytes)");
  if (lateCount != 0) {
    report.Line("other entries: " + Number(lateCount) + " (" + Number(lateBytes) +
                " bytes) after the first data entry, which the engine never extracts");
  }
  if (!facts.Trailer) return;
  ReportSizeCheck(report, "presetup", facts.Trailer->PresetupSize, presetupBytes);
  ReportSizeCheck(report, "data", facts.Trailer->DataSize, dataBytes);
}

void ReportEntries(TReport& report, const TArchiveFacts& archive, const TTrailerFacts& facts) {
  if (archive.Entries.empty() && !archive.Complete) {
    report.Line("entries: unreadable (the unpack library found no cabinet it can read)");
    report.Failure();
    return;
  }
  report.Line("entries: " + Number(archive.Entries.size()));
  for (size_t i = 0; i < archive.Entries.size(); ++i) {
    const TUnpackEntry& entry = archive.Entries[i];
    report.Line(Format("  %10u %s %s %s", entry.Size, DosDateTime(entry.Date, entry.Time).c_str(),
                       AttributeLetters(entry.Attributes).c_str(), Printable(entry.Name).c_str()));
    // The engine refuses a package with such a presetup entry; it never reaches the later ones.
    if (!IsSafeEntryName(entry.Name)) {
      report.Line("unsafe name: \"" + Printable(entry.Name) + "\"");
      if (i < archive.FirstData) report.Failure();
    }
  }
  if (!archive.Complete) {
    report.Line("archive: damaged, the unpack library stopped after " +
                Number(archive.Entries.size()) + " entries");
    report.Failure();
  }
  ReportSums(report, archive, facts);
}

// The engine reads a database as XML and refuses one without a root element.
std::string XmlProblem(const std::string& text) {
  TXMLTag tree;
  try {
    tree.Parse(text);
  } catch (const std::exception& error) {
    return error.what();
  }
  return tree.Name.empty() ? "no root element" : "";
}

// main.pdb is in the main package only (the setup program); a further package without one is
// whole.
void ReportDatabase(TReport& report, const TDatabaseFacts& database, bool required) {
  const std::string header = std::string("--- ") + database.Name;
  if (!database.Extracted) {
    if (database.Found) {
      report.Line(header + ": could not be extracted");
    } else if (database.FoundLate) {
      report.Line(header + ": only after the first data entry, where the engine never extracts it");
    } else {
      report.Line(header + ": not in the package");
    }
    if (required || database.Found || database.FoundLate) report.Failure();
    return;
  }
  const std::string problem = XmlProblem(database.Text);
  if (problem.empty()) {
    report.Line(header + " (" + Number(database.Text.size()) + " bytes deciphered)");
  } else {
    report.Line(header + " (" + Number(database.Text.size()) +
                " bytes deciphered; the engine cannot read it: " + Printable(problem) + ")");
    report.Failure();
  }
  report.Raw(PrintableText(database.Text));
  // The next header starts a line of its own; the byte count says whether this one was added.
  if (!database.Text.empty() && database.Text.back() != '\n') report.Raw("\n");
}

bool WriteOut(const std::string& text) {
  os::SetStdoutBinary();
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

}  // namespace

int RunPackageVerb(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty()) {
    std::fputs("kxtool inspect: expected one PACKAGE\nusage: kxtool inspect PACKAGE\n", stderr);
    return 2;
  }
  const std::string& path = args[0];
  std::string problem;
  TTrailerFacts trailer;
  if (!ReadTrailer(path, trailer, problem)) return Fail(problem);
  TArchiveFacts archive;
  if (!ReadArchive(path, archive, problem)) return Fail(problem);
  // Nothing is written for a file that is no package at all: there is nothing to show.
  if (!trailer.Trailer && !trailer.DistantTail && archive.Entries.empty() && !archive.Complete) {
    return Fail("\"" + path + "\" is not a package: it holds no package trailer and no cabinet");
  }

  TReport report;
  report.Line("package: " + Printable(path));
  ReportTrailer(report, trailer);
  ReportEntries(report, archive, trailer);
  ReportDatabase(report, archive.Databases[0], trailer.Program);
  ReportDatabase(report, archive.Databases[1], true);
  if (!WriteOut(report.Text())) return Fail("cannot write the output");
  return report.Failed() ? 1 : 0;
}
