#pragma once
// The repaint optimizer seam between a paint box's buffer and its layers: it
// collects what changed since the last paint and turns that into the paint
// box's list of invalid rectangles. TCustomRepaintOptimizer is the abstract
// base with the collection registration and the paint brackets; the paint box
// creates its optimizer through DefaultRepaintOptimizerClass, which makes a
// TMicroTilesRepaintOptimizer (raster_microtiles.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "raster_containers.h"
#include "raster_core.h"

class TCustomLayer;
class TLayerCollection;
enum TLayerListNotification : uint8_t;

class TCustomRepaintOptimizer {
 public:
  TCustomRepaintOptimizer(TBitmap32* Buffer, TRectList* InvalidRects);
  // Unregisters every collection still registered.
  virtual ~TCustomRepaintOptimizer();
  TCustomRepaintOptimizer(const TCustomRepaintOptimizer&) = delete;
  TCustomRepaintOptimizer& operator=(const TCustomRepaintOptimizer&) = delete;

  virtual bool GetEnabled() const { return FEnabled; }
  virtual void SetEnabled(bool Value) { FEnabled = Value; }
  bool Enabled() const { return GetEnabled(); }

  // Told of every layer added, deleted, and of a cleared collection.
  virtual void LayerListNotify(TCustomLayer* Layer, TLayerListNotification Action) = 0;

  // A collection is registered once; its list notification then comes here.
  virtual void RegisterLayerCollection(TLayerCollection* Layers);
  virtual void UnregisterLayerCollection(TLayerCollection* Layers);
  const std::vector<TLayerCollection*>& LayerCollections() const { return FLayerCollections; }

  virtual void BeginPaint() {}
  virtual void EndPaint() {}
  virtual void BeginPaintBuffer() {}
  virtual void EndPaintBuffer() {}

  // Forgets what was collected and counts everything as changed.
  virtual void Reset() = 0;
  virtual bool UpdatesAvailable() = 0;
  // Appends the rectangles to repaint to the invalid-rect list.
  virtual void PerformOptimization() = 0;

  // An area of the buffer changed (Info: AREAINFO_RECT or a line's word).
  virtual void AreaUpdated(void* Sender, const TRect& Area, uint32_t Info) = 0;
  // A layer needs repainting where it was and where it is now.
  virtual void LayerUpdated(void* Sender, TCustomLayer* Layer) = 0;
  virtual void BufferResized(int32_t NewWidth, int32_t NewHeight) = 0;

  TBitmap32* Buffer() const { return FBuffer; }
  TRectList* InvalidRects() const { return FInvalidRects; }

 protected:
  bool FEnabled = false;
  std::vector<TLayerCollection*> FLayerCollections;
  TBitmap32* FBuffer;
  TRectList* FInvalidRects;
};

// An optimizer that collects nothing: with it every repaint is a full one
// (a stand-in for tests and for controls that want no optimizer).
class TNullRepaintOptimizer : public TCustomRepaintOptimizer {
 public:
  using TCustomRepaintOptimizer::TCustomRepaintOptimizer;

  void LayerListNotify(TCustomLayer*, TLayerListNotification) override {}
  void Reset() override {}
  bool UpdatesAvailable() override { return false; }
  void PerformOptimization() override {}
  void AreaUpdated(void*, const TRect&, uint32_t) override {}
  void LayerUpdated(void*, TCustomLayer*) override {}
  void BufferResized(int32_t, int32_t) override {}
};

// Makes the optimizer of a new paint box for its buffer and invalid-rect list.
using TRepaintOptimizerClass =
    std::function<std::unique_ptr<TCustomRepaintOptimizer>(TBitmap32* Buffer, TRectList* InvalidRects)>;

// The class every paint box creates its optimizer from; set once at start-up.
extern TRepaintOptimizerClass DefaultRepaintOptimizerClass;
