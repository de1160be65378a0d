// The optimizer base: collection registration and the default class.
#include "raster_repaintopt.h"

#include <algorithm>

#include "raster_layers.h"
#include "raster_microtiles.h"

TRepaintOptimizerClass DefaultRepaintOptimizerClass = [](TBitmap32* Buffer, TRectList* InvalidRects) {
  return std::unique_ptr<TCustomRepaintOptimizer>(std::make_unique<TMicroTilesRepaintOptimizer>(Buffer, InvalidRects));
};

TCustomRepaintOptimizer::TCustomRepaintOptimizer(TBitmap32* Buffer, TRectList* InvalidRects)
    : FBuffer(Buffer), FInvalidRects(InvalidRects) {}

TCustomRepaintOptimizer::~TCustomRepaintOptimizer() {
  // Unhook directly: the virtual override is gone by now.
  for (TLayerCollection* c : FLayerCollections) c->OnListNotify = nullptr;
  FLayerCollections.clear();
}

void TCustomRepaintOptimizer::RegisterLayerCollection(TLayerCollection* Layers) {
  if (Layers == nullptr) return;
  if (std::find(FLayerCollections.begin(), FLayerCollections.end(), Layers) != FLayerCollections.end()) return;
  FLayerCollections.push_back(Layers);
  Layers->OnListNotify = [this](TLayerCollection*, TLayerListNotification Action, TCustomLayer* Layer, int32_t) {
    LayerListNotify(Layer, Action);
  };
}

void TCustomRepaintOptimizer::UnregisterLayerCollection(TLayerCollection* Layers) {
  auto it = std::find(FLayerCollections.begin(), FLayerCollections.end(), Layers);
  if (it == FLayerCollections.end()) return;
  Layers->OnListNotify = nullptr;
  FLayerCollections.erase(it);
}
