#pragma once
// The picture classes that stand in for the class library's graphics: a
// graphic base class, the platform bitmap (a device-independent bitmap with a
// pixel format), the picture object that loads any registered format by its
// extension, and the picture-format registry itself. Pixels cross this layer
// as top-down 32-bit rows 0xAARRGGBB, the layout of the raster engine.
#include <cstdint>
#include <cstdlib>
#include <new>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform_exceptions.h"
#include "platform_stream.h"

// A rectangle (Right and Bottom exclusive), the platform's own record.
struct TPlatformRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// A 32-bit drawing surface: what a device context on a DIB section gives the
// platform to draw into. Bits points at Height rows of Width pixels, top-down.
struct TPixelSurface {
  uint32_t* Bits = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
};

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
enum class TFontQuality { fqDefault, fqDraft, fqProof, fqNonAntialiased, fqAntialiased, fqClearType };

// The class library's font: name, size in points (at 96 dpi), style, colour
// (platform colour 0x00BBGGRR) and rendering quality.
struct TFont {
  std::string Name = "Arial";
  int32_t Size = 10;
  uint8_t Style = 0;
  int32_t Color = 0;
  TFontQuality Quality = TFontQuality::fqDefault;
  bool operator==(const TFont&) const = default;
};

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// The class library's graphic base class.
class TGraphic {
 public:
  virtual ~TGraphic() = default;
  virtual std::string ClassName() const = 0;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  bool Empty() const { return Width() <= 0 || Height() <= 0; }
  virtual bool Transparent() const { return false; }
  // Draws the graphic stretched into Dest on the surface, the way the platform
  // draws a graphic onto a canvas (a bitmap copies its pixels, alpha included).
  virtual void Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const = 0;
  virtual void LoadFromStream(TStream& Stream) = 0;
  virtual void SaveToStream(TStream& Stream) const;
  // LoadFromFile opens the file read-only; SaveToFile writes through a
  // temporary file in the target's folder that replaces the target only when
  // everything was written.
  virtual void LoadFromFile(const std::string& FileName);
  virtual void SaveToFile(const std::string& FileName) const;
  // Decodes the file straight into 32-bit rows the caller hands out, once
  // the picture's size is known, instead of into the graphic: a loader
  // that only wants the pixels then holds one full-size picture, not two.
  // The rows get exactly what drawing the loaded graphic into a 32-bit
  // bitmap gives. False (with nothing allocated) for a class that has no
  // such path; errors are those of LoadFromFile.
  using TPixelAllocator = std::function<uint32_t*(int32_t Width, int32_t Height)>;
  virtual bool LoadPixelsFromFile(const std::string& FileName, const TPixelAllocator& Allocate);
};

// Storage for pixels whose fresh memory comes zeroed from calloc and is not
// written a second time: a picture that a decoder fills anyway is then
// touched once, by the decoder, and a large one costs no clearing pass on
// one thread. Elements made without a value are left as the allocation gave
// them, so a vector of this kind only grows into fresh memory (never resize
// it up within its capacity).
template <class T>
struct TZeroedAllocator {
  using value_type = T;
  TZeroedAllocator() = default;
  template <class U>
  TZeroedAllocator(const TZeroedAllocator<U>&) noexcept {}
  T* allocate(size_t N) {
    if (N > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* p = std::calloc(N, sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* P, size_t) noexcept { std::free(P); }
  template <class U>
  void construct(U*) noexcept {}
  template <class U, class... A>
  void construct(U* P, A&&... Args) {
    ::new (static_cast<void*>(P)) U(std::forward<A>(Args)...);
  }
  template <class U>
  bool operator==(const TZeroedAllocator<U>&) const noexcept {
    return true;
  }
};
using TPixelVector = std::vector<uint32_t, TZeroedAllocator<uint32_t>>;

// The platform bitmap: a DIB of a given pixel format, kept here as 32-bit rows.
// A transparent bitmap names the colour that shows the background.
class TPlatformBitmap : public TGraphic {
 public:
  std::string ClassName() const override { return "TBitmap"; }
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  bool Transparent() const override { return transparent_; }
  void SetTransparent(bool v) { transparent_ = v; }
  // Platform colour 0x00BBGGRR of the pixels that show the background.
  int32_t TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(int32_t c) { transparentColor_ = c; }
  TPixelFormat PixelFormat() const { return pixelFormat_; }
  // Changes the pixel format the way the platform converts a DIB: 1 bit maps
  // every pixel to black or white, 4 and 8 bits to a palette (the image's own
  // colours when they fit, else a fixed palette, nearest colour), 15 and 16
  // bits drop the low bits of each channel, and every format but 32 bits makes
  // the pixels opaque (alpha 255), since only 32-bit pixels carry alpha.
  void SetPixelFormat(TPixelFormat f);
  // The colour table of a 1-, 4- or 8-bit bitmap as 0xFFRRGGBB entries (empty
  // for the other formats). Pixels stay 32-bit; the table decides what a
  // palette bitmap writes.
  const std::vector<uint32_t>& Palette() const { return palette_; }
  void SetPalette(std::vector<uint32_t> p) { palette_ = std::move(p); }
  // Resizes to W x H, zero-filled. Refuses absurd sizes with EOutOfResources.
  void SetSize(int32_t W, int32_t H);
  // The largest bitmap this layer makes: 2^28 pixels (1 GiB of 32-bit pixels),
  // at most 1 << 20 pixels in either direction.
  static constexpr int64_t kMaxPixels = int64_t{1} << 28;
  static constexpr int32_t kMaxDimension = 1 << 20;
  // Raises SetSize's EOutOfResources for a size beyond those limits.
  static void CheckSize(int32_t W, int32_t H);
  uint32_t* ScanLine(int32_t Y) { return pixels_.data() + static_cast<size_t>(Y) * static_cast<size_t>(width_); }
  const uint32_t* ScanLine(int32_t Y) const { return pixels_.data() + static_cast<size_t>(Y) * static_cast<size_t>(width_); }
  uint32_t* Bits() { return pixels_.data(); }
  const uint32_t* Bits() const { return pixels_.data(); }
  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  void Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const override;
  // BMP files: every depth and compression on read, 32 bits with alpha on write.
  void LoadFromStream(TStream& Stream) override;
  bool LoadPixelsFromFile(const std::string& FileName, const TPixelAllocator& Allocate) override;
  void SaveToStream(TStream& Stream) const override;

 private:
  int32_t width_ = 0, height_ = 0;
  bool transparent_ = false;
  int32_t transparentColor_ = 0;
  TPixelFormat pixelFormat_ = TPixelFormat::pf32bit;
  TFont font_;
  TPixelVector pixels_;
  std::vector<uint32_t> palette_;
};

// The index of the palette entry nearest to Color (squared RGB distance; the
// first of equals wins; 0 for an empty palette).
int32_t NearestPaletteIndex(const std::vector<uint32_t>& Palette, uint32_t Color);

// The platform's 16-colour palette, in its order (the 4-bit system palette).
const std::vector<uint32_t>& VgaPalette();
// The platform's default palette of 20 system colours, in its order: the
// first ten are the dark colours and the last ten the light ones.
const std::vector<uint32_t>& SystemPalette20();
// The fixed 256-colour (halftone) palette for pictures with more colours than
// that: the 6 x 6 x 6 colour cube with levels 0, 51, .., 255 (red slowest),
// then a ramp of kCubeGreys greys i * 255 / 41 between its levels.
constexpr uint32_t kCubeGreys = 40;
const std::vector<uint32_t>& CubePalette();
// NearestPaletteIndex(CubePalette(), Color) through an inverse map: a few
// table reads instead of 256 distances.
uint8_t NearestCubeIndex(uint32_t Color);
// Every pixel becomes its nearest cube palette colour (opaque).
void MapToCubePalette(uint32_t* Pixels, size_t Count);

// Icons and metafiles are drawn on two backgrounds by the bitmap's Assign to
// recover their transparency; they derive from this marker class.
class TTransparentGraphic : public TGraphic {};

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

struct TPictureFormat {
  std::string Extension;    // without the dot, as registered ("bmp", "zub")
  std::string Description;  // "Bitmaps"
  std::string GraphicClassName;
  TGraphicFactory Create;
};

// The picture-format registry.
void RegisterFileFormat(const std::string& Extension, const std::string& Description,
                        const std::string& GraphicClassName, TGraphicFactory Create);
void UnregisterGraphicClass(const std::string& GraphicClassName);
// Looks an extension up ignoring case ("BMP", ".bmp" and "bmp" match); null when absent.
const TPictureFormat* FindFileFormat(const std::string& Extension);
const std::vector<TPictureFormat>& RegisteredFileFormats();

// The picture object: owns one graphic; LoadFromFile picks the class by the
// file's extension and fails with EInvalidGraphic
// "Unknown picture file extension (.%s)" for one that is not registered.
class TPicture {
 public:
  TGraphic* Graphic() const { return graphic_.get(); }
  void SetGraphic(std::unique_ptr<TGraphic> g) { graphic_ = std::move(g); }
  int32_t Width() const { return graphic_ ? graphic_->Width() : 0; }
  int32_t Height() const { return graphic_ ? graphic_->Height() : 0; }
  void LoadFromFile(const std::string& FileName);
  // The graphic's LoadPixelsFromFile for the class the extension picks.
  // When that class decodes into the caller's rows, the picture afterwards
  // holds an empty graphic of the class (which says what the file was) and
  // the result is true; otherwise the picture loads the file as
  // LoadFromFile does and the result is false.
  bool LoadPixelsFromFile(const std::string& FileName, const TGraphic::TPixelAllocator& Allocate);
  void SaveToFile(const std::string& FileName) const;

 private:
  std::unique_ptr<TGraphic> CreateGraphicFor(const std::string& FileName) const;
  std::unique_ptr<TGraphic> graphic_;
};

// Registers the built-in picture classes (bitmaps, icons, JPEG, metafiles) once.
void RegisterBuiltinPictureFormats();
