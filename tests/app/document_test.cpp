// The document commands without a window: every save path (the table by
// extension, refusals, overwrite question, backup, writers that fail or throw
// after damaging the file, a disk that fills up), open, and the save-changes
// question. A save that cannot be completed must leave the user's file
// byte-identical and the document unsaved.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "../editor/fake_editor_ui.h"
#include "../formats/save_harness.h"
#include "exif_reader.h"
#include "img_j2k.h"
#include "img_loadfile.h"
#include "img_pxm.h"
#include "platform_exceptions.h"
#include "platform_jpeg.h"
#include "raster_image.h"
#include "zub_document.h"

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& Name, const std::string& Bytes) {
  std::ofstream(Name, std::ios::binary | std::ios::trunc) << Bytes;
}

// A window that answers its boxes from a script (the default button when
// the script is used up).
struct TScriptedUi : TFakeEditorUi {
  std::deque<int> Answers;
  bool ThrowOnShow = false;  // showing a document fails
  void SetMenuVisible(const std::string& Item, bool V) override {
    if (ThrowOnShow && V) throw EOutOfResources("no room for the menus");
    TFakeEditorUi::SetMenuVisible(Item, V);
  }
  int MessageBox(const std::string& Text, uint32_t Flags) override {
    TFakeEditorUi::MessageBox(Text, Flags);
    if (Answers.empty()) return MessageBoxDefaultButton(Flags);
    const int A = Answers.front();
    Answers.pop_front();
    return A;
  }
};

// A document whose writer can be replaced by one that fails on purpose.
struct TTestDocument : TZubDocument {
  using TZubDocument::TZubDocument;
  TSaveWriter Override = nullptr;
  TSaveWriter WriterFor(const std::string& Ext) const override {
    return Override != nullptr ? Override : TZubDocument::WriterFor(Ext);
  }
};

// Writers that damage the file in place the way a careless writer would.
bool GarbageThenFail(TZubDocument&, const std::string& Name, const TBitmap32&) {
  WriteBytes(Name, "half a picture");
  return false;
}
bool GarbageThenThrow(TZubDocument&, const std::string& Name, const TBitmap32&) {
  WriteBytes(Name, "half");
  throw EWriteError("Stream write error");
}
bool RemoveThenFail(TZubDocument&, const std::string& Name, const TBitmap32&) {
  fs::remove(Name);
  return false;
}
bool RefuseUntouched(TZubDocument&, const std::string&, const TBitmap32&) { return false; }

TColor32 Pattern(int32_t X, int32_t Y) {
  return 0xFF000000u | static_cast<uint32_t>(X * 37 & 0xFF) << 16 | static_cast<uint32_t>(Y * 53 & 0xFF) << 8 |
         static_cast<uint32_t>((X ^ Y) * 11 & 0xFF);
}

class Document : public ::testing::Test {
 protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/vemra-doc-XXXXXX";
    Dir = mkdtemp(Tmpl);
    OldCwd = fs::current_path();
    fs::current_path(Dir);
  }
  void TearDown() override {
    fs::current_path(OldCwd);
    fs::remove_all(Dir);
    gExifData.reset();
    gHasExif = false;
  }
  std::string Path(const std::string& Name) const { return Dir + "/" + Name; }

  void MakePicture(int32_t W, int32_t H, TColor32 (*Fill)(int32_t, int32_t) = Pattern) {
    View.Bitmap()->SetSize(W, H);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) View.Bitmap()->SetPixel(x, y, Fill(x, y));
    Ed.gFileName = "untitled";
  }
  // The document changed into opaque noise of W x H, with an undo step.
  void MakeNoise(int32_t W, int32_t H, uint32_t Seed) {
    View.Bitmap()->SetSize(W, H);
    Modify();
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        Seed = Seed * 1664525u + 1013904223u;
        View.Bitmap()->SetPixel(x, y, 0xFF000000u | Seed >> 8);
      }
  }
  // A change through the command engine, so the undo store holds a step.
  void Modify() {
    Ed.ApplyAction([](TEditor& E, const TActionArgument&) {
      E.gWork->SetPixel(0, 0, 0xFF123456u);
      return arWriteBack;
    }, {}, true);
  }
  // A saved picture that is the document.
  std::string SavedOriginal(const std::string& Name) {
    MakePicture(8, 6);
    EXPECT_TRUE(Doc.SaveImageFile(Path(Name)));
    Ui.Boxes.clear();
    return ReadBytes(Path(Name));
  }

  std::string Dir;
  fs::path OldCwd;
  TImage32 View;
  TScriptedUi Ui;
  TEditor Ed{View, Ui, 64};
  TTestDocument Doc{Ed};
};

}  // namespace

TEST_F(Document, BackupNameReplacesTheExtensionsDot) {
  EXPECT_EQ(BackupFileName("/a/b.jpg"), "/a/b.~jpg");
  EXPECT_EQ(BackupFileName("/a.d/b.tar.zub"), "/a.d/b.tar.~zub");
  EXPECT_EQ(BackupFileName("/a.d/b"), "/a.d/b.~");
}

// Every writer of the table, then the file opened again by its extension.
TEST_F(Document, EveryFormatRoundTripsThroughTheSaveTable) {
  struct Row {
    const char* Name;
    const char* Magic;
    TColor32 (*Kept)(TColor32 Source);
  };
  TColor32 (*Same)(TColor32) = [](TColor32 S) { return S; };
  TColor32 (*Grey)(TColor32) = [](TColor32 S) { return GrayArgb(PnmGrey(S)); };
  TColor32 (*BlackWhite)(TColor32) = [](TColor32 S) -> TColor32 { return IntensityOf(S) >= 127 ? 0xFFFFFFFFu : 0xFF000000u; };
  TColor32 (*WebCube)(TColor32) = [](TColor32 S) -> TColor32 {
    auto Level = [](uint32_t C) { return (C + 3) / 51 * 51; };
    return 0xFF000000u | Level(S >> 16 & 255) << 16 | Level(S >> 8 & 255) << 8 | Level(S & 255);
  };
  const Row Rows[] = {{"p.gif", "GIF87a", WebCube}, {"p.png", "\x89PNG", Same},   {"p.zub", "ZU3", Same},      {"p.ppm", "P6\n", Same},
                      {"p.bmp", "BM", Same},       {"p.jpg", "\xFF\xD8", Same}, {"p.JPEG", "\xFF\xD8", Same},
                      {"p.pgm", "P5\n", Grey},     {"p.wbmp", "\0\0\x17\x11", BlackWhite}};
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Name);
    MakePicture(23, 17);
    TBitmap32 Source;
    Source.Assign(View.Bitmap());
    ASSERT_TRUE(Doc.SaveImageFile(R.Name));
    EXPECT_EQ(Ed.gFileName, Path(R.Name));
    EXPECT_EQ(Ed.gFileSize, static_cast<int64_t>(fs::file_size(Path(R.Name))));
    const size_t MagicSize = R.Name == std::string("p.wbmp") ? 4 : std::strlen(R.Magic);
    EXPECT_EQ(ReadBytes(Path(R.Name)).compare(0, MagicSize, std::string(R.Magic, MagicSize)), 0);
    EXPECT_FALSE(fs::exists(BackupFileName(Path(R.Name))));
    ASSERT_TRUE(Doc.OpenImageFile(Path(R.Name)));
    TBitmap32& B = *View.Bitmap();
    ASSERT_EQ(B.Width(), 23);
    ASSERT_EQ(B.Height(), 17);
    // A JPEG must be what the encoder gives at the menu's quality (100).
    TJpegPixels Reference;
    if (R.Magic[0] == '\xFF') {
      const std::vector<uint8_t> J = EncodeJpeg(Source.Bits(), 23, 17, 100);
      DecodeJpeg(J.data(), J.size(), Reference);
    }
    int Mismatches = 0;
    for (int32_t y = 0; y < 17; ++y)
      for (int32_t x = 0; x < 23; ++x) {
        const TColor32 Want = Reference.Bits ? Reference.Bits.get()[y * 23 + x] : R.Kept(Source.GetPixel(x, y));
        Mismatches += (B.GetPixel(x, y) | 0xFF000000u) != (Want | 0xFF000000u);
      }
    EXPECT_EQ(Mismatches, 0);
  }
  EXPECT_TRUE(Ui.Boxes.empty()) << Ui.Boxes.front().Text;
  // The GIF > Dither setting diffuses the error instead.
  MakePicture(23, 17);
  Doc.gGifDither = true;
  ASSERT_TRUE(Doc.SaveImageFile("d.gif"));
  EXPECT_NE(ReadBytes(Path("d.gif")), ReadBytes(Path("p.gif")));
  EXPECT_EQ(ReadBytes(Path("d.gif")).substr(0, 6), "GIF87a");
  // Any other extension is written as a 24-bit BMP.
  MakePicture(23, 17);
  ASSERT_TRUE(Doc.SaveImageFile("p.xyz"));
  const std::string Any = ReadBytes(Path("p.xyz"));
  EXPECT_EQ(Any.substr(0, 2), "BM");
  EXPECT_EQ(uint8_t(Any[28]), 24);
}

// Two colours on either side of the threshold: intensity 128 is white, 127
// black; a row of 9 pixels takes 2 bytes of bits and 2 of padding.
TEST_F(Document, TwoColourBmpAsksForOneBitAndThresholdsAt128) {
  MakePicture(9, 2, [](int32_t X, int32_t Y) -> TColor32 { return (X + Y) % 3 == 0 ? 0xFF808080u : 0xFF7F7F7Fu; });
  Ui.Answers = {IDYES};
  ASSERT_TRUE(Doc.SaveImageFile("bw.bmp"));
  ASSERT_EQ(Ui.Boxes.size(), 1u);
  EXPECT_EQ(Ui.Boxes[0].Text, "Save as B&W 1-bit bitmap ?");
  EXPECT_EQ(Ui.Boxes[0].Flags, MB_YESNO | MB_ICONQUESTION);
  const std::string F = ReadBytes(Path("bw.bmp"));
  auto U16 = [&](size_t At) { return uint8_t(F[At]) | uint8_t(F[At + 1]) << 8; };
  auto U32 = [&](size_t At) { return uint32_t(U16(At)) | uint32_t(U16(At + 2)) << 16; };
  ASSERT_EQ(U16(28), 1);  // bits per pixel
  const uint32_t Off = U32(10);
  ASSERT_EQ(F.size(), Off + 2 * 4);
  // Palette entry 1 is white.
  EXPECT_EQ(U32(54) & 0xFFFFFF, 0u);
  EXPECT_EQ(U32(58) & 0xFFFFFF, 0xFFFFFFu);
  for (int32_t y = 0; y < 2; ++y) {
    const size_t Row = Off + static_cast<size_t>(1 - y) * 4;  // bottom-up
    for (int32_t x = 0; x < 9; ++x) {
      const bool Bit = (uint8_t(F[Row + x / 8]) >> (7 - x % 8)) & 1;
      EXPECT_EQ(Bit, (x + y) % 3 == 0) << x << "," << y;
    }
    EXPECT_EQ(F[Row + 2], 0);
    EXPECT_EQ(F[Row + 3], 0);
  }
  Ui.Answers = {IDNO};
  ASSERT_TRUE(Doc.SaveImageFile("rgb.bmp"));
  const std::string G = ReadBytes(Path("rgb.bmp"));
  EXPECT_EQ(uint8_t(G[28]), 24);
}

TEST_F(Document, RefusedNamesAndEmptyDocumentsWriteNothing) {
  MakePicture(4, 4);
  for (const char* Name : {"x.crw", "x.NEF", "x.raw", "x.dng", "x.CR2", "x.pbm", "x.ico", "x.emf", "x.wmf"}) {
    SCOPED_TRACE(Name);
    Ui.Boxes.clear();
    EXPECT_FALSE(Doc.SaveImageFile(Name));
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "please choose another format !");
    EXPECT_EQ(Ui.Boxes[0].Flags, MB_ICONWARNING);
    EXPECT_FALSE(fs::exists(Path(Name)));
    EXPECT_EQ(Ed.gFileName, "untitled");
  }
  // An existing file under a refused name stays as it was.
  WriteBytes(Path("old.pbm"), "P1\n1 1\n1\n");
  Ui.Answers = {IDOK};
  EXPECT_FALSE(Doc.SaveImageFile("old.pbm"));
  EXPECT_EQ(ReadBytes(Path("old.pbm")), "P1\n1 1\n1\n");
  View.Bitmap()->SetSize(0, 0);
  Ui.Boxes.clear();
  EXPECT_FALSE(Doc.SaveImageFile("empty.png"));
  ASSERT_EQ(Ui.Boxes.size(), 1u);
  EXPECT_FALSE(fs::exists(Path("empty.png")));
}

// The TIFF and JPEG 2000 rows write files their readers give back; the JPEG
// 2000 row takes the document's grey mode.
TEST_F(Document, TiffAndJpeg2000RowsWriteTheirFormats) {
  SetJ2KModuleFolder(VEMRA_BIN_DIR);
  MakePicture(7, 5);
  struct {
    const char* Name;
    int32_t Format;
    bool Grey;
  } cases[] = {{"t.tif", 3, false}, {"t.TIFF", 3, false}, {"t.jp2", 3, false}, {"t.ras", 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Doc.gJ2kFormat = c.Format;
    ASSERT_TRUE(Doc.SaveImageFile(c.Name));
    EXPECT_EQ(Ed.gFileName, Path(c.Name));
    TBitmap32 Back;
    ASSERT_TRUE(LoadImageFile(Path(c.Name), Back));
    ASSERT_EQ(Back.Width(), 7);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 7; ++x) {
        const TColor32 P = View.Bitmap()->GetPixel(x, y);
        EXPECT_EQ(Back.GetPixel(x, y), c.Grey ? GrayArgb(IntensityOf(P)) : (P | 0xFF000000u));
      }
  }
  EXPECT_TRUE(Ui.Boxes.empty());
  SetJ2KModuleFolder("");
}

// The name gets ".jpg" before anyone is asked about overwriting it.
TEST_F(Document, NameIsCompletedBeforeTheOverwriteQuestion) {
  MakePicture(5, 5);
  WriteBytes(Path("pic.jpg"), "precious");
  Ui.Answers = {IDCANCEL};
  EXPECT_FALSE(Doc.SaveImageFile("pic"));
  ASSERT_EQ(Ui.Boxes.size(), 1u);
  EXPECT_EQ(Ui.Boxes[0].Text, "Overwrite existing " + Path("pic.jpg") + " ?");
  EXPECT_EQ(Ui.Boxes[0].Flags, MB_OKCANCEL | MB_ICONQUESTION);
  EXPECT_EQ(ReadBytes(Path("pic.jpg")), "precious");
  EXPECT_FALSE(fs::exists(Path("pic")));
  Ui.Answers = {IDOK};
  ASSERT_TRUE(Doc.SaveImageFile("pic"));
  EXPECT_EQ(ReadBytes(Path("pic.jpg")).substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(Ed.gFileName, Path("pic.jpg"));
  EXPECT_FALSE(fs::exists(Path("pic.~jpg")));
  // Under its own name the document is saved without a question.
  Ui.Boxes.clear();
  ASSERT_TRUE(Doc.SaveImageFile(Path("pic.jpg")));
  EXPECT_TRUE(Ui.Boxes.empty());
}

TEST_F(Document, CreateBackupKeepsThePreviousFile) {
  const std::string Old = SavedOriginal("a.png");
  // A private picture keeps a private backup.
  fs::permissions(Path("a.png"), fs::perms::owner_read | fs::perms::owner_write);
  WriteBytes(Path("b.~png"), "a backup of another b.png");
  Doc.gCreateBackup = true;
  Modify();
  ASSERT_TRUE(Doc.SaveImageFile(Ed.gFileName));
  EXPECT_EQ(ReadBytes(Path("a.~png")), Old);
  EXPECT_EQ(fs::status(Path("a.~png")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_NE(ReadBytes(Path("a.png")), Old);
  EXPECT_FALSE(Ed.gImageUndo->HasUndo());
  // A new file has nothing to back up: what stood under its backup name goes.
  ASSERT_TRUE(Doc.SaveImageFile(Path("b.png")));
  EXPECT_FALSE(fs::exists(Path("b.~png")));
}

// Writers that fail after damaging the file, or throw, or refuse: the original
// comes back byte for byte, no backup (kept or not) or temporary file is
// left, and the document keeps its name and its undo steps.
TEST_F(Document, FailedSavesRestoreTheOriginal) {
  struct Row {
    const char* What;
    TSaveWriter Writer;
    bool Reported;  // an exception box is expected
  };
  for (const bool Backups : {false, true})
  for (const Row& R : {Row{"fails", GarbageThenFail, false}, Row{"throws", GarbageThenThrow, true},
                       Row{"removes", RemoveThenFail, false}, Row{"refuses", RefuseUntouched, false}}) {
    SCOPED_TRACE(std::string(R.What) + (Backups ? " with backups" : ""));
    Doc.gCreateBackup = Backups;
    const std::string Old = SavedOriginal("keep.png");
    const std::string Name = Ed.gFileName;
    Modify();
    Ui.Exceptions.clear();
    Doc.Override = R.Writer;
    EXPECT_FALSE(Doc.SaveImageFile(Name));
    Doc.Override = nullptr;
    EXPECT_EQ(ReadBytes(Name), Old);
    EXPECT_EQ(Ed.gFileName, Name);
    EXPECT_TRUE(Ed.gImageUndo->HasUndo());
    ASSERT_EQ(Ui.Exceptions.size(), R.Reported ? 1u : 0u);
    if (R.Reported) {
      EXPECT_EQ(Ui.Exceptions[0].ClassName, "EWriteError");
      EXPECT_EQ(Ui.Exceptions[0].Place, "on image " + Name + " save");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
    // The save-changes question keeps the document when the save failed.
    Doc.Override = GarbageThenFail;
    Ui.Answers = {IDYES};
    EXPECT_FALSE(Doc.QuerySaveChanges());
    Doc.Override = nullptr;
    EXPECT_TRUE(Ed.gImageUndo->HasUndo());
    EXPECT_EQ(ReadBytes(Name), Old);
    fs::remove(Name);
  }
}

// A child whose files may not grow beyond 64 KiB saves a picture that needs
// more over a small one: the write fails, the original is untouched.
TEST_F(Document, SaveThatRunsOutOfSpaceLeavesTheOriginal) {
  const std::string Old = SavedOriginal("full.png");
  ASSERT_LT(Old.size(), 4096u);
  const std::string Name = Ed.gFileName;
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    struct rlimit L = {64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &L);
    std::signal(SIGXFSZ, SIG_IGN);
    // Noise does not compress: about 260 KB of PNG.
    MakeNoise(256, 256, 12345);
    const bool Saved = Doc.SaveImageFile(Name);
    const bool Unsaved = !Saved && Ed.gFileName == Name && Ed.gImageUndo->HasUndo() && !Ui.Exceptions.empty();
    _exit(Unsaved ? 0 : 1);
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0);
  EXPECT_EQ(ReadBytes(Name), Old);
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

// Saves killed at random moments: the file is the old one or the new one,
// and no ".~" copy is left beside it unless backups are kept; a copy an
// earlier killed save left goes with the next save.
TEST_F(Document, KilledSavesLeaveNoBackupBehind) {
  const std::string Old = SavedOriginal("killed.png");
  const std::string Name = Ed.gFileName;
  MakeNoise(160, 120, 99);
  // What a save that is not interrupted writes.
  ASSERT_TRUE(Doc.SaveImageFile(Name));
  const std::string New = ReadBytes(Name);
  std::string Failure;
  const int Cut = save_harness::KillSaversAtRandomMoments(
      Name, std::vector<uint8_t>(Old.begin(), Old.end()), std::vector<uint8_t>(New.begin(), New.end()),
      [&](const std::string& Target) { Doc.SaveImageFile(Target); }, 30, 6000, Failure);
  EXPECT_EQ(Failure, "");
  EXPECT_GT(Cut, 0);

  WriteBytes(BackupFileName(Name), Old);
  ASSERT_TRUE(Doc.SaveImageFile(Name));
  EXPECT_FALSE(fs::exists(BackupFileName(Name)));
}

// A missing file opens nothing: false, its box, and the document as it was
// (picture, name, undo steps, metadata); the window's own test drives
// the files that cannot be read. A failure after the read names the place of
// the open.
TEST_F(Document, OpenThatFailsKeepsTheDocument) {
  SavedOriginal("good.png");
  ASSERT_TRUE(Doc.OpenImageFile("good.png"));
  Modify();
  const TimgData* Metadata = gExifData.get();
  ASSERT_NE(Metadata, nullptr);
  const auto Before = std::make_unique<TBitmap32>();
  Before->Assign(View.Bitmap());
  Ui.Boxes.clear();
  EXPECT_FALSE(Doc.OpenImageFile("nope.png"));
  EXPECT_TRUE(View.Bitmap()->Equal(Before.get()));
  EXPECT_EQ(Ed.gFileName, Path("good.png"));
  EXPECT_EQ(Ed.gImageUndo->UndoCount(), 1);
  EXPECT_EQ(gExifData.get(), Metadata);
  ASSERT_EQ(Ui.Boxes.size(), 1u);
  EXPECT_EQ(Ui.Boxes[0].Text, "file nope.png does not exist !");
  EXPECT_EQ(Ui.Boxes[0].Flags, MB_ICONWARNING);
  Ui.ThrowOnShow = true;
  EXPECT_FALSE(Doc.OpenImageFile("good.png"));
  ASSERT_EQ(Ui.Exceptions.size(), 1u);
  EXPECT_EQ(Ui.Exceptions[0].Place, "on image " + Path("good.png") + " open");
}

// A bare name is the file in the current folder, and the name kept is absolute.
TEST_F(Document, BareNameOpensFromTheCurrentFolder) {
  SavedOriginal("here.png");
  Doc.ResetDocument();
  ASSERT_TRUE(Doc.OpenImageFile("here.png"));
  EXPECT_EQ(Ed.gFileName, Path("here.png"));
  EXPECT_EQ(View.Bitmap()->Width(), 8);
  EXPECT_EQ(Doc.SaveFolder, Dir);
}

TEST_F(Document, SaveChangesQuestion) {
  MakePicture(4, 4);
  EXPECT_TRUE(Doc.QuerySaveChanges());  // nothing changed: no question
  EXPECT_TRUE(Ui.Boxes.empty());
  Modify();
  Ed.gLastActionTag = 100;
  Ui.Answers = {IDCANCEL};
  EXPECT_FALSE(Doc.QuerySaveChanges());
  EXPECT_EQ(Ui.Boxes.back().Text, "Save changes to untitled ?");
  EXPECT_EQ(Ui.Boxes.back().Flags, MB_YESNOCANCEL | MB_ICONQUESTION);
  EXPECT_TRUE(Ed.gImageUndo->HasUndo());
  EXPECT_EQ(Ed.gLastActionTag, 100);
  // Yes on an untitled image writes untitled.jpg in the current folder.
  Ui.Answers = {IDYES};
  EXPECT_TRUE(Doc.QuerySaveChanges());
  EXPECT_EQ(ReadBytes(Path("untitled.jpg")).substr(0, 2), "\xFF\xD8");
  EXPECT_FALSE(Ed.gImageUndo->HasUndo());
  EXPECT_EQ(Ed.gLastActionTag, 0);
  // No lets the picture go but keeps its steps: an open that then fails
  // leaves it still marked changed.
  Modify();
  Ui.Answers = {IDNO};
  EXPECT_TRUE(Doc.QuerySaveChanges());
  EXPECT_TRUE(Ed.gImageUndo->HasUndo());
  // A window with no picture asks nothing, whatever its stores hold.
  View.Bitmap()->SetSize(0, 0);
  Ui.Boxes.clear();
  EXPECT_TRUE(Doc.QuerySaveChanges());
  EXPECT_TRUE(Ui.Boxes.empty());
}

TEST_F(Document, CloseAndNew) {
  // The memory kept for the next command on a large picture (a block made
  // ready, the picture before the command) goes with it, closed or followed
  // by a small one.
  const auto ReserveReady = [] {
    for (int i = 0; i < 5000 && ReservedPixelBlocks() < 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ReservedPixelBlocks();
  };
  for (const bool Close : {true, false}) {
    SCOPED_TRACE(Close ? "closed" : "small picture");
    Doc.NewImage(2048, 2048);
    Modify();
    ASSERT_EQ(ReserveReady(), 1);
    ASSERT_EQ(Ed.gWork->Width(), 2048);
    Ui.Answers = {IDNO};  // not saved
    if (Close)
      EXPECT_TRUE(Doc.CloseImage());
    else
      Doc.NewImage(7, 5);
    EXPECT_EQ(ReservedPixelBlocks(), 0);
    EXPECT_TRUE(Ed.gWork->Empty());
  }
  Doc.gBackgroundColor = 0x00332211;  // 0x00BBGGRR
  Doc.NewImage(7, 5);
  EXPECT_EQ(Ed.gFileName, "untitled");
  EXPECT_EQ(View.Bitmap()->GetPixel(6, 4), 0xFF112233u);
  EXPECT_FALSE(Doc.Revert());  // nothing to go back to
  EXPECT_EQ(View.Bitmap()->Width(), 7);
  EXPECT_TRUE(Doc.CloseImage());
  EXPECT_TRUE(Ed.gFileName.empty());
  EXPECT_TRUE(View.Bitmap()->Empty());
  EXPECT_FALSE(Ui.MenuVisible["Image1"]);
}

// A JPEG that came with metadata keeps its segments in the next JPEG save.
TEST_F(Document, JpegSaveCarriesTheCommentSegmentOver) {
  MakePicture(16, 8);
  std::vector<uint8_t> J = EncodeJpeg(View.Bitmap()->Bits(), 16, 8, 90);
  const std::string Comment = "kept by vemra";
  std::string Com = "\xFF\xFE";
  Com += char(0);
  Com += char(Comment.size() + 2);
  Com += Comment;
  std::string File(J.begin(), J.end());
  File.insert(2, Com);
  WriteBytes(Path("in.jpg"), File);
  ASSERT_TRUE(Doc.OpenImageFile("in.jpg"));
  ASSERT_TRUE(gHasExif);
  ASSERT_TRUE(Doc.SaveImageFile("out.jpg"));
  const std::string Out = ReadBytes(Path("out.jpg"));
  EXPECT_NE(Out.find(Com), std::string::npos);
  TJpegPixels P;
  DecodeJpeg(reinterpret_cast<const uint8_t*>(Out.data()), Out.size(), P);
  EXPECT_EQ(P.Width, 16);
  EXPECT_EQ(P.Height, 8);
  // A new image is not that photo: its JPEG carries none of its segments.
  Doc.NewImage(16, 8);
  ASSERT_TRUE(Doc.SaveImageFile("new.jpg"));
  EXPECT_EQ(ReadBytes(Path("new.jpg")).find(Comment), std::string::npos);
}
