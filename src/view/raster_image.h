#pragma once
// The controls that show a TBitmap32. TCustomPaintBox32 renders into a
// buffer bitmap of its own and copies only what changed to its window;
// TCustomImage32 adds the document bitmap, the layers, a scale and an
// alignment of the bitmap in the control, the 16.16 mapping between bitmap
// and control, the paint stages that compose the buffer and the routing of
// mouse events to the layers. TImage32 is the image control the windows use.
//
// Nothing here needs a window system: a control talks to its window through
// a TViewHost (view_host.h). The host calls PaintWindow when the window must
// be painted, Resize when its client size changed, and the mouse entry points.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "raster_containers.h"
#include "raster_core.h"
#include "raster_layers.h"
#include "raster_repaintopt.h"
#include "view_host.h"

// Kinds of paint stage.
constexpr uint32_t PST_CUSTOM = 1;          // fires OnPaintStage
constexpr uint32_t PST_CLEAR_BUFFER = 2;
constexpr uint32_t PST_CLEAR_BACKGND = 3;
constexpr uint32_t PST_DRAW_BITMAP = 4;
constexpr uint32_t PST_DRAW_LAYERS = 5;     // Parameter: the layer options to share
constexpr uint32_t PST_CONTROL_FRAME = 6;
constexpr uint32_t PST_BITMAP_FRAME = 7;

struct TPaintStage {
  bool DsgnTime = false;  // runs while the control is being designed
  bool RunTime = true;    // runs in the running program
  uint32_t Stage = 0;
  uint32_t Parameter = 0;
};

class TPaintStages {
 public:
  // Appends (DsgnTime false, RunTime true, Stage 0, Parameter 0) and returns it.
  TPaintStage* Add();
  void Clear() { FItems.clear(); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // EListError when out of range. The pointer stays valid until the next Add.
  TPaintStage* Items(int32_t Index);
  const TPaintStage* Items(int32_t Index) const;

 private:
  std::vector<TPaintStage> FItems;
};

enum TRepaintMode : uint8_t { rmFull, rmDirect, rmOptimizer };

// Paint box options.
constexpr uint32_t pboWantArrowKeys = 1u << 0;  // the arrow keys come to the control
constexpr uint32_t pboAutoFocus = 1u << 1;      // a press takes the focus

class TCustomPaintBox32 : public TObject {
  VEMRA_CLASS(TCustomPaintBox32, TObject)
 public:
  // Host null: the control lives in a TNullViewHost of its own (192 x 192).
  explicit TCustomPaintBox32(TViewHost* Host = nullptr);
  ~TCustomPaintBox32() override;
  TCustomPaintBox32(const TCustomPaintBox32&) = delete;
  TCustomPaintBox32& operator=(const TCustomPaintBox32&) = delete;

  TViewHost& Host() const { return *FHost; }
  // Moves the control to another window (null: a window of its own), then Resize.
  void SetHost(TViewHost* Host);
  int32_t Width() const { return FHost->ClientSize().X; }
  int32_t Height() const { return FHost->ClientSize().Y; }
  TRect ClientRect() const { return TRect{0, 0, Width(), Height()}; }

  // ---- Host entry points -------------------------------------------------------
  // The window must be painted (what a paint message does).
  void PaintWindow();
  // The client size changed.
  virtual void Resize();
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseEnter();
  virtual void MouseLeave();
  // The mouse wheel, WheelDelta 120 per notch; true when the control used it.
  // A control that does not scroll leaves it to its window's parent.
  virtual bool MouseWheel(TShiftState Shift, int32_t WheelDelta, int32_t X, int32_t Y) {
    (void)Shift, (void)WheelDelta, (void)X, (void)Y;
    return false;
  }
  bool MouseInControl() const { return FMouseInControl; }
  // The dialog-code query: true when the control wants the arrow keys.
  bool WantsArrowKeys() const { return (FOptions & pboWantArrowKeys) != 0; }

  // ---- Invalidation --------------------------------------------------------------
  // Marks the picture stale and asks the window for a paint.
  virtual void Invalidate();
  // Invalidate, then paint at once.
  void Repaint();
  virtual void ForceFullInvalidate();

  // ---- Buffer ----------------------------------------------------------------------
  TBitmap32* Buffer() const { return FBuffer.get(); }
  int32_t BufferOversize() const { return FBufferOversize; }
  void SetBufferOversize(int32_t Value) { FBufferOversize = Value; }
  bool BufferValid() const { return FBufferValid; }
  void SetBufferValid(bool Value) { FBufferValid = Value; }
  bool ForceFullRepaint() const { return FForceFullRepaint; }
  TRectList* InvalidRects() const { return FInvalidRects.get(); }
  TCustomRepaintOptimizer* RepaintOptimizer() const { return FRepaintOptimizer.get(); }
  // Grows or shrinks the buffer to the viewport with the oversize rule.
  void ResizeBuffer();
  virtual TRect GetViewportRect();

  TRepaintMode RepaintMode() const { return FRepaintMode; }
  virtual void SetRepaintMode(TRepaintMode Value);

  // ---- Appearance and behaviour ----------------------------------------------------
  uint32_t Options() const { return FOptions; }
  void SetOptions(uint32_t Value) { FOptions = Value; }
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  // The colour as an opaque TColor32, system colours resolved by the host.
  TColor32 Color32() const;
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool Value) { FTabStop = Value; }
  // Design mode switches the stages that only run while designing.
  bool Designing() const { return FDesigning; }
  void SetDesigning(bool Value);
  // True while the control is inside its own painting.
  bool Painting() const { return FPainting; }

  TNotifyEvent OnGDIOverlay;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;

  // ---- The paint machinery (virtual, in this order) --------------------------------
  virtual void Paint();
  virtual bool CustomRepaint();
  virtual bool InvalidRectsAvailable();
  virtual void DoPrepareInvalidRects();
  virtual void DoPaintBuffer();
  virtual void DoPaintGDIOverlay();
  virtual void DoBufferResized(int32_t OldWidth, int32_t OldHeight);

 protected:
  // The buffer's area notification in rmDirect.
  void DirectAreaUpdateHandler(const TRect& Area);

  std::unique_ptr<TNullViewHost> FOwnHost;
  TViewHost* FHost;
  std::unique_ptr<TBitmap32> FBuffer;
  int32_t FBufferOversize = 40;
  bool FBufferValid = false;
  bool FForceFullRepaint = true;
  std::unique_ptr<TRectList> FInvalidRects;
  std::unique_ptr<TCustomRepaintOptimizer> FRepaintOptimizer;
  TRepaintMode FRepaintMode = rmFull;
  uint32_t FOptions = 0;
  TColor FColor = clBtnFace;
  TCursor FCursor = crDefault;
  bool FTabStop = false;
  bool FDesigning = false;
  bool FMouseInControl = false;
  bool FPainting = false;
  // A plain paint box hands its buffer's changed areas to the optimizer; the
  // image control reports its bitmap's areas instead.
  bool FRoutesBufferAreasToOptimizer = true;
};

enum TBitmapAlign : uint8_t { baTopLeft, baCenter, baTile, baCustom };
enum TScaleMode : uint8_t { smNormal, smStretch, smScale, smResize, smOptimal, smOptimalScaled };

class TCustomImage32;
using TImgMouseEvent = std::function<void(TCustomImage32* Sender, TMouseButton Button, TShiftState Shift, int32_t X,
                                          int32_t Y, TCustomLayer* Layer)>;
using TImgMouseMoveEvent =
    std::function<void(TCustomImage32* Sender, TShiftState Shift, int32_t X, int32_t Y, TCustomLayer* Layer)>;
using TPaintStageEvent = std::function<void(TCustomImage32* Sender, TBitmap32* Dest, int32_t StageNum)>;

class TCustomImage32 : public TCustomPaintBox32, public TLayerCollectionOwner {
  VEMRA_CLASS(TCustomImage32, TCustomPaintBox32)
 public:
  explicit TCustomImage32(TViewHost* Host = nullptr);
  ~TCustomImage32() override;

  // ---- Bitmap and placement ----------------------------------------------------------
  TBitmap32* Bitmap() const { return FBitmap.get(); }
  // Copies Value into the control's own bitmap.
  void SetBitmap(const TBitmap32* Value);
  TBitmapAlign BitmapAlign() const { return FBitmapAlign; }
  void SetBitmapAlign(TBitmapAlign Value);
  float OffsetHorz() const { return FOffsetHorz; }
  void SetOffsetHorz(float Value);
  float OffsetVert() const { return FOffsetVert; }
  void SetOffsetVert(float Value);
  // ScaleX and ScaleY, always set together; never below 0.001.
  float Scale() const { return FScaleX; }
  void SetScale(float Value);
  float ScaleX() const { return FScaleX; }
  float ScaleY() const { return FScaleY; }
  TScaleMode ScaleMode() const { return FScaleMode; }
  virtual void SetScaleMode(TScaleMode Value);
  // The control takes the (scaled) bitmap's size when the bitmap is resized.
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value) { FAutoSize = Value; }

  TLayerCollection* Layers() const { return FLayers.get(); }
  TPaintStages* PaintStages() const { return FPaintStages.get(); }

  // ---- Mapping -----------------------------------------------------------------------
  // Bitmap to control and back through the 16.16 cache (brought up to date first).
  TPoint BitmapToControl(const TPoint& P);
  TPoint ControlToBitmap(const TPoint& P);
  virtual TRect GetBitmapRect();
  // The displayed size of the bitmap by scale mode; (0, 0) when nothing shows.
  virtual TPoint GetBitmapSize();
  virtual void UpdateCache();
  void InvalidateCache();
  bool CacheValid() const { return FCacheValid; }
  const TRect& CachedBitmapRect() const { return FCachedBitmapRect; }
  TFixed CachedScaleX() const { return FCachedScaleX; }
  TFixed CachedScaleY() const { return FCachedScaleY; }
  TFixed CachedRecScaleX() const { return FCachedRecScaleX; }
  TFixed CachedRecScaleY() const { return FCachedRecScaleY; }
  int32_t CachedShiftX() const { return FCachedShiftX; }
  int32_t CachedShiftY() const { return FCachedShiftY; }

  // ---- Updates -------------------------------------------------------------------------
  virtual void BeginUpdate();
  // "Unpaired EndUpdate call" without a matching BeginUpdate.
  virtual void EndUpdate();
  // At update count 0: invalidates the control and fires OnChange.
  virtual void Changed();
  int32_t UpdateCount() const { return FUpdateCount; }

  // Sizes the bitmap to the viewport, optionally cleared to ClearColor.
  virtual void SetupBitmap(bool DoClear = false, TColor32 ClearColor = 0xFF000000u);
  // Renders the run-time stages into Dest, the bitmap mapped onto DestRect.
  virtual void PaintTo(TBitmap32* Dest, const TRect& DestRect);
  bool PaintToMode() const { return FPaintToMode; }
  // After the stored properties are loaded: the buffer is stale, OnInitStages fires.
  void Loaded();

  // ---- Overrides -------------------------------------------------------------------------
  void Invalidate() override;
  void SetRepaintMode(TRepaintMode Value) override;
  void DoPaintBuffer() override;
  void DoPaintGDIOverlay() override;
  bool InvalidRectsAvailable() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseLeave() override;

  // TLayerCollectionOwner
  bool GetCropRect(TRect& R) override;
  void SetScreenCursor(TCursor Cursor) override;
  TCursor OwnerCursor() const override { return Cursor(); }

  // ---- Virtual operations (in this order) --------------------------------------------------
  virtual void BitmapResized();
  virtual void BitmapChanged(const TRect& Area);
  virtual void DoInitStages();
  virtual void DoScaleChange();
  virtual void InitDefaultStages();
  virtual void DoMouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y, TCustomLayer* Layer);
  virtual void DoMouseMove(TShiftState Shift, int32_t X, int32_t Y, TCustomLayer* Layer);
  virtual void DoMouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y, TCustomLayer* Layer);
  virtual void ExecBitmapFrame(TBitmap32* Dest, int32_t StageNum);
  virtual void ExecClearBuffer(TBitmap32* Dest, int32_t StageNum);
  virtual void ExecClearBackgnd(TBitmap32* Dest, int32_t StageNum);
  virtual void ExecDrawFrame(TBitmap32* Dest, int32_t StageNum);
  virtual void ExecCustom(TBitmap32* Dest, int32_t StageNum);
  virtual void ExecDrawBitmap(TBitmap32* Dest, int32_t StageNum);
  virtual void ExecDrawLayers(TBitmap32* Dest, int32_t StageNum);

  TNotifyEvent OnBitmapResize;
  TNotifyEvent OnChange;
  TNotifyEvent OnInitStages;
  TImgMouseEvent OnMouseDown;
  TImgMouseMoveEvent OnMouseMove;
  TImgMouseEvent OnMouseUp;
  TPaintStageEvent OnPaintStage;
  TNotifyEvent OnScaleChange;

 protected:
  using TStageHandler = void (TCustomImage32::*)(TBitmap32* Dest, int32_t StageNum);
  // The handler of a stage kind, or null for a kind that draws nothing.
  static TStageHandler StageHandler(uint32_t Stage);
  void SetUnityCache();
  void ComputeCache(const TRect& R);
  // The area handlers of the bitmap in rmOptimizer and rmDirect.
  void BitmapAreaChanged(const TRect& Area);
  void BitmapDirectAreaChanged(const TRect& Area);
  // Area mapped to control coordinates, grown by the resampler's reach, once
  // per tile for baTile.
  std::vector<TRect> MappedAreas(const TRect& Area);
  void WireBitmap();
  bool InvalidRectsInEffect() const;

  std::unique_ptr<TBitmap32> FBitmap;
  std::unique_ptr<TLayerCollection> FLayers;
  std::unique_ptr<TPaintStages> FPaintStages;
  std::vector<TStageHandler> FPaintStageHandlers;
  std::vector<int32_t> FPaintStageNum;
  TBitmapAlign FBitmapAlign = baTopLeft;
  float FOffsetHorz = 0;
  float FOffsetVert = 0;
  float FScaleX = 1.0f;
  float FScaleY = 1.0f;
  TScaleMode FScaleMode = smNormal;
  bool FAutoSize = false;
  int32_t FUpdateCount = 0;
  TRect FCachedBitmapRect;
  TFixed FCachedScaleX = FixedOne;
  TFixed FCachedScaleY = FixedOne;
  TFixed FCachedRecScaleX = FixedOne;
  TFixed FCachedRecScaleY = FixedOne;
  int32_t FCachedShiftX = 0;
  int32_t FCachedShiftY = 0;
  bool FCacheValid = false;
  bool FPaintToMode = false;
};

// The image control the windows and dialogs use.
class TImage32 : public TCustomImage32 {
  VEMRA_CLASS(TImage32, TCustomImage32)
 public:
  using TCustomImage32::TCustomImage32;
  // Bitmap, BitmapAlign, Scale, ScaleMode, RepaintMode, AutoSize, Color,
  // Cursor, TabStop, Options and the events, in that order.
  void GetPublishedProperties(TPropList& List) const override;
};
