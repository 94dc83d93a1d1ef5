// The host layer's fault switch: with KX_HOST_FAIL_AT=N exactly the N-th change fails, once, with
// the error a Windows system would give; reads are never counted.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "os/host/FaultSwitch.h"
#include "os/os.h"

namespace {

enum class Refusal { kDiskFull, kFileDenied, kRegistryDenied };

std::string ReasonOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::kDiskFull:
      return std::strerror(ENOSPC);
    case Refusal::kFileDenied:
      return std::strerror(EACCES);
    case Refusal::kRegistryDenied:
      return "Access is denied";
  }
  return "";
}

// A run of changes with reads between them, each step in words.
struct Sequence {
  std::string folder = os::TempPath() + "kxfaults-" + std::to_string(getpid());
  std::string key = "Software\\kxfaults-" + std::to_string(getpid());
  os::File file;
  os::RegKey reg;

  std::vector<std::pair<std::string, std::function<bool()>>> Steps() {
    const std::string a = folder + "\\a.txt", b = folder + "\\b.txt";
    const os::RegRoot hkcu = os::RegRoot::kCurrentUser;
    auto read = [a] {
      char buffer[8];
      os::File in = os::File::Open(a, os::File::Mode::kReadShared);
      return in.IsOpen() && in.Read(buffer, sizeof(buffer)) >= 0 &&
             os::GetFileAttributes(a) != os::kInvalidAttributes;
    };
    return {
        {"create folder", [&] { return os::CreateDir(folder) == os::CreateResult::kCreated; }},
        {"create file",
         [&, a] { return (file = os::File::Open(a, os::File::Mode::kCreate)).IsOpen(); }},
        {"write", [&] { return file.Write("abc", 3); }},
        {"truncate", [&] { return file.Seek(2) && file.Truncate(); }},
        {"read", [&] { return file.Tell() == 2 && file.Size() == 2; }},
        {"close", [&] { return file.Close(), true; }},
        {"read file", read},
        {"set attributes", [a] { return os::SetFileAttributes(a, os::kAttrHidden); }},
        {"set time", [a] { return os::SetFileWriteTime(a, 132000000000000000LL); }},
        {"move", [a, b] { return os::MoveFile(a, b); }},
        {"create key", [&] { return (reg = os::RegKey::Create(hkcu, key)).IsOpen(); }},
        {"set value", [&] { return reg.SetValue("v", os::kRegBinary, "x", 1); }},
        {"read value",
         [&] {
           uint32_t type;
           std::vector<uint8_t> data;
           return reg.QueryValue("v", type, data) && os::RegKey::Open(hkcu, key, false).IsOpen();
         }},
        {"delete value", [&] { return reg.DeleteValue("v"); }},
        {"delete key", [&] { return reg.Close(), os::RegDeleteKey(hkcu, key); }},
        {"delete file", [b] { return os::DeleteFile(b); }},
        {"remove folder", [&] { return os::RemoveDir(folder); }},
    };
  }
};
constexpr unsigned kChanges = 13;

struct FaultCase {
  unsigned failAt;
  const char* failingStep;  // nullptr: nothing fails
  Refusal refusal;
};

const FaultCase kCases[] = {
    {0, nullptr, Refusal::kFileDenied},
    {1, "create folder", Refusal::kFileDenied},
    {2, "create file", Refusal::kFileDenied},
    {3, "write", Refusal::kDiskFull},
    {4, "truncate", Refusal::kFileDenied},
    {5, "set attributes", Refusal::kFileDenied},
    {6, "set time", Refusal::kFileDenied},
    {7, "move", Refusal::kFileDenied},
    {8, "create key", Refusal::kRegistryDenied},
    {9, "set value", Refusal::kRegistryDenied},
    {10, "delete value", Refusal::kRegistryDenied},
    {11, "delete key", Refusal::kRegistryDenied},
    {12, "delete file", Refusal::kFileDenied},
    {13, "remove folder", Refusal::kFileDenied},
    {14, nullptr, Refusal::kFileDenied},
};

class FaultSwitchTest : public testing::TestWithParam<FaultCase> {
 protected:
  void TearDown() override {
    unsetenv("KX_HOST_FAIL_AT");
    os::host::ResetForTest();
  }
};

// A step that fails is taken again: the switch fails a change once, and the retry must pass.
TEST_P(FaultSwitchTest, OnlyTheChosenChangeFailsAndOnlyOnce) {
  const FaultCase& c = GetParam();
  setenv("KX_HOST_FAIL_AT", std::to_string(c.failAt).c_str(), 1);
  os::host::ResetForTest();
  Sequence sequence;
  std::vector<std::string> failures;
  for (auto& [name, step] : sequence.Steps()) {
    if (step()) continue;
    failures.push_back(name);
    if (c.failingStep && name == c.failingStep) {
      const std::string message = os::LastErrorMessage();
      EXPECT_EQ(message.substr(message.rfind(": ") + 2), ReasonOf(c.refusal)) << message;
    }
    ASSERT_TRUE(step()) << name << " failed again: " << os::LastErrorMessage();
  }
  EXPECT_EQ(failures,
            c.failingStep ? std::vector<std::string>{c.failingStep} : std::vector<std::string>{});
  EXPECT_EQ(os::host::ChangeCount(), kChanges + (c.failingStep ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(EveryChange, FaultSwitchTest, testing::ValuesIn(kCases),
                         [](const auto& info) {
                           return "FailAt" + std::to_string(info.param.failAt);
                         });

}  // namespace
