#include "Signing.h"

#include <cstdlib>
#include <optional>

#include "os/os.h"
#include "package/PackageTrailer.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

// cmd has no way to escape a quote inside quotes, and no file name holds one.
std::string QuotedForShell(const std::string& text, bool windowsShell) {
  if (windowsShell) return "\"" + text + "\"";
  return "'" + ReplaceAll(text, "'", "'\\''") + "'";
}

// Zero when the command succeeded.
int RunInFolder(const std::string& folder, const std::string& commandLine) {
  const std::string previous = os::GetCurrentDir();
  if (!os::SetCurrentDir(folder)) {
    ThrowError("Cannot sign the package: cannot enter %s: %s", folder.c_str(),
               os::LastErrorMessage().c_str());
  }
  const int status = std::system(commandLine.c_str());
  os::SetCurrentDir(previous);
  return status;
}

void CheckSignedPackage(const std::string& path, const TTrailerNumbers& built) {
  os::File file = os::File::Open(path, os::File::Mode::kRead);
  if (!file.IsOpen()) {
    ThrowError("The signed package %s cannot be opened: %s", path.c_str(),
               os::LastErrorMessage().c_str());
  }
  const int64_t size = file.Size();
  const std::optional<TPackageTrailer> trailer =
      size >= 0 ? FindPackageTrailer(file, size) : std::nullopt;
  if (!trailer) {
    ThrowError(
        "After signing, the setup engine would refuse %s: its package trailer is not within the "
        "last 64 KiB (the signature appended %lld bytes)",
        path.c_str(), static_cast<long long>(size) - built.BuiltSize);
  }
  if (trailer->BuiltSize != built.BuiltSize || trailer->PresetupSize != built.PresetupSize ||
      trailer->DataSize != built.DataSize || !trailer->MatchesFileSize(size)) {
    ThrowError(
        "After signing, the setup engine would refuse %s: the signing command changed the "
        "package, not only appended to it",
        path.c_str());
  }
}

}  // namespace

std::string SigningCommandLine(const std::string& command, const std::string& fileName,
                               bool windowsShell) {
  const std::string quoted = QuotedForShell(fileName, windowsShell);
  if (command.find("{}") == std::string::npos) return command + " " + quoted;
  return ReplaceAll(command, "{}", quoted);
}

void SignPackage(const std::string& path, const std::string& command, bool windowsShell,
                 const TTrailerNumbers& built) {
  const std::string commandLine = SigningCommandLine(command, ExtractFileName(path), windowsShell);
  const int status = RunInFolder(ExtractFilePath(path), commandLine);
  if (status != 0) {
    ThrowError("The signing command failed: %s", commandLine.c_str());
  }
  CheckSignedPackage(path, built);
}
