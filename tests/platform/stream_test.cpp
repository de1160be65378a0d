// Streams: exact reads and writes, seeking, copying, and files that open,
// create and rewrite the way the undo checkpoint and the readers expect.
#include <gtest/gtest.h>

#include "platform_stream.h"
#include "platform_test_util.h"

TEST(MemoryStream, ReadWriteSeekAndGrow) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Position(), 6);
  EXPECT_EQ(s.Seek(-2, TSeekOrigin::soEnd), 4);
  char two[2];
  s.ReadBuffer(two, 2);
  EXPECT_EQ(std::string(two, 2), "ef");
  EXPECT_EQ(s.Read(two, 2), 0u);  // at the end

  // Overwrite in the middle, then write past the end: the gap reads as zeros.
  s.SetPosition(1);
  s.WriteBuffer("XY", 2);
  s.Seek(3, TSeekOrigin::soEnd);
  s.WriteBuffer("Z", 1);
  ASSERT_EQ(s.Size(), 10);
  EXPECT_EQ(std::string(s.Bytes().begin(), s.Bytes().end()), std::string("aXYdef\0\0\0Z", 10));

  // Shrinking moves the position back inside.
  s.SetSize(3);
  EXPECT_EQ(s.Position(), 3);
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(MemoryStream, ShortReadsAndBadSeeksRaise) {
  TMemoryStream s(std::vector<uint8_t>{1, 2, 3});
  uint8_t buf[4];
  try {
    s.ReadBuffer(buf, 4);
    FAIL() << "read 4 bytes from 3";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
    EXPECT_EQ(e.ClassName(), "EReadError");
  }
  s.SetPosition(1);
  EXPECT_THROW(s.Seek(-2, TSeekOrigin::soCurrent), EStreamError);
  EXPECT_EQ(s.Position(), 1);  // a refused seek leaves the position

  uint8_t bytes[] = {9, 8, 7};
  TReadOnlyMemoryStream ro(bytes, sizeof bytes);
  ro.SetPosition(2);
  EXPECT_EQ(ro.Remaining(), 1);
  EXPECT_EQ(ro.Read(buf, 4), 1u);
  EXPECT_EQ(buf[0], 7);
  try {
    ro.WriteBuffer(bytes, 1);
    FAIL() << "wrote into a read-only stream";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
}

TEST(MemoryStream, CopyFromTakesCountOrTheRest) {
  std::vector<uint8_t> big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  TMemoryStream src(big);
  src.SetPosition(5);
  TMemoryStream dst;
  EXPECT_EQ(dst.CopyFrom(src, 0), 199995);  // everything after the position
  ASSERT_EQ(dst.Size(), 199995);
  EXPECT_TRUE(std::equal(dst.Bytes().begin(), dst.Bytes().end(), big.begin() + 5));

  src.SetPosition(0);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(src, 10), 10);
  EXPECT_EQ(src.Position(), 10);
  src.SetPosition(big.size() - 3);
  EXPECT_THROW(part.CopyFrom(src, 10), EReadError);
}

TEST(FileStream, OpenCreateAndErrorsNameTheFile) {
  TTempDir dir;
  std::string missing = dir.File("missing.bin");
  try {
    TFileStream f(missing, TFileMode::fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\"");
  }
  std::string nowhere = dir.File("no/such/folder.bin");
  try {
    TFileStream f(nowhere, TFileMode::fmCreate);
    FAIL() << "created a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + nowhere + "\"");
  }
  EXPECT_THROW(TFileStream(missing, TFileMode::fmOpenWrite), EFOpenError);
}

TEST(FileStream, OpenWriteRewritesInPlaceWithoutTruncating) {
  TTempDir dir;
  std::string name = dir.File("checkpoint.bin");
  {
    TFileStream f(name, TFileMode::fmCreate);
    f.WriteBuffer("0123456789", 10);
    EXPECT_EQ(f.Size(), 10);
    ASSERT_TRUE(f.Flush());
  }
  {
    // A second, shorter write keeps the tail of the first.
    TFileStream f(name, TFileMode::fmOpenWrite);
    f.WriteBuffer("ab", 2);
  }
  std::vector<uint8_t> b = ReadAll(name);
  EXPECT_EQ(std::string(b.begin(), b.end()), "ab23456789");

  // Reads and writes mix on one stream.
  TFileStream rw(name, TFileMode::fmOpenReadWrite);
  char c[3];
  rw.ReadBuffer(c, 3);
  EXPECT_EQ(std::string(c, 3), "ab2");
  rw.WriteBuffer("XY", 2);
  rw.ReadBuffer(c, 1);
  EXPECT_EQ(c[0], '5');
  rw.Seek(0, TSeekOrigin::soBeginning);
  char all[10];
  rw.ReadBuffer(all, 10);
  EXPECT_EQ(std::string(all, 10), "ab2XY56789");
  EXPECT_THROW(rw.ReadBuffer(all, 1), EReadError);
}

// The read-ahead wrapper reads what its source holds at every position it
// is sent to, with a block of 7 bytes over 100 so that reads start, end and
// straddle inside and outside the block, and reads larger than it go past.
TEST(ReadAheadStream, ReadsAsItsSourceAfterAnySeek) {
  std::vector<uint8_t> bytes(100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 5);
  TMemoryStream source(bytes);
  source.SetPosition(3);
  TReadAheadStream s(source, 7);
  EXPECT_EQ(s.Size(), 100);
  EXPECT_EQ(s.Position(), 3);
  const std::pair<int64_t, size_t> steps[] = {{-1, 2}, {-1, 6}, {4, 3},   {-1, 20}, {40, 1},
                                              {38, 5}, {95, 10}, {100, 1}, {120, 4}};
  int64_t at = 3;
  for (const auto& [seek, count] : steps) {
    if (seek >= 0) s.SetPosition(at = seek);
    std::vector<uint8_t> got(count, 0), want;
    for (int64_t i = at; i < std::min<int64_t>(at + static_cast<int64_t>(count), 100); ++i) want.push_back(bytes[i]);
    got.resize(s.Read(got.data(), count));
    EXPECT_EQ(got, want) << "at " << at << ", " << count << " bytes";
    at += static_cast<int64_t>(want.size());
    EXPECT_EQ(s.Position(), at);
  }
}
