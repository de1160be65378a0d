#pragma once
// The main window's one document and the commands that replace, save and
// close it: open, new, new from the clipboard, revert, close, the
// save-changes question that guards every discarding of the image, and the
// save by extension with its backup file.
//
// The one idea to keep in mind: no save may lose a user's file. The name is
// completed before anyone is asked about overwriting it, every writer writes
// a temporary file that replaces the target only when complete, so the old
// file stays under its name until the new one is whole; a ".~ext" copy is
// made only when backups are kept ("backup"), and whenever the file under the
// name is no longer what it was and the writer did not succeed, the old
// contents are put back.
//
// Platform-free: the boxes go through the editor's EditorUi, so a test drives
// every path without a window.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "zub_main_engine.h"

class TMRU;
class TZubDocument;

// A writer of the save table: true when the file was written.
using TSaveWriter = bool (*)(TZubDocument& Doc, const std::string& FileName, const TBitmap32& Bitmap);

// One row of the save table: the extensions it serves (lower case, with the
// dot) and its writer; a row without a writer refuses the extensions with
// "please choose another format !".
struct TSaveRow {
  std::array<const char*, 8> Extensions;
  TSaveWriter Write;
};

// The row for a lower-cased extension; null for "any other" (the BMP writer).
const TSaveRow* FindSaveRow(const std::string& Ext);

// "a.jpg" -> "a.~jpg": the first "." of the extension becomes ".~"; a name
// without an extension gets ".~".
std::string BackupFileName(const std::string& FileName);

// A name made absolute against the current folder (a bare "photo.png" is the
// one in the folder the user started from).
std::string AbsoluteFileName(const std::string& FileName);

// The shell's own writers, through the atomic save. SaveJpeg encodes with
// Quality (0..100, baseline) and, when the last loaded file carried metadata
// (gHasExif), puts its kept segments in front of the encoded picture.
bool SaveJpeg(const std::string& FileName, const TBitmap32& Bitmap, int32_t Quality);
// A 24-bit BMP; with fewer than 3 colours and Yes to "Save as B&W 1-bit
// bitmap ?", a 1-bit one where a pixel is white when its intensity is at
// least 128.
bool SaveBitmapAsBMP(const std::string& FileName, const TBitmap32& Bitmap, EditorUi& Ui);

class TZubDocument {
 public:
  explicit TZubDocument(TEditor& Editor);
  virtual ~TZubDocument() = default;
  TZubDocument(const TZubDocument&) = delete;
  TZubDocument& operator=(const TZubDocument&) = delete;

  TEditor& Editor() const { return fEditor; }
  TBitmap32& Bitmap() const { return *fEditor.View().Bitmap(); }

  // ---- Options (settings values) ----------------------------------------------------
  int32_t gJpegQuality = 100;          // "jpegquality", the JPEG menu
  int32_t gJ2kQuality = 0;             // "j2kperc": JPEG 2000 rate in percent, 0 lossless
  int32_t gJ2kFormat = 3;              // "j2kform": 1 grey, any other value colour
  bool gGifDither = false;             // "gifdither", GIF > Dither
  bool gCreateBackup = false;          // "backup": keep the ".~" file after a save
  bool gTransparentBackground = false; // PNG: the background colour becomes transparent
  int32_t gBackgroundColor = 0;        // platform colour 0x00BBGGRR of PaintBox1
  std::string SaveFolder;              // the save dialog's initial folder

  // ---- Services the window plugs in --------------------------------------------------
  TMRU* Recent = nullptr;                   // the recent-files list (not owned)
  std::function<void()> FlattenAllLayers;   // the layer commands' flatten
  std::function<void()> RemovePoints;       // the lens corrections' reference points
  std::function<void()> OnClosed;           // hides the histogram window

  // ---- Commands ---------------------------------------------------------------------
  // Both undo stores emptied, the image and the work bitmap 0 x 0, every layer gone, scale 1,
  // and the last file's metadata dropped.
  void ResetDocument();
  // Makes the file the document; false when it does not exist or could not
  // be read (the document then stays as it was, undo steps and metadata
  // included) or an exception escaped.
  bool OpenImageFile(const std::string& FileName);
  // "file <name> does not exist !"
  void ReportMissing(const std::string& FileName);
  // Saves the document under FileName; true when the file was written.
  bool SaveImageFile(const std::string& FileName);
  // True when the current image may be discarded (saved, declined or
  // unchanged); a window with no picture asks nothing. Declining keeps the
  // undo steps for the caller that then drops the picture.
  bool QuerySaveChanges();
  // A new untitled image of W x H in the background colour, made opaque.
  void NewImage(int32_t Width, int32_t Height);
  void NewFromClipboard();
  bool CloseImage();
  // File > Revert: the file again, when the document came from one.
  bool Revert();
  // File > Save: under the current name when it came from a file, else false
  // (the window then runs Save As).
  bool Save();
  // The document came from a file (not untitled, not empty).
  bool HasFile() const { return fEditor.gFileSize != 0 && !fEditor.gFileName.empty(); }

 protected:
  // The writer for a lower-cased extension (tests put a failing one in).
  virtual TSaveWriter WriterFor(const std::string& Ext) const;

 private:
  bool WriteWithBackup(const std::string& Name, TSaveWriter Write);
  // Puts Original back under Name when a writer failed having changed it:
  // from the ".~" copy Backup when one was kept and is whole, else from memory.
  void PutBackOriginal(const std::string& Name, const std::string& Original, const std::string& Backup);

  TEditor& fEditor;
};
