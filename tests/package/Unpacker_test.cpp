// TUnpacker over the real unpack library: handlers, failures, and what the library may not carry.
#include "package/Unpacker.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "TestSupport.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"

namespace {

const std::string kCabinets = std::string(KX_TEST_DATA_DIR) + "\\cabinets\\";

class UnpackerTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};

  // Extracts every entry to the scratch folder by its archive name, flattened.
  TBeforeFileHandler ExtractAll(std::vector<std::string>& names) {
    return [this, &names](const TUnpackEntry& entry, std::string& target) {
      names.push_back(entry.Name);
      target = scratch_.Path() + std::to_string(names.size());
      return 1;
    };
  }
};

TEST_F(UnpackerTest, MissingLibraryAndMissingExportsRaiseTheirErrors) {
  try {
    TUnpacker unpacker(scratch_.Path() + "unpack.dll", kCabinets + "plain.cab");
    FAIL() << "no error raised";
  } catch (const KxError& error) {
    EXPECT_STREQ(error.what(), "Can't load unpack library");
  }
  try {
    TUnpacker unpacker(KX_TEST_NO_EXPORTS_LIBRARY, kCabinets + "plain.cab");
    FAIL() << "no error raised";
  } catch (const KxError& error) {
    EXPECT_STREQ(error.what(), "Important functions was not found in the unpack library");
  }
}

TEST_F(UnpackerTest, HandsEveryEntryToTheHandlersInArchiveOrder) {
  TUnpacker unpacker(KX_UNPACK_LIBRARY, kCabinets + "plain.cab");
  std::vector<std::string> names, written;
  uint64_t progressBytes = 0;
  bool extracted = unpacker.Extract(
      ExtractAll(names),
      [&](const TUnpackEntry& entry, const std::string& path) {
        written.push_back(path);
        EXPECT_EQ(ReadFileText(path).size(), entry.Size);
        return 1;
      },
      [&](const TUnpackProgress& progress) {
        progressBytes += progress.BlockSize;
        EXPECT_LE(progress.Done, progress.FileSize);
        return 1;
      });
  EXPECT_TRUE(extracted);
  std::vector<std::string> expected = {"readme.txt", "lng\\enu.lng", "empty.dat", "big.bin",
                                       "last.txt"};
  EXPECT_EQ(names, expected);
  ASSERT_EQ(written.size(), expected.size());
  EXPECT_EQ(written[1], scratch_.Path() + "2");
  uint64_t total = 0;
  for (const std::string& path : written) total += ReadFileText(path).size();
  EXPECT_EQ(progressBytes, total);
}

TEST_F(UnpackerTest, OptionalHandlersMayBeMissing) {
  TUnpacker unpacker(KX_UNPACK_LIBRARY, kCabinets + "package.bin");
  std::vector<std::string> names;
  EXPECT_TRUE(unpacker.Extract(ExtractAll(names)));
  EXPECT_EQ(names.size(), 5u);
  EXPECT_EQ(ReadFileText(scratch_.Path() + "5"), "the last entry\n");
}

TEST_F(UnpackerTest, StopIsSuccessAndLeavesTheRestUnwritten) {
  TUnpacker unpacker(KX_UNPACK_LIBRARY, kCabinets + "plain.cab");
  int seen = 0;
  EXPECT_TRUE(unpacker.Extract([&](const TUnpackEntry& entry, std::string& target) {
    if (++seen == 3) return -1;
    target = scratch_.Path() + std::to_string(seen);
    return 1;
  }));
  EXPECT_EQ(seen, 3);
  EXPECT_TRUE(FileExists(scratch_.Path() + "2"));
  EXPECT_FALSE(FileExists(scratch_.Path() + "3"));
}

TEST_F(UnpackerTest, HandlerExceptionBecomesFailureNotACrash) {
  TUnpacker unpacker(KX_UNPACK_LIBRARY, kCabinets + "plain.cab");
  int seen = 0;
  bool extracted = unpacker.Extract(
      [&](const TUnpackEntry&, std::string& target) {
        target = scratch_.Path() + std::to_string(++seen);
        return 1;
      },
      [](const TUnpackEntry& entry, const std::string&) -> int {
        throw std::runtime_error("handler fault");
      });
  EXPECT_FALSE(extracted);
  EXPECT_EQ(seen, 1);  // the first error stops the walk
  // The unpacker is usable again afterwards.
  std::vector<std::string> names;
  EXPECT_TRUE(unpacker.Extract(ExtractAll(names)));
  EXPECT_EQ(names.size(), 5u);
}

TEST_F(UnpackerTest, TargetPathTooLongForTheLibraryFails) {
  TUnpacker unpacker(KX_UNPACK_LIBRARY, kCabinets + "plain.cab");
  bool extracted = unpacker.Extract([&](const TUnpackEntry&, std::string& target) {
    target = scratch_.Path() + std::string(2000, 'x');
    return 1;
  });
  EXPECT_FALSE(extracted);
}

TEST_F(UnpackerTest, NestedExtractionIsRefused) {
  TUnpacker outer(KX_UNPACK_LIBRARY, kCabinets + "plain.cab");
  bool innerResult = true;
  EXPECT_TRUE(outer.Extract([&](const TUnpackEntry&, std::string&) {
    TUnpacker inner(KX_UNPACK_LIBRARY, kCabinets + "plain.cab");
    innerResult = inner.Extract([](const TUnpackEntry&, std::string&) { return 0; });
    return -1;
  }));
  EXPECT_FALSE(innerResult);
}

}  // namespace
