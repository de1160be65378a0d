// Saves and loads that must not lose a picture, fake a success, hang or run
// away with memory: the atomic save under write protection, links, a full
// disk and killed savers; every loader given a pipe or a folder; failed loads
// that keep the previous picture; tiny files declaring huge pictures.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <fstream>

#include "img_j2k.h"
#include "img_loadfile.h"
#include "img_raw.h"
#include "img_zub.h"
#include "platform_graphics.h"
#include "platform_jpeg.h"
#include "platform_savefile.h"
#include "save_harness.h"

namespace fs = std::filesystem;
using namespace save_harness;

namespace {

std::vector<uint8_t> Bytes(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }

// Saves Text to Path through the one atomic save.
void SaveText(const std::string& Path, const std::string& Text) {
  ReplaceFileAtomically(Path, [&](TStream& s) { s.WriteBuffer(Text.data(), Text.size()); },
                        TRenameFailure::rfCreateError);
}

// A folder that user nobody may create files in, as a user's own folder is.
struct TSharedFolder : TTempDir {
  TSharedFolder() { fs::permissions(path, fs::perms::all); }
};

// The savers held to the same rules: the atomic save itself, and the JPEG
// 2000 writer, whose codec lives in a module that is handed a file name.
struct TSaver {
  const char* Name;
  std::string Ext;
  std::function<void(const std::string&)> Save;
  std::string Refusal;  // the message of a file it may not replace; "" for "Cannot create file"
  std::vector<uint8_t> Written;  // what it writes into a new file
};

std::vector<TSaver> Savers() {
  SetJ2KModuleFolder(VEMRA_BIN_DIR);
  static TBitmap32 picture;
  FillBitmap(picture, 24, 16, NoisePixels(24 * 16, 5));
  std::vector<TSaver> savers = {
      {"atomic save", ".bmp", [](const std::string& Path) { SaveText(Path, "new picture"); }, "", {}},
      {"JPEG 2000", ".jp2", [](const std::string& Path) { SaveJ2KFile(Path, &picture, 0, 3); },
       "Error writing image file", {}},
  };
  TTempDir scratch;
  for (TSaver& s : savers) {
    s.Save(scratch / ("new" + s.Ext));
    s.Written = ReadFileBytes(scratch / ("new" + s.Ext));
  }
  return savers;
}

// A memory figure of this process from /proc ("VmRSS:" now, "VmHWM:" the
// peak since the last reset), in bytes.
int64_t MemoryBytes(const std::string& Field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(Field, 0) == 0) return std::stoll(line.substr(Field.size())) * 1024;
  return -1;
}

}  // namespace

TEST(AtomicSave, WriteProtectedFilesStayUntouched) {
  TSharedFolder dir;
  struct TCase {
    const char* Name;
    fs::perms Mode;
    int SaverUid;  // -1: root
  } cases[] = {
      {"readonly-by-nobody", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, kNobody},
      {"root-owned-0644", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read, kNobody},
      // Root passes every permission test; the read-only mark must still hold.
      {"readonly-by-root", fs::perms::owner_read | fs::perms::others_read, -1},
  };
  const std::vector<TSaver> savers = Savers();
  for (const TSaver& saver : savers) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(saver.Name) + ", " + c.Name);
      const std::string file = (dir / std::string(c.Name) + saver.Ext);
      WriteFileBytes(file, Bytes("old picture"));
      fs::permissions(file, c.Mode);
      TChildLimits limits;
      limits.Uid = c.SaverUid;
      const std::string refusal = saver.Refusal.empty() ? "Cannot create file \"" + file + "\"" : saver.Refusal;
      const TChildResult r = RunInChild(
          [&] {
            try {
              saver.Save(file);
            } catch (const Exception& e) {
              return e.Message() == refusal;
            }
            return false;
          },
          limits);
      EXPECT_TRUE(r.Succeeded()) << r.ExitCode << " " << r.Signal;
      EXPECT_EQ(ReadFileBytes(file), Bytes("old picture"));
    }
  }
  EXPECT_EQ(FolderEntries(dir.path).size(), 3u * savers.size());  // no temporary files
}

TEST(AtomicSave, KeepsModeAndOwnerAndFollowsLinks) {
  for (const TSaver& saver : Savers()) {
    SCOPED_TRACE(saver.Name);
    TSharedFolder dir;
    // Root saving a user's file gives it back to that user with every mode
    // bit, set-id and sticky included (the owner must change before the mode,
    // or the set-id bits go); a new file takes the umask as any new file would.
    struct TModeCase {
      const char* Name;
      int Mode;  // -1: no file before the save
      mode_t Umask, Want;
    } modes[] = {{"plain", 0640, 022, 0640},   {"setuid", 04750, 022, 04750}, {"setgid", 02710, 022, 02710},
                 {"sticky", 01604, 022, 01604}, {"new-077", -1, 077, 0600},   {"new-022", -1, 022, 0644}};
    for (const TModeCase& m : modes) {
      SCOPED_TRACE(m.Name);
      const std::string owned = (dir / m.Name + saver.Ext);
      if (m.Mode >= 0) {
        WriteFileBytes(owned, Bytes("old"));
        ASSERT_EQ(::chown(owned.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chmod(owned.c_str(), static_cast<mode_t>(m.Mode)), 0);
      }
      const mode_t was = ::umask(m.Umask);
      saver.Save(owned);
      ::umask(was);
      struct stat st {};
      ASSERT_EQ(::stat(owned.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, m.Mode >= 0 ? static_cast<uid_t>(kNobody) : ::geteuid());
      EXPECT_EQ(st.st_gid, m.Mode >= 0 ? static_cast<gid_t>(kNobody) : ::getegid());
      EXPECT_EQ(st.st_mode & 07777, m.Want);
      EXPECT_EQ(ReadFileBytes(owned), saver.Written);
    }

    // Links: absolute, relative, chained and dangling; each stays a link and
    // its final target gets the picture.
    const std::string a = "real/a" + saver.Ext, fresh = "real/new" + saver.Ext;
    fs::create_directory(fs::path(dir.path) / "real");
    fs::create_symlink((dir / a), fs::path(dir.path) / ("abs" + saver.Ext));
    fs::create_symlink(a, fs::path(dir.path) / ("rel" + saver.Ext));
    fs::create_symlink("rel" + saver.Ext, fs::path(dir.path) / ("chain" + saver.Ext));
    fs::create_symlink(fresh, fs::path(dir.path) / ("dangling" + saver.Ext));
    struct TLink {
      std::string Link;
      std::string Target;
    } links[] = {{"abs", a}, {"rel", a}, {"chain", a}, {"dangling", fresh}};
    for (const TLink& l : links) {
      SCOPED_TRACE(l.Link);
      // Every save starts from the old picture, so each link proves its own way through.
      WriteFileBytes((dir / a), Bytes("old"));
      fs::remove(fs::path(dir.path) / fresh);
      saver.Save((dir / l.Link + saver.Ext));
      EXPECT_TRUE(fs::is_symlink(fs::path(dir.path) / (l.Link + saver.Ext)));
      EXPECT_EQ(ReadFileBytes((dir / l.Target)), saver.Written);
    }
    EXPECT_EQ(FolderEntries((dir / "real")), (std::vector<std::string>{"a" + saver.Ext, "new" + saver.Ext}));
  }
}

TEST(AtomicSave, FullDiskAndKilledSaversLeaveTheOldFileAndNoRemnant) {
  TTempDir dir;
  const std::string file = (dir / "p.bmp");
  TBitmap32 picture;
  FillBitmap(picture, 300, 200, NoisePixels(300 * 200, 3));
  TPicture holder;
  auto save = [&](const std::string& path) {
    TMemoryStream m;
    picture.SaveToStream(m);
    m.SaveToFile(path);
  };
  TMemoryStream expected;
  picture.SaveToStream(expected);
  const std::vector<uint8_t> oldBytes = Bytes("the picture before");

  // A disk that fills half-way: the save raises and nothing changes; saved
  // through a link in another folder, the link stays a link.
  fs::create_directory(fs::path(dir.path) / "links");
  fs::create_symlink("../p.bmp", fs::path(dir.path) / "links/p.bmp");
  for (const std::string& name : {file, dir / "links/p.bmp"}) {
    SCOPED_TRACE(name);
    WriteFileBytes(file, oldBytes);
    TChildLimits full;
    full.FileSizeBytes = 64 * 1024;
    const TChildResult r = RunInChild(
        [&] {
          try {
            save(name);
          } catch (const EWriteError&) {
            return true;
          }
          return false;
        },
        full);
    EXPECT_TRUE(r.Succeeded()) << r.ExitCode << " " << r.Signal;
    EXPECT_EQ(ReadFileBytes(file), oldBytes);
    EXPECT_TRUE(fs::is_symlink(fs::path(dir.path) / "links/p.bmp"));
    EXPECT_EQ(FolderEntries(dir.path), (std::vector<std::string>{"links", "p.bmp"}));
    EXPECT_EQ(FolderEntries(dir / "links"), std::vector<std::string>{"p.bmp"});
  }
  fs::remove_all(fs::path(dir.path) / "links");
  // A target that became a folder while the picture was written: the rename
  // fails, and the complete copy does not stay behind.
  EXPECT_THROW(ReplaceFileAtomically(
                   file,
                   [&](TStream& s) {
                     s.WriteBuffer("new", 3);
                     fs::remove(file);
                     fs::create_directories(file + "/in");
                   },
                   TRenameFailure::rfCreateError),
               EFCreateError);
  EXPECT_EQ(FolderEntries(dir.path), std::vector<std::string>{"p.bmp"});
  fs::remove_all(file);

  // Savers killed at random moments: old or new, never torn, no remnants.
  std::string failure;
  const int cut = KillSaversAtRandomMoments(file, oldBytes, expected.Bytes(), save, 40, 6000, failure);
  EXPECT_EQ(failure, "");
  EXPECT_GT(cut, 0);
}

TEST(Loaders, RefuseFifosSocketsDevicesAndFoldersAtOnce) {
  TTempDir dir;
  const std::string fifo = (dir / "pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string socketPath = (dir / "sock");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  struct TKind {
    const char* Name;
    const char* Reason;
  } kinds[] = {{"pipe", "Is a named pipe"}, {"sock", "Is a socket"}, {"dev", "Is a device"}, {"folder", "Is a directory"}};
  fs::create_directory(fs::path(dir.path) / "folder");
  fs::create_symlink("/dev/zero", fs::path(dir.path) / "dev");

  fs::create_directory(fs::path(dir.path) / "converter");
  const std::string converter = dir / "converter/dcraw.cmd";
  std::ofstream(converter) << "#!/bin/sh\ncat \"$2\" > /dev/null\n";
  fs::permissions(converter, fs::perms::owner_all);
  SetRawConverterFolder(dir / "converter");

  TBoxes boxes;
  for (const TKind& k : kinds) {
    for (const TPictureFormat& f : RegisteredFileFormats()) {
      // The name carries the format's extension through a link to the object.
      const std::string name = (dir / std::string(k.Name) + "." + f.Extension);
      fs::create_symlink(fs::path(dir.path) / k.Name, name);
      SCOPED_TRACE(name);
      const std::string want = "Cannot open file \"" + name + "\". " + k.Reason;
      // The Netpbm picture class is only asked not to hang here.
      const bool strict = f.GraphicClassName != "TPXMImage";
      TBitmap32 b;
      b.SetSize(2, 2);
      try {
        b.LoadFromFile(name);
        EXPECT_FALSE(strict) << "loaded";
      } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), want);
      } catch (const EInvalidGraphic& e) {
        // Picture classes that report in their own boxes raise with the box's text.
        EXPECT_EQ(e.Message(), "error opening " + name);
      }
      if (strict) EXPECT_EQ(b.Width(), 2);
      std::unique_ptr<TGraphic> g = f.Create();
      try {
        g->LoadFromFile(name);
        EXPECT_FALSE(strict) << "loaded";
      } catch (const Exception&) {
      }
      fs::remove(name);
    }
    // Every row of the load table, the raw converter's included: a stand-in
    // that reads its file would wait on a pipe for ever.
    for (const std::string& ext : LoadImageFileExtensions()) {
      const std::string name = (dir / std::string(k.Name) + ext);
      fs::create_symlink(fs::path(dir.path) / k.Name, name);
      SCOPED_TRACE(name);
      TBitmap32 viaTable;
      viaTable.SetSize(2, 2);
      EXPECT_FALSE(LoadImageFile(name, viaTable));
      EXPECT_EQ(viaTable.Width(), 2);
      fs::remove(name);
    }
    TMemoryStream m;
    try {
      m.LoadFromFile((dir / k.Name));
      ADD_FAILURE() << "loaded";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message(), "Cannot open file \"" + (dir / k.Name) + "\". " + k.Reason);
    }
    TBitmap32 z;
    LoadZubImage((dir / k.Name), &z);
  }
  SetRawConverterFolder("");
  ::close(sock);
}

TEST(Loaders, FailedLoadsKeepThePictureAndRaise) {
  TTempDir dir;
  TBitmap32 good;
  FillBitmap(good, 40, 30, NoisePixels(40 * 30, 9));
  ASSERT_TRUE(SaveZubImage((dir / "good.zub"), &good));
  std::vector<uint8_t> damaged = ReadFileBytes((dir / "good.zub"));
  for (size_t i = 100; i < 140 && i < damaged.size(); ++i) damaged[i] ^= 0x5A;
  WriteFileBytes((dir / "damaged.zub"), damaged);
  WriteFileBytes((dir / "foreign.zub"), Bytes("not a picture"));
  WriteFileBytes((dir / "short.bmp"), Bytes("BM\x10\x00"));
  WriteFileBytes((dir / "short.jpg"), {0xFF, 0xD8, 0xFF});
  WriteFileBytes((dir / "short.ico"), {0, 0, 1, 0});
  TBoxes boxes;
  for (const char* name : {"damaged.zub", "foreign.zub", "short.bmp", "short.jpg", "short.ico"}) {
    SCOPED_TRACE(name);
    TBitmap32 b;
    FillBitmap(b, 3, 2, {1, 2, 3, 4, 5, 6});
    EXPECT_THROW(b.LoadFromFile((dir / name)), Exception);
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{1, 2, 3, 4, 5, 6}));
    // The picture class keeps its own picture too.
    TPicture picture;
    picture.LoadFromFile((dir / "good.zub"));
    EXPECT_THROW(picture.LoadFromFile((dir / name)), Exception);
    EXPECT_EQ(picture.Width(), 40);
    std::unique_ptr<TGraphic> g = FindFileFormat(fs::path(name).extension())->Create();
    TFileStream s((dir / name), TFileMode::fmOpenRead);
    EXPECT_THROW(g->LoadFromStream(s), Exception);
  }
  // The ZU3 class still shows its box with the reader's own text.
  EXPECT_EQ(boxes.Last().Caption, "img_zub");
  TBitmap32 back;
  back.LoadFromFile((dir / "good.zub"));
  EXPECT_EQ(PixelsOf(back), PixelsOf(good));
}

// Files of a few bytes declaring 16384 x 16384 pixels (1 GiB): refused fast,
// with memory bounded by what the file holds, not by what it claims.
TEST(Loaders, TinyFilesDeclaringHugePicturesFailFastAndSmall) {
  TTempDir dir;
  const uint8_t zub[12] = {'Z', 'U', '3', 0, 0x00, 0x40, 0x00, 0x40, 0, 0, 0, 0};
  WriteFileBytes((dir / "huge.zub"), std::vector<uint8_t>(zub, zub + 12));
  // A baseline JPEG header of 16383 x 16383 (the format's limit) with no data.
  TBitmap32 small;
  FillBitmap(small, 8, 8, std::vector<TColor32>(64, 0xFF808080u));
  std::vector<uint8_t> jpeg = EncodeJpeg(small.Bits(), 8, 8, 90, false);
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 0x3F, jpeg[i + 6] = 0xFF, jpeg[i + 7] = 0x3F, jpeg[i + 8] = 0xFF;
      break;
    }
  jpeg.resize(jpeg.size() - 40);
  WriteFileBytes((dir / "huge.jpg"), jpeg);
  for (const char* name : {"huge.zub", "huge.jpg"}) {
    SCOPED_TRACE(name);
    const TChildResult r = RunInChild([&] {
      std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak to what is in use now
      const int64_t before = MemoryBytes("VmRSS:");
      const auto start = std::chrono::steady_clock::now();
      TBoxes boxes;
      TBitmap32 b;
      try {
        b.LoadFromFile((dir / name));
        return false;
      } catch (const Exception&) {
      }
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      const int64_t grown = MemoryBytes("VmHWM:") - before;
      if (grown > (64 << 20) || ms.count() > 1000) {
        std::fprintf(stderr, "%s: %lld bytes, %lld ms\n", name, static_cast<long long>(grown),
                     static_cast<long long>(ms.count()));
        return false;
      }
      return b.Empty();
    });
    EXPECT_TRUE(r.Succeeded()) << r.ExitCode << " " << r.Signal;
  }
}

// Above 4 million pixels missing data is damage, not black rows; below, the
// short-file rule stands.
TEST(Loaders, ZubShortFileRuleStopsAtFourMegapixels) {
  TTempDir dir;
  struct TCase {
    int32_t W, H;
    bool Loads;
  } cases[] = {{2048, 2048, true}, {2048, 2049, false}};
  TBoxes boxes;
  for (const TCase& c : cases) {
    // Only the first row's pixels are in the stream.
    TBitmap32 row;
    FillBitmap(row, c.W, 1, NoisePixels(static_cast<size_t>(c.W), 4));
    TMemoryStream m;
    WriteZubStream(m, row);
    std::vector<uint8_t> bytes = m.Bytes();
    bytes[6] = static_cast<uint8_t>(c.H & 0xFF), bytes[7] = static_cast<uint8_t>(c.H >> 8);
    const std::string file = (dir / "rows" + std::to_string(c.H) + ".zub");
    WriteFileBytes(file, bytes);
    TBitmap32 b;
    LoadZubImage(file, &b);
    EXPECT_EQ(b.Empty(), !c.Loads) << c.H;
    if (c.Loads) {
      EXPECT_EQ(b.GetPixel(5, 0), row.GetPixel(5, 0));
      EXPECT_EQ(b.GetPixel(5, c.H - 1), 0xFF000000u);
    } else {
      EXPECT_EQ(boxes.Last().Text, "error reading " + file + " : Stream read error");
    }
  }
}
