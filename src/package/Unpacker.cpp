#include "package/Unpacker.h"

#include <cstring>

#include "kxunpack.h"
#include "support/Errors.h"
#include "support/zrStrUtils.h"

namespace {

// The handlers of the running extraction. The library's callbacks carry no context pointer,
// hence the process-wide slot.
struct ExtractionSlot {
  const TBeforeFileHandler* before = nullptr;
  const TAfterFileHandler* after = nullptr;
  const TProgressHandler* progress = nullptr;
  const TVolumeHandler* volume = nullptr;
  bool failed = false;
};
ExtractionSlot* activeSlot = nullptr;

constexpr int32_t kStop = -1;

TUnpackEntry EntryFrom(const KxUnpackFileRecord& record) {
  TUnpackEntry entry;
  entry.Name = reinterpret_cast<const char*>(record.name);
  entry.Size = static_cast<uint32_t>(record.size);
  entry.Date = static_cast<uint16_t>(record.date);
  entry.Time = static_cast<uint16_t>(record.time);
  entry.Attributes = static_cast<uint32_t>(record.attributes);
  return entry;
}

bool CopyToBuffer(const std::string& text, intptr_t buffer, size_t size) {
  if (text.size() >= size) return false;
  std::memcpy(reinterpret_cast<char*>(buffer), text.c_str(), text.size() + 1);
  return true;
}

int32_t BeforeFile(ExtractionSlot& slot, KxUnpackFileRecord& record) {
  std::string target;
  int answer = (*slot.before)(EntryFrom(record), target);
  if (answer != 1) return answer == kStop ? kStop : 0;
  if (CopyToBuffer(target, record.path, KXUNPACK_PATH_SIZE)) return 1;
  slot.failed = true;  // a path cut short would write somewhere else
  return kStop;
}

int32_t FileDone(ExtractionSlot& slot, KxUnpackFileRecord& record) {
  if (!slot.after || !*slot.after) return 1;
  return (*slot.after)(EntryFrom(record), reinterpret_cast<const char*>(record.path));
}

int32_t BeforeWrite(ExtractionSlot& slot, const KxUnpackWriteRecord& record) {
  if (!slot.progress || !*slot.progress) return 1;
  TUnpackProgress progress;
  progress.Name = reinterpret_cast<const char*>(record.name);
  progress.Path = reinterpret_cast<const char*>(record.path);
  progress.FileSize = static_cast<uint32_t>(record.fileSize);
  progress.BlockSize = static_cast<uint32_t>(record.blockSize);
  progress.Done = static_cast<uint32_t>(record.done);
  return (*slot.progress)(progress);
}

int32_t NextVolume(ExtractionSlot& slot, KxUnpackVolumeRecord& record) {
  if (!slot.volume || !*slot.volume) return kStop;
  std::string folder = reinterpret_cast<const char*>(record.folder);
  if (!(*slot.volume)(reinterpret_cast<const char*>(record.volume), folder)) return kStop;
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return CopyToBuffer(folder, record.folder, KXUNPACK_FOLDER_SIZE) ? 1 : kStop;
}

int32_t Dispatch(ExtractionSlot& slot, int32_t kind, void* record) {
  switch (kind) {
    case KXUNPACK_BEFORE_FILE:
      return BeforeFile(slot, *static_cast<KxUnpackFileRecord*>(record));
    case KXUNPACK_FILE_DONE:
      return FileDone(slot, *static_cast<KxUnpackFileRecord*>(record));
    case KXUNPACK_WRITE:
      return BeforeWrite(slot, *static_cast<const KxUnpackWriteRecord*>(record));
    case KXUNPACK_NEXT_VOLUME:
      return NextVolume(slot, *static_cast<KxUnpackVolumeRecord*>(record));
    default:
      return 1;
  }
}

// No exception may unwind through the library's frames: it is caught here, remembered, and the
// extraction stopped.
int32_t KXUNPACK_CALL Notify(int32_t kind, void* record) {
  ExtractionSlot* slot = activeSlot;
  if (!slot || !record) return kStop;
  try {
    return Dispatch(*slot, kind, record);
  } catch (...) {
    slot->failed = true;
    return kStop;
  }
}

void KXUNPACK_CALL SeeBlock(void* block, int32_t count) {}  // blocks pass unchanged

}  // namespace

bool IsDataEntryName(const std::string& name) {
  return SameText(std::string_view(name).substr(0, 5), "DATA\\");
}

TUnpacker::TUnpacker(const std::string& libraryPath, const std::string& packagePath) {
  library_ = os::Library::Load(libraryPath);
  if (!library_.IsLoaded()) throw KxError("Can't load unpack library");
  void* open = library_.Symbol("Open");
  enumerate_ = library_.Symbol("Enumerate");
  close_ = library_.Symbol("Close");
  if (!open || !enumerate_ || !close_) {
    throw KxError("Important functions was not found in the unpack library");
  }
  reinterpret_cast<KxUnpackOpenFn>(open)(packagePath.c_str());
}

TUnpacker::~TUnpacker() { reinterpret_cast<KxUnpackCloseFn>(close_)(); }

bool TUnpacker::Extract(const TBeforeFileHandler& before, const TAfterFileHandler& after,
                        const TProgressHandler& progress, const TVolumeHandler& volume) {
  if (activeSlot || !before) return false;
  ExtractionSlot slot{&before, &after, &progress, &volume, false};
  activeSlot = &slot;
  int32_t result = reinterpret_cast<KxUnpackEnumerateFn>(enumerate_)(Notify, SeeBlock);
  activeSlot = nullptr;
  return result != 0 && !slot.failed;
}
