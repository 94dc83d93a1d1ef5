// The Windows backend of the unpack library: extraction through FDI of the system's cabinet.dll.
//
// cabinet.dll is loaded at run time from the system folder by its full path, never found by the
// loader's search, so the library imports nothing but kernel32 and msvcrt. FDI reaches files
// only through the callbacks given to it: ours show FDI the cabinet window of an archive as if it
// were the whole file, and ask the engine before every write of an output.
//
// FDI's file callbacks carry no context pointer, so the running session sits in a process-wide
// slot; the exports allow one enumeration at a time.
//
// The library is carried inside every engine, so it links no C++ runtime: it is built without
// exceptions and RTTI, keeps texts in fixed buffers of FDI's own limits, and takes memory from the
// C heap (a failed allocation is a failed extraction).
#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

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
    char path[MAX_PATH + 16];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    std::memcpy(path + length, "\\cabinet.dll", sizeof("\\cabinet.dll"));
    module_ = LoadLibraryA(path);
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
// Memory and texts

// An object on the C heap; nullptr when there is no memory.
template <typename T, typename... Args>
T* Create(Args&&... args) {
  void* memory = std::malloc(sizeof(T));
  return memory ? new (memory) T(static_cast<Args&&>(args)...) : nullptr;
}

template <typename T>
void Destroy(T* object) {
  if (!object) return;
  object->~T();
  std::free(object);
}

// A folder or a volume's path as FDI takes it: CB_MAX_CAB_PATH bytes, terminating zero included.
constexpr size_t kFolderSize = CB_MAX_CAB_PATH;
constexpr size_t kNameSize = CB_MAX_CABINET_NAME;

// Copies text into buffer of size bytes; false (buffer untouched) when it does not fit.
bool CopyText(char* buffer, size_t size, const char* text) {
  const size_t length = std::strlen(text);
  if (length >= size) return false;
  std::memcpy(buffer, text, length + 1);
  return true;
}

// Appends text to the zero-terminated buffer of size bytes; false when it does not fit.
bool AppendText(char* buffer, size_t size, const char* text) {
  const size_t used = std::strlen(buffer);
  return CopyText(buffer + used, size - used, text);
}

// ---------------------------------------------------------------------------------------------
// Paths

// Splits path at its last separator into folder (with the separator) and name.
bool SplitPath(const char* path, char (&folder)[kFolderSize], char (&name)[kNameSize]) {
  const char* separator = nullptr;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') separator = p;
  }
  const size_t folderLength = separator ? static_cast<size_t>(separator - path) + 1 : 0;
  if (folderLength >= kFolderSize) return false;
  std::memcpy(folder, path, folderLength);
  folder[folderLength] = 0;
  return CopyText(name, kNameSize, path + folderLength);
}

// Ends a non-empty folder with a separator; false when that does not fit.
bool AddSeparator(char (&folder)[kFolderSize]) {
  const size_t length = std::strlen(folder);
  if (length == 0 || folder[length - 1] == '\\' || folder[length - 1] == '/') return true;
  return AppendText(folder, kFolderSize, "\\");
}

// A volume name comes from the archive; it must not lead out of the folder it is looked for in.
bool IsPlainFileName(const char* name) {
  return name && *name && std::strpbrk(name, "\\/:") == nullptr && std::strcmp(name, "..") != 0 &&
         std::strcmp(name, ".") != 0;
}

bool IsReadableFile(const char* folder, const char* name) {
  char path[kFolderSize + kNameSize];
  if (!CopyText(path, sizeof(path), folder)) return false;
  const size_t length = std::strlen(path);
  if (length && path[length - 1] != '\\' && path[length - 1] != '/' &&
      !AppendText(path, sizeof(path), "\\")) {
    return false;
  }
  if (!AppendText(path, sizeof(path), name)) return false;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows names compare without regard to case; ASCII folding is enough to recognise a path seen
// before.
bool SameFoldedText(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
    const char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return false;
    if (!x) return true;
  }
}

bool IsTerminated(const char* buffer, size_t size) {
  return std::memchr(buffer, 0, size) != nullptr;
}

// Texts by name without regard to case: the folder each volume was found in, and the cabinets
// already walked (a set of volumes that loops back on itself must not be walked forever).
class VolumeList {
 public:
  VolumeList() = default;
  ~VolumeList() {
    while (first_) {
      Volume* next = first_->next;
      Destroy(first_);
      first_ = next;
    }
  }
  VolumeList(const VolumeList&) = delete;
  VolumeList& operator=(const VolumeList&) = delete;

  // The folder recorded for name, or nullptr.
  const char* Find(const char* name) const {
    for (const Volume* volume = first_; volume; volume = volume->next) {
      if (SameFoldedText(volume->name, name)) return volume->folder;
    }
    return nullptr;
  }

  // Records (or updates) the folder of name; false when out of memory or too long.
  bool Put(const char* name, const char* folder) {
    for (Volume* volume = first_; volume; volume = volume->next) {
      if (SameFoldedText(volume->name, name)) return CopyText(volume->folder, kFolderSize, folder);
    }
    Volume* volume = Create<Volume>();
    if (!volume) return false;
    if (!CopyText(volume->name, sizeof(volume->name), name) ||
        !CopyText(volume->folder, kFolderSize, folder)) {
      Destroy(volume);
      return false;
    }
    volume->next = first_;
    first_ = volume;
    return true;
  }

 private:
  struct Volume {
    char name[kFolderSize + kNameSize] = {};
    char folder[kFolderSize] = {};
    Volume* next = nullptr;
  };
  Volume* first_ = nullptr;
};

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
  // The entry's name must fit name (see Session::OnCopyFile).
  OutputFile(HANDLE h, const KxUnpackFileRecord& entry, const char* targetPath)
      : FdiFile(Kind::kOutput), file(h) {
    CopyText(name, sizeof(name), reinterpret_cast<const char*>(entry.name));
    std::memcpy(path, targetPath, sizeof(path));
    record = entry;
    record.name = reinterpret_cast<intptr_t>(name);
    record.path = reinterpret_cast<intptr_t>(path);
  }
  UniqueHandle file;
  char name[CB_MAX_FILENAME + 1] = {};
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

  ~Session() { Discard(output_); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Run(const CabinetDll& dll, const char* archivePath);

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
  bool FindVolume(const char* name, char (&folder)[kFolderSize], bool mustAsk);
  bool AskForVolume(const char* name, char (&folder)[kFolderSize]);
  bool FinishOutput(OutputFile& output);

  KxUnpackNotify notify_;
  KxUnpackBlock block_;
  OutputFile* output_ = nullptr;  // owned
  bool firstCabinetInfo_ = true;
  char nextVolume_[kNameSize] = {};  // of the cabinet FDICopy was called for
  bool nextVolumeTooLong_ = false;
  // Where volumes were found when FDI needed them.
  VolumeList volumeFolders_;
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

// The FDI callbacks. FDI is C; nothing here throws.

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
  Destroy(static_cast<ArchiveFile*>(file));
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

INT_PTR Session::OpenArchive(const char* path) {
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
  auto* archive = Create<ArchiveFile>(file.Get(), *window);
  if (!archive) return kFdiFailure;
  file.Release();  // archive owns it now, until FdiClose
  return reinterpret_cast<INT_PTR>(static_cast<FdiFile*>(archive));
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
    nextVolume_[0] = 0;
    nextVolumeTooLong_ = info.psz1 && !CopyText(nextVolume_, sizeof(nextVolume_), info.psz1);
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

INT_PTR Session::OnCopyFile(const FDINOTIFICATION& info) {
  // Some FDI versions go on after a refused callback; a stop is final all the same.
  if (stopped_ || failed_) return kFdiFailure;
  if (output_) Discard(output_);
  if (!info.psz1 || std::strlen(info.psz1) > CB_MAX_FILENAME) {
    failed_ = true;
    return kFdiFailure;
  }
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
  output_ = Create<OutputFile>(file.Get(), RecordOf(info, path), path);
  if (!output_) {
    file.Reset();
    DeleteFileA(path);
    failed_ = true;
    return kFdiFailure;
  }
  file.Release();  // output_ owns it now
  return reinterpret_cast<INT_PTR>(static_cast<FdiFile*>(output_));
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
  if (!output_ || file != output_) {
    failed_ = true;
    return FALSE;
  }
  OutputFile* const output = output_;
  // Some FDI versions report an entry closed after its decompression failed.
  const bool complete = !output->damaged && !stopped_ && !failed_ &&
                        output->done == static_cast<uint32_t>(output->record.size);
  if (!complete || !FinishOutput(*output)) {
    Discard(output);
    if (!stopped_) failed_ = true;
    return FALSE;
  }
  output_ = nullptr;
  const int32_t answer = notify_(KXUNPACK_FILE_DONE, &output->record);
  Destroy(output);
  if (answer == -1) {
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
  if (output == output_) output_ = nullptr;
  Destroy(output);
}

INT_PTR Session::OnNextCabinet(FDINOTIFICATION& info) {
  char folder[kFolderSize];
  if (stopped_ || failed_ || !info.psz3 || !IsPlainFileName(info.psz1) ||
      !CopyText(folder, sizeof(folder), info.psz3)) {
    failed_ = true;
    return kFdiFailure;
  }
  // A first notice may come before FDI looked; a repeated one says the folder did not do.
  if (!FindVolume(info.psz1, folder, info.fdie != FDIERROR_NONE) || !AddSeparator(folder) ||
      !volumeFolders_.Put(info.psz1, folder)) {
    failed_ = true;
    return kFdiFailure;
  }
  std::memcpy(info.psz3, folder, std::strlen(folder) + 1);
  return 0;
}

bool Session::FindVolume(const char* name, char (&folder)[kFolderSize], bool mustAsk) {
  while (mustAsk || !IsReadableFile(folder, name)) {
    if (!AskForVolume(name, folder)) return false;
    mustAsk = false;
  }
  return true;
}

bool Session::AskForVolume(const char* name, char (&folder)[kFolderSize]) {
  char buffer[KXUNPACK_FOLDER_SIZE] = {};
  if (!CopyText(buffer, sizeof(buffer), folder)) return false;
  KxUnpackVolumeRecord record{};
  record.volume = reinterpret_cast<intptr_t>(name);
  record.folder = reinterpret_cast<intptr_t>(buffer);
  if (notify_(KXUNPACK_NEXT_VOLUME, &record) == -1) return false;
  if (!IsTerminated(buffer, sizeof(buffer))) return false;
  return CopyText(folder, kFolderSize, buffer);
}

// FDICopy walks the entries of one cabinet, following an entry that continues into the next
// volume only as far as that entry; the entries that begin in the next volume need another
// FDICopy on it.
bool Session::Run(const CabinetDll& dll, const char* archivePath) {
  ERF error{};
  FdiContext fdi(dll, dll.create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek,
                                 cpuUNKNOWN, &error));
  if (!fdi.Get()) return false;
  char folder[kFolderSize];
  char name[kNameSize];
  if (!SplitPath(archivePath, folder, name)) return false;
  VolumeList visited;  // by folder and name
  for (;;) {
    char where[kFolderSize + kNameSize];
    if (!CopyText(where, sizeof(where), folder) || !AppendText(where, sizeof(where), name) ||
        visited.Find(where) || !visited.Put(where, "")) {
      return false;  // the set loops back on itself
    }
    firstCabinetInfo_ = true;
    nextVolume_[0] = 0;
    nextVolumeTooLong_ = false;
    const BOOL copied = dll.copy(fdi.Get(), name, folder, 0, FdiNotify, FdiDecrypt, this);
    Discard(output_);
    if (stopped_) return true;
    if (!copied || failed_ || nextVolumeTooLong_) return false;
    if (!nextVolume_[0]) return true;
    if (!IsPlainFileName(nextVolume_)) return false;
    std::memcpy(name, nextVolume_, sizeof(name));
    if (const char* found = volumeFolders_.Find(name)) CopyText(folder, sizeof(folder), found);
    if (!FindVolume(name, folder, false) || !AddSeparator(folder)) return false;
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
