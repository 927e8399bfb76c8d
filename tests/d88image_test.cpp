#include "d88image.h"

#include <gtest/gtest.h>

#include "d88builder.h"
#include "flatdisk.h"
#include "runtool.h"

namespace {

// Writes the disks to a file in `dir` and opens a reader on it.
std::string imageFile(const TempDir& dir, const std::vector<D88Disk>& disks) {
  const std::string path = dir / "image.d88";
  EXPECT_TRUE(writeBytesToFile(path, buildD88(disks)));
  return path;
}

TEST(D88ImageTest, ReadsASectorByItsId) {
  TempDir dir;
  D88Disk disk;
  disk.name = "SAMPLE";
  const Bytes data = patternBytes(8192, 3);
  disk.tracks[1] = makeTrack(1, 1, 8, data);
  D88Image image;
  ASSERT_TRUE(image.open(imageFile(dir, {disk}).c_str()));
  ASSERT_EQ(image.diskCount(), 1);
  ASSERT_TRUE(image.selectDisk(0));
  EXPECT_STREQ(image.diskName(), "SAMPLE");
  std::uint8_t buffer[1024] = {};
  ASSERT_EQ(image.readSector(1, 0, 1, 2, 3, buffer, 1024), 1024);
  EXPECT_EQ(Bytes(buffer, buffer + 1024), Bytes(data.begin() + 1024, data.begin() + 2048));
}

} // namespace
