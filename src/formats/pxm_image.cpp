#include "pxm_image.h"

#include <algorithm>
#include <memory>

#include "img_fileio.h"
#include "img_pxm.h"
#include "utilities.h"

namespace {

const char kUnit[] = "pxm_image";
bool gRegistered = false;

}  // namespace

namespace {

// Sizes the picture to the header, opaque black where rows will be missing.
void SizeTo(TPXMImage& Image, const TPnmHeader& H) {
  Image.SetSize(std::max(H.Width, 0), std::max(H.Height, 0));
  for (int32_t y = 0; y < Image.Height(); ++y) {
    uint32_t* row = Image.ScanLine(y);
    for (int32_t x = 0; x < Image.Width(); ++x) row[x] = 0xFF000000u;
  }
}

void PutRow(TPXMImage& Image, int32_t Y, const uint8_t* Src, bool Colour) {
  uint32_t* row = Image.ScanLine(Y);
  if (Colour) {
    for (int32_t x = 0; x < Image.Width(); ++x, Src += 3)
      row[x] = 0xFF000000u | static_cast<uint32_t>(Src[0]) << 16 | static_cast<uint32_t>(Src[1]) << 8 | Src[2];
  } else {
    for (int32_t x = 0; x < Image.Width(); ++x) row[x] = 0xFF000000u | 0x010101u * Src[x];
  }
}

}  // namespace

bool TPXMImage::ReadFrom(TStream& Stream, const std::string& FileName, std::string* Failure) {
  bool colour = false;
  return ReadPnmReporting(
      Stream, FileName, kUnit,
      [&](const TPnmHeader& h) {
        colour = h.Colour;
        SizeTo(*this, h);
      },
      [&](int32_t y, const uint8_t* src) { PutRow(*this, y, src, colour); }, Failure);
}

// The picture is read into a new object and moved in only when it was read:
// a refused or damaged file leaves the picture as it was and raises, with
// the box of the failure shown first.
void TPXMImage::LoadFromFile(const std::string& FileName) {
  TPXMImage picture;
  picture.SetPixelFormat(TPixelFormat::pf24bit);
  const std::unique_ptr<TFileStream> file = OpenFileReporting(FileName, kUnit);
  if (!file) throw EInvalidGraphic("error opening " + FileName);
  std::string failure;
  if (!picture.ReadFrom(*file, FileName, &failure)) throw EInvalidGraphic(failure);
  *this = std::move(picture);
}

namespace {

TPnmRowSource RgbRows(const TPXMImage& Image) {
  return [&Image](int32_t y, uint8_t* dst) {
    const uint32_t* row = Image.ScanLine(y);
    for (int32_t x = 0; x < Image.Width(); ++x, dst += 3) {
      dst[0] = static_cast<uint8_t>(row[x] >> 16);
      dst[1] = static_cast<uint8_t>(row[x] >> 8);
      dst[2] = static_cast<uint8_t>(row[x]);
    }
  };
}

}  // namespace

void TPXMImage::SaveToFile(const std::string& FileName) const {
  SavePnmReporting(FileName, kUnit, true, Width(), Height(), RgbRows(*this));
}

void TPXMImage::LoadFromStream(TStream& Stream) {
  TPnmHeader h;
  switch (ReadPnmHeader(Stream, h)) {
    case TPnmHeaderStatus::Unsupported:
      throw EInvalidGraphic("unsupported Portable Pixel Map format");
    case TPnmHeaderStatus::Unrecognized:
      throw EInvalidGraphic("unrecognized Portable Pixel Map format");
    case TPnmHeaderStatus::Ok:
      break;
  }
  CheckPnmDataPresent(Stream, h);
  CheckImageFitsMemory(h.Width, h.Height);
  TPXMImage picture;
  picture.SetPixelFormat(TPixelFormat::pf24bit);
  SizeTo(picture, h);
  ReadPnmRows(Stream, h, [&](int32_t y, const uint8_t* src) { PutRow(picture, y, src, h.Colour); });
  *this = std::move(picture);
}

void TPXMImage::SaveToStream(TStream& Stream) const { WritePnm(Stream, true, Width(), Height(), RgbRows(*this)); }

void RegisterPxmImage() {
  if (gRegistered) return;
  auto make = [] { return std::make_unique<TPXMImage>(); };
  RegisterFileFormat("PPM", "Portable PixMap", "TPXMImage", make);
  RegisterFileFormat("PGM", "Portable GreyMap", "TPXMImage", make);
  RegisterFileFormat("PNM", "Portable Pixel Map", "TPXMImage", make);
  gRegistered = true;
}

void UnregisterPxmImage() {
  UnregisterGraphicClass("TPXMImage");
  gRegistered = false;
}
