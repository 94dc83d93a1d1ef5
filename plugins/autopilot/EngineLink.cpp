#include "EngineLink.h"

#include <cstring>

#include "Text.h"

namespace autopilot {
namespace {

// No text the engine has reason to send comes near this; a larger size is taken for garbage.
constexpr kx_ptr kLargestText = 16 * 1024 * 1024;

kx_ptr Pointer(const void* p) { return reinterpret_cast<kx_ptr>(p); }

}  // namespace

void TEngineLink::Connect(const KxStartupInfo& info) {
  command_ = reinterpret_cast<KxCommandEntry>(info.commandEntry);
  number_ = info.number;
  configFile_.assign(info.configFile, strnlen(info.configFile, sizeof info.configFile));
}

kx_ptr TEngineLink::Command(int32_t number, kx_ptr first, kx_ptr second) const {
  return command_ ? command_(number_, number, first, second, 0) : 0;
}

// The size query with a null buffer, then the copy into a buffer one byte larger than asked for
// and zero-filled, so that the text ends within it whatever the engine writes.
std::string TEngineLink::Text(int32_t number, kx_ptr argument, BufferAt where) const {
  auto ask = [&](kx_ptr buffer) {
    return where == BufferAt::kFirst ? Command(number, buffer, argument)
                                     : Command(number, argument, buffer);
  };
  const kx_ptr size = ask(0);
  if (size <= 0 || size > kLargestText) return "";
  std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
  if (ask(Pointer(buffer.data())) != 0) return "";
  return std::string(buffer.data(), strnlen(buffer.data(), static_cast<size_t>(size)));
}

std::string TEngineLink::Param(const std::string& group, const std::string& name,
                               const std::string& fallback) const {
  if (!Connected()) return fallback;
  const KxParamQuery query{Pointer(group.c_str()), Pointer(name.c_str()),
                           Pointer(fallback.c_str())};
  // The engine answers an empty value like a missing one, and then the fallback too.
  std::string value = Text(CM_GETPCPARAM, Pointer(&query), BufferAt::kSecond);
  return value.empty() ? fallback : value;
}

std::vector<std::string> TEngineLink::GroupNames() const {
  return SplitLines(Text(CM_GETPCGROUPNAMES, 0, BufferAt::kFirst));
}

std::vector<std::string> TEngineLink::ParamNames(const std::string& group) const {
  return SplitLines(Text(CM_GETPCPARAMNAMES, Pointer(group.c_str()), BufferAt::kSecond));
}

std::string TEngineLink::Expand(const std::string& text) const {
  if (!Connected()) return text;
  return Text(CM_PARSETEXT, Pointer(text.c_str()), BufferAt::kSecond);
}

std::vector<std::string> SplitLines(const std::string& text) {
  return SplitList(text, '\n');  // the parts are trimmed of the CRs too
}

}  // namespace autopilot
