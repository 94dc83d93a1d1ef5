// Text helpers of the autopilot plug-in: comparisons without regard to case, lists in
// configuration values, wildcard patterns and JSON texts. Pure functions on 8-bit texts (the
// engine's ANSI code page); letters fold in ASCII only. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace autopilot {

bool SameText(std::string_view a, std::string_view b);
std::string Trim(std::string_view text);

// The non-empty, trimmed parts of text between separators: "a, b,,c" -> {"a", "b", "c"}.
std::vector<std::string> SplitList(std::string_view text, char separator);

// Whole-text match of a pattern with "*" (any run of characters, backslashes included) and "?"
// (one character), without regard to case.
bool MatchWild(std::string_view text, std::string_view pattern);

// A JSON string literal of 8-bit text. Bytes above 127 are written as \u0080 to \u00FF, one per
// byte, so that a line is plain ASCII whatever the code page and the bytes can be recovered.
std::string JsonString(std::string_view bytes);

// Builds one JSON object member by member, in the order added.
class TJsonObject {
 public:
  // value is JSON already (a nested object, an array, null).
  TJsonObject& Raw(std::string_view key, std::string_view value);
  TJsonObject& Text(std::string_view key, std::string_view text);
  TJsonObject& Number(std::string_view key, int64_t value);
  TJsonObject& Bool(std::string_view key, bool value);
  bool Empty() const { return body_.empty(); }
  std::string Done() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

// "[a,b]" of JSON values.
std::string JsonArray(const std::vector<std::string>& values);

}  // namespace autopilot
