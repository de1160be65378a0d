#pragma once
// TBitmap32: the 32-bit image every part of the editor works on. A Width x
// Height array of TColor32, rows top-down with no padding, plus the drawing
// state (draw, combine and wrap modes, master alpha, outer colour, clip
// rectangle, pen, stipple), the change notifications and the measuring mode
// that lets a view learn what a drawing would touch without drawing it.
//
// This header is the second half of raster_core.h and relies on the types and
// base classes declared there (TCustomMap, TNotifyEvent, the rectangles).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform_clipboard.h"
#include "platform_graphics.h"
#include "platform_stream.h"
#include "platform_text.h"

class TCustomResampler;
class TBitmap32;

// How a bitmap is put onto another one by the transfers.
enum TDrawMode : uint8_t { dmOpaque, dmBlend, dmCustom, dmTransparent };
// How blended pixels meet the background: plain alpha blending, or a merge
// that honours the background's own alpha.
enum TCombineMode : uint8_t { cmBlend, cmMerge };
// How the wrapped reads and the samplers map coordinates outside the clip rectangle.
enum TWrapMode : uint8_t { wmClamp, wmRepeat, wmMirror };

using TArrayOfColor32 = std::vector<TColor32>;

// Per-pixel combiner of dmCustom: F foreground, B the background pixel to
// change, M the source's master alpha. Counts as unassigned when empty.
using TPixelCombineEvent = std::function<void(TColor32 F, TColor32& B, TColor32 M)>;
// Area notification: the rectangle touched and an information word.
using TAreaChangedEvent = std::function<void(TBitmap32* Sender, const TRect& Area, uint32_t Info)>;

// Information words of area notifications.
constexpr uint32_t AREAINFO_RECT = 0x80000000u;  // the area is a rectangle
constexpr uint32_t AREAINFO_LINE = 0x40000000u;  // a line's bounds; low bits carry its width
constexpr uint32_t AREAINFO_LINE2 = AREAINFO_LINE + 2;  // what the general lines report

// Keeps up to Blocks blocks of exactly Count pixels allocated, cleared and
// paged in, prepared on a thread of their own; a bitmap then sized to Count
// pixels takes one instead of fresh memory. Paging in a fresh 24-megapixel
// block takes 20 ms to several hundred on a busy machine (the system may
// compact memory for the 2 MB pages it is asked for), more than most commands
// take: the editor asks for the blocks its next command will want while the
// user looks at the last one. Another Count drops the blocks kept; Blocks 0
// keeps none.
void ReservePixelBlocks(uint64_t Count, int32_t Blocks);
// Blocks ready in the reserve now (tests).
int32_t ReservedPixelBlocks();

class TBitmap32 : public TCustomMap {
  VEMRA_CLASS(TBitmap32, TCustomMap)
 public:
  TBitmap32();
  ~TBitmap32() override;
  TBitmap32(const TBitmap32&) = delete;
  TBitmap32& operator=(const TBitmap32&) = delete;

  // ---- Storage -------------------------------------------------------------
  // First pixel of the top row; null while the bitmap is empty.
  TColor32* Bits() const { return bits_; }
  TColor32* PixelAddress(int32_t X, int32_t Y) const {
    return bits_ + static_cast<ptrdiff_t>(Y) * Width() + X;
  }
  TColor32* RowPtr(int32_t Y) const { return bits_ + static_cast<ptrdiff_t>(Y) * Width(); }
  size_t PixelCount() const { return static_cast<size_t>(Width()) * static_cast<size_t>(Height()); }
  // Takes Source's size and pixels without copying them; Source is left
  // empty. Sends what a resize and a whole change send. Readers decode into a
  // bitmap of their own and hand it over only once it is complete, so a
  // failed load leaves the previous picture as it was.
  void AdoptPixels(TBitmap32& Source);
  // The same keeping only Source's first Rows rows (at most all): a reader
  // that staged data in rows past its picture hands the picture over so,
  // without a copy; the rows dropped stay with the memory, unused.
  void AdoptPixels(TBitmap32& Source, int32_t Rows);
  // Exchanges size and pixels with Other without copying them; the drawing
  // properties stay. Each sends what a resize (when its size changed) and a
  // whole change send.
  void SwapPixels(TBitmap32& Other);
  // SetSize for a routine that writes every pixel itself: the new pixels are
  // left unwritten, so that the threads writing them touch their own rows
  // first instead of one thread clearing them all beforehand.
  bool SetSizeForOverwrite(int32_t NewWidth, int32_t NewHeight);
  // A drawing surface over the pixels for the platform's text and picture drawing.
  TPixelSurface Canvas() const;
  TRect BoundsRect() const;
  bool Empty() const override;

  // ---- Properties ----------------------------------------------------------
  TDrawMode DrawMode() const { return drawMode_; }
  void SetDrawMode(TDrawMode Value);
  TCombineMode CombineMode() const { return combineMode_; }
  void SetCombineMode(TCombineMode Value);
  TWrapMode WrapMode() const { return wrapMode_; }
  void SetWrapMode(TWrapMode Value);
  uint32_t MasterAlpha() const { return masterAlpha_; }
  void SetMasterAlpha(uint32_t Value);
  // Colour of reads outside the clip rectangle and the key of dmTransparent;
  // changing it sends no notification.
  TColor32 OuterColor() const { return outerColor_; }
  void SetOuterColor(TColor32 Value) { outerColor_ = Value; }
  TColor32 PenColor() const { return penColor_; }
  void SetPenColor(TColor32 Value) { penColor_ = Value; }

  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& Value);

  // The resampler used by DrawTo and the scaled transfers; never null after
  // construction. SetResampler takes ownership of the object it is given
  // (a resampler constructed for this bitmap installs itself here); null and
  // the current object are ignored.
  TCustomResampler* Resampler() const { return resampler_.get(); }
  void SetResampler(TCustomResampler* Value);
  void SetResampler(std::unique_ptr<TCustomResampler> Value);
  std::string ResamplerClassName() const;
  // Replaces the resampler by a new one of the registered class of that name;
  // an unknown or empty name, or the current class, changes nothing.
  void SetResamplerClassName(const std::string& Value);

  // ---- Events --------------------------------------------------------------
  TNotifyEvent OnHandleChanged;
  TPixelCombineEvent OnPixelCombine;
  TAreaChangedEvent OnAreaChanged;

  // ---- Clip rectangle ------------------------------------------------------
  const TRect& ClipRect() const { return clipRect_; }
  const TFixedRect& FixedClipRect() const { return fixedClipRect_; }
  // ClipRect in 24.8 fixed point.
  const TRect& ClipRect256() const { return clipRect256_; }
  bool Clipping() const { return clipping_; }
  void SetClipRect(const TRect& Value);
  void ResetClipRect();

  // ---- Change notification and measuring -----------------------------------
  void Changed() override;
  virtual void Changed(const TRect& Area, uint32_t Info = AREAINFO_RECT);
  bool MeasuringMode() const { return measuringMode_; }
  // While measuring, drawing operations skip their pixel work and only report
  // their areas to Callback; OnChange is not called.
  void StartAreaReporting(TAreaChangedEvent Callback);
  void StopAreaReporting();

  // ---- Whole-bitmap operations ---------------------------------------------
  void Clear();  // opaque black
  void Clear(TColor32 FillColor) { ClearToColor(FillColor); }
  void ClearToColor(TColor32 FillColor);
  void SetAllAlpha(uint8_t Alpha = 255);
  virtual void CopyMapTo(TBitmap32* Dst) const;
  virtual void CopyPropertiesTo(TBitmap32* Dst) const;
  // Mirrors left-right / top-bottom into Dst, or in place when Dst is null or this bitmap.
  void FlipHorizontal(TBitmap32* Dst = nullptr);
  void FlipVertical(TBitmap32* Dst = nullptr);

  // ---- Assignment ----------------------------------------------------------
  // Null empties the bitmap; a TBitmap32 copies pixels and properties; any
  // other class raises EConvertError.
  void Assign(const TPersistent* Source) override;
  void Assign(std::nullptr_t) { Assign(static_cast<const TPersistent*>(nullptr)); }
  // A platform bitmap (24-bit -> alpha 255, transparent colour -> alpha 0),
  // icons and metafiles (TTransparentGraphic, rendered on two backgrounds to
  // recover transparency), any other graphic (drawn, alpha 255).
  void Assign(const TGraphic* Source);
  void Assign(const TPicture* Source);
  void Assign(TClipboard& Source);
  // A TBitmap32 destination takes our pixels and properties.
  void AssignTo(TPersistent* Dst) override;
  void AssignTo(TPlatformBitmap& Dst) const;
  void AssignTo(TPicture& Dst) const;
  void AssignTo(TClipboard& Dst) const;

  // DrawMode, CombineMode, WrapMode, MasterAlpha, OuterColor,
  // ResamplerClassName, Resampler and the events, in that order.
  void GetPublishedProperties(TPropList& List) const override;

  // ---- Files and streams ---------------------------------------------------
  // Any registered picture format, chosen by the file's extension.
  void LoadFromFile(const std::string& FileName);
  void LoadFromStream(TStream& S);  // BMP
  void SaveToStream(TStream& S) const;  // BMP, 32 bits with alpha
  // The "Data" record: int32 Width, int32 Height, then the pixels B, G, R, A.
  virtual void ReadData(TStream& S);
  virtual void WriteData(TStream& S) const;
  // Whether the "Data" record must be written against an ancestor (null: none).
  bool DataDiffers(const TBitmap32* Ancestor) const;
  bool Equal(const TBitmap32* Other) const;

  // ---- Text ----------------------------------------------------------------
  TTextExtent TextExtent(const std::string& Text) const;
  void TextOut(int32_t X, int32_t Y, const std::string& Text);
  // AALevel -1 uses the font's own anti-aliasing, 0 none, 1..4 supersamples
  // 2^n x 2^n; Color carries the text's opacity in its alpha byte.
  void DrawSmoothText(int32_t X, int32_t Y, const std::string& Text, int32_t AALevel, TColor32 Color);

  // ---- Drawing onto another bitmap (own DrawMode and OnPixelCombine) ---------
  void DrawAt(TBitmap32* Dst, int32_t X, int32_t Y) const;
  void DrawTo(TBitmap32* Dst, const TRect& DstRect) const;
  void DrawScaledTo(TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect) const;
  void DrawScaledFrom(const TRect& DstRect, const TRect& SrcRect, const TBitmap32* Src);
  // Copies the whole image 1:1 onto a platform surface at (X, Y).
  void DrawToDC(TPixelSurface& DC, int32_t X, int32_t Y) const;

  // ---- Pixel access (unchecked forms need positions inside the bitmap) -----
  TColor32 GetPixel(int32_t X, int32_t Y) const { return bits_[static_cast<ptrdiff_t>(Y) * Width() + X]; }
  void SetPixel(int32_t X, int32_t Y, TColor32 C) { bits_[static_cast<ptrdiff_t>(Y) * Width() + X] = C; }
  TColor32 GetPixelClipped(int32_t X, int32_t Y) const;
  void SetPixelClipped(int32_t X, int32_t Y, TColor32 C);
  void SetPixelBlend(int32_t X, int32_t Y, TColor32 C);
  void SetPixelBlendClipped(int32_t X, int32_t Y, TColor32 C);
  TColor32 GetPixelWrapped(int32_t X, int32_t Y) const;
  TColor32 GetPixelWrappedBilinear(TFixed X, TFixed Y) const;
  // 24.8 fixed-point positions; the unchecked forms also touch the pixel to
  // the right and the row below.
  void SetPixel256(int32_t X, int32_t Y, TColor32 C);
  void SetPixel256Clipped(int32_t X, int32_t Y, TColor32 C);
  void SetPixelFixedClipped(TFixed X, TFixed Y, TColor32 C);
  TColor32 GetPixel256(int32_t X, int32_t Y) const;
  TColor32 GetPixel256Clipped(int32_t X, int32_t Y) const;
  TColor32 GetPixelFixed(TFixed X, TFixed Y) const;
  TColor32 GetPixelFixedClipped(TFixed X, TFixed Y) const;
  TColor32 GetPixelBilinear(float X, float Y) const;

  // ---- Stipple -------------------------------------------------------------
  void SetStipple(const TArrayOfColor32& Pattern);
  const TArrayOfColor32& StipplePattern() const { return stipplePattern_; }
  float StippleCounter() const { return stippleCounter_; }
  void SetStippleCounter(float Value) { stippleCounter_ = Value; }
  float StippleStep() const { return stippleStep_; }
  void SetStippleStep(float Value) { stippleStep_ = Value; }
  void AdvanceStipple(float Length);
  TColor32 GetStippleColor();

  // ---- Lines (end points inclusive) ----------------------------------------
  void HorzLine(int32_t X1, int32_t Y, int32_t X2, TColor32 Value);
  void HorzLineClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Value);
  void HorzLineBlend(int32_t X1, int32_t Y, int32_t X2, TColor32 Value);
  void HorzLineBlendClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Value);
  void HorzLineStipple(int32_t X1, int32_t Y, int32_t X2);
  void VertLine(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value);
  void VertLineClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value);
  void VertLineBlend(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value);
  void VertLineBlendClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value);
  void VertLineStipple(int32_t X, int32_t Y1, int32_t Y2);
  // L true also draws the end pixel (X2, Y2).
  void LineClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L = false);
  void LineBlendClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L = false);
  void LineFixed(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L = false);
  void LineFixedClipped(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L = false);

  // ---- Pen -----------------------------------------------------------------
  void MoveTo(int32_t X, int32_t Y);
  void LineToClipped(int32_t X, int32_t Y);
  void LineToBlend(int32_t X, int32_t Y);
  void MoveToFixed(TFixed X, TFixed Y);
  void LineToSmooth(TFixed X, TFixed Y);
  TPoint PenPos() const { return penPos_; }
  TFixedPoint PenPosFixed() const { return penPosFixed_; }

  // ---- Rectangles (X1, Y1 inclusive; X2, Y2 exclusive) ---------------------
  void FillRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  void FillRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  void FillRectBlend(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  void FillRectBlendClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  void FrameRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value);
  // A stippled frame drawn clockwise from the top-left corner.
  void FrameRectBlendClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);

 protected:
  void ChangeSize(int32_t& W, int32_t& H, int32_t NewWidth, int32_t NewHeight) override;
  virtual void HandleChanged();

 private:
  void AssignFromBitmap(const TPlatformBitmap& B);
  void AssignFromTransparentGraphic(const TGraphic& G);
  void AssignFromGraphic(const TGraphic& G);
  void FillPlatformBitmap(TPlatformBitmap& Dst) const;
  void LineClippedImpl(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L, bool Blend);
  void SetPixel256Weights(int32_t X, int32_t Y, TColor32 C, bool Clip);

  std::unique_ptr<TColor32[]> storage_;
  TColor32* bits_ = nullptr;
  bool leaveUnwritten_ = false;  // the next ChangeSize skips the clearing
  TRect clipRect_;
  TFixedRect fixedClipRect_;
  TRect clipRect256_;
  bool clipping_ = false;
  TDrawMode drawMode_ = dmOpaque;
  TCombineMode combineMode_ = cmBlend;
  TWrapMode wrapMode_ = wmClamp;
  TFont font_;
  uint32_t masterAlpha_ = 255;
  TColor32 outerColor_ = 0;
  TColor32 penColor_ = 0xFFFFFFFFu;
  float stippleCounter_ = 0.0f;
  TArrayOfColor32 stipplePattern_;
  float stippleStep_ = 1.0f;
  TAreaChangedEvent savedAreaChanged_;
  bool measuringMode_ = false;
  std::unique_ptr<TCustomResampler> resampler_;
  TPoint penPos_;
  TFixedPoint penPosFixed_;
};
