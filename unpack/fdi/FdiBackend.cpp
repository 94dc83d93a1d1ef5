// The Windows backend of the unpack library: extraction through FDI of the system's cabinet.dll.
//
// cabinet.dll is loaded at run time from the system folder by its full path, never found by the
// loader's search, so the library imports nothing but kernel32 and msvcrt. FDI reaches files
// only through the callbacks given to it: ours show FDI the cabinet window of an archive as if it
// were the whole file, and ask the engine before every write of an output.
//
// FDI's file callbacks carry no context pointer, so the running session sits in a process-wide
// slot; the exports allow one enumeration at a time.
#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Backend.h"
#include "CabinetLocator.h"

namespace kxunpack {
namespace {

using FdiCreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                      PFNSEEK, int, PERF);
using FdiCopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FdiDestroyFn = BOOL(DIAMONDAPI*)(HFDI);

constexpr DWORD kWindowsAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr INT_PTR kFdiFailure = -1;

// ---------------------------------------------------------------------------------------------
// cabinet.dll

// FARPROC goes through void (*)(), which GCC accepts as the stand-in for any function type.
template <typename Fn>
Fn ProcAddress(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class CabinetDll {
 public:
  CabinetDll() {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const std::string path = std::string(folder, length) + "\\cabinet.dll";
    module_ = LoadLibraryA(path.c_str());
    if (!module_) return;
    create = ProcAddress<FdiCreateFn>(module_, "FDICreate");
    copy = ProcAddress<FdiCopyFn>(module_, "FDICopy");
    destroy = ProcAddress<FdiDestroyFn>(module_, "FDIDestroy");
  }
  ~CabinetDll() {
    if (module_) FreeLibrary(module_);
  }
  CabinetDll(const CabinetDll&) = delete;
  CabinetDll& operator=(const CabinetDll&) = delete;

  bool IsLoaded() const { return create && copy && destroy; }

  FdiCreateFn create = nullptr;
  FdiCopyFn copy = nullptr;
  FdiDestroyFn destroy = nullptr;

 private:
  HMODULE module_ = nullptr;
};

class FdiContext {
 public:
  FdiContext(const CabinetDll& dll, HFDI handle) : dll_(dll), handle_(handle) {}
  ~FdiContext() {
    if (handle_) dll_.destroy(handle_);
  }
  FdiContext(const FdiContext&) = delete;
  FdiContext& operator=(const FdiContext&) = delete;
  HFDI Get() const { return handle_; }

 private:
  const CabinetDll& dll_;
  HFDI handle_;
};

class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE Get() const { return handle_; }
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  // False when the system reports the close failed (for a written file: data may be lost).
  bool Reset() {
    const bool closed = !IsValid() || CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// ---------------------------------------------------------------------------------------------
// Paths

std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string NameOf(const std::string& path) { return path.substr(FolderOf(path).size()); }

std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder;
  return folder + "\\";
}

// A volume name comes from the archive; it must not lead out of the folder it is looked for in.
bool IsPlainFileName(const char* name) {
  return name && *name && std::strpbrk(name, "\\/:") == nullptr && std::strcmp(name, "..") != 0 &&
         std::strcmp(name, ".") != 0;
}

bool IsReadableFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows names compare without regard to case; ASCII folding is enough to recognise a path seen
// before.
std::string FoldCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool IsTerminated(const char* buffer, size_t size) {
  return std::memchr(buffer, 0, size) != nullptr;
}

// ---------------------------------------------------------------------------------------------
// File access

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, size_t count) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(file, bytes, chunk, &got, nullptr) || got == 0) return false;
    bytes += got;
    count -= got;
  }
  return true;
}

bool WriteAll(HANDLE file, const void* buffer, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    DWORD put = 0;
    if (!WriteFile(file, bytes, static_cast<DWORD>(count), &put, nullptr) || put == 0) {
      return false;
    }
    bytes += put;
    count -= put;
  }
  return true;
}

// What FDI holds as a file handle.
struct FdiFile {
  enum class Kind { kArchive, kOutput };
  explicit FdiFile(Kind k) : kind(k) {}
  virtual ~FdiFile() = default;
  const Kind kind;
};

struct ArchiveFile : FdiFile {
  ArchiveFile(HANDLE h, CabinetWindow w) : FdiFile(Kind::kArchive), file(h), window(w) {}
  UniqueHandle file;
  CabinetWindow window;
  uint64_t position = 0;  // inside the window; may pass its end, where reads find nothing
  // After a failed seek nothing may be read: some FDI versions ignore the failure and would
  // take whatever lies at the old position for what they asked for.
  bool positionLost = false;
};

// The entry being written, from fdintCOPY_FILE to fdintCLOSE_FILE_INFO.
struct OutputFile : FdiFile {
  OutputFile(HANDLE h, const KxUnpackFileRecord& entry, const char* targetPath)
      : FdiFile(Kind::kOutput), file(h), name(reinterpret_cast<const char*>(entry.name)) {
    std::memcpy(path, targetPath, sizeof(path));
    record = entry;
    record.name = reinterpret_cast<intptr_t>(name.c_str());
    record.path = reinterpret_cast<intptr_t>(path);
  }
  UniqueHandle file;
  std::string name;
  char path[KXUNPACK_PATH_SIZE];
  KxUnpackFileRecord record;  // for the engine once the file is complete
  uint32_t done = 0;
  bool damaged = false;  // a write failed or brought more than the entry announced
};

// ---------------------------------------------------------------------------------------------
// The session: one enumeration

class Session {
 public:
  Session(KxUnpackNotify notify, KxUnpackBlock block) : notify_(notify), block_(block) {}

  bool Run(const CabinetDll& dll, const std::string& archivePath);

  INT_PTR OpenArchive(const char* path);
  UINT Read(ArchiveFile& file, void* buffer, UINT count);
  UINT Write(OutputFile& file, const void* buffer, UINT count);
  long Seek(ArchiveFile& file, long distance, int origin);

  INT_PTR OnCabinetInfo(const FDINOTIFICATION& info);
  INT_PTR OnCopyFile(const FDINOTIFICATION& info);
  INT_PTR OnCloseFile(const FDINOTIFICATION& info);
  INT_PTR OnNextCabinet(FDINOTIFICATION& info);
  void OnBlock(void* block, int32_t count) {
    if (block_ && block && count > 0) block_(block, count);
  }
  void Discard(OutputFile* output);

 private:
  bool FindVolume(const char* name, std::string& folder, bool mustAsk);
  bool AskForVolume(const char* name, std::string& folder);
  bool FinishOutput(OutputFile& output);

  KxUnpackNotify notify_;
  KxUnpackBlock block_;
  std::unique_ptr<OutputFile> output_;
  bool firstCabinetInfo_ = true;
  std::string nextVolume_;  // of the cabinet FDICopy was called for
  // Where volumes were found when FDI needed them, by folded name.
  std::map<std::string, std::string> volumeFolders_;
  bool stopped_ = false;
  bool failed_ = false;
};

Session* activeSession = nullptr;

class ActiveSession {
 public:
  explicit ActiveSession(Session* session) { activeSession = session; }
  ~ActiveSession() { activeSession = nullptr; }
  ActiveSession(const ActiveSession&) = delete;
  ActiveSession& operator=(const ActiveSession&) = delete;
};

FdiFile* AsFile(INT_PTR handle) {
  return handle == 0 || handle == kFdiFailure ? nullptr : reinterpret_cast<FdiFile*>(handle);
}

// The FDI callbacks. FDI is C: nothing may be thrown through it, so the callbacks that allocate
// catch and report failure instead.

FNALLOC(FdiAlloc) { return std::malloc(cb); }
FNFREE(FdiFree) { std::free(pv); }

FNOPEN(FdiOpen) {
  if (!activeSession || (oflag & (_O_WRONLY | _O_RDWR | _O_CREAT))) return kFdiFailure;
  return activeSession->OpenArchive(pszFile);
}

FNREAD(FdiRead) {
  FdiFile* file = AsFile(hf);
  if (!activeSession || !file || file->kind != FdiFile::Kind::kArchive)
    return static_cast<UINT>(-1);
  return activeSession->Read(static_cast<ArchiveFile&>(*file), pv, cb);
}

FNWRITE(FdiWrite) {
  FdiFile* file = AsFile(hf);
  if (!activeSession || !file || file->kind != FdiFile::Kind::kOutput) return static_cast<UINT>(-1);
  return activeSession->Write(static_cast<OutputFile&>(*file), pv, cb);
}

FNCLOSE(FdiClose) {
  FdiFile* file = AsFile(hf);
  if (!file) return -1;
  if (file->kind == FdiFile::Kind::kOutput) {
    // FDI closes outputs only when it gives up on them.
    if (activeSession) activeSession->Discard(static_cast<OutputFile*>(file));
    return 0;
  }
  delete file;
  return 0;
}

FNSEEK(FdiSeek) {
  FdiFile* file = AsFile(hf);
  if (!activeSession || !file || file->kind != FdiFile::Kind::kArchive) return -1;
  return activeSession->Seek(static_cast<ArchiveFile&>(*file), dist, seektype);
}

FNFDINOTIFY(FdiNotify) {
  if (!activeSession || !pfdin) return kFdiFailure;
  switch (fdint) {
    case fdintCABINET_INFO:
      return activeSession->OnCabinetInfo(*pfdin);
    case fdintCOPY_FILE:
      return activeSession->OnCopyFile(*pfdin);
    case fdintCLOSE_FILE_INFO:
      return activeSession->OnCloseFile(*pfdin);
    case fdintNEXT_CABINET:
      return activeSession->OnNextCabinet(*pfdin);
    case fdintPARTIAL_FILE:  // began in a previous volume: done with that volume, or not at all
    default:
      return 0;
  }
}

FNFDIDECRYPT(FdiDecrypt) {
  if (activeSession && pfdid && pfdid->fdidt == fdidtDECRYPT) {
    activeSession->OnBlock(pfdid->decrypt.pbData, pfdid->decrypt.cbData);
  }
  return TRUE;
}

INT_PTR Session::OpenArchive(const char* path) try {
  UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0) {
    return kFdiFailure;
  }
  const HANDLE raw = file.Get();
  const auto window = LocateCabinet(static_cast<uint64_t>(size.QuadPart),
                                    [raw](uint64_t offset, void* buffer, size_t count) {
                                      return ReadAt(raw, offset, buffer, count);
                                    });
  if (!window) return kFdiFailure;
  auto* archive = new ArchiveFile(file.Get(), *window);
  file.Release();  // archive owns it now, until FdiClose
  return reinterpret_cast<INT_PTR>(static_cast<FdiFile*>(archive));
} catch (...) {
  return kFdiFailure;
}

UINT Session::Read(ArchiveFile& file, void* buffer, UINT count) {
  if (file.positionLost) return static_cast<UINT>(-1);
  if (file.position >= file.window.length || count == 0) return 0;
  const uint64_t left = file.window.length - file.position;
  const UINT wanted = left < count ? static_cast<UINT>(left) : count;
  if (!ReadAt(file.file.Get(), file.window.offset + file.position, buffer, wanted)) {
    return static_cast<UINT>(-1);
  }
  file.position += wanted;
  return wanted;
}

long Session::Seek(ArchiveFile& file, long distance, int origin) {
  int64_t base = 0;
  switch (origin) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      base = static_cast<int64_t>(file.position);
      break;
    case SEEK_END:
      base = static_cast<int64_t>(file.window.length);
      break;
    default:
      file.positionLost = true;
      return -1;
  }
  const int64_t target = base + distance;
  file.positionLost = target < 0 || target > 0x7FFFFFFF;
  if (file.positionLost) return -1;
  file.position = static_cast<uint64_t>(target);
  return static_cast<long>(target);
}

UINT Session::Write(OutputFile& output, const void* buffer, UINT count) {
  if (stopped_ || failed_ || output.damaged) return static_cast<UINT>(-1);
  if (count == 0) return 0;
  const auto size = static_cast<uint32_t>(output.record.size);
  if (count > size - output.done) {
    output.damaged = true;
    return static_cast<UINT>(-1);
  }
  KxUnpackWriteRecord record{};
  record.name = output.record.name;
  record.path = output.record.path;
  record.fileSize = output.record.size;
  record.blockSize = static_cast<int32_t>(count);
  record.done = static_cast<int32_t>(output.done + count);
  record.block = reinterpret_cast<intptr_t>(buffer);
  if (notify_(KXUNPACK_WRITE, &record) == -1) {
    stopped_ = true;
    return static_cast<UINT>(-1);
  }
  if (!WriteAll(output.file.Get(), buffer, count)) {
    output.damaged = true;
    return static_cast<UINT>(-1);
  }
  output.done += count;
  return count;
}

INT_PTR Session::OnCabinetInfo(const FDINOTIFICATION& info) {
  // FDI announces every cabinet it opens; only the first is the one FDICopy was called for.
  if (firstCabinetInfo_) {
    firstCabinetInfo_ = false;
    nextVolume_ = info.psz1 ? info.psz1 : "";
  }
  return 0;
}

KxUnpackFileRecord RecordOf(const FDINOTIFICATION& info, char* path) {
  KxUnpackFileRecord record{};
  record.name = reinterpret_cast<intptr_t>(info.psz1);
  record.size = info.cb;
  record.date = info.date;
  record.time = info.time;
  record.attributes = static_cast<int32_t>(info.attribs & kWindowsAttributes);
  record.path = reinterpret_cast<intptr_t>(path);
  return record;
}

INT_PTR Session::OnCopyFile(const FDINOTIFICATION& info) try {
  // Some FDI versions go on after a refused callback; a stop is final all the same.
  if (stopped_ || failed_) return kFdiFailure;
  if (output_) Discard(output_.get());
  char path[KXUNPACK_PATH_SIZE] = {};
  KxUnpackFileRecord record = RecordOf(info, path);
  const int32_t answer = notify_(KXUNPACK_BEFORE_FILE, &record);
  if (answer == -1) {
    stopped_ = true;
    return kFdiFailure;
  }
  if (answer == 0) return 0;
  if (!IsTerminated(path, sizeof(path)) || !path[0]) {
    failed_ = true;
    return kFdiFailure;
  }
  UniqueHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    failed_ = true;
    return kFdiFailure;
  }
  // The engine's answer may have changed the record; the archive's values are what count.
  output_ = std::make_unique<OutputFile>(file.Get(), RecordOf(info, path), path);
  file.Release();  // output_ owns it now
  return reinterpret_cast<INT_PTR>(static_cast<FdiFile*>(output_.get()));
} catch (...) {
  failed_ = true;
  return kFdiFailure;
}

// The archive's local time, converted with the daylight-saving rule of its own date.
// LocalFileTimeToFileTime applies today's bias instead, an hour off for half the year.
std::optional<FILETIME> UniversalTimeOf(WORD dosDate, WORD dosTime) {
  FILETIME local;
  SYSTEMTIME localTime;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local) ||
      !FileTimeToSystemTime(&local, &localTime)) {
    return std::nullopt;
  }
  SYSTEMTIME universalTime;
  FILETIME universal;
  if (TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &universalTime) &&
      SystemTimeToFileTime(&universalTime, &universal)) {
    return universal;
  }
  if (LocalFileTimeToFileTime(&local, &universal)) return universal;
  return std::nullopt;
}

// The time is set through the still open handle: once the attributes are applied the file may
// be read-only.
bool Session::FinishOutput(OutputFile& output) {
  const auto universal =
      UniversalTimeOf(static_cast<WORD>(output.record.date), static_cast<WORD>(output.record.time));
  // A date the archive cannot mean leaves the file the time of its writing.
  if (universal && !SetFileTime(output.file.Get(), nullptr, nullptr, &*universal)) return false;
  if (!output.file.Reset()) return false;
  const DWORD attributes = static_cast<DWORD>(output.record.attributes) & kWindowsAttributes;
  return SetFileAttributesA(output.path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL) != 0;
}

INT_PTR Session::OnCloseFile(const FDINOTIFICATION& info) {
  FdiFile* file = AsFile(info.hf);
  if (!output_ || file != output_.get()) {
    failed_ = true;
    return FALSE;
  }
  const std::unique_ptr<OutputFile> output = std::move(output_);
  // Some FDI versions report an entry closed after its decompression failed.
  const bool complete = !output->damaged && !stopped_ && !failed_ &&
                        output->done == static_cast<uint32_t>(output->record.size);
  if (!complete || !FinishOutput(*output)) {
    Discard(output.get());
    if (!stopped_) failed_ = true;
    return FALSE;
  }
  if (notify_(KXUNPACK_FILE_DONE, &output->record) == -1) {
    stopped_ = true;
    return FALSE;
  }
  return TRUE;
}

// A file cut short must not pass for the entry.
void Session::Discard(OutputFile* output) {
  if (!output) return;
  output->file.Reset();
  DeleteFileA(output->path);
  if (output == output_.get()) output_.reset();
}

INT_PTR Session::OnNextCabinet(FDINOTIFICATION& info) try {
  if (stopped_ || failed_ || !info.psz3 || !IsPlainFileName(info.psz1)) {
    failed_ = true;
    return kFdiFailure;
  }
  std::string folder = info.psz3;
  // A first notice may come before FDI looked; a repeated one says the folder did not do.
  if (!FindVolume(info.psz1, folder, info.fdie != FDIERROR_NONE)) {
    failed_ = true;
    return kFdiFailure;
  }
  folder = WithSeparator(folder);
  if (folder.size() >= CB_MAX_CAB_PATH) {
    failed_ = true;
    return kFdiFailure;
  }
  std::memcpy(info.psz3, folder.c_str(), folder.size() + 1);
  volumeFolders_[FoldCase(info.psz1)] = folder;
  return 0;
} catch (...) {
  failed_ = true;
  return kFdiFailure;
}

bool Session::FindVolume(const char* name, std::string& folder, bool mustAsk) {
  while (mustAsk || !IsReadableFile(WithSeparator(folder) + name)) {
    if (!AskForVolume(name, folder)) return false;
    mustAsk = false;
  }
  return true;
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

// FDICopy walks the entries of one cabinet, following an entry that continues into the next
// volume only as far as that entry; the entries that begin in the next volume need another
// FDICopy on it.
bool Session::Run(const CabinetDll& dll, const std::string& archivePath) {
  ERF error{};
  FdiContext fdi(dll, dll.create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek,
                                 cpuUNKNOWN, &error));
  if (!fdi.Get()) return false;
  std::string folder = FolderOf(archivePath);
  std::string name = NameOf(archivePath);
  std::set<std::string> visited;
  for (;;) {
    if (!visited.insert(FoldCase(WithSeparator(folder) + name)).second) {
      return false;  // the set loops back on itself
    }
    firstCabinetInfo_ = true;
    nextVolume_.clear();
    const BOOL copied =
        dll.copy(fdi.Get(), name.data(), folder.data(), 0, FdiNotify, FdiDecrypt, this);
    Discard(output_.get());
    if (stopped_) return true;
    if (!copied || failed_) return false;
    if (nextVolume_.empty()) return true;
    if (!IsPlainFileName(nextVolume_.c_str())) return false;
    name = nextVolume_;
    const auto found = volumeFolders_.find(FoldCase(name));
    if (found != volumeFolders_.end()) folder = found->second;
    if (!FindVolume(name.c_str(), folder, false)) return false;
    folder = WithSeparator(folder);
  }
}

}  // namespace

bool RunExtraction(const Archive& archive, KxUnpackNotify notify, KxUnpackBlock block) {
  const CabinetDll dll;
  if (!dll.IsLoaded()) return false;
  Session session(notify, block);
  const ActiveSession active(&session);
  return session.Run(dll, archive.path);
}

}  // namespace kxunpack
