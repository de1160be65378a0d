// TRAWImage: the preview first, then the full image, each through the
// converter of img_raw into a temporary file.
#include "raw_image.h"

#include <memory>

#include "fsutils.h"
#include "img_fileio.h"
#include "img_raw.h"
#include "platform_jpeg.h"
#include "pxm_image.h"
#include "raster_core.h"
#include "utilities.h"

namespace {

bool gRegistered = false;

void TakePixels(TRAWImage& Self, const TGraphic& Picture) {
  TBitmap32 Copy;
  Copy.Assign(&Picture);
  Copy.AssignTo(Self);
  Self.SetPixelFormat(TPixelFormat::pf24bit);
}

// The preview the converter extracted: a JPEG, or failing that a Netpbm
// file; a preview neither reader takes is passed over quietly, since the full
// image still follows.
void TakePreview(TRAWImage& Self, const std::string& File) {
  TMemoryStream Bytes;
  try {
    Bytes.LoadFromFile(File);
    TJPEGImage Jpeg;
    Jpeg.LoadFromBytes(Bytes.Memory(), Bytes.Bytes().size());
    TakePixels(Self, Jpeg);
    return;
  } catch (const std::exception&) {
  }
  try {
    Bytes.SetPosition(0);
    TPXMImage Pxm;
    Pxm.LoadFromStream(Bytes);
    TakePixels(Self, Pxm);
  } catch (const std::exception&) {
    Self.SetSize(0, 0);
  }
}

}  // namespace

// Decodes into a picture of its own and takes it over only when it holds an
// image, so a refused file leaves this picture as it was and raises.
void TRAWImage::LoadFromFile(const std::string& FileName) {
  // A folder, pipe or device never reaches the converter: the stream's own
  // rule refuses it and names the reason.
  RefuseUnlessRegularFile(FileName);
  const std::string Source = RawConverterPath(FileName);
  if (RunRawConverter({"-i", Source}) != 0) {
    ShowUnitMessageBox("RAW image/format unrecognized !", "raw_image", MB_OK | MB_ICONHAND);
    throw EInvalidGraphic("RAW image/format unrecognized !");
  }
  TTempFileGuard Temp("tmp");
  if (Temp.Name.empty()) throw EFCreateError("Cannot create a temporary file");
  TRAWImage Result;
  RunRawConverter({"/t", Source, Temp.Name});
  if (FileSizeOf(Temp.Name) > 0) TakePreview(Result, Temp.Name);
  if (Result.Empty()) {
    RunRawConverter({"/i", Source, Temp.Name});
    if (FileSizeOf(Temp.Name) > 0) {
      TPXMImage Full;
      Full.LoadFromFile(Temp.Name);
      if (!Full.Empty()) TakePixels(Result, Full);
    }
  }
  if (Result.Empty()) throw EInvalidGraphic("RAW image/format unrecognized !");
  TakePixels(*this, Result);
}

void TRAWImage::LoadFromStream(TStream& Stream) {
  TTempFileGuard Copy("raw");
  Copy.Fill(Stream);
  LoadFromFile(Copy.Name);
}

void RegisterRawImage() {
  if (gRegistered) return;
  auto make = [] { return std::make_unique<TRAWImage>(); };
  const struct {
    const char* Ext;
    const char* Description;
  } kFormats[] = {
      {"DNG", "Adobe Digital Negative"}, {"CRW", "Canon RAW Image"},   {"CR2", "Canon RAW Image 2"},
      {"RAF", "Fuji RAW Image"},         {"KDC", "Kodak RAW Image"},   {"NEF", "Nikon RAW Image"},
      {"MRW", "Minolta RAW Image"},      {"ORF", "Olympus RAW Image"}, {"PTX", "Pentax RAW Image"},
      {"PEF", "Pentax RAW Image"},       {"ARW", "Sony RAW Image"},    {"X3F", "Sigma RAW Image"},
      {"RAW", "Generic RAW Image"},
  };
  for (const auto& F : kFormats) RegisterFileFormat(F.Ext, F.Description, "TRAWImage", make);
  gRegistered = true;
}

bool IsRawImageExtension(const std::string& Extension) {
  const TPictureFormat* Format = FindFileFormat(Extension);
  return Format != nullptr && Format->GraphicClassName == "TRAWImage";
}

void UnregisterRawImage() {
  UnregisterGraphicClass("TRAWImage");
  gRegistered = false;
}
