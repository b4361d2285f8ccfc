#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/test_env.h"

namespace brimvale {
namespace {

size_t entries(const std::string& folder) {
  size_t n = 0;
  for (auto& e : std::filesystem::directory_iterator(folder)) {
    (void)e;
    ++n;
  }
  return n;
}

TEST(AtomicFile, ReplacesContentWithTheGivenMode) {
  test::TempDir dir;
  const std::string file = dir / "a.json";
  ASSERT_FALSE(writeFileAtomically(file, "old"));
  ASSERT_FALSE(writeFileAtomically(file, "new content", 0600));
  EXPECT_EQ(readWholeFile(file), "new content");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, FailureLeavesNoTemporaryFileAndTheOldTargetIntact) {
  test::TempDir dir;
  // The target is a non-empty folder, so the final rename fails.
  dir.write("target/keep", "x");
  auto err = writeFileAtomically(dir / "target", "bytes");
  ASSERT_TRUE(err);
  EXPECT_EQ(entries(dir.path()), 1u);
  EXPECT_EQ(readWholeFile(dir / "target/keep"), "x");
  // A missing folder fails up front.
  EXPECT_TRUE(writeFileAtomically(dir / "missing/file", "bytes"));
  EXPECT_FALSE(readWholeFile(dir / "target"));  // a folder is not a file
}

}  // namespace
}  // namespace brimvale
