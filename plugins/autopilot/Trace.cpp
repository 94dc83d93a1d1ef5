#include "Trace.h"

#include <cstring>
#include <vector>

#include "Events.h"
#include "Text.h"

namespace autopilot {

bool TTraceFile::Open(const std::string& localPath, bool append) {
  Close();
  file_ = std::fopen(localPath.c_str(), append ? "ab" : "wb");
  return file_ != nullptr;
}

void TTraceFile::Write(const std::string& line) {
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void TTraceFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

namespace {

// Texts that the engine passes end with a zero byte; a buffer of known size is read no further.
std::string Text(kx_ptr pointer, size_t limit = SIZE_MAX) {
  const char* text = reinterpret_cast<const char*>(pointer);
  if (!text) return "null";
  return JsonString(
      std::string_view(text, limit == SIZE_MAX ? std::strlen(text) : strnlen(text, limit)));
}

std::string Number(kx_ptr value) { return std::to_string(static_cast<long long>(value)); }

// The item list in the high 16 bits of the first parameter of the item events.
std::string ListOf(kx_ptr first) {
  const int code = static_cast<int>((static_cast<uint64_t>(first) >> 16) & 0xFFFF);
  TJsonObject list;
  if (*ListName(code)) {
    list.Text("list", ListName(code));
  } else {
    list.Number("list", code);
  }
  return list.Done();
}

template <typename Record>
const Record* RecordAt(kx_ptr pointer) {
  return reinterpret_cast<const Record*>(pointer);
}

std::string FileRecord(kx_ptr pointer) {
  const auto* r = RecordAt<KxFileRecord>(pointer);
  if (!r) return "null";
  return TJsonObject()
      .Raw("path", Text(r->path))
      .Number("size", r->size)
      .Number("dosDateTime", r->dosDateTime)
      .Number("attributes", r->attributes)
      .Number("mode", r->mode)
      .Done();
}

std::string RegistryRecord(kx_ptr pointer) {
  const auto* r = RecordAt<KxRegistryRecord>(pointer);
  if (!r) return "null";
  static const char* const kKinds[] = {"str", "int", "bin", "mstr"};
  TJsonObject out;
  out.Raw("key", Text(r->key)).Raw("name", Text(r->name)).Raw("value", Text(r->value));
  if (r->kind < 4) {
    out.Text("kind", kKinds[r->kind]);
  } else {
    out.Number("kind", r->kind);
  }
  return out.Number("removal", r->removal).Done();
}

std::string IniRecord(kx_ptr pointer) {
  const auto* r = RecordAt<KxIniRecord>(pointer);
  if (!r) return "null";
  return TJsonObject()
      .Raw("file", Text(r->file))
      .Raw("section", Text(r->section))
      .Raw("key", Text(r->key))
      .Raw("value", Text(r->value))
      .Number("removal", r->removal)
      .Done();
}

std::string ShortcutRecord(kx_ptr pointer) {
  const auto* r = RecordAt<KxShortcutRecord>(pointer);
  if (!r) return "null";
  return TJsonObject()
      .Raw("name", Text(r->name))
      .Raw("cmdLine", Text(r->cmdLine))
      .Raw("arg", Text(r->arg))
      .Raw("workDir", Text(r->workDir))
      .Number("showMode", r->showMode)
      .Raw("iconFile", Text(r->iconFile))
      .Number("icon", r->icon)
      .Number("hotkey", r->hotkey)
      .Raw("description", Text(r->description))
      .Number("removal", r->removal)
      .Done();
}

std::string PathRecord(kx_ptr pointer) {
  const auto* r = RecordAt<KxPathRecord>(pointer);
  if (!r) return "null";
  return TJsonObject().Raw("path", Text(r->path)).Done();
}

std::string ProgramRecord(kx_ptr pointer) {
  const auto* r = RecordAt<KxProgramRecord>(pointer);
  if (!r) return "null";
  return TJsonObject()
      .Raw("cmdLine", Text(r->cmdLine))
      .Raw("arg", Text(r->arg))
      .Raw("workDir", Text(r->workDir))
      .Number("showMode", r->showMode)
      .Raw("msg", Text(r->msg))
      .Number("moment", r->moment)
      .Done();
}

std::string ItemRecord(kx_ptr first, kx_ptr second) {
  switch ((static_cast<uint64_t>(first) >> 16) & 0xFFFF) {
    case KX_LIST_FILES:
      return FileRecord(second);
    case KX_LIST_REGISTRY:
      return RegistryRecord(second);
    case KX_LIST_INI:
      return IniRecord(second);
    case KX_LIST_SHORTCUTS:
      return ShortcutRecord(second);
    case KX_LIST_SERVERS:
    case KX_LIST_FONTS:
      return PathRecord(second);
    case KX_LIST_PROGRAMS:
      return ProgramRecord(second);
    default:
      return Number(second);
  }
}

std::string StartupRecord(kx_ptr pointer) {
  const auto* r = RecordAt<KxStartupInfo>(pointer);
  if (!r) return "null";
  return TJsonObject()
      .Number("structVersion", r->structVersion)
      .Number("engineVersion", r->engineVersion)
      .Number("number", r->number)
      .Raw("configFile", Text(reinterpret_cast<kx_ptr>(r->configFile), sizeof r->configFile))
      .Done();
}

// The arguments follow the name, each ending with a zero byte, the last with two.
std::string CallBlock(kx_ptr pointer) {
  const auto* r = RecordAt<KxCalcFunctionBlock>(pointer);
  if (!r) return "null";
  std::vector<std::string> args;
  const char* arg = reinterpret_cast<const char*>(r->args);
  for (; arg && *arg; arg += std::strlen(arg) + 1) args.push_back(JsonString(arg));
  return TJsonObject()
      .Number("id", r->id)
      .Raw("name", Text(r->name))
      .Raw("args", JsonArray(args))
      .Done();
}

TEventParameters DecodeNamed(const std::string& name, kx_ptr first, kx_ptr second) {
  if (SameText(name, "CM_SHOWSTATUSTEXT")) return {Text(first), Number(second)};
  return {Number(first), Number(second)};
}

}  // namespace

TEventParameters DecodeParameters(int32_t number, const std::string& name, kx_ptr first,
                                  kx_ptr second) {
  switch (number) {
    case EV_SETSTARTUPINFO:
      return {StartupRecord(first), Number(second)};
    case EV_LANGUAGECHANGED:
    case EV_INSTALLTYPECHANGED:
    case EV_VERSIONCONFLICT:
    case EV_FEATURESTATECHANGED:
      return {Text(first), Number(second)};
    case EV_BEFOREPROCESSITEMS:
    case EV_AFTERPROCESSITEMS:
      return {ListOf(first), Number(second)};
    case EV_BEFOREPROCESSITEM:
    case EV_AFTERPROCESSITEM:
      return {ListOf(first), ItemRecord(first, second)};
    case EV_PROCESSITEM:
      return {TJsonObject().Number("skipped", first & 0xFFFF).Done(), FileRecord(second)};
    case EV_GETPACKAGE:
      return {Text(first), Text(second, KX_NAME_SIZE - 1)};
    case EV_CALCFUNCTION:
      return {CallBlock(first), Number(second)};
    default:
      if (number >= KX_FIRST_NAMED_MESSAGE) return DecodeNamed(name, first, second);
      return {Number(first), Number(second)};
  }
}

}  // namespace autopilot
