// Document commands: open, save by extension with a backup, the save-changes
// question, new, close and revert.
#include "zub_document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "exif_reader.h"
#include "fsutils.h"
#include "img_clipboard.h"
#include "img_fileio.h"
#include "img_fsdither.h"
#include "img_j2k.h"
#include "img_loadfile.h"
#include "img_png.h"
#include "img_pxm.h"
#include "img_tif.h"
#include "img_wbmp.h"
#include "img_gif.h"
#include "img_zub.h"
#include "mru.h"
#include "platform_graphics.h"
#include "platform_jpeg.h"
#include "platform_messagebox.h"
#include "raw_image.h"
#include "raster_layers.h"
#include "steptrace.h"
#include "utilities.h"

namespace fs = std::filesystem;

namespace {

// With Transparent Background on, the picture becomes a palette PNG whose
// entry of the background colour is the transparent one; off, plain RGB.
bool WritePng(TZubDocument& Doc, const std::string& Name, const TBitmap32& B) {
  const bool Keyed = Doc.gTransparentBackground;
  SavePNGFromBitmap32(Name, &B, Keyed, Keyed, Keyed ? Doc.gBackgroundColor : 0, 9);
  return true;
}
bool WriteGif(TZubDocument& Doc, const std::string& Name, const TBitmap32& B) {
  SaveGIF(Name, &B, Doc.gGifDither);
  return true;
}
bool WriteZub(TZubDocument&, const std::string& Name, const TBitmap32& B) { return SaveZubImage(Name, &B); }
bool WriteJpg(TZubDocument& Doc, const std::string& Name, const TBitmap32& B) {
  return SaveJpeg(Name, B, Doc.gJpegQuality);
}
bool WritePpm(TZubDocument&, const std::string& Name, const TBitmap32& B) { return SavePPM(Name, &B); }
bool WritePgm(TZubDocument&, const std::string& Name, const TBitmap32& B) { return SavePGM(Name, &B); }
bool WriteTif(TZubDocument&, const std::string& Name, const TBitmap32& B) { return SaveBitmap32ToTiff(Name, &B); }
bool WriteJ2k(TZubDocument& Doc, const std::string& Name, const TBitmap32& B) {
  return SaveJ2KFile(Name, &B, Doc.gJ2kQuality, Doc.gJ2kFormat);
}
bool WriteWbmp(TZubDocument&, const std::string& Name, const TBitmap32& B) { return SaveWBMP(Name, &B); }
bool WriteBmp(TZubDocument& Doc, const std::string& Name, const TBitmap32& B) {
  return SaveBitmapAsBMP(Name, B, Doc.Editor().Ui());
}

// Tested top to bottom; the first row holding the extension wins. A row
// without a writer refuses the extension with "please choose another
// format !" rather than writing a BMP under a name that promises another
// format, which no reader of that format could open.
const TSaveRow kSaveRows[] = {
    {{".png"}, WritePng},
    {{".zub"}, WriteZub},
    {{".gif"}, WriteGif},
    {{".tif", ".tiff"}, WriteTif},
    {{".jpg", ".jpeg"}, WriteJpg},
    // Camera raw files and 1-bit maps are read only.
    {{".crw", ".nef", ".raw", ".pbm"}, nullptr},
    // A BMP under these names would not be what the name promises.
    {{".ico", ".emf", ".wmf"}, nullptr},
    {{".ppm"}, WritePpm},
    {{".pgm"}, WritePgm},
    {{".jp2", ".j2k", ".jpc", ".pnm", ".ras"}, WriteJ2k},
    {{".wbm", ".wbmp"}, WriteWbmp},
};

bool ReadWholeFile(const std::string& Name, std::string& Bytes) {
  std::ifstream in(Name, std::ios::binary);
  if (!in) return false;
  Bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool Exists(const std::string& Name) {
  std::error_code ec;
  return fs::is_regular_file(Name, ec);
}

void RemoveQuietly(const std::string& Name) {
  std::error_code ec;
  fs::remove(Name, ec);
}

// Restores the cursor however the save ends.
class TBusyCursor {
 public:
  explicit TBusyCursor(EditorUi& Ui) : ui_(Ui) { ui_.SetScreenCursor(crHourGlass); }
  ~TBusyCursor() { ui_.SetScreenCursor(crDefault); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;

 private:
  EditorUi& ui_;
};

}  // namespace

const TSaveRow* FindSaveRow(const std::string& Ext) {
  for (const TSaveRow& Row : kSaveRows)
    for (const char* E : Row.Extensions)
      if (E != nullptr && Ext == E) return &Row;
  return nullptr;
}

std::string BackupFileName(const std::string& FileName) {
  const std::string Ext = LowerFileExtension(FileName);
  if (Ext.empty()) return FileName + ".~";
  const std::string Base = FileName.substr(0, FileName.size() - Ext.size());
  return Base + ".~" + FileName.substr(Base.size() + 1);
}

std::string AbsoluteFileName(const std::string& FileName) {
  if (FileName.empty()) return FileName;
  std::error_code ec;
  fs::path P = fs::absolute(fs::path(FileName), ec);
  if (ec) return FileName;
  return P.lexically_normal().string();
}

bool SaveJpeg(const std::string& FileName, const TBitmap32& Bitmap, int32_t Quality) {
  TJPEGImage Jpeg;
  Jpeg.SetPixels(Bitmap.Width(), Bitmap.Height(), Bitmap.Bits());
  Jpeg.SetCompressionQuality(Quality);
  Jpeg.SetProgressiveEncoding(false);
  Jpeg.Compress();
  const std::vector<uint8_t>& Encoded = Jpeg.Data();
  SaveFileAtomically(FileName, [&](TStream& Out) {
    if (gHasExif && gExifData)
      gExifData->WriteJpegWithMetadataTo(Encoded, Out, Jpeg.Height(), Jpeg.Width(), true);
    else
      Out.WriteBuffer(Encoded.data(), Encoded.size());
  });
  return true;
}

bool SaveBitmapAsBMP(const std::string& FileName, const TBitmap32& Bitmap, EditorUi& Ui) {
  const int32_t W = Bitmap.Width(), H = Bitmap.Height();
  TPlatformBitmap Out;
  Out.SetSize(W, H);
  const TColor32* Src = Bitmap.Bits();
  const size_t N = static_cast<size_t>(W) * static_cast<size_t>(H);
  if (CountColors(&Bitmap) < 3 && Ui.MessageBox("Save as B&W 1-bit bitmap ?", MB_YESNO | MB_ICONQUESTION) == IDYES) {
    Out.SetPixelFormat(TPixelFormat::pf1bit);
    Out.SetPalette({0xFF000000u, 0xFFFFFFFFu});
    // A threshold on intensity rather than one bit of green: black and
    // white come out the same, and a light grey is not taken for black.
    uint32_t* Dst = Out.Bits();
    for (size_t i = 0; i < N; ++i) Dst[i] = IntensityOf(Src[i]) >= 128 ? 0xFFFFFFFFu : 0xFF000000u;
  } else {
    uint32_t* Dst = Out.Bits();
    for (size_t i = 0; i < N; ++i) Dst[i] = Src[i] | 0xFF000000u;
    Out.SetPixelFormat(TPixelFormat::pf24bit);
  }
  SaveFileAtomically(FileName, [&](TStream& S) { Out.SaveToStream(S); });
  return true;
}

TZubDocument::TZubDocument(TEditor& Editor) : fEditor(Editor) {}

TSaveWriter TZubDocument::WriterFor(const std::string& Ext) const {
  const TSaveRow* Row = FindSaveRow(Ext);
  return Row != nullptr ? Row->Write : WriteBmp;
}

void TZubDocument::ResetDocument() {
  if (fEditor.gLayerUndo) fEditor.gLayerUndo->Clear();
  if (fEditor.gImageUndo) fEditor.gImageUndo->Clear();
  TCustomImage32& View = fEditor.View();
  View.Bitmap()->SetSize(0, 0);
  // The work bitmap holds the picture before the last command (the write-back
  // swaps it out); every command fills it anew.
  if (fEditor.gWork) fEditor.gWork->SetSize(0, 0);
  fEditor.gSelectedLayer = nullptr;
  fEditor.gSelection = nullptr;
  View.Layers()->Clear();
  View.SetScale(1.0f);
  // The selection's size in the status bar went with the picture.
  fEditor.Ui().SetStatusText(1, "");
  // The metadata belong to the picture they came with: a new or pasted
  // image saved as JPEG must not carry another photo's EXIF (its place,
  // its camera) along. Opening reads the new file's metadata afterwards.
  gExifData.reset();
  gHasExif = false;
}

void TZubDocument::ReportMissing(const std::string& FileName) {
  fEditor.Ui().MessageBox("file " + FileName + " does not exist !", MB_ICONWARNING);
}

bool TZubDocument::OpenImageFile(const std::string& FileName) {
  // The file is read before the document is reset: one that is missing or
  // cannot be read leaves the picture, its name, its undo steps and its
  // metadata as they were, or the empty window as it was.
  const std::string Name = AbsoluteFileName(FileName);
  if (!Exists(Name)) {
    ReportMissing(FileName);
    return false;
  }
  try {
    // The work bitmap is scratch between commands, and the blocks kept for
    // the next command are for this picture's size: neither need be held
    // while a second picture is read beside the first.
    if (fEditor.gWork) fEditor.gWork->SetSize(0, 0);
    ReservePixelBlocks(0, 0);
    TBitmap32 Loaded;
    {
      TBusyCursor Busy(fEditor.Ui());
      // The loader replaces the metadata only when it read the picture.
      if (!LoadImageFile(Name, Loaded)) return false;
    }
    std::unique_ptr<TimgData> Metadata = std::move(gExifData);
    const bool HasMetadata = gHasExif;
    ResetDocument();
    gExifData = std::move(Metadata);
    gHasExif = HasMetadata;
    gTransparentBackground = false;
    Bitmap().AdoptPixels(Loaded);
    fEditor.gFileName = Name;
    fEditor.gFileSize = FileSizeOf(Name);
    SaveFolder = fs::path(Name).parent_path().string();
    if (Recent != nullptr) Recent->AddFile(Name);
    TraceStep("recent-file-added");
    fEditor.ShowDocument();
    TraceStep("document-shown");
    return true;
  } catch (const std::exception& E) {
    fEditor.Ui().ExceptionBox(E, "on image " + Name + " open");
  }
  return false;
}

// Keeps the file under Name as the ".~" copy Backup: the file itself, by a
// second link, so the copy has its rights, owner and time, and the atomic
// save then gives Name a new file; where links cannot be made, a copy that
// is never readable by more people than the original.
static bool KeepBackup(const std::string& Name, const std::string& Backup, const std::string& Original) {
  if (::linkat(AT_FDCWD, Name.c_str(), AT_FDCWD, Backup.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  struct stat St;
  if (::stat(Name.c_str(), &St) != 0) return false;
  const int Fd = ::open(Backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (Fd < 0) return false;
  ::close(Fd);
  // The atomic save keeps the rights of the file it replaces: 0600 here.
  try {
    SaveFileAtomically(Backup, [&](TStream& S) { S.WriteBuffer(Original.data(), Original.size()); });
  } catch (...) {
    RemoveQuietly(Backup);
    throw;
  }
  static_cast<void>(::chmod(Backup.c_str(), St.st_mode & 07777));
  return true;
}

bool TZubDocument::WriteWithBackup(const std::string& Name, TSaveWriter Write) {
  // Every writer replaces the file through the atomic save, so the file keeps
  // its old contents under its name until the new ones are complete: that is
  // the backup a save needs, and unlike a renamed file it leaves nothing
  // behind when the save is killed. The ".~" copy is made only when the user
  // keeps backups; the old bytes are also held here, for a writer that
  // damaged the file in place.
  const std::string Backup = BackupFileName(Name);
  std::string Original;
  const bool HadFile = Exists(Name);
  if (HadFile && !ReadWholeFile(Name, Original)) throw EFOpenError("Cannot open file \"" + Name + "\"");
  // Whatever stood under the backup name goes first, as it always has: after
  // the save a ".~" file is this save's copy of the old file, or nothing.
  RemoveQuietly(Backup);
  const bool Kept = HadFile && gCreateBackup && KeepBackup(Name, Backup, Original);
  bool Ok = false;
  try {
    Ok = Write(*this, Name, Bitmap()) && Exists(Name);
  } catch (...) {
    if (HadFile) PutBackOriginal(Name, Original, Kept ? Backup : std::string());
    RemoveQuietly(Backup);
    throw;
  }
  if (HadFile && !Ok) PutBackOriginal(Name, Original, Kept ? Backup : std::string());
  // A failed save leaves the old file under its name and no copy beside it.
  if (!Ok || !gCreateBackup) RemoveQuietly(Backup);
  return Ok;
}

void TZubDocument::PutBackOriginal(const std::string& Name, const std::string& Original, const std::string& Backup) {
  std::string Now;
  if (ReadWholeFile(Name, Now) && Now == Original) return;
  // The kept copy is the old file itself, rights and time included, unless
  // the writer damaged it in place through the shared link. A link under
  // Name stays a link: the atomic save writes where it points.
  std::string Kept;
  std::error_code ec;
  if (!Backup.empty() && ReadWholeFile(Backup, Kept) && Kept == Original && !fs::is_symlink(Name, ec)) {
    RemoveQuietly(Name);
    fs::rename(Backup, Name, ec);
    if (!ec) return;
  }
  try {
    SaveFileAtomically(Name, [&](TStream& S) { S.WriteBuffer(Original.data(), Original.size()); });
  } catch (const std::exception&) {
    // The writer's own failure is what the user hears about.
  }
}

bool TZubDocument::SaveImageFile(const std::string& FileName) {
  if (FileName.empty()) return false;
  EditorUi& Ui = fEditor.Ui();
  // The name is complete before anyone is asked about overwriting it.
  std::string Name = AbsoluteFileName(FileName);
  std::string Ext = LowerFileExtension(Name);
  if (Ext.empty()) {
    Ext = ".jpg";
    Name += Ext;
  }
  if (Name != fEditor.gFileName && Exists(Name) &&
      Ui.MessageBox("Overwrite existing " + Name + " ?", MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
    return false;
  const TSaveRow* Row = FindSaveRow(Ext);
  // Every camera-raw name the open dialog offers is read only, not just the
  // three of the table: a BMP written under a raw photo's name would replace
  // the photo with a file no raw reader opens.
  if ((Row != nullptr && Row->Write == nullptr) || (Row == nullptr && IsRawImageExtension(Ext))) {
    Ui.MessageBox("please choose another format !", MB_ICONWARNING);
    return false;
  }
  if (Bitmap().Empty()) {
    Ui.MessageBox("the image is empty, nothing to save !", MB_ICONWARNING);
    return false;
  }
  TBusyCursor Busy(Ui);
  try {
    if (!WriteWithBackup(Name, WriterFor(Ext))) return false;
    fEditor.gFileName = Name;
    fEditor.gFileSize = FileSizeOf(Name);
    if (Recent != nullptr) Recent->AddFile(Name);
    if (fEditor.gLayerUndo) fEditor.gLayerUndo->Clear();
    if (fEditor.gImageUndo) fEditor.gImageUndo->Clear();
    fEditor.UpdateCaption();
    return true;
  } catch (const std::exception& E) {
    Ui.ExceptionBox(E, "on image " + Name + " save");
  }
  return false;
}

bool TZubDocument::QuerySaveChanges() {
  if (RemovePoints) RemovePoints();
  TCustomImage32& View = fEditor.View();
  const int32_t Frame = fEditor.gSelection ? 1 : 0;
  if (View.Layers()->Count() > Frame) {
    const int Answer = fEditor.Ui().MessageBox("Flatten all layers on to image " + fEditor.gFileName + " ?",
                                               MB_YESNOCANCEL | MB_ICONQUESTION);
    if (Answer == IDCANCEL) return false;
    if (Answer == IDYES && FlattenAllLayers) FlattenAllLayers();
  }
  // A window with no picture has nothing to save, whatever its stores hold.
  if (fEditor.gImageUndo && fEditor.gImageUndo->HasUndo() && !View.Bitmap()->Empty()) {
    // Every way to a picture names it (a file, or "untitled"), and the
    // picture's commands do not run while the window shows none.
    const std::string& Name = fEditor.gFileName;
    const int Answer = fEditor.Ui().MessageBox("Save changes to " + Name + " ?", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (Answer == IDCANCEL) return false;
    // The document stays as it is when the file could not be written; the
    // writer or the refusal has told why.
    if (Answer == IDYES && !SaveImageFile(Name)) return false;
    // No keeps the undo steps: whoever asked drops the picture next, and an
    // open that then fails leaves it, still marked changed.
  }
  fEditor.gLastActionTag = 0;
  return true;
}

void TZubDocument::NewImage(int32_t Width, int32_t Height) {
  ResetDocument();
  TBitmap32& B = Bitmap();
  B.SetSize(Width, Height);
  // The background is a platform colour 0x00BBGGRR.
  const uint32_t C = static_cast<uint32_t>(gBackgroundColor);
  B.Clear(0xFF000000u | (C & 0xFF) << 16 | (C & 0xFF00) | (C >> 16 & 0xFF));
  fEditor.gFileName = "untitled";
  fEditor.gFileSize = 0;
  fEditor.ShowDocument();
}

void TZubDocument::NewFromClipboard() {
  ResetDocument();
  PasteBitmapWithAlpha(&Bitmap());
  // With nothing on the clipboard the window stays empty: a picture of no
  // size would show the picture's menus over nothing.
  if (Bitmap().Empty()) return;
  fEditor.gFileName = "untitled";
  fEditor.gFileSize = 0;
  fEditor.ShowDocument();
}

bool TZubDocument::CloseImage() {
  if (!QuerySaveChanges()) return false;
  ResetDocument();
  fEditor.gFileName.clear();
  fEditor.gFileSize = 0;
  fEditor.ReserveForNextCommand();
  EditorUi& Ui = fEditor.Ui();
  Ui.SetMenuVisible("Image1", false);
  Ui.SetMenuVisible("Colors1", false);
  Ui.SetMenuVisible("Layers1", false);
  if (OnClosed) OnClosed();
  fEditor.UpdateCaption();
  return true;
}

bool TZubDocument::Revert() {
  // An untitled image has no file to go back to; reverting it would only
  // throw the picture away.
  if (!HasFile()) return false;
  if (!QuerySaveChanges()) return false;
  return OpenImageFile(fEditor.gFileName);
}

bool TZubDocument::Save() {
  if (!HasFile()) return false;
  return SaveImageFile(fEditor.gFileName);
}
