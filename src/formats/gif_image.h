#pragma once
// The GIF picture: an object model that mirrors the file. A TGIFImage holds
// the header (logical screen and global colour table), the frames in file
// order, each with its extension blocks, local colour table and one byte of
// colour index per pixel, and writes them back in the same order. Pixels are
// coded by gif_codecs; the extension blocks are in gif_extensions.cpp, the
// frames in gif_frame.cpp.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gif_codecs.h"
#include "platform_clipboard.h"
#include "platform_graphics.h"
#include "platform_stream.h"

class TGIFImage;
class TGIFSubImage;

enum class TGIFVersion { gvUnknown, gv87a, gv89a };

// ---- Items and lists -------------------------------------------------------

// A part of the file that belongs to an image.
class TGIFItem {
 public:
  explicit TGIFItem(TGIFImage* Image) : image_(Image) {}
  virtual ~TGIFItem() = default;
  TGIFItem(const TGIFItem&) = delete;
  TGIFItem& operator=(const TGIFItem&) = delete;
  virtual TGIFVersion GetVersion() const { return TGIFVersion::gv87a; }
  virtual void Warning(int32_t Severity, const std::string& Message) const;
  virtual void SaveToStream(TStream& Stream) = 0;
  virtual void LoadFromStream(TStream& Stream) = 0;
  // Writes through the one atomic save; reads the file read-only.
  void SaveToFile(const std::string& FileName);
  void LoadFromFile(const std::string& FileName);
  TGIFImage* Image() const { return image_; }

 protected:
  TGIFImage* image_;
};

struct TGIFColor {
  uint8_t Red = 0, Green = 0, Blue = 0;
  bool operator==(const TGIFColor&) const = default;
};

// A colour table of up to 256 entries.
class TGIFColorMap {
 public:
  explicit TGIFColorMap(TGIFImage* Image) : image_(Image) {}
  virtual ~TGIFColorMap() = default;
  TGIFColorMap(const TGIFColorMap&) = delete;
  TGIFColorMap& operator=(const TGIFColorMap&) = delete;

  int32_t Count() const { return static_cast<int32_t>(colors_.size()); }
  int32_t Capacity() const { return capacity_; }
  bool Optimized() const { return optimized_; }
  void SetOptimized(bool V) { optimized_ = V; }
  // 0 for no entries, 1 for 1 or 2, else the smallest n with 2^n >= Count.
  int32_t BitsPerPixel() const;
  int32_t ColorResolution() const { return BitsPerPixel() - 1; }
  // The colour at Index; outside the table a warning and entry 0 ("Color
  // table is empty" when there is none).
  TGIFColor Color(int32_t Index) const;
  void SetColor(int32_t Index, TGIFColor C);
  // Fast access for the renderers: the entries themselves, in order.
  const std::vector<TGIFColor>& Colors() const { return colors_; }
  int32_t Add(TGIFColor C);
  int32_t AddUnique(TGIFColor C);
  void Delete(int32_t Index);
  void Clear();
  int32_t IndexOf(TGIFColor C) const;
  void Assign(const TGIFColorMap& Source);
  // Count triples padded with black to 2^BitsPerPixel entries.
  void SaveToStream(TStream& Stream) const;
  void LoadFromStream(TStream& Stream, int32_t Count);
  // The platform palette: 0xFFRRGGBB entries (empty for an empty table).
  std::vector<uint32_t> ExportPalette() const;
  void ImportPalette(const std::vector<uint32_t>& Palette);
  // Sorts the entries by how many pixels of the frames that use this table
  // name them, most first; pixels and transparent indices follow the new
  // order and unused entries are dropped.
  void Optimize();

 protected:
  // What a change of the table discards (the owner's cached palette).
  virtual void Changed();
  // The frames whose pixels index this table.
  virtual std::vector<TGIFSubImage*> Users() const = 0;
  void Grow(int32_t Size);

  TGIFImage* image_;
  std::vector<TGIFColor> colors_;
  int32_t capacity_ = 0;
  bool optimized_ = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {
 public:
  using TGIFColorMap::TGIFColorMap;

 protected:
  void Changed() override;
  std::vector<TGIFSubImage*> Users() const override;
};

class TGIFLocalColorMap : public TGIFColorMap {
 public:
  TGIFLocalColorMap(TGIFImage* Image, TGIFSubImage* Frame) : TGIFColorMap(Image), frame_(Frame) {}

 protected:
  void Changed() override;
  std::vector<TGIFSubImage*> Users() const override;

 private:
  TGIFSubImage* frame_;
};

// The signature, version and logical screen descriptor with the global table.
class TGIFHeader : public TGIFItem {
 public:
  explicit TGIFHeader(TGIFImage* Image);
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;
  void Clear();
  // Packs the global table flag, colour resolution and size field from the tables.
  void Prepare();
  TGIFGlobalColorMap& ColorMap() { return colorMap_; }
  const TGIFGlobalColorMap& ColorMap() const { return colorMap_; }

  uint16_t Width = 0, Height = 0;
  uint8_t Packed = 0;
  uint8_t BackgroundColorIndex = 0;
  uint8_t AspectRatio = 0;

 private:
  TGIFGlobalColorMap colorMap_;
};

class TGIFTrailer : public TGIFItem {
 public:
  using TGIFItem::TGIFItem;
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;
};

// An owning list of items in file order.
template <class T>
class TGIFList {
 public:
  explicit TGIFList(TGIFImage* Image) : image_(Image) {}
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  T* Item(int32_t I) const { return items_.at(static_cast<size_t>(I)).get(); }
  int32_t Add(std::unique_ptr<T> Item) {
    items_.push_back(std::move(Item));
    return Count() - 1;
  }
  void Delete(int32_t I) {
    // Out of the list first: the item's destructor may look at its owner's list.
    std::unique_ptr<T> gone = std::move(items_.at(static_cast<size_t>(I)));
    items_.erase(items_.begin() + I);
  }
  void Clear() {
    while (!items_.empty()) Delete(0);
  }
  int32_t IndexOf(const T* Item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == Item) return static_cast<int32_t>(i);
    return -1;
  }
  void SaveToStream(TStream& Stream) const {
    for (const auto& i : items_) i->SaveToStream(Stream);
  }
  TGIFImage* Image() const { return image_; }

 protected:
  TGIFImage* image_;
  std::vector<std::unique_ptr<T>> items_;
};

// ---- Extensions -------------------------------------------------------------

class TGIFExtension;

// A class of extension: how the loader creates one, and how it narrows the
// choice once it has looked at the block (an application extension looks at
// its identifier).
struct TGIFExtensionClass {
  uint8_t Label;
  std::unique_ptr<TGIFExtension> (*Create)(TGIFSubImage* Frame);
  // Reads ahead from the label's end and answers a more specific class,
  // itself, or null when none fits; null here for a class that has no
  // more specific ones.
  const TGIFExtensionClass* (*FindSubExtension)(TStream& Stream);
};

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFSubImage* Frame);
  TGIFVersion GetVersion() const override { return TGIFVersion::gv89a; }
  virtual uint8_t GetExtensionType() const = 0;
  TGIFSubImage* SubImage() const { return frame_; }
  // Reads and checks the introducer and the label.
  void LoadFromStream(TStream& Stream) override;
  // Writes the introducer and the label.
  void SaveToStream(TStream& Stream) override;

 protected:
  TGIFSubImage* frame_;
};

class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  explicit TGIFGraphicControlExtension(TGIFSubImage* Frame);
  ~TGIFGraphicControlExtension() override;
  uint8_t GetExtensionType() const override { return 0xF9; }
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;

  bool Transparent() const { return (packed_ & 1) != 0; }
  void SetTransparent(bool V);
  uint8_t TransparentColorIndex() const { return transparentIndex_; }
  void SetTransparentColorIndex(int32_t Index);
  uint16_t Delay() const { return delay_; }
  void SetDelay(uint16_t V) { delay_ = V; }
  bool UserInput() const { return (packed_ & 2) != 0; }
  void SetUserInput(bool V) { packed_ = static_cast<uint8_t>(V ? packed_ | 2 : packed_ & ~2); }
  uint8_t Disposal() const { return (packed_ >> 2) & 7; }
  void SetDisposal(uint8_t V) { packed_ = static_cast<uint8_t>((packed_ & ~0x1C) | ((V & 7) << 2)); }
  uint8_t Packed() const { return packed_; }

 private:
  uint8_t blockSize_ = 4;
  uint8_t packed_ = 0;
  uint16_t delay_ = 0;
  uint8_t transparentIndex_ = 0;
  uint8_t terminator_ = 0;
};

// Text as lines: one data sub-block per line on reading; a line longer than
// 255 bytes is cut into several sub-blocks on writing.
void ReadGIFStrings(TStream& Stream, std::vector<std::string>& Lines);
void WriteGIFStrings(TStream& Stream, const std::vector<std::string>& Lines);

class TGIFTextExtension : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  uint8_t GetExtensionType() const override { return 0x01; }
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;

  uint8_t BlockSize = 12;
  uint16_t Left = 0, Top = 0, GridWidth = 0, GridHeight = 0;
  uint8_t CharWidth = 0, CharHeight = 0;
  uint8_t ForegroundColorIndex = 0, BackgroundColorIndex = 0;
  std::vector<std::string> Text;
};

class TGIFCommentExtension : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  uint8_t GetExtensionType() const override { return 0xFE; }
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;

  std::vector<std::string> Text;
};

class TGIFApplicationExtension : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  uint8_t GetExtensionType() const override { return 0xFF; }
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;
  // The 8-byte identifier followed by the 3-byte authentication code.
  std::array<uint8_t, 11> Identifier{};
  // 11, or 10 as some writers have it: such a block is written back as it
  // was read, since widening it would turn its first data byte into part of
  // the identifier and could make it another application's block.
  uint8_t BlockSize = 11;
  void SetIdentifier(const std::string& Id);
  std::string IdentifierText() const { return std::string(Identifier.begin(), Identifier.end()); }

 protected:
  // The application data after the identifier. Only the subclasses know
  // their data; a block of a size no subclass reads fails on loading.
  virtual void SaveData(TStream& Stream);
  virtual void LoadData(TStream& Stream);
};

// The animation loop count ("NETSCAPE2.0", also read for "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  explicit TGIFAppExtNSLoop(TGIFSubImage* Frame);
  uint16_t Loops = 0;       // 0: forever
  uint32_t BufferSize = 0;  // written only when not 0

 protected:
  void SaveData(TStream& Stream) override;
  void LoadData(TStream& Stream) override;
};

// Any other application's data, kept as its sub-blocks.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
 public:
  using TGIFApplicationExtension::TGIFApplicationExtension;
  std::vector<std::vector<uint8_t>> Blocks;

 protected:
  void SaveData(TStream& Stream) override;
  void LoadData(TStream& Stream) override;
};

// The two registries the loader chooses a class from; searched from the last
// entry back, so a later registration overrides an earlier one.
void RegisterGIFExtension(const TGIFExtensionClass* Class);
void RegisterGIFAppExtension(const std::string& Identifier, const TGIFExtensionClass* Class);
const TGIFExtensionClass* FindGIFExtension(uint8_t Label);
const TGIFExtensionClass* FindGIFAppExtension(const uint8_t* Identifier11);
// Frees both registries (the unit's shut-down); they are rebuilt on next use.
void FreeGIFExtensionRegistries();

class TGIFExtensionList : public TGIFList<TGIFExtension> {
 public:
  TGIFExtensionList(TGIFImage* Image, TGIFSubImage* Frame) : TGIFList(Image), frame_(Frame) {}
  // Reads extension blocks up to the next image descriptor or trailer.
  void LoadFromStream(TStream& Stream);

 private:
  TGIFSubImage* frame_;
};

// ---- Frames ----------------------------------------------------------------

struct TGIFImageDescriptor {
  uint8_t Separator = 0x2C;
  uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
  uint8_t Packed = 0;
};

// One frame: descriptor, local colour table, pixels and extensions.
class TGIFSubImage : public TGIFItem {
 public:
  explicit TGIFSubImage(TGIFImage* Image);
  ~TGIFSubImage() override;
  TGIFVersion GetVersion() const override;
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;
  void Clear();
  void Assign(const TGIFSubImage& Source);
  // Imports a bitmap: palette bitmaps take their colour table, others build
  // one from their colours ("Color table overflow" past 256).
  void Assign(const TPlatformBitmap& Source);
  // Any other graphic: icons and metafiles are drawn onto an opaque bitmap
  // of their size, then their transparent pixels become a transparent
  // entry (an icon's own mask; where a metafile draws nothing); other
  // graphics are turned into a bitmap and imported as one.
  void Assign(const TGraphic& Source);
  void Assign(const TPicture& Source);
  bool Empty() const;

  const TGIFImageDescriptor& Descriptor() const { return descriptor_; }
  int32_t Left() const { return descriptor_.Left; }
  int32_t Top() const { return descriptor_.Top; }
  int32_t Width() const { return descriptor_.Width; }
  int32_t Height() const { return descriptor_.Height; }
  void SetLeft(int32_t V) { SetBounds(V, Top(), Width(), Height()); }
  void SetTop(int32_t V) { SetBounds(Left(), V, Width(), Height()); }
  void SetWidth(int32_t V) { SetBounds(Left(), Top(), V, Height()); }
  void SetHeight(int32_t V) { SetBounds(Left(), Top(), Width(), V); }
  // A new size gives a new pixel buffer of index 0; a frame reaching past the
  // logical screen grows it, with warnings.
  void SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height);
  bool Interlaced() const { return (descriptor_.Packed & 0x40) != 0; }
  void SetInterlaced(bool V) {
    descriptor_.Packed = static_cast<uint8_t>(V ? descriptor_.Packed | 0x40 : descriptor_.Packed & ~0x40);
  }

  uint8_t* Data() { return pixels_.data(); }
  const uint8_t* Data() const { return pixels_.data(); }
  size_t DataSize() const { return pixels_.size(); }
  uint8_t Pixels(int32_t X, int32_t Y) const;
  void SetPixels(int32_t X, int32_t Y, uint8_t Index);

  TGIFLocalColorMap& ColorMap() { return colorMap_; }
  const TGIFLocalColorMap& ColorMap() const { return colorMap_; }
  // The local table when it has entries, else the global one when it has,
  // else the (empty) local one.
  const TGIFColorMap& ActiveColorMap() const;
  int32_t BitsPerPixel() const { return colorMap_.BitsPerPixel(); }
  int32_t ColorResolution() const { return colorMap_.ColorResolution(); }

  TGIFExtensionList& Extensions() { return extensions_; }
  const TGIFExtensionList& Extensions() const { return extensions_; }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool V) { transparent_ = V; }
  TGIFGraphicControlExtension* GraphicControlExtension() const { return gce_; }
  void SetGraphicControlExtension(TGIFGraphicControlExtension* E) { gce_ = E; }

  // The frame as a bitmap of its own size: each pixel the colour its index
  // names in the active table (index past the table: entry 0). Kept until
  // pixels, size or palette change.
  // When the image dithers for display, the colours are diffused onto the
  // web palette instead.
  const TPlatformBitmap& Bitmap();
  void FreeBitmap() {
    bitmap_.reset();
    mask_.clear();
  }
  // The transparency mask made with the bitmap of a transparent frame: rows
  // of ((Width + 15) div 16) x 2 bytes, most significant bit first, a bit
  // set for each transparent pixel; empty when no pixel is transparent.
  const std::vector<uint8_t>& Mask();
  size_t MaskRowBytes() const { return static_cast<size_t>((Width() + 15) / 16) * 2; }
  // The frame bitmap's palette, else the kept one, else the web palette when
  // the image dithers, else the local table's, else the image's.
  std::vector<uint32_t> Palette();
  void SetPalette(const std::vector<uint32_t>& Palette);
  void ColorMapChanged();
  // Where the frame lands when the logical screen is stretched onto Dest.
  TPlatformRect ScaledRect(const TPlatformRect& Dest) const;
  // Stretches the frame into its scaled rectangle, or with Tile draws it at
  // its own size repeated every logical screen width and height; with
  // Transparent the masked pixels leave the surface as it was.
  void Draw(TPixelSurface& Surface, const TPlatformRect& Dest, bool Transparent, bool Tile);

 private:
  TGIFImageDescriptor descriptor_;
  std::vector<uint8_t> pixels_;
  TGIFLocalColorMap colorMap_;
  TGIFExtensionList extensions_;
  bool transparent_ = false;
  TGIFGraphicControlExtension* gce_ = nullptr;
  std::unique_ptr<TPlatformBitmap> bitmap_;
  std::vector<uint8_t> mask_;
  std::vector<uint32_t> palette_;

  void ImportIndexed(const TPlatformBitmap& Source);
  void ImportTrueColor(const TPlatformBitmap& Source);
  // Masked: true where the frame is to be transparent.
  void ApplyMask(const std::function<bool(int32_t X, int32_t Y)>& Masked);
  void StretchInto(TPixelSurface& Surface, const TPlatformRect& R, bool Transparent);
};

class TGIFImageList : public TGIFList<TGIFSubImage> {
 public:
  using TGIFList::TGIFList;
  void LoadFromStream(TStream& Stream);
};

// ---- The image ---------------------------------------------------------------

enum class TProgressStage { psStarting, psRunning, psEnding };
using TGIFProgress = std::function<void(const TGIFImage& Sender, TProgressStage Stage, uint8_t PercentDone,
                                        const std::string& Message)>;

// Draw options (bits of DrawOptions).
enum : uint16_t {
  goAsync = 1 << 0,
  goTransparent = 1 << 1,
  goAnimate = 1 << 2,
  goLoop = 1 << 3,
  goLoopContinously = 1 << 4,
  goValidateCanvas = 1 << 5,
  goDirectDraw = 1 << 6,
  goClearOnLoop = 1 << 7,
  goTile = 1 << 8,
  goDither = 1 << 9,
  goAutoDither = 1 << 10,
};

// The clipboard format of GIF streams; the bitmap format is the clipboard's picture.
inline const std::string kGIFClipboardFormat = "GIF Image";
inline const std::string kBitmapClipboardFormat = "Bitmap";

// ---- Painters ------------------------------------------------------------------------

class TGIFPainterBase;
using TGIFPaintEvent = std::function<void(TGIFPainterBase& Sender)>;

// A running animation of an image on a canvas. The painters themselves live
// with the view controls, which own the timers; the image keeps the list of
// those running, starts them through its factory and stops them before its
// frames or composite bitmap change under them. Everything happens on the
// user-interface thread, so the list needs no lock and stopping never waits.
class TGIFPainterBase : public std::enable_shared_from_this<TGIFPainterBase> {
 public:
  // Canvas must stay valid until the painter ends or is stopped.
  TGIFPainterBase(TGIFImage& Image, const TPixelSurface& Canvas, const TPlatformRect& Rect);
  virtual ~TGIFPainterBase() = default;
  TGIFPainterBase(const TGIFPainterBase&) = delete;
  TGIFPainterBase& operator=(const TGIFPainterBase&) = delete;

  // Paints the first frame now and the rest as their delays pass.
  virtual void Start() = 0;
  // Plays the whole animation before returning.
  virtual void Execute() = 0;
  // Ends the animation at once (safe from inside an event); the end event fires.
  virtual void Stop() = 0;
  virtual bool Running() const = 0;

  // Null once the image has gone.
  TGIFImage* Image() const { return image_; }
  const TPixelSurface& Canvas() const { return canvas_; }
  const TPlatformRect& Rect() const { return rect_; }
  // At least one frame has been painted.
  bool Painted() const { return painted_; }

  // The frame being shown; -1 before the start and after the end. The
  // after-paint event may set it to choose the next frame.
  int32_t ActiveFrame = -1;
  uint16_t DrawOptions;
  int32_t AnimationSpeed;
  TGIFPaintEvent OnStartPaint, OnPaint, OnAfterPaint, OnLoop, OnEndPaint;

 protected:
  // Leaves the image's painter list; the painter's last act when it ends.
  void Detach();

  TGIFImage* image_;
  TPixelSurface canvas_;
  TPlatformRect rect_;
  bool painted_ = false;

 private:
  friend class TGIFImage;
};

// Makes the painters of an image; installed on the image by the control
// that shows it, which knows the timers.
class TGIFPainterFactory {
 public:
  virtual ~TGIFPainterFactory() = default;
  virtual std::shared_ptr<TGIFPainterBase> CreatePainter(TGIFImage& Image, const TPixelSurface& Canvas,
                                                         const TPlatformRect& Rect) = 0;
};

class TGIFImage : public TGraphic {
 public:
  TGIFImage();
  ~TGIFImage() override;
  TGIFImage(const TGIFImage&) = delete;
  TGIFImage& operator=(const TGIFImage&) = delete;
  std::string ClassName() const override { return "TGIFImage"; }

  int32_t Width() const override { return header_.Width; }
  int32_t Height() const override { return header_.Height; }
  // "Image width/height too small for contained frames" when a frame would not fit.
  void SetWidth(int32_t W);
  void SetHeight(int32_t H);
  bool IsEmpty() const { return images_.Count() == 0; }
  bool Equals(const TGraphic& Other) const { return &Other == this; }

  void Clear();
  void Assign(const TGIFImage* Source);
  void Assign(const TGraphic& Source);
  void AssignTo(TPlatformBitmap& Dest);
  // Adds the frame as it is; returns its index.
  int32_t Add(std::unique_ptr<TGIFSubImage> Frame);
  // A new frame made from the graphic; returns its index.
  int32_t Add(const TGraphic& Source);

  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;
  // One frame (the forced one, else the first) when the image does not
  // animate; otherwise a painter from PainterFactory shows the frames, on
  // the surface itself with goDirectDraw, else in the composite bitmap that
  // each later Draw copies out. Without goAsync the painter plays to the
  // end before Draw returns. A Draw from inside a Draw does nothing.
  void Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const override;
  // Stops every painter and frees the composite bitmap they painted into.
  void StopDraw();
  int32_t PainterCount() const { return static_cast<int32_t>(painters_.size()); }
  // The painter started last, while it runs.
  TGIFPainterBase* Painter() const { return painter_; }
  // Format "GIF Image" reads the clipboard's GIF stream; "Bitmap" its picture.
  void LoadFromClipboardFormat(TClipboard& Board, const std::string& Format);
  // Puts the composite bitmap and, under "GIF Image", the GIF stream on the
  // clipboard in one bracket.
  void SaveToClipboardFormat(TClipboard& Board);

  TGIFVersion Version() const;
  int32_t ColorResolution() const;
  int32_t BitsPerPixel() const;

  TGIFHeader& Header() { return header_; }
  const TGIFHeader& Header() const { return header_; }
  TGIFColorMap& GlobalColorMap() { return header_.ColorMap(); }
  TGIFImageList& Images() { return images_; }
  const TGIFImageList& Images() const { return images_; }

  // The first frame on the logical screen; null for an empty image. Kept
  // until size, palette or frames change.
  const TPlatformBitmap* Bitmap();
  // The painters may be painting into it: they stop first.
  void FreeBitmap() { StopDraw(); }
  std::vector<uint32_t> Palette();
  void SetPalette(const std::vector<uint32_t>& Palette);
  void GlobalColorMapChanged();
  bool DoDither() const;

  uint16_t DrawOptions = goAsync | goTransparent | goAnimate | goLoop | goDither | goAutoDither;
  int32_t ColorReduction = 6;  // reduce to the web cube
  int32_t ReductionBits = 8;
  int32_t DitherMode = 0;
  uint8_t Compression = 0;  // 0 LZW, 1 run-length
  int32_t ThreadPriority = 3;
  int32_t AnimationSpeed = 100;
  int32_t ForceFrame = -1;
  int32_t DrawBackgroundColor = 0x1FFFFFFF;
  TGIFWarning OnWarning;
  TGIFProgress OnProgress;
  std::function<void(const TGIFImage&)> OnChange;
  // Handed to every painter the image starts.
  TGIFPaintEvent OnStartPaint, OnPaint, OnAfterPaint, OnLoop, OnEndPaint;
  // Not owned; null: the image draws one frame and never animates.
  TGIFPainterFactory* PainterFactory = nullptr;

  void Warning(const void* Sender, int32_t Severity, const std::string& Message) const;
  void Progress(TProgressStage Stage, uint8_t Percent, const std::string& Message) const;
  void Changed();

  // The pixels of the frames read so far by LoadFromStream and the image
  // data bytes they took: together the frames must stay within what their
  // data can fill (FileCanFillPicture), however many there are.
  struct TLoadTally {
    int64_t Pixels = 0;
    int64_t DataBytes = 0;
  } LoadTally;

 private:
  friend class TGIFPainterBase;
  void DoSaveToStream(TStream& Stream);
  void DoDraw(TPixelSurface& Surface, const TPlatformRect& Dest);
  void DrawComposite(TPixelSurface& Surface, const TPlatformRect& Dest) const;
  void RemovePainter(TGIFPainterBase* Painter);

  TGIFHeader header_;
  TGIFImageList images_;
  std::unique_ptr<TPlatformBitmap> bitmap_;
  std::vector<uint32_t> globalPalette_;
  bool paletteModified_ = false;
  bool findingPalette_ = false;
  std::vector<std::shared_ptr<TGIFPainterBase>> painters_;
  TGIFPainterBase* painter_ = nullptr;
  bool drawing_ = false;
};

// The picture class registration ("GIF", "GIF Image"); Unregister removes it.
void RegisterGifImage();
void UnregisterGifImage();

// 16-bit numbers of the file, little-endian.
inline void GIFPutWord(uint8_t* P, uint16_t W) {
  P[0] = static_cast<uint8_t>(W);
  P[1] = static_cast<uint8_t>(W >> 8);
}
inline uint16_t GIFGetWord(const uint8_t* P) { return static_cast<uint16_t>(P[0] | P[1] << 8); }

// The most pixels a byte of LZW image data can stand for. A code that
// stands for n pixels needs n - 1 entries of the table above the root codes,
// so it is at least log2(n) bits wide, and n is at most 4096: no code packs
// more than 4096 / 12 pixels a bit, 2731 a byte; 4096 a byte leaves room.
constexpr int64_t kGIFMaxPixelsPerByte = 4096;

// Percent done of Part of Total, computed in 64 bits.
inline uint8_t GIFPercent(int64_t Part, int64_t Total) {
  return Total > 0 ? static_cast<uint8_t>(std::min<int64_t>(100, Part * 100 / Total)) : 0;
}
