// EXIF, maker-note and IPTC readers and the JPEG metadata write-back, on
// blocks built here byte by byte and on JPEG files tagged by exiftool.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "alloc_budget.h"
#include "exif_reader.h"
#include "formats_test_util.h"
#include "iptc_reader.h"
#include "maker_notes.h"
#include "platform_jpeg.h"
#include "platform_stream.h"

namespace {

namespace fs = std::filesystem;

// A TIFF-structured block: header, then directories placed by the caller.
struct TBlock {
  bool Big;
  std::string B;
  explicit TBlock(bool big, uint32_t firstIfd = 8) : Big(big) {
    B = big ? "MM" : "II";
    Put16(42);
    Put32(firstIfd);
  }
  void Put16(uint32_t v) { Put(v, 2); }
  void Put32(uint32_t v) { Put(v, 4); }
  void Put(uint32_t v, int n) {
    for (int k = 0; k < n; ++k) B += static_cast<char>((v >> (8 * (Big ? n - 1 - k : k))) & 0xFF);
  }
  void Pad(size_t to) { B.resize(std::max(B.size(), to), '\0'); }
  struct TEntry {
    uint16_t Tag, Format;
    uint32_t Count;
    std::string Value;  // bytes in block order; longer than 4 go to the data area
  };
  // Writes a directory at the current end with its long values after it;
  // returns its offset.
  // Base is added to every offset written (for a maker note, where the
  // note will lie in the block).
  uint32_t Dir(const std::vector<TEntry>& E, uint32_t Next = 0, uint32_t Base = 0) {
    uint32_t at = static_cast<uint32_t>(B.size());
    uint32_t data = at + 2 + 12 * static_cast<uint32_t>(E.size()) + 4;
    std::string tail;
    Put16(static_cast<uint32_t>(E.size()));
    for (const TEntry& e : E) {
      Put16(e.Tag);
      Put16(e.Format);
      Put32(e.Count);
      if (e.Value.size() <= 4) {
        std::string v = e.Value;
        v.resize(4, '\0');
        B += v;
      } else {
        Put32(Base + data + static_cast<uint32_t>(tail.size()));
        tail += e.Value;
        if (tail.size() & 1) tail += '\0';
      }
    }
    Put32(Next);
    B += tail;
    return at;
  }
  std::string U16(uint32_t v) const { TBlock t(*this); t.B.clear(); t.Put16(v); return t.B; }
  std::string U32(uint32_t v) const { TBlock t(*this); t.B.clear(); t.Put32(v); return t.B; }
  std::string Rat(uint32_t n, uint32_t d) const { return U32(n) + U32(d); }
  // Rewrites a 32-bit value at Pos (an offset known only later).
  void Set32(size_t Pos, uint32_t v) { std::string s = U32(v); B.replace(Pos, 4, s); }
};

std::string Seg(uint8_t Marker, const std::string& Payload) {
  size_t L = Payload.size() + 2;
  return std::string{'\xFF', static_cast<char>(Marker), static_cast<char>(L >> 8), static_cast<char>(L & 0xFF)} +
         Payload;
}

std::string App1(const TBlock& T) { return Seg(0xE1, std::string("Exif\0\0", 6) + T.B); }

std::string Jpeg(const std::vector<std::string>& Segments) {
  std::string s = "\xFF\xD8";
  for (const std::string& g : Segments) s += g;
  return s + "\xFF\xD9";
}

// A big-endian block of Total bytes whose first directory holds one entry per
// 12 bytes, and 64 more directories that start inside it, each reading the
// rest of the same entries: entry k - 1 ends in the 16-bit count of a
// directory starting at entry k, and 64 ExifOffset entries point at such
// starts. Every tenth entry is a UserComment over almost the whole block and
// every tenth a MakerNote of 4000 bytes; the make is Canon.
std::string OverlappingBlock(size_t Total, size_t MaxEntries = 65535) {
  TBlock t(true);
  const uint32_t entries = static_cast<uint32_t>(std::min<size_t>((Total - 8 - 2 - 4 - 8) / 12, MaxEntries));
  const uint32_t makeAt = 8 + 2 + 12 * entries + 4;
  auto dirAt = [](uint32_t k) { return 8 + 12 * k; };  // the directory whose entries begin at entry k
  t.Put16(entries);
  for (uint32_t k = 0; k < entries; ++k) {
    if (k == 0) {
      t.Put16(0x010F), t.Put16(2), t.Put32(6), t.Put32(makeAt);
    } else if (k <= 64) {
      t.Put16(0x8769), t.Put16(4), t.Put32(1), t.Put32(dirAt(100 + 40 * (k - 1)));  // entry 99 + 40 j ends in 9
    } else if (k % 10 == 3) {
      t.Put16(0x9286), t.Put16(7), t.Put32(static_cast<uint32_t>(Total - 100)), t.Put32(8);
    } else if (k % 10 == 7) {
      t.Put16(0x927C), t.Put16(7), t.Put32(4000), t.Put32(8);
    } else {
      // ExposureProgram 2, then the count of the directory that starts next.
      t.Put16(0x8822), t.Put16(3), t.Put32(2), t.Put16(2), t.Put16(entries - k - 1);
    }
  }
  t.Put32(0);
  t.B += std::string("Canon\0", 6);
  t.Pad(Total);
  return t.B;
}

class MetadataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vemra_meta_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& Name, const std::string& Bytes) {
    std::string p = (dir_ / Name).string();
    std::ofstream(p, std::ios::binary) << Bytes;
    return p;
  }
  static std::string ReadAll(const std::string& P) {
    std::ifstream f(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  static std::string Run(const std::string& Cmd) {
    std::string out;
    if (FILE* p = ::popen(Cmd.c_str(), "r")) {
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      ::pclose(p);
    }
    return out;
  }
  // exiftool's numeric values of a file, tag name to value.
  static std::map<std::string, std::string> ExifTool(const std::string& P) {
    std::map<std::string, std::string> m;
    std::string o = Run("exiftool -n -S '" + P + "' 2>/dev/null");
    size_t start = 0;
    while (start < o.size()) {
      size_t e = o.find('\n', start);
      std::string line = o.substr(start, e - start);
      size_t c = line.find(": ");
      if (c != std::string::npos) m.emplace(line.substr(0, c), line.substr(c + 2));
      if (e == std::string::npos) break;
      start = e + 1;
    }
    return m;
  }
  fs::path dir_;
};

// A camera-like JPEG: exiftool writes the tags into a picture made by convert.
TEST_F(MetadataTest, TaggedJpegAgreesWithExifTool) {
  std::string p = (dir_ / "cam.jpg").string();
  ASSERT_EQ(std::system(("convert -size 64x48 xc:red '" + p + "'").c_str()), 0);
  ASSERT_EQ(std::system(("exiftool -q -overwrite_original -Make=Canon '-Model=Canon EOS 10D' "
                         "'-DateTime=2019:01:01 00:00:00' '-DateTimeOriginal=2020:01:02 03:04:05' "
                         "-ExposureTime=0.008 -FNumber=2.8 -FocalLength=50 -EXIF:Flash#=25 -ISO=200 "
                         "-ExifImageWidth=64 -ExifImageHeight=48 -ShutterSpeedValue=0.0078125 "
                         "-GPSLatitude=51.5 -GPSLatitudeRef=N '-UserComment=hello there' -XPTitle=Tit "
                         "-Keywords=a -Keywords=b -Keywords=a -City=Paris '-Comment=a comment' "
                         "-FocalPlaneXResolution=1000 -FocalPlaneYResolution=1000 "
                         "-EXIF:FocalPlaneResolutionUnit#=2 '" + p + "'").c_str()), 0);
  auto ref = ExifTool(p);
  TimgData d(255);
  ASSERT_TRUE(d.LoadMetadata(p));
  EXPECT_EQ(d.ErrorText, "<none>");
  ASSERT_TRUE(d.HasExif());
  ASSERT_TRUE(d.CommentSection);
  ASSERT_TRUE(d.IptcSection);
  TImageInfo& x = *d.ExifInfo;
  EXPECT_TRUE(x.BigEndian);
  EXPECT_EQ(x.MakeText, ref["Make"]);
  EXPECT_EQ(x.ModelText, ref["Model"]);
  EXPECT_EQ(x.PhotoDate, ref["DateTimeOriginal"]);  // wins over DateTime
  EXPECT_EQ(x.Width, std::stoi(ref["ExifImageWidth"]));
  EXPECT_EQ(x.Height, std::stoi(ref["ExifImageHeight"]));
  EXPECT_EQ(x.FlashValue, std::stoi(ref["Flash"]));
  EXPECT_EQ(x.ExifVersion, ref["ExifVersion"]);
  EXPECT_EQ(x.LookupTagValue("ExposureTime"), "1/125 sec");
  EXPECT_EQ(x.LookupTagValue("fnumber"), "F2.8");
  EXPECT_EQ(x.LookupTagValue("FocalLength"), "50.00 mm");
  EXPECT_EQ(x.LookupTagValue("ISOSpeedRatings"), ref["ISO"]);
  EXPECT_EQ(x.LookupTagValue("Flash"), "On, auto mode");
  EXPECT_EQ(x.LookupTagValue("ShutterSpeedValue"), "0.0078 sec (1/128)");
  EXPECT_EQ(x.LookupTagValue("ComponentsConfiguration"), "YCbCr");
  EXPECT_EQ(x.LookupTagValue("UserComment"), ref["UserComment"]);
  EXPECT_EQ(x.CommentText, "hello there");
  EXPECT_EQ(x.LookupTagValue("Title"), ref["XPTitle"]);
  EXPECT_EQ(x.LookupTagValue("GPSLatitude"), "51 Degrees 30 Minutes 0 Seconds");
  EXPECT_EQ(x.LookupTagValue("FocalPlaneResolutionUnit"), "Inch");
  EXPECT_DOUBLE_EQ(x.LookupTagFloat("FNumber"), std::stod(ref["FNumber"]));
  EXPECT_EQ(x.LookupTagInt("ExifImageWidth"), 64);
  // 35 mm equivalent from the focal plane: the same scale as exiftool's.
  double f35 = std::stod(x.LookupTagValue("FocalLengthin35mmFilm"));
  EXPECT_NEAR(f35, 50 * std::stod(ref["ScaleFactor35efl"]), 0.1 * 50);
  EXPECT_EQ(x.Tags[x.LookupTagIndex("FocalLengthin35mmFilm")].Pattern, "%s mm");

  std::string sum = d.ExifSummaryText();
  EXPECT_NE(sum.find("File Name: cam.jpg\r\n"), std::string::npos);
  EXPECT_NE(sum.find("Make (Model): Canon (Canon EOS 10D)\r\n"), std::string::npos);
  EXPECT_NE(sum.find("Dimensions: 64 x 48\r\n"), std::string::npos);
  EXPECT_NE(sum.find("Exposure Time: 1/125 sec\r\n"), std::string::npos);
  EXPECT_NE(sum.find("FNumber: F2.8\r\n"), std::string::npos);
  EXPECT_NE(sum.find("ISO: 200\r\n"), std::string::npos);
  EXPECT_EQ(sum.substr(sum.size() - 10), "Flash: Yes");

  // IPTC: repeated keywords collect in one entry, each line once.
  TIPTCdata& ip = *d.IptcInfo;
  ip.ParseIptcData(d.IptcSection->Data);
  EXPECT_EQ(ip.ReadTagValue("Keywords", "-"), "a\r\nb\r\n");
  EXPECT_EQ(ip.ReadTagValue("City", "-"), "Paris\r\n");
  EXPECT_EQ(ip.LookupTag("SKIP"), -1);  // the record version dataset
  EXPECT_EQ(ip.ReadTagValue("Nothing", "dflt"), "dflt");
  EXPECT_TRUE(ip.ReadIptcFile(p));
  EXPECT_EQ(d.IptcInfo.get(), &ip);
  EXPECT_EQ(ip.ReadTagValue("City", "-"), "Paris\r\n");

  // Re-save at another size: the kept APP1 leads, its size fields follow the
  // new picture, and the encoder's own JFIF header is gone.
  std::vector<uint32_t> px(32 * 24, 0xFF00FF00u);
  TJPEGImage jpg;
  jpg.SetPixels(32, 24, px.data());
  std::string out = (dir_ / "out.jpg").string();
  std::string app1Before = d.ExifSection->Data;
  d.WriteJpegWithMetadata(jpg, out, true);
  auto ref2 = ExifTool(out);
  EXPECT_EQ(ref2["ExifImageWidth"], "32");
  EXPECT_EQ(ref2["ExifImageHeight"], "24");
  EXPECT_EQ(ref2["ImageWidth"], "32");
  EXPECT_EQ(ref2["Make"], "Canon");
  EXPECT_EQ(ref2["Comment"], "a comment");
  EXPECT_EQ(ref2["City"], "Paris");
  EXPECT_EQ(ref2.count("JFIFVersion"), 0u);
  std::string bytes = ReadAll(out);
  EXPECT_EQ(bytes.substr(0, 4), "\xFF\xD8\xFF\xE1");
  std::string app1After = d.ExifSection->Data;
  EXPECT_EQ(app1After.size(), app1Before.size());
  size_t diffs = 0;
  for (size_t i = 0; i < app1Before.size(); ++i) diffs += app1Before[i] != app1After[i];
  EXPECT_LE(diffs, 4u);  // two 16-bit fields rewritten, nothing else
  // Loading the result again reads the new size.
  TimgData again(255);
  ASSERT_TRUE(again.LoadMetadata(out));
  EXPECT_EQ(again.ExifInfo->Width, 32);
  EXPECT_EQ(again.ExifInfo->Height, 24);
}

TEST_F(MetadataTest, SameSizeResaveKeepsTheBlockAndKeptApp0Wins) {
  TBlock t(false);
  t.Dir({{0xA002, 4, 1, t.U32(40)}, {0xA003, 4, 1, t.U32(30)}, {0x010F, 2, 4, std::string("ACME", 4)}});
  std::string jfif = Seg(0xE0, std::string("JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00", 14));
  std::vector<uint32_t> px(40 * 30, 0xFF123456u);
  TJPEGImage jpg;
  jpg.SetPixels(40, 30, px.data());
  std::vector<uint8_t> enc = jpg.SaveToBytes();
  std::string encS(enc.begin(), enc.end());
  {
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("a.jpg", Jpeg({jfif, App1(t)}))));
    std::string before = d.ExifSection->Data;
    TMemoryStream m;
    d.WriteJpegWithMetadataTo(enc, m, 30, 40, true);
    std::string s(m.Bytes().begin(), m.Bytes().end());
    EXPECT_EQ(s.substr(2, App1(t).size()), App1(t));
    EXPECT_EQ(s.find("JFIF"), std::string::npos);
    ASSERT_GE(encS.find("\xFF\xDB"), 2u);
    EXPECT_EQ(s.substr(2 + App1(t).size()), encS.substr(encS.find("\xFF\xDB")));
  }
  {
    // Only a JFIF header and a comment: both written back, no default header.
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("b.jpg", Jpeg({jfif, Seg(0xFE, "note")}))));
    EXPECT_FALSE(d.HasExif());
    EXPECT_EQ(d.ExifSummaryText(), "");
    TMemoryStream m;
    EXPECT_EQ(d.WriteMetadataSegments(m), int64_t(jfif.size() + 8));
    std::string s(m.Bytes().begin(), m.Bytes().end());
    EXPECT_EQ(s, "\xFF\xD8" + jfif + Seg(0xFE, "note"));
  }
  {
    // Nothing kept: the default 300 dpi JFIF header.
    TimgData d(255);
    TMemoryStream m;
    EXPECT_EQ(d.WriteMetadataSegments(m), 18);
    std::string s(m.Bytes().begin(), m.Bytes().end());
    EXPECT_EQ(s, std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x02\x01\x01\x2C\x01\x2C\x00\x00", 20));
  }
}

TEST_F(MetadataTest, SixteenBitSizeFieldsStayReadableAfterAResize) {
  for (bool big : {false, true}) {
    TBlock t(big);
    t.Dir({{0x0100, 3, 1, t.U16(640)}, {0x0101, 3, 1, t.U16(480)}});
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("s.jpg", Jpeg({App1(t)}))));
    d.ExifInfo->PatchExifSize(200, 300);
    TimgData r(255);
    ASSERT_TRUE(r.LoadMetadata(Write("r.jpg", Jpeg({Seg(0xE1, d.ExifSection->Data.substr(2))}))));
    EXPECT_EQ(r.ExifInfo->Width, 300) << big;
    EXPECT_EQ(r.ExifInfo->Height, 200) << big;
  }
}

TEST_F(MetadataTest, DirectoryValuesAndDecoders) {
  for (bool big : {false, true}) {
    TBlock t(big);
    t.Dir({{0x0112, 3, 1, t.U16(6)}, {0x8769, 4, 1, t.U32(0)}});
    t.Set32(8 + 2 + 12 + 8, static_cast<uint32_t>(t.B.size()));
    t.Dir({{0x9201, 10, 1, t.Rat(7, 1)},
           {0x9209, 3, 1, t.U16(0x41)},
           {0x9207, 3, 1, t.U16(99)},
           {0x829D, 5, 1, t.Rat(28, 10)},
           {0x9C9F, 1, 6, std::string("H\0i\0\0\0", 6)},
           {0x9999, 4, 2, t.U32(1) + t.U32(0xFFFFFFFF)},
           {0x9204, 10, 1, t.Rat(uint32_t(-1), 3)},
           {0x011A, 5, 1, t.Rat(0xFFFFFFFF, 1)},
           {0xA002, 4, 1, t.U32(0xFFFFFFFF)},
           {0x0000, 3, 1, t.U16(5)}});
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("v.JPEG", Jpeg({App1(t)}))));
    TImageInfo& x = *d.ExifInfo;
    EXPECT_EQ(x.LookupTagValue("Orientation"), "CounterClockwise 90\xc2\xb0");
    EXPECT_EQ(x.LookupTagValue("ShutterSpeedValue"), "0.0078 sec (1/128)");
    EXPECT_EQ(x.LookupTagValue("Flash"), "On, red-eye reduction");
    EXPECT_EQ(x.LookupTagValue("MeteringMode"), "99");  // no name for 99
    EXPECT_EQ(x.LookupTagValue("FNumber"), "F2.8");
    EXPECT_EQ(x.LookupTagValue("Subject"), "Hi");
    int32_t u = x.LookupTagIndex("unknown");
    ASSERT_GE(u, 0);
    EXPECT_EQ(x.Tags[u].Data, "1, 4294967295");
    EXPECT_EQ(x.Tags[u].Tag, 0x9999u);
    EXPECT_EQ(x.LookupTagValue("ExposureBiasValue"), "-1/3");
    EXPECT_EQ(x.LookupTagValue("XResolution"), "4294967295.00");
    EXPECT_EQ(x.LookupTagIndex("GPSVersionID"), -1);  // tag 0 never listed
    EXPECT_EQ(x.Width, INT32_MAX);  // saturated, not wrapped negative
  }
  EXPECT_EQ(ExifTagTable().size(), 251u);
  EXPECT_EQ(GpsTagTable().size(), 31u);
  EXPECT_EQ(ExifTagTable().back().Name, "Unknown");
  EXPECT_EQ(ExifTagTable()[0].Caption, "InteroperabilityIndex");  // empty captions take the name
  for (const TTagEntry& r : ExifTagTable()) {
    if (r.Tag == 0xA405) {
      EXPECT_EQ(r.Caption, "Focal Length in 35mm Film");
    }
  }
  int sizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 0};
  for (uint32_t f = 0; f < 14; ++f) EXPECT_EQ(ExifFormatSize(f), sizes[f]);
}

TEST_F(MetadataTest, BrokenAndHostileBlocks) {
  {
    // A sub-directory pointing back at the first directory is parsed once.
    TBlock t(false);
    t.Dir({{0x010F, 2, 5, std::string("Make\0", 5)}, {0x8769, 4, 1, t.U32(8)}, {0x8825, 4, 1, t.U32(8)}});
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("loop.jpg", Jpeg({App1(t)}))));
    int makes = 0;
    for (const TTagEntry& e : d.ExifInfo->Tags) makes += e.Tag == 0x010F;
    EXPECT_EQ(makes, 1);
    EXPECT_EQ(d.ErrorText, "<none>");
  }
  {
    // Entry count beyond the block, values past the end, a huge count.
    TBlock t(true);
    t.Put16(1000);
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("big.jpg", Jpeg({App1(t)}))));
    EXPECT_EQ(d.ExifInfo->TagCount(), 0);
    TBlock u(true);
    u.Dir({{0x010E, 2, 100, u.U32(0xFFFFFF00)}, {0x010F, 2, 0x40000000, u.U32(8)}, {0x0110, 2, 3, "ab"}});
    TimgData e(255);
    ASSERT_TRUE(e.LoadMetadata(Write("off.jpg", Jpeg({App1(u)}))));
    ASSERT_EQ(e.ExifInfo->TagCount(), 1);
    EXPECT_EQ(e.ExifInfo->ModelText, "ab");
  }
  {
    // A directory whose next-directory word is the block's last four bytes
    // is read whole.
    TBlock t(false);
    t.Dir({{0x010F, 2, 4, std::string("Abc\0", 4)}, {0x0110, 2, 3, std::string("xy\0", 3)}});
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("end.jpg", Jpeg({App1(t)}))));
    EXPECT_EQ(d.ExifInfo->TagCount(), 2);
    EXPECT_EQ(d.ExifInfo->ModelText, "xy");
  }
  {
    TimgData d(255);
    EXPECT_TRUE(d.LoadMetadata(Write("h.jpg", Jpeg({Seg(0xE1, "Exig\0\0MM")}))));
    EXPECT_EQ(d.ExifSummaryText(), "File Name: h.jpg\r\nExif Error: Incorrect Exif header");
    TBlock t(false);
    t.B[0] = 'X';
    EXPECT_TRUE(d.LoadMetadata(Write("h2.jpg", Jpeg({App1(t)}))));
    EXPECT_EQ(d.ErrorText, "Invalid Exif alignment marker");
  }
  {
    TimgData d(255);
    std::string png = Write("p.png", Jpeg({Seg(0xFE, "x")}));
    EXPECT_FALSE(d.LoadMetadata(png));
    EXPECT_EQ(d.ErrorText, "Not an EXIF file");
    EXPECT_FALSE(d.LoadMetadata((dir_ / "missing.jpg").string()));
    EXPECT_FALSE(d.LoadMetadata(Write("n.jpg", "not a jpeg")));
    EXPECT_EQ(d.ErrorText, "Not an EXIF file");
    // A segment cut short by the end of the file is not kept.
    EXPECT_FALSE(d.LoadMetadata(Write("c.jpg", std::string("\xFF\xD8\xFF\xFE\x01\x00" "abc", 9))));
    EXPECT_EQ(d.SectionCount, 0);
  }
}

TEST_F(MetadataTest, SegmentWalkKeepsTheRightSections) {
  TBlock t(false);
  t.Dir({{0x010F, 2, 2, std::string("A\0", 2)}});
  TBlock t2(false);
  t2.Dir({{0x010F, 2, 2, std::string("B\0", 2)}});
  std::string dqt = Seg(0xDB, std::string(4, '\1'));
  {
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("two.jpg", Jpeg({App1(t), App1(t2), Seg(0xFE, "c1"), Seg(0xFE, "c2")}))));
    EXPECT_EQ(d.ExifInfo->MakeText, "A");
    EXPECT_EQ(d.SectionCount, 3);  // the second APP1 is dropped
    EXPECT_EQ(d.CommentSection->Data.substr(2), "c2");
  }
  {
    // APP1 as the sixth segment: not parsed; the comment before it counts.
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("six.jpg", Jpeg({Seg(0xFE, "c"), dqt, dqt, dqt, Seg(0xED, "Photoshop 3.0"),
                                                      App1(t)}))));
    EXPECT_FALSE(d.HasExif());
    EXPECT_TRUE(d.CommentSection);
    EXPECT_TRUE(d.IptcSection);
    EXPECT_EQ(d.SectionCount, 5);
  }
  {
    // Five segments with nothing of interest end the walk.
    TimgData d(255);
    EXPECT_FALSE(d.LoadMetadata(Write("five.jpg", Jpeg({dqt, dqt, dqt, dqt, dqt, Seg(0xFE, "late")}))));
    EXPECT_FALSE(d.CommentSection);
  }
}

TEST_F(MetadataTest, TiffDirectories) {
  for (bool big : {false, true}) {
    TBlock t(big);
    t.Dir({{0x0100, 4, 1, t.U32(5)}, {0x0101, 3, 1, t.U16(7)}, {0x0110, 2, 4, std::string("NEF\0", 4)}});
    TimgData d(255);
    ASSERT_TRUE(d.LoadMetadata(Write("a.tif", t.B)));
    EXPECT_EQ(d.ErrorText, "<none>");
    EXPECT_EQ(d.ExifInfo->Width, 5);
    EXPECT_EQ(d.ExifInfo->Height, 7);
    EXPECT_EQ(d.ExifInfo->ModelText, "NEF");
    EXPECT_TRUE(d.ExifInfo->FromTiff);
    EXPECT_FALSE(d.HasExif());
    // A first directory placed later in the file is found through the header.
    TBlock u(big, 0);
    u.B += std::string(30, 'z');
    uint32_t at = u.Dir({{0x0110, 2, 2, std::string("Q\0", 2)}});
    u.Set32(4, at);
    TimgData e(255);
    ASSERT_TRUE(e.LoadMetadata(Write("b.TIFF", u.B)));
    EXPECT_EQ(e.ExifInfo->ModelText, "Q");
  }
  // A TIFF written by convert: its directory is not at offset 8.
  std::string p = (dir_ / "c.tif").string();
  ASSERT_EQ(std::system(("convert -size 9x11 xc:blue '" + p + "'").c_str()), 0);
  TimgData d(255);
  ASSERT_TRUE(d.LoadMetadata(p));
  EXPECT_EQ(d.ExifInfo->Width, 9);
  EXPECT_EQ(d.ExifInfo->Height, 11);
  TimgData bad(255);
  EXPECT_FALSE(bad.LoadMetadata(Write("d.nef", "JUNK")));
}

TEST_F(MetadataTest, MakerNotes) {
  // Canon: a directory with offsets counted from the EXIF header.
  TBlock t(false);
  size_t dir0 = t.B.size();
  t.Dir({{0x010F, 2, 6, std::string("Canon\0", 6)}, {0x8769, 4, 1, t.U32(0)}});
  t.Set32(dir0 + 2 + 12 + 8, static_cast<uint32_t>(t.B.size()));
  // The maker note goes after the EXIF directory; build it with offsets
  // relative to the block start.
  uint32_t exifAt = static_cast<uint32_t>(t.B.size());
  uint32_t noteAt = exifAt + 2 + 12 + 4;
  TBlock n(false);
  n.B.clear();
  std::string arr;
  std::vector<uint32_t> vals(33, 0);
  vals[1] = 1, vals[4] = 2, vals[16] = 17;
  for (uint32_t v : vals) arr += n.U16(v);
  uint32_t arrAt = noteAt + 2 + 12 * 3 + 4;
  n.Put16(3);
  n.Put16(0x0001), n.Put16(3), n.Put32(33), n.Put32(arrAt);
  n.Put16(0x0006), n.Put16(2), n.Put32(4), n.B += std::string("JPG\0", 4);
  n.Put16(0x0000), n.Put16(3), n.Put32(1), n.Put32(0);  // a Skip row
  n.Put32(0);
  n.B += arr;
  t.Dir({{0x927C, 7, static_cast<uint32_t>(n.B.size()), n.B}});
  TimgData d(255);
  ASSERT_TRUE(d.LoadMetadata(Write("canon.jpg", Jpeg({App1(t)}))));
  TImageInfo& x = *d.ExifInfo;
  EXPECT_EQ(x.MakerNoteBytes, n.B);
  EXPECT_EQ(x.LookupTagValue("ImageType"), "JPG");
  EXPECT_EQ(x.LookupTagValue("Macro mode"), "Macro");
  EXPECT_EQ(x.LookupTagValue("Flash Mode"), "On");
  EXPECT_EQ(x.LookupTagValue("CCD ISO"), "100");
  EXPECT_EQ(x.LookupTagValue("Self Timer"), "0");
  EXPECT_EQ(x.LookupTagIndex("Skip"), -1);
  std::string info1 = x.LookupTagValue("ExposureInfo1");
  EXPECT_EQ(info1.substr(0, 34), "Macro mode = Macro\r\nSelf Timer = 0");
  EXPECT_NE(info1.find("Focus Mode = Normal\r\n"), std::string::npos);  // field 32

  // Make selection: five letters, any case; shorter makes match nothing.
  TImageInfo probe(nullptr, 255);
  probe.MakeText = "canonical";
  probe.MakerNoteBytes = std::string("\0\0", 2);
  TmsInfo ms(&probe);
  EXPECT_TRUE(ms.DecodeMakerNote(&probe));
  EXPECT_EQ(ms.Make, "CANON");
  probe.MakeText = "Cano";
  EXPECT_FALSE(ms.DecodeMakerNote(&probe));
  probe.MakeText = "Pentax";
  EXPECT_FALSE(ms.DecodeMakerNote(&probe));
  EXPECT_EQ(MakerNoteTable("Olympus").size(), 33u);
  EXPECT_EQ(MakerNoteTable("CasioQVC").size(), 45u);
  EXPECT_EQ(MakerNoteTable("Nikon").size(), 28u);
}

// Maker notes of three layouts, kept as fuzz seeds: the newer Nikon note
// with its own TIFF header, the little-endian Fuji note and the Casio QVC note.
TEST_F(MetadataTest, VendorNoteLayouts) {
  const std::string seeds = std::string(VEMRA_SOURCE_DIR) + "/fuzz/corpus/metadata_jpeg/";
  TimgData n(255);
  ASSERT_TRUE(n.LoadMetadata(seeds + "nikon.jpg"));
  EXPECT_EQ(n.ExifInfo->LookupTagValue("LensInformation"), "18.0-70.0(mm)  F3.5-F5.6");
  EXPECT_EQ(n.ExifInfo->LookupTagValue("ColorMode"), "Mode 2 (Adobe RGB)");
  EXPECT_EQ(n.ExifInfo->LookupTagValue("ISOSpeed"), "0, 200");
  TimgData f(255);
  ASSERT_TRUE(f.LoadMetadata(seeds + "fuji.jpg"));
  EXPECT_EQ(f.ExifInfo->LookupTagValue("WhiteBalance"), "Daylight");
  EXPECT_EQ(f.ExifInfo->LookupTagValue("Quality"), "NORMAL ");
  TimgData c(255);
  ASSERT_TRUE(c.LoadMetadata(seeds + "casio.jpg"));
  EXPECT_EQ(c.ExifInfo->LookupTagValue("RecordMode"), "2");
}

TEST_F(MetadataTest, OlympusValueOutsideTheNoteComesFromTheBlock) {
  TBlock t(true);
  size_t dir0 = t.B.size();
  t.Dir({{0x010F, 2, 8, std::string("OLYMPUS\0", 8)}, {0x8769, 4, 1, t.U32(0)}});
  t.Set32(dir0 + 2 + 12 + 8, static_cast<uint32_t>(t.B.size()));
  uint32_t textAt = static_cast<uint32_t>(t.B.size()) + 2 + 12 + 4;  // after the EXIF directory
  TBlock n(true);
  n.B = std::string("OLYMP\0\x01\0", 8);
  n.Put16(2);
  n.Put16(0x0209), n.Put16(2), n.Put32(8), n.Put32(textAt);  // outside the note
  n.Put16(0x0201), n.Put16(3), n.Put32(1), n.Put16(2), n.Put16(0);
  n.Put32(0);
  // The EXIF directory holds the note; the camera id text sits right after it.
  std::string text("CAMID-7\0", 8);
  TBlock::TEntry note{0x927C, 7, static_cast<uint32_t>(n.B.size()), n.B};
  t.Dir({note});
  // Put the id text between the directory and the note data it points past,
  // and move the note's value offset along.
  std::string head = t.B.substr(0, textAt);
  std::string rest = t.B.substr(textAt);
  // rest begins with the note bytes; put the text first and fix the pointer.
  t.B = head + text + rest;
  t.Set32(textAt - 4 - 4, textAt + 8);
  TimgData d(255);
  ASSERT_TRUE(d.LoadMetadata(Write("oly.jpg", Jpeg({App1(t)}))));
  EXPECT_EQ(d.ExifInfo->MakerNoteBytes, n.B);
  EXPECT_EQ(d.ExifInfo->LookupTagValue("CameraID"), "CAMID-7");
  EXPECT_EQ(d.ExifInfo->LookupTagValue("JpegQual"), "2");
}


// 64 directories overlapping in one 64 KB APP1, and the same in a 256 KB
// TIFF: the parse stays within the entry allowance, 64 MB and a second of
// processor time (before the allowance it took 35 s and 2.9 GB; the
// sanitized build takes 80 to 120 ms, more on a loaded machine).
TEST_F(MetadataTest, OverlappingDirectoriesStayWithinTheBudget) {
  const std::string block = OverlappingBlock(65527);
  const std::string jpeg = "\xFF\xD8" + Seg(0xE1, std::string("Exif\0\0", 6) + block) + "\xFF\xD9";
  ASSERT_EQ(jpeg.size(), 2 + 4 + 65533 + 2u);  // the largest APP1 there is
  struct Case {
    std::string name, bytes;
  };
  // The TIFF's directory fits the 256000 bytes read from byte 8.
  const Case cases[] = {{"crafted.jpg", jpeg}, {"crafted.tif", OverlappingBlock(256 * 1024, 21000)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(c.name, c.bytes);
    TimgData d(255);
    bool ok = false;
    const alloc_budget::TUsage use = alloc_budget::Measure([&] { ok = d.LoadMetadata(path); });
    ASSERT_TRUE(ok);
    RecordProperty(c.name + "_peak_bytes", std::to_string(use.PeakBytes));
    RecordProperty(c.name + "_cpu_ms", std::to_string(use.CpuMs));
    EXPECT_LT(use.PeakBytes, 64 << 20);
    EXPECT_LT(use.CpuMs, 1000.0);
    const TImageInfo& x = *d.ExifInfo;
    EXPECT_EQ(x.MakeText, "Canon");
    EXPECT_EQ(x.LookupTagValue("ExposureProgram").substr(0, 8), "Normal, ");
    EXPECT_GT(x.TagCount(), 3000);
    EXPECT_LE(x.TagCount(), kMaxExifEntries);
    // Raw bytes kept: at most four times the block.
    size_t raw = 0;
    for (const TTagEntry& e : x.Tags) raw += e.Raw.size();
    EXPECT_LE(raw, 4 * d.Sections[0].Data.size() + 4 * 65536);
    EXPECT_GT(raw, d.Sections[0].Data.size());
  }
}

// Thousands of keyword datasets in one APP13 block merge in time linear in
// the block: each distinct keyword once, in the order of first appearance.
TEST(IptcTest, ManyRepeatedKeywordsMergeInLinearTime) {
  std::string app13 = std::string("Photoshop 3.0\0", 14) + "8BIM\x04\x04";
  std::string expected;
  for (int i = 0; app13.size() < 65000; ++i) {
    const std::string v = "k" + std::to_string(i % 4000);
    app13 += std::string{'\x1C', 2, 25, 0, static_cast<char>(v.size())} + v;
    if (i < 4000) expected += v + "\r\n";
  }
  TIPTCdata ip(nullptr);
  const alloc_budget::TUsage use = alloc_budget::Measure([&] { ip.ParseIptcData(app13); });
  EXPECT_LT(use.CpuMs, 100.0);
  ASSERT_EQ(ip.Count(), 1);
  EXPECT_EQ(ip.ReadTagValue("Keywords", ""), expected);
}

// Decimals as the class library's Format writes them: half away from zero on
// the decimal digits, "." whatever the locale.
TEST_F(MetadataTest, DecimalsRoundHalfAwayFromZero) {
  struct Case {
    const char* pattern;
    double value;
    const char* text;
  };
  const Case cases[] = {
      {"F%0.1f", 2.25, "F2.3"},       {"F%0.1f", 0.35, "F0.4"},        {"F%0.1f", 2.8, "F2.8"},
      {"%5.2f", 1.005, " 1.01"},      {"%5.2f", 0.125, " 0.13"},       {"%0.0f", 2.5, "3"},
      {"%0.0f", -2.5, "-3"},          {"%0.0f", 0.4, "0"},             {"%0.1f", 9.96, "10.0"},
      {"%4.4f sec", 0.0078125, "0.0078 sec"}, {"%5.2f mm", 50, "50.00 mm"}, {"%5.2f", 4294967295.0, "4294967295.00"},
      {"%0.1f-", -1.25, "-1.3-"},     {"%-6.1fx", 1.25, "1.3   x"},     {"%0.3f", 1e-9, "0.000"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExifFormatFloat(c.pattern, c.value), c.text) << c.pattern << " " << c.value;
  // Through a directory: FNumber 9/4 and 7/20, ApertureValue 5/2.
  TBlock t(false);
  t.Dir({{0x829D, 5, 1, t.Rat(9, 4)}, {0x9202, 5, 1, t.Rat(7, 20)}, {0x9205, 5, 1, t.Rat(5, 2)}});
  TimgData d(255);
  ASSERT_TRUE(d.LoadMetadata(Write("f.jpg", Jpeg({App1(t)}))));
  EXPECT_EQ(d.ExifInfo->LookupTagValue("FNumber"), "F2.3");
  EXPECT_EQ(d.ExifInfo->LookupTagValue("ApertureValue"), "F0.4");
  EXPECT_EQ(d.ExifInfo->LookupTagValue("MaxApertureValue"), "F2.5");
}

// A JPEG of a camera of Make whose maker note is Prefix and then a directory
// of Entries, the note's value offsets counted from the TIFF header as these
// makers write them; ExifVersion goes into the EXIF directory when given.
std::string MakerNoteJpeg(bool Big, const std::string& Make, const std::string& Prefix,
                          const std::vector<TBlock::TEntry>& Entries, const std::string& ExifVersion = "") {
  TBlock t(Big);
  size_t dir0 = t.B.size();
  t.Dir({{0x010F, 2, static_cast<uint32_t>(Make.size() + 1), Make + std::string(1, '\0')}, {0x8769, 4, 1, t.U32(0)}});
  const uint32_t exifAt = static_cast<uint32_t>(t.B.size());
  t.Set32(dir0 + 2 + 12 + 8, exifAt);
  std::vector<TBlock::TEntry> exif;
  if (!ExifVersion.empty()) exif.push_back({0x9000, 7, 4, ExifVersion});
  // The note is the directory's only long value: it follows the directory.
  const uint32_t noteAt = exifAt + 2 + 12 * static_cast<uint32_t>(exif.size() + 1) + 4;
  TBlock n(Big);
  n.B = Prefix;
  n.Dir(Entries, 0, noteAt);
  exif.push_back({0x927C, 7, static_cast<uint32_t>(n.B.size()), n.B});
  t.Dir(exif);
  return Jpeg({App1(t)});
}

// Maker notes of the makers whose layouts put the directory at the note's
// start (plain Casio, Minolta) or 8 bytes on (Seiko, Sanyo, older Nikon),
// in both byte orders: names from the vendor table, value names, long values
// through their offsets, Skip rows left out, unknown tags kept as Unknown.
TEST_F(MetadataTest, MakerNoteFixturesOfFiveLayouts) {
  struct Case {
    const char* name;
    std::string make, prefix, exifVersion;
    std::vector<TBlock::TEntry> entries;
    std::vector<std::pair<std::string, std::string>> expected;  // name, display text
    std::vector<std::string> absent;
    const char* matched;
  };
  for (bool big : {false, true}) {
    TBlock f(big);
    const Case cases[] = {
        {"seiko", "SEIKO EPSON", std::string("SEIKO\0\1\0", 8), "",
         {{0x0201, 3, 1, f.U16(2)}, {0x0209, 2, 10, std::string("SEIKO-CAM\0", 10)}, {0x0203, 3, 1, f.U16(1)},
          {0x0300, 3, 1, f.U16(7)}, {0x0F00, 7, 6, "dump!!"}, {0x0555, 3, 1, f.U16(9)}},
         {{"JpegQuality", "2"}, {"CameraID", "SEIKO-CAM"}, {"??", "7"}, {"Unknown", "9"}},
         {"Skip", "skip"}, "SEIKO"},
        {"sanyo", "SANYO Electric Co.,Ltd.", std::string("SANYO\0\1\0", 8), "",
         {{0x0200, 4, 3, f.U32(1) + f.U32(2) + f.U32(3)}, {0x0201, 3, 1, f.U16(5)},
          {0x0F00, 7, 6, std::string("\x01\x02" "ab\0c", 6)}},
         {{"Special Mode", "1, 2, 3"}, {"JpegQuality", "5"}, {"DataDump", "\"..ab\""}},
         {}, "SANYO"},
        {"minolta", "Minolta Co., Ltd.", "", "",
         {{0x0000, 2, 8, std::string("DiMAGE7\0", 8)}, {0x0E00, 7, 7, "PrintIM"}},
         {{"ModelID", "DiMAGE7"}, {"PIMdata", "\"PrintIM\""}},
         {}, "MINOL"},
        {"nikon-old", "NIKON", std::string("Nikon\0\1\0", 8), "0210",
         {{0x0003, 2, 7, std::string("NORMAL\0", 7)}, {0x0004, 2, 6, std::string("MODE1\0", 6)},
          {0x0006, 3, 1, f.U16(2)}, {0x0009, 3, 1, f.U16(1)}, {0x000A, 5, 1, f.Rat(3, 2)}},
         {{"Quality", "NORMAL"}, {"ColorMode", "Mode1 (sRGB)"}, {"ISOSpeed", "ISO160"}, {"DigitalZoom", "3/2"}},
         {"Skip"}, "NIKON"},
        {"casio", "CASIO COMPUTER CO.,LTD.", "", "",
         {{0x0004, 3, 1, f.U16(4)}, {0x000A, 4, 1, f.U32(65537)}, {0x0014, 3, 1, f.U16(80)},
          {0x0008, 3, 1, f.U16(1)}, {0x0007, 3, 3, f.U16(1) + f.U16(2) + f.U16(3)}},
         {{"FlashMode", "Red Eye Reduction"}, {"DigitalZoom", "2X Digital Zoom"}, {"CCDSensitivity", "80"},
          {"WhiteBalance", "1, 2, 3"}},
         {"Skip"}, "CASIO"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (big ? " MM" : " II"));
      TimgData d(255);
      ASSERT_TRUE(d.LoadMetadata(Write(std::string(c.name) + ".jpg",
                                       MakerNoteJpeg(big, c.make, c.prefix, c.entries, c.exifVersion))));
      EXPECT_EQ(d.ErrorText, "<none>");
      const TImageInfo& x = *d.ExifInfo;
      for (const auto& [name, text] : c.expected) EXPECT_EQ(x.LookupTagValue(name), text) << name;
      for (const std::string& name : c.absent) EXPECT_EQ(x.LookupTagIndex(name), -1) << name;
      TImageInfo probe(nullptr, 255);
      probe.MakeText = c.make;
      probe.ExifVersion = c.exifVersion;
      probe.MakerNoteBytes = x.MakerNoteBytes;
      TmsInfo ms(&probe);
      EXPECT_TRUE(ms.DecodeMakerNote(&probe));
      EXPECT_EQ(ms.Make, c.matched);
    }
  }
}

// A write-back that runs out of room raises and leaves the old photo byte for
// byte, with no temporary file beside it.
TEST_F(MetadataTest, FailedWriteBackKeepsTheOldFile) {
  TBlock t(false);
  t.Dir({{0xA002, 4, 1, t.U32(300)}, {0xA003, 4, 1, t.U32(200)}});
  const std::string src = Write("src.jpg", Jpeg({App1(t), Seg(0xFE, std::string(3000, 'c'))}));
  TimgData d(255);
  ASSERT_TRUE(d.LoadMetadata(src));
  std::vector<uint32_t> px(300 * 200);
  for (size_t i = 0; i < px.size(); ++i) px[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u);
  TJPEGImage jpg;
  jpg.SetPixels(300, 200, px.data());
  const std::string old = ReadAll(src);
  {
    TFileSizeLimit full(2048);
    EXPECT_THROW(d.WriteJpegWithMetadata(jpg, src, true), EWriteError);
  }
  EXPECT_EQ(ReadAll(src), old);
  EXPECT_EQ(FolderEntries(dir_.string()), std::vector<std::string>({"src.jpg"}));
  // With room the same call replaces it.
  d.WriteJpegWithMetadata(jpg, src, true);
  EXPECT_EQ(ReadAll(src).substr(0, 4), "\xFF\xD8\xFF\xE1");
  EXPECT_NE(ReadAll(src), old);
}

// exiftool finds nothing to complain about in a camera JPEG re-saved at
// another size with its EXIF block carried over and patched.
TEST_F(MetadataTest, ResizedResaveValidatesWithExifTool) {
  std::string p = (dir_ / "cam.jpg").string();
  ASSERT_EQ(std::system(("convert -size 64x48 xc:red '" + p + "'").c_str()), 0);
  ASSERT_EQ(std::system(("exiftool -q -overwrite_original -Make=Canon -Model=X -ExifImageWidth=64 "
                         "-ExifImageHeight=48 -FNumber=2.8 -Keywords=a '-Comment=c' '" + p + "'").c_str()), 0);
  TimgData d(255);
  ASSERT_TRUE(d.LoadMetadata(p));
  std::vector<uint32_t> px(40 * 30, 0xFF336699u);
  TJPEGImage jpg;
  jpg.SetPixels(40, 30, px.data());
  std::string out = (dir_ / "out.jpg").string();
  d.WriteJpegWithMetadata(jpg, out, true);
  auto ref = ExifTool(out);
  EXPECT_EQ(ref["ExifImageWidth"], "40");
  EXPECT_EQ(ref["ExifImageHeight"], "30");
  EXPECT_EQ(ref["ImageWidth"], "40");
  std::string v = Run("exiftool -validate -warning -error -a '" + out + "' 2>&1");
  EXPECT_NE(v.find("Validate                        : OK"), std::string::npos) << v;
}

// A TIFF of about 3 MB from ImageMagick keeps its directory after the image
// data; its tags are read from there.
TEST_F(MetadataTest, LargeTiffFromImageMagickShowsItsTags) {
  std::string p = (dir_ / "big.tif").string();
  ASSERT_EQ(std::system(("convert -size 1000x1000 plasma:fractal -seed 5 -depth 8 -set comment hello "
                         "-density 72 '" + p + "'").c_str()), 0);
  ASSERT_GT(fs::file_size(p), 2900000u);
  auto ref = ExifTool(p);
  TimgData d(255);
  ASSERT_TRUE(d.LoadMetadata(p));
  const TImageInfo& x = *d.ExifInfo;
  EXPECT_EQ(x.Width, 1000);
  EXPECT_EQ(x.Height, 1000);
  EXPECT_EQ(x.LookupTagValue("ImageDescription"), "hello");
  std::string strips = x.LookupTagValue("StripOffsets");
  for (size_t c; (c = strips.find(", ")) != std::string::npos;) strips.replace(c, 2, " ");
  EXPECT_EQ(strips, ref["StripOffsets"]);
  EXPECT_EQ(x.LookupTagInt("SamplesPerPixel"), std::stoi(ref["SamplesPerPixel"]));
  EXPECT_EQ(x.LookupTagValue("XResolution"), "72.00");
  EXPECT_GE(x.TagCount(), 15);
  // A directory that starts inside the first 256000 bytes and ends past them
  // is read whole.
  TBlock late(false, 250000);
  late.Pad(250000);
  std::vector<TBlock::TEntry> many(1999, {0x9999, 3, 1, late.U16(1)});
  many.push_back({0x0110, 2, 6, std::string("Late!\0", 6)});
  late.Dir(many);
  TimgData l(255);
  ASSERT_TRUE(l.LoadMetadata(Write("late.tif", late.B)));
  EXPECT_EQ(l.ErrorText, "<none>");
  EXPECT_EQ(l.ExifInfo->ModelText, "Late!");
  EXPECT_EQ(l.ExifInfo->TagCount(), 2000);
  // A header offset past the end of the file gives no tags and no failure.
  std::string bytes = ReadAll(p);
  bytes[4] = bytes[5] = bytes[6] = '\x7F';
  TimgData e(255);
  ASSERT_TRUE(e.LoadMetadata(Write("past.tif", bytes)));
  EXPECT_EQ(e.ExifInfo->TagCount(), 0);
}

TEST(IptcTest, DatasetsAndUpdates) {
  auto ds = [](int rec, int n, const std::string& v) {
    return std::string{'\x1C', char(rec), char(n), char(v.size() >> 8), char(v.size() & 0xFF)} + v;
  };
  std::string app13 = std::string("\0\0Photoshop 3.0\0", 16) + "8BIM\x04\x04" + ds(1, 90, "x") + ds(2, 0, "\0\4") +
                      ds(2, 25, "a") + ds(2, 25, "b") + ds(2, 25, "a") + ds(2, 200, "custom") +
                      ds(2, 90, "Paris") + ds(8, 10, "sub") + ds(2, 120, "cut short, past the end");
  app13.resize(app13.size() - 5);
  TIPTCdata ip(nullptr);
  ip.ParseIptcData(app13);
  EXPECT_EQ(ip.ReadTagValue("keywords", ""), "a\r\nb\r\n");
  EXPECT_EQ(ip.LookupTag("SKIP"), -1);
  int32_t c = ip.LookupTag("Custom_200");
  ASSERT_GE(c, 0);
  EXPECT_EQ(ip.Tags[c].Tag, 200u);
  EXPECT_EQ(ip.Tags[c].ValueFormat >> 16, 2u);
  EXPECT_EQ(ip.ReadTagValue("Subfile", ""), "sub\r\n");
  EXPECT_EQ(ip.ReadTagValue("ImageCaption", ""), "cut short, past th\r\n");
  EXPECT_EQ(ip.UpdateTag("Keywords", "c"), ip.LookupTag("Keywords"));
  EXPECT_EQ(ip.ReadTagValue("Keywords", ""), "a\r\nb\r\nc\r\n");
  ip.UpdateTag("City", "Rome");
  EXPECT_EQ(ip.ReadTagValue("City", ""), "Rome");
  EXPECT_EQ(ip.UpdateTag("NoSuchName", "v"), -1);
  int32_t n = ip.Count();
  EXPECT_EQ(ip.AddOrUpdateTag("byline", "me"), n);
  EXPECT_EQ(ip.Tags[n].Name, "ByLine");
  ip.RemoveTag("Keywords");
  EXPECT_EQ(ip.LookupTag("Keywords"), -1);
  EXPECT_EQ(ip.Count(), n);
  ip.ParseIptcData("no signature \x1C\x02\x19\x00\x01z");
  EXPECT_EQ(ip.Count(), 0);
  ip.ParseIptcData(std::string("Photoshop 3.0\x1C\x01\x05", 16));
  EXPECT_EQ(ip.Count(), 0);
  EXPECT_EQ(IptcTagTable().size(), 49u);
}

}  // namespace
