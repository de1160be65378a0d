// TMicroTilesRepaintOptimizer: each layer's area from its last measurement,
// the areas of queued layers and of direct reports collected in tiles, turned
// into the paint box's invalid rectangles, and the adaptive levels that fall
// back to whole tiles or the full scene when partial repaints get slow.
#include <algorithm>

#include "raster_layers.h"
#include "raster_microtiles.h"

TMicroTilesRepaintOptimizer::TMicroTilesRepaintOptimizer(TBitmap32* Buffer, TRectList* InvalidRects)
    : TCustomRepaintOptimizer(Buffer, InvalidRects),
      FTempTiles(MicroTilesCreate()),
      FInvalidTiles(MicroTilesCreate()),
      FForcedInvalidTiles(MicroTilesCreate()) {}

TMicroTilesRepaintOptimizer::~TMicroTilesRepaintOptimizer() {
  // The collections must not call a destroyed optimizer; the base clears the
  // list notification.
  for (TLayerCollection* c : FLayerCollections) {
    c->OnLayerUpdated = nullptr;
    c->OnAreaUpdated = nullptr;
  }
}

void TMicroTilesRepaintOptimizer::HookCollection(TLayerCollection* Layers) {
  Layers->OnLayerUpdated = [this](void* Sender, TCustomLayer* Layer) { LayerUpdated(Sender, Layer); };
  Layers->OnAreaUpdated = [this](void* Sender, const TRect& Area, uint32_t Info) { AreaUpdated(Sender, Area, Info); };
  Layers->OnListNotify = [this](TLayerCollection*, TLayerListNotification Action, TCustomLayer* Layer, int32_t) {
    LayerListNotify(Layer, Action);
  };
}

void TMicroTilesRepaintOptimizer::SetEnabled(bool Value) {
  if (Value == Enabled()) return;
  if (Value) {
    for (TLayerCollection* c : FLayerCollections) HookCollection(c);
    if (FBuffer != nullptr)
      BufferResized(FBuffer->Width(), FBuffer->Height());
    else
      BufferResized(0, 0);
  } else {
    for (TLayerCollection* c : FLayerCollections) {
      c->OnLayerUpdated = nullptr;
      c->OnAreaUpdated = nullptr;
      c->OnListNotify = nullptr;
    }
    MicroTilesDestroy(FInvalidTiles);
    MicroTilesDestroy(FTempTiles);
    MicroTilesDestroy(FForcedInvalidTiles);
    FWorkingTilesValid = false;
    FUpdatesAvailable = false;
    FOldInvalidTilesValid = false;
    FOldInvalidTilesMap.Clear();
    // Without the list notification we would not hear of these layers' end.
    for (TCustomLayer* l : std::vector<TCustomLayer*>(FInvalidLayers))
      if (LayerRegistered(l)) SetQueued(l, false);
    FInvalidLayers.clear();
    FQueued.clear();
  }
  TCustomRepaintOptimizer::SetEnabled(Value);
}

void TMicroTilesRepaintOptimizer::RegisterLayerCollection(TLayerCollection* Layers) {
  TCustomRepaintOptimizer::RegisterLayerCollection(Layers);
  if (Layers != nullptr && Enabled()) HookCollection(Layers);
}

void TMicroTilesRepaintOptimizer::UnregisterLayerCollection(TLayerCollection* Layers) {
  if (std::find(FLayerCollections.begin(), FLayerCollections.end(), Layers) == FLayerCollections.end()) return;
  Layers->OnLayerUpdated = nullptr;
  Layers->OnAreaUpdated = nullptr;
  // Its layers may be destroyed without our hearing of it from now on.
  for (int32_t i = 0; i < Layers->Count(); ++i) {
    TCustomLayer* l = Layers->Items(i);
    if (FQueued.count(l) != 0) SetQueued(l, false);
    FInvalidLayers.erase(std::remove(FInvalidLayers.begin(), FInvalidLayers.end(), l), FInvalidLayers.end());
    FOldInvalidTilesMap.Remove(l);
  }
  TCustomRepaintOptimizer::UnregisterLayerCollection(Layers);
}

bool TMicroTilesRepaintOptimizer::LayerRegistered(const TCustomLayer* Layer) const {
  for (TLayerCollection* c : FLayerCollections)
    if (c->IndexOf(Layer) >= 0) return true;
  return false;
}

bool TMicroTilesRepaintOptimizer::IsQueued(TCustomLayer* Layer) const { return FQueued.count(Layer) != 0; }

void TMicroTilesRepaintOptimizer::SetQueued(TCustomLayer* Layer, bool Queued) {
  if (Queued)
    FQueued.insert(Layer);
  else
    FQueued.erase(Layer);
  const uint32_t o = Layer->LayerOptions();
  const uint32_t n = Queued ? (o | LOB_INVALID) : (o & ~LOB_INVALID);
  if (n == o) return;
  // Inside the layer's own update bracket the bit changes without a repaint
  // request (which would come straight back here).
  TUpdateGuard quiet(*Layer);
  Layer->SetLayerOptions(n);
}

void TMicroTilesRepaintOptimizer::ValidateWorkingTiles() {
  if (FWorkingTilesValid) return;
  MicroTilesSetSize(FTempTiles, FBufferBounds);
  MicroTilesSetSize(FInvalidTiles, FBufferBounds);
  MicroTilesSetSize(FForcedInvalidTiles, FBufferBounds);
  FWorkingTilesValid = true;
}

void TMicroTilesRepaintOptimizer::UpdateOldInvalidTiles() {
  if (FOldInvalidTilesValid) return;
  ValidateWorkingTiles();
  // By index, and only layers still there: a layer's paint may change the list.
  for (size_t ci = 0; ci < FLayerCollections.size(); ++ci) {
    TLayerCollection* c = FLayerCollections[ci];
    for (int32_t i = 0; i < c->Count(); ++i) {
      TCustomLayer* l = c->Items(i);
      TMicroTiles tiles = MicroTilesCreate();
      MicroTilesSetSize(tiles, FBufferBounds);
      DrawLayerToMicroTiles(tiles, l);
      if (ci >= FLayerCollections.size() || FLayerCollections[ci] != c) break;
      if (!LayerRegistered(l)) continue;
      FOldInvalidTilesMap.Add(l) = std::move(tiles);
      SetQueued(l, false);
    }
  }
  for (TCustomLayer* l : std::vector<TCustomLayer*>(FInvalidLayers))
    if (LayerRegistered(l)) SetQueued(l, false);
  FInvalidLayers.clear();
  FQueued.clear();
  FOldInvalidTilesValid = true;
  FUpdatesAvailable = false;
}

void TMicroTilesRepaintOptimizer::DrawLayerToMicroTiles(TMicroTiles& Tiles, TCustomLayer* Layer) {
  if (FBuffer == nullptr || Layer == nullptr) return;
  FBuffer->StartAreaReporting(
      [this, &Tiles](TBitmap32*, const TRect& Area, uint32_t Info) { AddArea(Tiles, Area, Info); });
  // A paint that throws must not leave the buffer measuring: nothing would
  // ever be drawn into it again.
  try {
    Layer->DoPaint(FBuffer);
  } catch (...) {
    FBuffer->StopAreaReporting();
    throw;
  }
  FBuffer->StopAreaReporting();
}

void TMicroTilesRepaintOptimizer::AddArea(TMicroTiles& Tiles, const TRect& Area, uint32_t Info) {
  const bool whole = FPerformanceLevel > PL_MICROTILES;
  if ((Info & AREAINFO_LINE) != 0) {
    // A hairline reported with width 0 still changed its pixels; its
    // horizontal and vertical runs would otherwise add rectangles of no height.
    const int32_t w = std::max<int32_t>(static_cast<int32_t>(Info & 0x00FFFFFFu), 1);
    TRect r = Area;
    InflateArea(r, w, w);
    MicroTilesAddLine(Tiles, r.Left, r.Top, r.Right, r.Bottom, w, whole);
  } else {
    MicroTilesAddRect(Tiles, Area, whole);
  }
}

void TMicroTilesRepaintOptimizer::AreaUpdated(void*, const TRect& Area, uint32_t Info) {
  ValidateWorkingTiles();
  AddArea(FForcedInvalidTiles, Area, Info);
  FUpdatesAvailable = true;
}

void TMicroTilesRepaintOptimizer::LayerUpdated(void*, TCustomLayer* Layer) {
  if (Layer == nullptr || !FOldInvalidTilesValid || IsQueued(Layer)) return;
  FInvalidLayers.push_back(Layer);
  SetQueued(Layer, true);
  FUpdatesAvailable = true;
}

void TMicroTilesRepaintOptimizer::LayerListNotify(TCustomLayer* Layer, TLayerListNotification Action) {
  switch (Action) {
    case lnLayerAdded:
    case lnLayerInserted: {
      if (Layer == nullptr) break;
      TMicroTiles& t = FOldInvalidTilesMap.Add(Layer);
      MicroTilesSetSize(t, FBuffer != nullptr ? FBuffer->BoundsRect() : FBufferBounds);
      FOldInvalidTilesValid = true;
      break;
    }
    case lnLayerDeleted: {
      if (Layer == nullptr) break;
      if (FOldInvalidTilesValid) {
        if (const TMicroTiles* old = FOldInvalidTilesMap.Find(Layer)) MicroTilesUnion(FInvalidTiles, *old);
        FUpdatesAvailable = true;
      }
      FInvalidLayers.erase(std::remove(FInvalidLayers.begin(), FInvalidLayers.end(), Layer), FInvalidLayers.end());
      FQueued.erase(Layer);
      FOldInvalidTilesMap.Remove(Layer);
      break;
    }
    case lnCleared: {
      if (FOldInvalidTilesValid) {
        FOldInvalidTilesMap.ForEach([this](TCustomLayer*, TMicroTiles& t) { MicroTilesUnion(FInvalidTiles, t); });
        FUpdatesAvailable = true;
        ResetAdaptiveMode();
      }
      // The cleared collection's layers are gone already; another registered
      // collection's layers keep their measurements, or their old places
      // would never be repainted.
      std::vector<TCustomLayer*> gone;
      FOldInvalidTilesMap.ForEach([&](TCustomLayer* l, TMicroTiles&) {
        if (!LayerRegistered(l)) gone.push_back(l);
      });
      for (TCustomLayer* l : gone) FOldInvalidTilesMap.Remove(l);
      FOldInvalidTilesValid = true;
      break;
    }
  }
}

bool TMicroTilesRepaintOptimizer::UpdatesAvailable() {
  UpdateOldInvalidTiles();
  return FUpdatesAvailable;
}

void TMicroTilesRepaintOptimizer::Reset() {
  FWorkingTilesValid = false;
  FOldInvalidTilesValid = false;
  UpdateOldInvalidTiles();
  MicroTilesClear(FForcedInvalidTiles, MICROTILE_FULL);
  FForcedInvalidTiles.BoundsUsedTiles =
      TRect{0, 0, FForcedInvalidTiles.Columns - 1, FForcedInvalidTiles.Rows - 1};
  FUpdatesAvailable = true;
}

void TMicroTilesRepaintOptimizer::BufferResized(int32_t NewWidth, int32_t NewHeight) {
  FBufferBounds = TRect{0, 0, NewWidth, NewHeight};
  Reset();
}

void TMicroTilesRepaintOptimizer::PerformOptimization() {
  if (FUpdatesAvailable) {
    ValidateWorkingTiles();
    const bool whole = FPerformanceLevel > PL_MICROTILES;
    // By index: a layer's paint may queue another layer, which then joins this pass.
    for (size_t i = 0; i < FInvalidLayers.size(); ++i) {
      TCustomLayer* l = FInvalidLayers[i];
      if (!LayerRegistered(l)) continue;
      MicroTilesClearUsed(FTempTiles);
      DrawLayerToMicroTiles(FTempTiles, l);
      if (!LayerRegistered(l)) continue;  // removed by its own paint: its old place is in already
      MicroTilesUnion(FInvalidTiles, FTempTiles, whole);
      TMicroTiles& old = FOldInvalidTilesMap.Add(l);
      MicroTilesUnion(FInvalidTiles, old, whole);
      MicroTilesCopy(old, FTempTiles);
      SetQueued(l, false);
    }
    FInvalidLayers.clear();
    FQueued.clear();
    if (FInvalidRects != nullptr) {
      MicroTilesCalcRects(FInvalidTiles, FInvalidRects, FInvalidTiles.BoundsRect, false, whole);
      MicroTilesCalcRects(FForcedInvalidTiles, FInvalidRects, FForcedInvalidTiles.BoundsRect, false, whole);
    }
  }
  CheckAdaptiveMode();
  MicroTilesClearUsed(FInvalidTiles);
  MicroTilesClearUsed(FForcedInvalidTiles);
}

// ---- Adaptive levels ----------------------------------------------------------------------

void TMicroTilesRepaintOptimizer::ResetAdaptiveMode() {
  FTimeDelta = 1000;
  FAdaptionFailed = false;
  FPerformanceLevel = PL_MICROTILES;
}

void TMicroTilesRepaintOptimizer::BeginPaintBuffer() {
  if (FAdaptiveMode) BeginAdaption();
}

void TMicroTilesRepaintOptimizer::EndPaintBuffer() {
  FUpdatesAvailable = false;
  // A full repaint (no invalid rectangles) drew everything the tiles still
  // hold, such as the full tiles of a reset: handing them back with the next
  // small change would repaint the whole buffer once more.
  if ((FInvalidRects == nullptr || FInvalidRects->Count() == 0) && FWorkingTilesValid) {
    MicroTilesClearUsed(FInvalidTiles);
    MicroTilesClearUsed(FForcedInvalidTiles);
    // Layers that changed before this full paint are drawn where they are
    // now, but still wait in the queue: a queued layer's later changes are
    // ignored, so every paint after would be a full one. Measure them anew.
    if (!FInvalidLayers.empty()) {
      FOldInvalidTilesValid = false;
      UpdateOldInvalidTiles();
    }
  }
  EndAdaption();
}

void TMicroTilesRepaintOptimizer::BeginAdaption() { FPerfTimer.Start(); }

void TMicroTilesRepaintOptimizer::EndAdaption() {
  const int64_t elapsed = PaintElapsedMicroseconds();
  const int32_t rects = FInvalidRects != nullptr ? FInvalidRects->Count() : 0;
  auto clampDelta = [](int32_t v) { return std::clamp(v, 1000, 5000); };
  if (rects == 0) {
    FFullSceneTime = elapsed;
  } else if (FAdaptiveMode) {
    if (elapsed > FFullSceneTime) {
      const int32_t level = std::clamp(FPerformanceLevel + 1, PL_MICROTILES, PL_FULLSCENE);
      if (level != FPerformanceLevel) {
        FOldInvalidRectsCount = rects;
        FPerformanceLevel = level;
        if (FTimedCheck) {
          FTimeDelta = clampDelta(FTimeDelta + 250);
          FNextCheck = CurrentTickCount() + FTimeDelta;
          FLastPenaltyTime = elapsed;
          FTimedCheck = false;
        }
        FAdaptionFailed = true;
      }
    } else if (elapsed < FFullSceneTime) {
      if (FTimedCheck) {
        FTimeDelta = 1000;
        FNextCheck = CurrentTickCount() + 1000;
        FTimedCheck = false;
      } else if (FTimeDelta > 1000) {
        FTimeDelta = clampDelta(FTimeDelta - 1000);
        FNextCheck = CurrentTickCount() + FTimeDelta;
      }
      FAdaptionFailed = false;
    } else if (elapsed < FLastPenaltyTime && FTimedCheck) {
      FTimeDelta = clampDelta(FTimeDelta - 250);
      FNextCheck = CurrentTickCount() + FTimeDelta;
      FTimedCheck = false;
    }
  }
  FLastRepaintTime = elapsed;
}

void TMicroTilesRepaintOptimizer::CheckAdaptiveMode() {
  if (!FAdaptiveMode || FPerformanceLevel < PL_WHOLETILES) return;
  if (CurrentTickCount() > FNextCheck) {
    FPerformanceLevel = std::max(FPerformanceLevel - 1, PL_MICROTILES);
    FTimedCheck = true;
  } else if (!FAdaptionFailed && FInvalidRects != nullptr && FInvalidRects->Count() < FOldInvalidRectsCount - 10) {
    FPerformanceLevel = std::max(FPerformanceLevel - 1, PL_MICROTILES);
  } else if (FPerformanceLevel == PL_FULLSCENE && FInvalidRects != nullptr) {
    FInvalidRects->Clear();
  }
}
