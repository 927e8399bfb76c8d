#include "dosentry.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "d88builder.h"
#include "flatdisk.h"
#include "runtool.h"

namespace {

// Sets TZ for the test process and puts the previous value back afterwards.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char* tz) {
    const char* previous = std::getenv("TZ");
    hadPrevious = previous != nullptr;
    if (hadPrevious) saved = previous;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (hadPrevious) {
      ::setenv("TZ", saved.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
  bool hadPrevious = false;
  std::string saved;
};

DosDirEntry entryOf(const Bytes& bytes) { return readDosDirEntry(bytes.data()); }

// An entry with the given raw name and extension bytes (exactly 8 and 3, zero bytes allowed).
DosDirEntry entryNamed(const char (&name)[9], const char (&ext)[4]) {
  Bytes bytes(32, 0);
  std::memcpy(bytes.data(), name, 8);
  std::memcpy(bytes.data() + 8, ext, 3);
  return entryOf(bytes);
}

std::string fileNameOf(const DosDirEntry& entry) {
  char name[kDosNameBuffer];
  std::memset(name, 'Z', sizeof name); // a missing terminator shows up as trailing Z bytes
  dosFileName(entry, name);
  return std::string(name, strnlen(name, sizeof name));
}

TEST(DosEntryTest, ReadsEveryFieldLittleEndian) {
  Bytes bytes = dosEntry("GAME", "COM", 0x21, 0xBF7D, 0x16AC, 0x1234, 0x89ABCDEF);
  for (std::size_t i = 12; i < 22; ++i)
    bytes[i] = 0xEE; // the ten bytes nobody reads
  const DosDirEntry entry = entryOf(bytes);
  EXPECT_EQ(std::string(entry.name, entry.name + 8), "GAME    ");
  EXPECT_EQ(std::string(entry.ext, entry.ext + 3), "COM");
  EXPECT_EQ(entry.attr, 0x21);
  EXPECT_EQ(entry.time, 0xBF7D);
  EXPECT_EQ(entry.date, 0x16AC);
  EXPECT_EQ(entry.start, 0x1234);
  EXPECT_EQ(entry.size, 0x89ABCDEFu); // all four bytes; d88vol keeps only the low two
}

struct NameCase {
  const char name[9];
  const char ext[4];
  const char* expected;
  const char* why;
};

const NameCase kNameCases[] = {
    {"README  ", "   ", "README", "blank extension: no dot"},
    {"A B     ", "TXT", "A.TXT", "a blank inside the base name ends it"},
    {"FOO     ", " XY", "FOO", "an extension starting with a blank is dropped whole"},
    {"X       ", "T X", "X.T", "a blank inside the extension ends it"},
    {"COMMAND ", "COM", "COMMAND.COM", "plain 8.3"},
    {"ABCDEFGH", "IJK", "ABCDEFGH.IJK", "the longest name, 12 bytes"},
    {"readme  ", "txt", "readme.txt", "no case change"},
    // ゲーム.DAT
    {"\x83Q\x81[\x83\x80  ", "DAT", "\x83Q\x81[\x83\x80.DAT", "Shift-JIS bytes pass through"},
    // ソ, whose trail byte is 0x5C
    {"\x83\x5C      ", "\x83\x5C ", "\x83\x5C.\x83\x5C", "Shift-JIS in the extension too"},
    {"A\xE5      ", "   ", "A\xE5", "0xE5 counts as a marker only in byte 0"},
    {"../X    ", "   ", "../X", "the name as stored: the \"/\" rule belongs to the host name"},
    {"/ETC/X  ", "   ", "/ETC/X", "a leading \"/\" is kept as stored"},
    {"A/B     ", "TXT", "A/B.TXT", "a \"/\" inside is kept as stored"},
    {"AB\0CD   ", "TXT", "AB", "a zero byte in the base name ends the name"},
    {"FOO     ", "T\0X", "FOO.T", "a zero byte in the extension ends the name"},
    {"FOO     ", "\0XY", "FOO.", "only a blank drops the dot; the zero ends the name after it"},
    {"\0OO     ", "TXT", "", "a zero first byte gives an empty name"},
    {"        ", "   ", "", "all blanks give an empty name"},
    {"        ", "TXT", ".TXT", "an empty base name keeps the extension"},
    {"..      ", "   ", "..", "dots are plain bytes"},
};

TEST(DosEntryTest, FileNames) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(fileNameOf(entryNamed(c.name, c.ext)), c.expected);
  }
}

struct DateTimeCase {
  std::uint16_t time;
  std::uint16_t date;
  DosDateTime expected;
  std::int64_t utcStamp; // the stamp under TZ=UTC0; JST-9 is nine hours earlier
  const char* why;
};

const DateTimeCase kDateTimeCases[] = {
    {0xBF7D, 0x16AC, {1991, 5, 12, 23, 59, 58}, 674092798, "every field at a usual value"},
    {0x0000, 0x0000, {1980, 0, 0, 0, 0, 0}, 312768000, "month 0 and day 0: 1979-11-30 00:00:00"},
    {0xFFFF,
     0xFFFF,
     {2107, 15, 31, 31, 63, 62},
     4362710642,
     "every field at its largest: 2108-04-01 08:04:02"},
    {dosTime(0, 0, 0),
     dosDate(1991, 13, 1),
     {1991, 13, 1, 0, 0, 0},
     694224000,
     "month 13 is January of the next year"},
    {dosTime(0, 0, 0),
     dosDate(1991, 5, 0),
     {1991, 5, 0, 0, 0, 0},
     672969600,
     "day 0 is the last day of the month before"},
    {dosTime(24, 0, 0),
     dosDate(1991, 5, 12),
     {1991, 5, 12, 24, 0, 0},
     674092800,
     "hour 24 is the next day's hour 0"},
    {dosTime(23, 59, 62),
     dosDate(1991, 5, 12),
     {1991, 5, 12, 23, 59, 62},
     674092802,
     "second 62 runs into the next minute"},
    {dosTime(0, 60, 0),
     dosDate(1991, 5, 12),
     {1991, 5, 12, 0, 60, 0},
     674010000,
     "minute 60 is the next hour"},
    {dosTime(0, 0, 0), dosDate(1980, 2, 29), {1980, 2, 29, 0, 0, 0}, 320630400, "a leap day"},
};

TEST(DosEntryTest, UnpacksDateAndTimeAsStored) {
  for (const DateTimeCase& c : kDateTimeCases) {
    SCOPED_TRACE(c.why);
    const DosDateTime when = decodeDosDateTime(entryOf(dosEntry("F", "", 0, c.time, c.date, 0, 0)));
    EXPECT_EQ(when.year, c.expected.year);
    EXPECT_EQ(when.month, c.expected.month);
    EXPECT_EQ(when.day, c.expected.day);
    EXPECT_EQ(when.hour, c.expected.hour);
    EXPECT_EQ(when.minute, c.expected.minute);
    EXPECT_EQ(when.second, c.expected.second);
  }
}

struct ZoneCase {
  const char* tz;
  std::int64_t offset; // seconds east of UTC
};

TEST(DosEntryTest, StampsAreTheLocalInstantInEachZone) {
  const ZoneCase zones[] = {{"UTC0", 0}, {"JST-9", 9 * 3600}};
  for (const ZoneCase& zone : zones) {
    ScopedTimeZone tz(zone.tz);
    for (const DateTimeCase& c : kDateTimeCases) {
      SCOPED_TRACE(std::string(zone.tz) + ": " + c.why);
      const DosDateTime when =
          decodeDosDateTime(entryOf(dosEntry("F", "", 0, c.time, c.date, 0, 0)));
      EXPECT_EQ(static_cast<std::int64_t>(fileStamp(when)), c.utcStamp - zone.offset);
    }
  }
}

TEST(DosEntryTest, StampsFollowDaylightSavingOfTheDate) {
  // Summer time is taken from the date itself: July is UTC+2, December UTC+1.
  ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(static_cast<std::int64_t>(fileStamp({1991, 7, 1, 12, 0, 0})), 678362400);
  EXPECT_EQ(static_cast<std::int64_t>(fileStamp({1991, 12, 31, 12, 0, 0})), 694180800 - 3600);
}

struct AttrCase {
  std::uint8_t attr;
  const char* letters;
};

TEST(DosEntryTest, AttributeLetters) {
  const AttrCase cases[] = {
      {0x00, ""},
      {0x01, "R"},
      {0x02, "H "},
      {0x04, "S "},
      {0x08, "V "},
      {0x10, "D "},
      {0x20, "A "},
      {0x40, ""},
      {0x80, ""},
      {0xC0, ""},
      {0x21, "A R"},
      {0x28, "A V "},
      {0x07, "S H R"},
      {0x3F, "A D V S H R"},
      {0xFF, "A D V S H R"},
      {0x12, "D H "},
  };
  for (const AttrCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "attr 0x" << std::hex << int{c.attr});
    testing::internal::CaptureStdout();
    printAttributeLetters(c.attr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.letters);
  }
}

TEST(DosEntryTest, VolumeLabelsAndDirectoriesAreNotExtracted) {
  const std::uint8_t extracted[] = {0x00, 0x01, 0x02, 0x04, 0x07, 0x20, 0x21, 0x27, 0x40, 0xC0};
  const std::uint8_t listedOnly[] = {0x08, 0x10, 0x18, 0x28, 0x30, 0x3F, 0xC8, 0xD0, 0xFF};
  for (std::uint8_t attr : extracted)
    EXPECT_TRUE(isExtractable(attr)) << "attr 0x" << std::hex << int{attr};
  for (std::uint8_t attr : listedOnly)
    EXPECT_FALSE(isExtractable(attr)) << "attr 0x" << std::hex << int{attr};
}

TEST(DosEntryTest, StampFileSetsAccessAndModificationTimes) {
  TempDir dir;
  const std::string path = dir / "FILE";
  ASSERT_TRUE(writeBytesToFile(path, {1, 2, 3}));
  stampFile(path.c_str(), 674092798);
  struct stat info;
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 674092798);
  EXPECT_EQ(info.st_atime, 674092798);

  // A failed conversion leaves the times alone rather than setting them to -1.
  stampFile(path.c_str(), static_cast<std::time_t>(-1));
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 674092798);
  EXPECT_EQ(info.st_atime, 674092798);

  stampFile((dir / "MISSING").c_str(), 674092798); // quietly does nothing
  EXPECT_EQ(readTree(dir.path()).count("MISSING"), 0u);
}

} // namespace
