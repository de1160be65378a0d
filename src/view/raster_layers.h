#pragma once
// Layers drawn over an image control's bitmap, and the collection that owns
// them. Index 0 is at the bottom. A layer gets the control's mouse events
// before the control's own handlers; the editor uses bitmap layers for
// floating pictures and a rubber band for the selection frame.
//
// Lifetime: the collection owns its layers. Whatever else points at a layer
// (the collection's mouse listener, a rubber band's child, the repaint
// optimizer, the editor) is told when the layer goes and drops its pointer:
// layers through Notification, everyone else through a destroy observer or
// the collection's list notification.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "raster_core.h"
#include "view_host.h"

class TLayerCollection;
class TCustomLayer;

// Layer option bits.
constexpr uint32_t LOB_VISIBLE = 0x80000000u;
constexpr uint32_t LOB_GDI_OVERLAY = 0x40000000u;  // drawn on the window after the buffer
constexpr uint32_t LOB_MOUSE_EVENTS = 0x20000000u;
constexpr uint32_t LOB_NO_UPDATE = 0x10000000u;    // changes do not repaint
constexpr uint32_t LOB_NO_CAPTURE = 0x08000000u;   // never becomes the mouse listener
constexpr uint32_t LOB_INVALID = 0x04000000u;      // queued for repaint by the optimizer
constexpr uint32_t LOB_FORCE_UPDATE = 0x02000000u;

// Actions of the collection's list notification.
enum TLayerListNotification : uint8_t { lnLayerAdded = 0, lnLayerInserted = 1, lnLayerDeleted = 2, lnCleared = 3 };

using TLayerListNotifyEvent =
    std::function<void(TLayerCollection* Sender, TLayerListNotification Action, TCustomLayer* Layer, int32_t Index)>;
using TLayerUpdateEvent = std::function<void(void* Sender, TCustomLayer* Layer)>;
using TAreaUpdateEvent = std::function<void(void* Sender, const TRect& Area, uint32_t Info)>;
using TGetScaleEvent = std::function<void(void* Sender, float& ScaleX, float& ScaleY)>;
using TGetShiftEvent = std::function<void(void* Sender, float& ShiftX, float& ShiftY)>;

using THitTestEvent = std::function<void(TCustomLayer* Sender, int32_t X, int32_t Y, bool& Passed)>;
using TPaintLayerEvent = std::function<void(TCustomLayer* Sender, TBitmap32* Buffer)>;
using TLayerMouseEvent =
    std::function<void(TCustomLayer* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)>;
using TLayerMouseMoveEvent = std::function<void(TCustomLayer* Sender, TShiftState Shift, int32_t X, int32_t Y)>;
using TLayerDestroyObserver = std::function<void(TCustomLayer* Layer)>;

// What a collection asks of the control that owns it.
class TLayerCollectionOwner {
 public:
  virtual ~TLayerCollectionOwner() = default;
  // The rectangle a cropped bitmap layer is clipped to (the control's bitmap
  // rectangle); false when the owner shows no bitmap.
  virtual bool GetCropRect(TRect& R) = 0;
  // Shows Cursor as the screen cursor over the owner.
  virtual void SetScreenCursor(TCursor Cursor) = 0;
  // The owner control's own cursor.
  virtual TCursor OwnerCursor() const = 0;
};

class TCustomLayer : public TNotifiablePersistent {
  VEMRA_CLASS(TCustomLayer, TNotifiablePersistent)
 public:
  // A layer made on its own belongs to no collection; TLayerCollection::Add
  // makes and adopts one.
  TCustomLayer();
  ~TCustomLayer() override;
  // A new layer of the same class (the collection's Assign makes copies with it).
  virtual std::unique_ptr<TCustomLayer> NewInstance() const { return std::make_unique<TCustomLayer>(); }

  TLayerCollection* LayerCollection() const { return FLayerCollection; }
  // Position in the collection, -1 without one.
  int32_t Index() const;
  // Moves the layer, clamped to 0..Count - 1.
  virtual void SetIndex(int32_t Value);
  void BringToFront();
  void SendToBack();

  uint32_t LayerOptions() const { return FLayerOptions; }
  virtual void SetLayerOptions(uint32_t Value);
  bool Visible() const { return (FLayerOptions & LOB_VISIBLE) != 0; }
  void SetVisible(bool Value);
  bool MouseEvents() const { return (FLayerOptions & LOB_MOUSE_EVENTS) != 0; }
  void SetMouseEvents(bool Value);
  TCursor Cursor() const { return FCursor; }
  virtual void SetCursor(TCursor Value);
  // The buttons held down over the layer (bit 1 << TMouseButton).
  uint32_t Clicked() const { return FClicked; }
  // A free number for the layer's user (the editor marks its selection frame with it).
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t Value) { FTag = Value; }

  // DoHitTest, then OnHitTest may change the answer.
  bool HitTest(int32_t X, int32_t Y);
  // Paint, then OnPaint.
  void DoPaint(TBitmap32* Buffer);
  void DoPaintGDI(TPixelSurface& Canvas) { PaintGDI(Canvas); }

  // Outside an update and in a collection without LOB_NO_UPDATE: queues the
  // layer for repaint, makes the collection repaint (a visible layer) or
  // refresh its overlay (an invisible overlay layer), then OnChange.
  void Changed() override;
  // The same for a part of the layer, in control coordinates.
  virtual void Changed(const TRect& Area);
  // Tells the collection (and so the optimizer) that the layer needs repainting.
  void Update();
  void Update(const TRect& Area);

  // Other layers that hear of this one's end through their Notification.
  void AddNotification(TCustomLayer* Layer);
  void RemoveNotification(TCustomLayer* Layer);
  // Anything else that holds a pointer to the layer: Observer runs when the
  // layer is destroyed. The id removes it again.
  int32_t AddDestroyObserver(TLayerDestroyObserver Observer);
  void RemoveDestroyObserver(int32_t Id);
  // Expires when the layer is destroyed; callers that run user code through
  // a layer check it before touching the layer again.
  std::weak_ptr<void> LifeToken() const { return FLifeToken; }

  // Mouse entry points, called by the collection.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);

  void AssignTo(TPersistent* Dst) override;

  THitTestEvent OnHitTest;
  TPaintLayerEvent OnPaint;
  TLayerMouseEvent OnMouseDown;
  TLayerMouseMoveEvent OnMouseMove;
  TLayerMouseEvent OnMouseUp;
  TNotifyEvent OnDestroy;

 protected:
  friend class TLayerCollection;

  virtual bool DoHitTest(int32_t X, int32_t Y);
  // Another layer on our notification list is going away.
  virtual void Notification(TCustomLayer* Layer);
  virtual void Paint(TBitmap32* Buffer);
  virtual void PaintGDI(TPixelSurface& Canvas);
  // Moves the layer into another collection; a layer must already belong to
  // one (the new collection takes it over from the old).
  virtual void SetLayerCollection(TLayerCollection* Value);
  // The first half of the repaint bracket: the layer's old place needs repainting.
  void Changing();
  // The screen cursor over the owner control, when there is one.
  void SetScreenCursor(TCursor Value);

  TLayerCollection* FLayerCollection = nullptr;
  uint32_t FLayerOptions = LOB_VISIBLE;
  TCursor FCursor = crDefault;
  uint32_t FClicked = 0;
  int32_t FTag = 0;

 private:
  // Both Changed: DoUpdate queues the repaint (all of the layer or a part).
  void ChangedWith(const std::function<void()>& DoUpdate);
  // OnDestroy, then the collection lets go, then everyone who depends on us.
  void NotifyDestroying();
  void NotifyDependents();

  bool FDestroying = false;
  std::vector<TCustomLayer*> FNotifyList;  // layers told of our end
  std::vector<TCustomLayer*> FWatching;    // layers whose lists hold us
  std::vector<std::pair<int32_t, TLayerDestroyObserver>> FDestroyObservers;
  int32_t FNextObserverId = 1;
  std::shared_ptr<int> FLifeToken = std::make_shared<int>(0);
};

class TLayerCollection : public TNotifiablePersistent {
  VEMRA_CLASS(TLayerCollection, TNotifiablePersistent)
 public:
  explicit TLayerCollection(TLayerCollectionOwner* Owner = nullptr);
  ~TLayerCollection() override;

  // A new layer of class T at the top.
  template <class T>
  T* Add() {
    auto p = std::make_unique<T>();
    T* raw = p.get();
    Adopt(std::move(p));
    return raw;
  }
  // A new layer of class T at Index (clamped to 0..Count).
  template <class T>
  T* Insert(int32_t Index) {
    auto p = std::make_unique<T>();
    T* raw = p.get();
    Adopt(std::move(p), Index);
    return raw;
  }
  // Takes ownership of a layer made elsewhere, at the top or at Index.
  TCustomLayer* Adopt(std::unique_ptr<TCustomLayer> Layer, int32_t Index = -1);
  // Hands a layer back to the caller without destroying it.
  std::unique_ptr<TCustomLayer> Extract(TCustomLayer* Layer);
  // Destroys every layer.
  void Clear();
  // Destroys the layer at Index; EListError when there is none.
  void Delete(int32_t Index);
  // Destroys Layer when it is ours.
  void Remove(TCustomLayer* Layer);

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // 0 is the bottom layer; EListError when out of range.
  TCustomLayer* Items(int32_t Index) const;
  int32_t IndexOf(const TCustomLayer* Layer) const;
  // The topmost layer whose options share a bit with OptionsMask and whose
  // HitTest holds at (X, Y), or null.
  TCustomLayer* HitTest(int32_t X, int32_t Y, uint32_t OptionsMask = LOB_MOUSE_EVENTS);

  TLayerCollectionOwner* Owner() const { return FOwner; }
  bool MouseEvents() const { return FMouseEvents; }
  void SetMouseEvents(bool Value);
  TCustomLayer* MouseListener() const { return FMouseListener; }
  void SetMouseListener(TCustomLayer* Value);

  // Mouse routing; each returns the layer that took the event, or null.
  TCustomLayer* MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  TCustomLayer* MouseMove(TShiftState Shift, int32_t X, int32_t Y);
  TCustomLayer* MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);

  // The owner's view scale and shift (1, 1 and 0, 0 when nobody answers).
  virtual void GetViewportScale(float& ScaleX, float& ScaleY);
  virtual void GetViewportShift(float& ShiftX, float& ShiftY);

  // BeginUpdate fires OnChanging when the count leaves 0; EndUpdate reports
  // Changed when it returns to 0 and raises "Unpaired EndUpdate" without a
  // matching BeginUpdate.
  void BeginUpdate() override;
  void EndUpdate() override;
  // Asks the owner to redraw the window overlay (outside updates).
  void GDIUpdate();
  // A layer asks to be repainted (the optimizer hears of it), then Changed.
  void DoUpdateLayer(TCustomLayer* Layer);
  void DoUpdateArea(const TRect& Area);

  // Frees our layers and adds a copy of every layer of Source.
  void Assign(const TPersistent* Source) override;

  TNotifyEvent OnChanging;
  TNotifyEvent OnGDIUpdate;
  TLayerListNotifyEvent OnListNotify;
  TLayerUpdateEvent OnLayerUpdated;
  TAreaUpdateEvent OnAreaUpdated;
  TGetScaleEvent OnGetViewportScale;
  TGetShiftEvent OnGetViewportShift;

 protected:
  void Notify(TLayerListNotification Action, TCustomLayer* Layer, int32_t Index);

 private:
  friend class TCustomLayer;
  // Removes Layer from the list without destroying it.
  std::unique_ptr<TCustomLayer> RemoveItem(TCustomLayer* Layer);
  void DestroyLayer(TCustomLayer* Layer);
  void MoveItem(int32_t From, int32_t To);

  std::vector<std::unique_ptr<TCustomLayer>> FItems;
  TLayerCollectionOwner* FOwner;
  TCustomLayer* FMouseListener = nullptr;
  bool FMouseEvents = true;
};

class TPositionedLayer : public TCustomLayer {
  VEMRA_CLASS(TPositionedLayer, TCustomLayer)
 public:
  TPositionedLayer();
  std::unique_ptr<TCustomLayer> NewInstance() const override { return std::make_unique<TPositionedLayer>(); }

  const TFloatRect& Location() const { return FLocation; }
  // Repaint bracket around DoSetLocation.
  void SetLocation(const TFloatRect& Value);
  // Location is in bitmap coordinates and follows the view's scale and shift.
  bool Scaled() const { return FScaled; }
  void SetScaled(bool Value);
  // R in control coordinates.
  virtual TFloatRect GetAdjustedRect(const TFloatRect& R);
  TFloatRect GetAdjustedLocation() { return GetAdjustedRect(FLocation); }

  void AssignTo(TPersistent* Dst) override;

 protected:
  bool DoHitTest(int32_t X, int32_t Y) override;
  virtual void DoSetLocation(const TFloatRect& Value);

  TFloatRect FLocation{0, 0, 64, 64};
  bool FScaled = false;
};

class TBitmapLayer : public TPositionedLayer {
  VEMRA_CLASS(TBitmapLayer, TPositionedLayer)
 public:
  TBitmapLayer();
  ~TBitmapLayer() override;
  std::unique_ptr<TCustomLayer> NewInstance() const override { return std::make_unique<TBitmapLayer>(); }

  TBitmap32* Bitmap() const { return FBitmap.get(); }
  // Copies Value into the layer's bitmap.
  void SetBitmap(const TBitmap32* Value);
  // Hit only where the bitmap's pixel has alpha above 0.
  bool AlphaHit() const { return FAlphaHit; }
  void SetAlphaHit(bool Value) { FAlphaHit = Value; }
  // Painting is clipped to the owner control's bitmap rectangle.
  bool Cropped() const { return FCropped; }
  void SetCropped(bool Value);

  void AssignTo(TPersistent* Dst) override;

 protected:
  bool DoHitTest(int32_t X, int32_t Y) override;
  void Paint(TBitmap32* Buffer) override;

 private:
  void BitmapAreaChanged(const TRect& Area);

  std::unique_ptr<TBitmap32> FBitmap;
  bool FAlphaHit = false;
  bool FCropped = false;
};

enum TDragState : uint8_t {
  dsNone,
  dsMove,
  dsSizeL,
  dsSizeT,
  dsSizeR,
  dsSizeB,
  dsSizeTL,
  dsSizeTR,
  dsSizeBL,
  dsSizeBR
};

// Rubber band handle bits.
using TRBHandles = uint16_t;
constexpr TRBHandles rhCenter = 1u << 0;  // move by the inside
constexpr TRBHandles rhSides = 1u << 1;
constexpr TRBHandles rhCorners = 1u << 2;
constexpr TRBHandles rhFrame = 1u << 3;   // stippled frame
constexpr TRBHandles rhNotLeftSide = 1u << 4;
constexpr TRBHandles rhNotRightSide = 1u << 5;
constexpr TRBHandles rhNotTopSide = 1u << 6;
constexpr TRBHandles rhNotBottomSide = 1u << 7;
constexpr TRBHandles rhNotTLCorner = 1u << 8;
constexpr TRBHandles rhNotTRCorner = 1u << 9;
constexpr TRBHandles rhNotBLCorner = 1u << 10;
constexpr TRBHandles rhNotBRCorner = 1u << 11;

class TRubberbandLayer;
using TRubberbandResizingEvent = std::function<void(TRubberbandLayer* Sender, const TFloatRect& OldLocation,
                                                    TFloatRect& NewLocation, TDragState DragState, TShiftState Shift)>;

class TRubberbandLayer : public TPositionedLayer {
  VEMRA_CLASS(TRubberbandLayer, TPositionedLayer)
 public:
  TRubberbandLayer();
  ~TRubberbandLayer() override;
  std::unique_ptr<TCustomLayer> NewInstance() const override { return std::make_unique<TRubberbandLayer>(); }

  // A positioned layer that takes the frame's location whenever it changes.
  TPositionedLayer* ChildLayer() const { return FChildLayer; }
  void SetChildLayer(TPositionedLayer* Value);

  const TArrayOfColor32& FrameStipple() const { return FFrameStipplePattern; }
  void SetFrameStipple(const TArrayOfColor32& Value);
  float FrameStippleStep() const { return FFrameStippleStep; }
  void SetFrameStippleStep(float Value);
  float FrameStippleCounter() const { return FFrameStippleCounter; }
  void SetFrameStippleCounter(float Value);
  TColor32 HandleFrame() const { return FHandleFrame; }
  void SetHandleFrame(TColor32 Value);
  TColor32 HandleFill() const { return FHandleFill; }
  void SetHandleFill(TColor32 Value);
  TRBHandles Handles() const { return FHandles; }
  void SetHandles(TRBHandles Value);
  int32_t HandleSize() const { return FHandleSize; }
  void SetHandleSize(int32_t Value);
  float MinWidth() const { return FMinWidth; }
  void SetMinWidth(float Value) { FMinWidth = Value; }
  float MaxHeight() const { return FMaxHeight; }
  void SetMaxHeight(float Value) { FMaxHeight = Value; }
  float MinHeight() const { return FMinHeight; }
  void SetMinHeight(float Value) { FMinHeight = Value; }
  float MaxWidth() const { return FMaxWidth; }
  void SetMaxWidth(float Value) { FMaxWidth = Value; }

  // The drag that a press at (X, Y) in control coordinates would start.
  virtual TDragState GetDragState(int32_t X, int32_t Y);
  // The drag running now (dsNone between drags).
  TDragState DragState() const { return FIsDragging ? FDragState : dsNone; }
  bool IsDragging() const { return FIsDragging; }

  void SetLayerOptions(uint32_t Value) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;

  void AssignTo(TPersistent* Dst) override;

  TNotifyEvent OnUserChange;
  TRubberbandResizingEvent OnResizing;

 protected:
  bool DoHitTest(int32_t X, int32_t Y) override;
  void DoSetLocation(const TFloatRect& Value) override;
  virtual void DoResizing(const TFloatRect& OldLocation, TFloatRect& NewLocation, TDragState DragState,
                          TShiftState Shift);
  void Notification(TCustomLayer* Layer) override;
  void Paint(TBitmap32* Buffer) override;

 private:
  void DrawHandle(TBitmap32* Buffer, int32_t X, int32_t Y);

  TPositionedLayer* FChildLayer = nullptr;
  TArrayOfColor32 FFrameStipplePattern{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF000000u, 0xFF000000u};
  float FFrameStippleStep = 1.0f;
  float FFrameStippleCounter = 0.0f;
  TColor32 FHandleFrame = 0xFF000000u;
  TColor32 FHandleFill = 0xFFFFFFFFu;
  TRBHandles FHandles = rhCenter | rhSides | rhCorners | rhFrame;
  int32_t FHandleSize = 3;
  float FMinWidth = 10.0f;
  float FMaxHeight = 0.0f;
  float FMinHeight = 10.0f;
  float FMaxWidth = 0.0f;
  bool FIsDragging = false;
  TDragState FDragState = dsNone;
  TFloatRect FOldLocation;
  TFloatPoint FMouseShift;
};
