// The Linux backend of the unpack library: extraction through libmspack.
//
// libmspack reaches files only through the mspack_system given to it. Ours shows libmspack the
// cabinet window of an archive as if it were the whole file, hands every data block read from an
// archive to the engine's block callback, and asks the engine before every write to an output.
// The engine speaks in Windows paths; the library carries the host OS layer's path mapping
// ("Z:\x" is "/x", "C:\x" is "$KX_ROOT/drive_c/x") so that both see the same files.
#include <dirent.h>
#include <fcntl.h>
#include <mspack.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "Backend.h"
#include "CabinetLocator.h"
#include "os/host/HostPaths.h"

namespace kxunpack {
namespace {

// ---------------------------------------------------------------------------------------------
// Windows paths on Linux

// The Linux path for a path of the engine, mapped exactly as the engine's host OS layer maps it.
std::optional<std::string> ToNativePath(const std::string& path) {
  if (path.empty()) return std::nullopt;
  return os::host::ToUnixPath(path);
}

// The folder part of a path, separator included; empty when there is none.
std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + (folder[0] == '/' ? "/" : "\\") + name;
}

// A volume name comes from the archive; it must not lead out of the folder it is looked for in.
bool IsPlainFileName(const char* name) {
  return name && *name && std::strpbrk(name, "\\/:") == nullptr && std::strcmp(name, "..") != 0 &&
         std::strcmp(name, ".") != 0;
}

bool IsTerminated(const char* buffer, size_t size) {
  return std::memchr(buffer, 0, size) != nullptr;
}

// ---------------------------------------------------------------------------------------------
// File access

bool ReadAll(int fd, void* buffer, size_t count, uint64_t offset) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t got = pread(fd, bytes, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    offset += static_cast<uint64_t>(got);
    count -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const void* buffer, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t put = write(fd, bytes, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    count -= static_cast<size_t>(put);
  }
  return true;
}

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Reads through a stretch of the file kept in memory. libmspack, and the layout walk, ask for a
// few bytes at a time (a block's 8-byte header and then its payload, a file entry's 16 bytes and
// then its name): without it each is a system call of its own. Reads of at least the capacity go
// to the file directly.
class ReadAhead {
 public:
  explicit ReadAhead(size_t capacity) : capacity_(capacity) {}

  bool Read(int fd, uint64_t offset, void* buffer, size_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    while (count > 0) {
      if (offset >= start_ && offset - start_ < bytes_.size()) {
        const size_t held = std::min(count, static_cast<size_t>(bytes_.size() - (offset - start_)));
        std::memcpy(out, bytes_.data() + (offset - start_), held);
        out += held;
        offset += held;
        count -= held;
      } else if (count >= capacity_) {
        return ReadAll(fd, out, count, offset);
      } else if (!Fill(fd, offset)) {
        return false;
      }
    }
    return true;
  }

 private:
  // Near the end of the file a fill is shorter than the capacity; nothing at all is a failure.
  bool Fill(int fd, uint64_t offset) {
    bytes_.resize(capacity_);
    ssize_t got;
    do {
      got = pread(fd, bytes_.data(), capacity_, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    bytes_.resize(got > 0 ? static_cast<size_t>(got) : 0);
    start_ = offset;
    return got > 0;
  }

  size_t capacity_;
  std::vector<uint8_t> bytes_;
  uint64_t start_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The parts of a cabinet's layout libmspack does not tell: where the data blocks lie and which
// entries began in a previous volume.

constexpr uint16_t kHeaderPrevCabinet = 0x0001;
constexpr uint16_t kHeaderNextCabinet = 0x0002;
constexpr uint16_t kHeaderReserve = 0x0004;
constexpr uint16_t kFolderContinuedFromPrev = 0xFFFD;
constexpr uint16_t kFolderContinuedPrevAndNext = 0xFFFF;
constexpr size_t kFolderEntrySize = 8;
constexpr size_t kFileEntrySize = 16;
constexpr size_t kDataHeaderSize = 8;
constexpr size_t kMaxNameSize = 256;

struct EntryKey {
  std::string name;
  uint32_t folderOffset = 0;
  uint32_t size = 0;
};

// Where a folder's chain of data blocks starts, and how far it has been walked.
struct FolderChain {
  uint64_t first = 0;   // window offset of its first block header
  uint64_t next = 0;    // window offset of the next block header not yet walked
  uint16_t left = 0;    // blocks not yet walked
  bool broken = false;  // a header lay outside the cabinet: the walk stops there
};

struct CabinetLayout {
  std::vector<FolderChain> folders;  // in the order of their first blocks
  uint32_t dataReserve = 0;
  std::map<uint64_t, uint32_t> payloads;  // window offset of a data block's bytes -> their count
  std::vector<EntryKey> continuedFromPrevious;
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Reads the cabinet inside its window; every read is checked against the window, so a damaged
// cabinet only yields a shorter layout (libmspack then reports the damage itself).
class LayoutReader {
 public:
  LayoutReader(int fd, CabinetWindow window) : fd_(fd), window_(window) {}

  bool Fits(uint64_t offset, uint64_t count) const {
    return offset <= window_.length && count <= window_.length - offset;
  }

  bool Read(uint64_t offset, void* buffer, size_t count) const {
    return Fits(offset, count) && ahead_.Read(fd_, window_.offset + offset, buffer, count);
  }

  // A zero-terminated name at offset; its size with the terminator goes to consumed.
  std::optional<std::string> ReadName(uint64_t offset, size_t* consumed) const {
    if (offset >= window_.length) return std::nullopt;
    char buffer[kMaxNameSize];
    const size_t count =
        static_cast<size_t>(std::min<uint64_t>(sizeof(buffer), window_.length - offset));
    if (!Read(offset, buffer, count)) return std::nullopt;
    const void* end = std::memchr(buffer, 0, count);
    if (!end) return std::nullopt;
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - buffer);
    *consumed = length + 1;
    return std::string(buffer, length);
  }

 private:
  int fd_;
  CabinetWindow window_;
  // Small: the data block headers it reads lie a block apart.
  mutable ReadAhead ahead_{4096};
};

struct ReserveSizes {
  uint32_t folder = 0;
  uint32_t data = 0;
};

// Offset of the first folder entry, after the optional reserve and volume names.
std::optional<uint64_t> SkipHeader(const LayoutReader& reader, uint16_t flags,
                                   ReserveSizes* reserve) {
  uint64_t offset = kCabinetHeaderSize;
  if (flags & kHeaderReserve) {
    uint8_t sizes[4];
    if (!reader.Read(offset, sizes, sizeof(sizes))) return std::nullopt;
    reserve->folder = sizes[2];
    reserve->data = sizes[3];
    offset += sizeof(sizes) + Le16(sizes);
  }
  const int names = ((flags & kHeaderPrevCabinet) ? 2 : 0) + ((flags & kHeaderNextCabinet) ? 2 : 0);
  for (int i = 0; i < names; ++i) {
    size_t consumed = 0;
    if (!reader.ReadName(offset, &consumed)) return std::nullopt;
    offset += consumed;
  }
  return offset;
}

// Walks one more block header of the folder's chain.
void WalkBlock(const LayoutReader& reader, uint32_t dataReserve, FolderChain& chain,
               std::map<uint64_t, uint32_t>& payloads) {
  uint8_t header[kDataHeaderSize];
  const uint64_t payload = chain.next + kDataHeaderSize + dataReserve;
  if (!reader.Read(chain.next, header, sizeof(header)) || !reader.Fits(payload, Le16(header + 4))) {
    chain.broken = true;
    return;
  }
  const uint16_t count = Le16(header + 4);
  payloads[payload] = count;
  chain.next = payload + count;
  --chain.left;
}

void AddContinuedEntries(const LayoutReader& reader, uint64_t offset, uint16_t fileCount,
                         CabinetLayout* layout) {
  for (uint16_t i = 0; i < fileCount; ++i) {
    uint8_t entry[kFileEntrySize];
    if (!reader.Read(offset, entry, sizeof(entry))) return;
    size_t consumed = 0;
    const auto name = reader.ReadName(offset + sizeof(entry), &consumed);
    if (!name) return;
    const uint16_t folder = Le16(entry + 8);
    if (folder == kFolderContinuedFromPrev || folder == kFolderContinuedPrevAndNext) {
      layout->continuedFromPrevious.push_back({*name, Le32(entry + 4), Le32(entry)});
    }
    offset += sizeof(entry) + consumed;
  }
}

CabinetLayout ReadLayout(int fd, CabinetWindow window) {
  CabinetLayout layout;
  const LayoutReader reader(fd, window);
  uint8_t header[kCabinetHeaderSize];
  if (!reader.Read(0, header, sizeof(header))) return layout;
  const uint16_t folderCount = Le16(header + 26);
  const uint16_t fileCount = Le16(header + 28);
  ReserveSizes reserve;
  const auto folders = SkipHeader(reader, Le16(header + 30), &reserve);
  if (!folders) return layout;
  // Only where each folder's blocks begin: the blocks themselves are walked as reading reaches
  // them, so that extracting the first entries never reads the headers of the whole cabinet.
  layout.dataReserve = reserve.data;
  for (uint16_t i = 0; i < folderCount; ++i) {
    const uint64_t offset = *folders + uint64_t{i} * (kFolderEntrySize + reserve.folder);
    uint8_t entry[kFolderEntrySize];
    if (!reader.Read(offset, entry, sizeof(entry))) break;
    layout.folders.push_back({Le32(entry), Le32(entry), Le16(entry + 4)});
  }
  std::sort(layout.folders.begin(), layout.folders.end(),
            [](const FolderChain& a, const FolderChain& b) { return a.first < b.first; });
  AddContinuedEntries(reader, Le32(header + 16), fileCount, &layout);
  return layout;
}

// ---------------------------------------------------------------------------------------------
// The session: one enumeration, with the mspack_system libmspack works through

struct OpenedCabinet {
  CabinetWindow window;
  // Walked further by the sessions that read the cabinet (any thread), under the lock.
  mutable std::mutex walk;
  mutable CabinetLayout layout;

  // Whether the count bytes at position are a whole data block's payload: the chain of the
  // folder that holds position is walked up to there first.
  bool IsPayload(int fd, uint64_t position, uint32_t count) const {
    std::lock_guard<std::mutex> lock(walk);
    FolderChain* chain = nullptr;
    for (FolderChain& folder : layout.folders) {
      if (folder.first <= position) chain = &folder;
    }
    if (chain) {
      const LayoutReader reader(fd, window);
      while (chain->left > 0 && !chain->broken && chain->next <= position) {
        WalkBlock(reader, layout.dataReserve, *chain, layout.payloads);
      }
    }
    const auto payload = layout.payloads.find(position);
    return payload != layout.payloads.end() && payload->second == count;
  }
};

// A setup opens its packages several times (to prepare, then to install): where the cabinet lies
// and its layout are found once per file as long as the file stays the same.
class CabinetCache {
 public:
  std::shared_ptr<const OpenedCabinet> Get(int fd, const struct stat& st) {
    const Identity identity{st.st_dev,         st.st_ino,          st.st_size,
                            st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
                            st.st_ctim.tv_nsec};
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [known, cabinet] : entries_) {
      if (known == identity) return cabinet;
    }
    const auto window = LocateCabinet(static_cast<uint64_t>(st.st_size),
                                      [fd](uint64_t offset, void* buffer, size_t count) {
                                        return ReadAll(fd, buffer, count, offset);
                                      });
    if (!window) return nullptr;
    auto cabinet = std::make_shared<OpenedCabinet>();
    cabinet->window = *window;
    cabinet->layout = ReadLayout(fd, *window);
    if (entries_.size() == kEntries) entries_.erase(entries_.begin());
    entries_.emplace_back(identity, cabinet);
    return cabinet;
  }

 private:
  using Identity = std::tuple<dev_t, ino_t, off_t, time_t, long, time_t, long>;
  static constexpr size_t kEntries = 8;  // a setup's packages, and a few more

  std::mutex mutex_;
  std::vector<std::pair<Identity, std::shared_ptr<const OpenedCabinet>>> entries_;
};

CabinetCache& Cabinets() {
  static CabinetCache cache;
  return cache;
}

// The entry being written.
struct Output {
  const char* name = nullptr;
  const char* path = nullptr;  // as the engine gave it
  uint32_t size = 0;
  uint32_t done = 0;
  bool created = false;
};

class Session;

// What libmspack holds as a struct mspack_file.
struct MsFile {
  enum class Kind { kArchive, kOutput };
  Kind kind;
  int fd;
  Session* session;
  const OpenedCabinet* cabinet = nullptr;  // archives only
  uint64_t position = 0;                   // archives only, from the window's start
  ReadAhead ahead{64 * 1024};              // archives only

  ~MsFile() {
    if (fd >= 0) close(fd);
  }
};

// libmspack hands back the address of `base` as its self pointer.
struct System {
  mspack_system base;
  Session* session;
};
static_assert(offsetof(System, base) == 0);

MsFile* AsFile(mspack_file* file) { return reinterpret_cast<MsFile*>(file); }
mspack_file* AsMspack(MsFile* file) { return reinterpret_cast<mspack_file*>(file); }

enum class Step { kNext, kStop, kFail };

class Session {
 public:
  Session(KxUnpackNotify notify, KxUnpackBlock block) : notify_(notify), block_(block) {}

  bool Run(const std::string& archivePath);

  mspack_file* OpenArchive(const char* path);
  mspack_file* OpenOutput(const char* path);
  int ReadArchive(MsFile& file, void* buffer, int bytes);
  int WriteOutput(MsFile& file, const void* buffer, int bytes);

 private:
  const char* KeepName(const std::string& name) {
    names_.push_back(name);
    return names_.back().c_str();
  }
  bool LoadNextVolumes(mscab_decompressor* d, mscabd_cabinet* first, std::string folder);
  mscabd_cabinet* OpenVolume(mscab_decompressor* d, mscabd_cabinet* previous, const char* name,
                             std::string& folder);
  bool AskForVolume(const char* name, std::string& folder);
  bool IsContinuedFromPrevious(const mscabd_file& file) const;
  Step ExtractEntry(mscab_decompressor* d, mscabd_file& file);

  KxUnpackNotify notify_;
  KxUnpackBlock block_;
  // libmspack keeps the file names of opened cabinets until they are closed.
  std::list<std::string> names_;
  std::map<std::string, std::shared_ptr<const OpenedCabinet>> cabinets_;  // by Linux path
  std::set<std::string> volumes_;  // Linux paths of the volumes in the set
  const OpenedCabinet* firstCabinet_ = nullptr;
  Output output_;
  bool stopped_ = false;
};

Session& SessionOf(mspack_system* self) { return *reinterpret_cast<System*>(self)->session; }

mspack_file* SysOpen(mspack_system* self, const char* filename, int mode) {
  switch (mode) {
    case MSPACK_SYS_OPEN_READ:
      return SessionOf(self).OpenArchive(filename);
    case MSPACK_SYS_OPEN_WRITE:
      return SessionOf(self).OpenOutput(filename);
    default:
      return nullptr;  // extraction never updates or appends
  }
}

void SysClose(mspack_file* file) { delete AsFile(file); }

int SysRead(mspack_file* file, void* buffer, int bytes) {
  MsFile* f = AsFile(file);
  if (bytes < 0 || f->kind != MsFile::Kind::kArchive) return -1;
  return f->session->ReadArchive(*f, buffer, bytes);
}

int SysWrite(mspack_file* file, void* buffer, int bytes) {
  MsFile* f = AsFile(file);
  if (bytes < 0 || f->kind != MsFile::Kind::kOutput) return -1;
  return f->session->WriteOutput(*f, buffer, bytes);
}

int SysSeek(mspack_file* file, off_t offset, int mode) {
  MsFile* f = AsFile(file);
  if (f->kind == MsFile::Kind::kOutput) {
    static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (mode < 0 || mode > 2) return -1;
    return lseek(f->fd, offset, kWhence[mode]) < 0 ? -1 : 0;
  }
  const auto length = static_cast<int64_t>(f->cabinet->window.length);
  int64_t base = 0;
  switch (mode) {
    case MSPACK_SYS_SEEK_START:
      break;
    case MSPACK_SYS_SEEK_CUR:
      base = static_cast<int64_t>(f->position);
      break;
    case MSPACK_SYS_SEEK_END:
      base = length;
      break;
    default:
      return -1;
  }
  // As with a file, a position past the end is allowed; reads there find nothing.
  if ((offset < 0 && -offset > base) || (offset > 0 && offset > INT64_MAX - base)) return -1;
  f->position = static_cast<uint64_t>(base + offset);
  return 0;
}

off_t SysTell(mspack_file* file) {
  MsFile* f = AsFile(file);
  if (f->kind == MsFile::Kind::kOutput) return lseek(f->fd, 0, SEEK_CUR);
  return static_cast<off_t>(f->position);
}

void SysMessage(mspack_file*, const char*, ...) {}  // warnings are of no use to the engine

void* SysAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void SysFree(void* pointer) { std::free(pointer); }
void SysCopy(void* source, void* destination, size_t bytes) {
  std::memmove(destination, source, bytes);
}

System MakeSystem(Session* session) {
  System system{};
  system.base.open = SysOpen;
  system.base.close = SysClose;
  system.base.read = SysRead;
  system.base.write = SysWrite;
  system.base.seek = SysSeek;
  system.base.tell = SysTell;
  system.base.message = SysMessage;
  system.base.alloc = SysAlloc;
  system.base.free = SysFree;
  system.base.copy = SysCopy;
  system.base.null_ptr = nullptr;
  system.session = session;
  return system;
}

// libmspack is C: nothing may be thrown through it, so the callbacks that allocate fail instead.
mspack_file* Session::OpenArchive(const char* path) try {
  UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto cached = cabinets_.find(path);
  if (cached == cabinets_.end()) {
    auto cabinet = Cabinets().Get(fd.Get(), st);
    if (!cabinet) return nullptr;
    cached = cabinets_.emplace(path, std::move(cabinet)).first;
  }
  auto* file = new MsFile{MsFile::Kind::kArchive, fd.Release(), this, cached->second.get()};
  return AsMspack(file);
} catch (...) {
  return nullptr;
}

mspack_file* Session::OpenOutput(const char* path) try {
  UniqueFd fd(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.Get() < 0) return nullptr;
  auto* file = new MsFile{MsFile::Kind::kOutput, fd.Release(), this};
  output_.created = true;
  return AsMspack(file);
} catch (...) {
  return nullptr;
}

int Session::ReadArchive(MsFile& file, void* buffer, int bytes) {
  const CabinetWindow& window = file.cabinet->window;
  const uint64_t left = file.position < window.length ? window.length - file.position : 0;
  const size_t count = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(bytes), left));
  if (!file.ahead.Read(file.fd, window.offset + file.position, buffer, count)) return -1;
  const bool payload =
      block_ && count > 0 &&
      file.cabinet->IsPayload(file.fd, file.position, static_cast<uint32_t>(count));
  file.position += count;
  if (payload) block_(buffer, static_cast<int32_t>(count));
  return static_cast<int>(count);
}

int Session::WriteOutput(MsFile& file, const void* buffer, int bytes) {
  if (stopped_) return -1;
  if (bytes == 0) return 0;
  const auto count = static_cast<uint32_t>(bytes);
  if (count > output_.size - output_.done) return -1;  // more data than the entry announced
  KxUnpackWriteRecord record{};
  record.name = reinterpret_cast<intptr_t>(output_.name);
  record.path = reinterpret_cast<intptr_t>(output_.path);
  record.fileSize = static_cast<int32_t>(output_.size);
  record.blockSize = bytes;
  record.done = static_cast<int32_t>(output_.done + count);
  record.block = reinterpret_cast<intptr_t>(buffer);
  if (notify_(KXUNPACK_WRITE, &record) == -1) {
    stopped_ = true;
    return -1;
  }
  if (!WriteAll(file.fd, buffer, count)) return -1;
  output_.done += count;
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// Extraction

struct DecompressorDeleter {
  void operator()(mscab_decompressor* d) const { mspack_destroy_cab_decompressor(d); }
};
using Decompressor = std::unique_ptr<mscab_decompressor, DecompressorDeleter>;

// Closing the first cabinet of a set closes every volume appended to it.
class CabinetSet {
 public:
  CabinetSet(mscab_decompressor* d, mscabd_cabinet* first) : d_(d), first_(first) {}
  CabinetSet(const CabinetSet&) = delete;
  CabinetSet& operator=(const CabinetSet&) = delete;
  ~CabinetSet() { d_->close(d_, first_); }

 private:
  mscab_decompressor* d_;
  mscabd_cabinet* first_;
};

constexpr int kWindowsAttributes =
    MSCAB_ATTRIB_RDONLY | MSCAB_ATTRIB_HIDDEN | MSCAB_ATTRIB_SYSTEM | MSCAB_ATTRIB_ARCH;
// The bits Linux has no place for; the engine's OS layer reads them back from here.
constexpr char kAttributesXattr[] = "user.kx.attributes";
constexpr int kXattrAttributes = MSCAB_ATTRIB_HIDDEN | MSCAB_ATTRIB_SYSTEM | MSCAB_ATTRIB_ARCH;

int32_t DosDate(const mscabd_file& file) {
  return ((file.date_y - 1980) << 9) | (file.date_m << 5) | file.date_d;
}

int32_t DosTime(const mscabd_file& file) {
  return (file.time_h << 11) | (file.time_m << 5) | (file.time_s >> 1);
}

// The archive's time is local time, as on Windows.
bool ApplyTime(const std::string& path, const mscabd_file& file) {
  const bool valid = file.date_m >= 1 && file.date_m <= 12 && file.date_d >= 1 &&
                     file.date_d <= 31 && file.time_h < 24 && file.time_m < 60 && file.time_s < 60;
  if (!valid) return true;  // nothing sensible to set; the file keeps the time of its writing
  struct tm local {};
  local.tm_year = file.date_y - 1900;
  local.tm_mon = file.date_m - 1;
  local.tm_mday = file.date_d;
  local.tm_hour = file.time_h;
  local.tm_min = file.time_m;
  local.tm_sec = file.time_s;
  local.tm_isdst = -1;
  const time_t when = mktime(&local);
  if (when == static_cast<time_t>(-1)) return true;
  struct timespec times[2] = {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = when;
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

// The extended attribute goes first: once the file is read-only, only its owner's privileges
// could still change it.
bool ApplyAttributes(const std::string& path, int attributes) {
  const std::string text = std::to_string(attributes & kXattrAttributes);
  setxattr(path.c_str(), kAttributesXattr, text.data(), text.size(), 0);  // not every fs can
  if (!(attributes & MSCAB_ATTRIB_RDONLY)) return true;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return chmod(path.c_str(), st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777) == 0;
}

bool Session::Run(const std::string& archivePath) {
  const auto native = ToNativePath(archivePath);
  if (!native) return false;
  System system = MakeSystem(this);
  Decompressor d(mspack_create_cab_decompressor(&system.base));
  if (!d) return false;
  mscabd_cabinet* first = d->open(d.get(), KeepName(*native));
  if (!first) return false;
  CabinetSet set(d.get(), first);
  firstCabinet_ = cabinets_.at(*native).get();
  volumes_.insert(*native);
  if (!LoadNextVolumes(d.get(), first, FolderOf(archivePath))) return false;
  for (mscabd_file* file = first->files; file; file = file->next) {
    if (IsContinuedFromPrevious(*file)) continue;  // its start is in a volume not opened
    switch (ExtractEntry(d.get(), *file)) {
      case Step::kNext:
        break;
      case Step::kStop:
        return true;
      case Step::kFail:
        return false;
    }
  }
  return true;
}

// Volumes are joined before the first entry, so that libmspack sees the whole set: an entry may
// continue into any of them.
bool Session::LoadNextVolumes(mscab_decompressor* d, mscabd_cabinet* first, std::string folder) {
  mscabd_cabinet* last = first;
  while (last->flags & MSCAB_HDR_NEXTCAB) {
    if (!IsPlainFileName(last->nextname)) return false;
    last = OpenVolume(d, last, last->nextname, folder);
    if (!last) return false;
  }
  return true;
}

mscabd_cabinet* Session::OpenVolume(mscab_decompressor* d, mscabd_cabinet* previous,
                                    const char* name, std::string& folder) {
  for (;;) {
    const auto native = ToNativePath(JoinPath(folder, name));
    if (native && volumes_.count(*native)) return nullptr;  // the set loops back on itself
    if (native) {
      mscabd_cabinet* next = d->open(d, KeepName(*native));
      if (next && d->append(d, previous, next) == MSPACK_ERR_OK) {
        volumes_.insert(*native);
        return next;
      }
      if (next) d->close(d, next);  // not the volume that belongs here
    }
    if (!AskForVolume(name, folder)) return nullptr;
  }
}

bool Session::AskForVolume(const char* name, std::string& folder) {
  char buffer[KXUNPACK_FOLDER_SIZE] = {};
  if (folder.size() >= sizeof(buffer)) return false;
  std::memcpy(buffer, folder.data(), folder.size());
  KxUnpackVolumeRecord record{};
  record.volume = reinterpret_cast<intptr_t>(name);
  record.folder = reinterpret_cast<intptr_t>(buffer);
  if (notify_(KXUNPACK_NEXT_VOLUME, &record) == -1) return false;
  if (!IsTerminated(buffer, sizeof(buffer))) return false;
  folder = buffer;
  return true;
}

bool Session::IsContinuedFromPrevious(const mscabd_file& file) const {
  for (const EntryKey& key : firstCabinet_->layout.continuedFromPrevious) {
    if (key.folderOffset == file.offset && key.size == file.length && key.name == file.filename) {
      return true;
    }
  }
  return false;
}

KxUnpackFileRecord RecordOf(const mscabd_file& file, char* path) {
  KxUnpackFileRecord record{};
  record.name = reinterpret_cast<intptr_t>(file.filename);
  record.size = static_cast<int32_t>(file.length);
  record.date = DosDate(file);
  record.time = DosTime(file);
  record.attributes = file.attribs & kWindowsAttributes;
  record.path = reinterpret_cast<intptr_t>(path);
  return record;
}

Step Session::ExtractEntry(mscab_decompressor* d, mscabd_file& file) {
  char path[KXUNPACK_PATH_SIZE] = {};
  KxUnpackFileRecord record = RecordOf(file, path);
  const int32_t answer = notify_(KXUNPACK_BEFORE_FILE, &record);
  if (answer == -1) return Step::kStop;
  if (answer == 0) return Step::kNext;
  if (!IsTerminated(path, sizeof(path))) return Step::kFail;
  const auto native = ToNativePath(path);
  if (!native) return Step::kFail;

  output_ = Output{file.filename, path, file.length, 0, false};
  const int error = d->extract(d, &file, native->c_str());
  const bool complete = error == MSPACK_ERR_OK && !stopped_ && output_.done == file.length;
  if (!complete) {
    // A file cut short must not pass for the entry; one never opened was not ours to remove.
    if (output_.created) unlink(native->c_str());
    return stopped_ ? Step::kStop : Step::kFail;
  }
  if (!ApplyTime(*native, file) || !ApplyAttributes(*native, file.attribs)) return Step::kFail;
  record = RecordOf(file, path);  // the engine's first answer may have changed it
  return notify_(KXUNPACK_FILE_DONE, &record) == -1 ? Step::kStop : Step::kNext;
}

}  // namespace

bool RunExtraction(const Archive& archive, KxUnpackNotify notify, KxUnpackBlock block) {
  int selftest = MSPACK_ERR_OK;
  MSPACK_SYS_SELFTEST(selftest);
  if (selftest != MSPACK_ERR_OK) return false;
  try {
    Session session(notify, block);
    return session.Run(archive.path);
  } catch (...) {
    return false;
  }
}

}  // namespace kxunpack
