#pragma once
// Micro tiles: a picture's area cut into 32 x 32 tiles, each holding in one
// word the part of it that changed. A tile set collects rectangles and lines
// cheaply and hands back a short list of rectangles, merged along rows and
// down columns. TMicroTilesRepaintOptimizer uses three such sets to tell a
// paint box which parts of its buffer to render again after layers moved or
// the image changed, and coarsens its work when partial repaints get slow.
#include <chrono>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "raster_containers.h"
#include "raster_core.h"
#include "raster_repaintopt.h"
#include "raster_system.h"

// One tile: bits 24-31 left, 16-23 top, 8-15 right, 0-7 bottom, in
// tile-local pixels 0..32 with right and bottom exclusive.
using TMicroTile = uint32_t;

constexpr int32_t MICROTILE_SHIFT = 5;
constexpr int32_t MICROTILE_SIZE = 1 << MICROTILE_SHIFT;
constexpr TMicroTile MICROTILE_EMPTY = 0;
constexpr TMicroTile MICROTILE_FULL = 0x2020u;  // (0, 0, 32, 32)

// Levels of TMicroTilesRepaintOptimizer.
constexpr int32_t PL_MICROTILES = 0;  // exact parts of tiles
constexpr int32_t PL_WHOLETILES = 1;  // whole tiles
constexpr int32_t PL_FULLSCENE = 2;   // the whole buffer

struct TMicroTiles {
  TRect BoundsRect{};        // pixels the tiles cover
  int32_t Columns = 0;       // (width shr 5) + 1
  int32_t Rows = 0;          // (height shr 5) + 1
  TRect BoundsUsedTiles{};   // inclusive tile indices touched; (Columns, Rows, 0, 0) when none
  int32_t Count = 0;         // (Columns + 1) * (Rows + 1) words allocated
  std::vector<TMicroTile> Tiles;  // row-major, Columns tiles per row
};

// Grows R by Dx left and right and by Dy top and bottom; a reversed side pair
// (a line drawn right to left) grows the other way round so it still grows.
// Saturates at the int32 range.
void InflateArea(TRect& R, int32_t Dx, int32_t Dy);

TMicroTile MakeMicroTile(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom);
inline int32_t MicroTileLeft(TMicroTile T) { return static_cast<int32_t>(T >> 24); }
inline int32_t MicroTileTop(TMicroTile T) { return static_cast<int32_t>((T >> 16) & 0xFF); }
inline int32_t MicroTileRight(TMicroTile T) { return static_cast<int32_t>((T >> 8) & 0xFF); }
inline int32_t MicroTileBottom(TMicroTile T) { return static_cast<int32_t>(T & 0xFF); }
// False for a tile whose right is not past its left or bottom not past its top.
inline bool MicroTileCovers(TMicroTile T) {
  return MicroTileRight(T) > MicroTileLeft(T) && MicroTileBottom(T) > MicroTileTop(T);
}

// Dst grows to hold Src (the bounding box of both); a full Dst and a Src that
// covers nothing change nothing. A routine variable: MicroTilesStartup picks
// the processor variant; both give the same words.
using TMicroTileUnionProc = void (*)(TMicroTile& Dst, TMicroTile Src);
extern TMicroTileUnionProc MicroTileUnion;
// Unions Count tiles of Src into Dst; with RoundToWholeTiles every Dst tile
// whose Src tile covers something becomes full instead.
using TMicroTilesUnionRowProc = void (*)(TMicroTile* Dst, const TMicroTile* Src, int32_t Count, bool RoundToWholeTiles);
extern TMicroTilesUnionRowProc MicroTilesUnionRow;

void MicroTileUnionPortable(TMicroTile& Dst, TMicroTile Src);
void MicroTilesUnionRowPortable(TMicroTile* Dst, const TMicroTile* Src, int32_t Count, bool RoundToWholeTiles);
// Null where the processor variant is not compiled in.
TMicroTileUnionProc MicroTileUnionPacked();
TMicroTilesUnionRowProc MicroTilesUnionRowPacked();

// Picks the union routines for this processor (the packed byte min/max when
// the extended multimedia instructions are there). Later calls pick again.
void MicroTilesStartup();

TMicroTiles MicroTilesCreate();
void MicroTilesDestroy(TMicroTiles& MicroTiles);
// Covers DstRect: computes Columns, Rows and Count, clears every tile and
// marks no tile used. A rectangle of negative size counts as empty;
// EOutOfResources when the tiles would not fit in 32-bit counts.
void MicroTilesSetSize(TMicroTiles& MicroTiles, const TRect& DstRect);
// Every allocated word := Value, no tile used.
void MicroTilesClear(TMicroTiles& MicroTiles, TMicroTile Value = MICROTILE_EMPTY);
// Only the used block := Value, no tile used.
void MicroTilesClearUsed(TMicroTiles& MicroTiles, TMicroTile Value = MICROTILE_EMPTY);
void MicroTilesCopy(TMicroTiles& DstTiles, const TMicroTiles& SrcTiles);
void MicroTilesAddRect(TMicroTiles& MicroTiles, TRect Rect, bool RoundToWholeTiles = false);
// A line from (X1, Y1) to (X2, Y2), LineWidth to either side (doubled, so
// antialiased and wide pens are covered), added as a run of rectangles of
// one tile's length each.
void MicroTilesAddLine(TMicroTiles& MicroTiles, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t LineWidth,
                       bool RoundToWholeTiles = false);
// Every used tile of SrcTiles into DstTiles (only where both sets have the tile).
void MicroTilesUnion(TMicroTiles& DstTiles, const TMicroTiles& SrcTiles, bool RoundToWholeTiles = false);
// Appends the rectangles the tiles cover, clipped to Clip, to DstRects
// (unless CountOnly) and returns how many there are.
int32_t MicroTilesCalcRects(const TMicroTiles& MicroTiles, TRectList* DstRects, const TRect& Clip,
                            bool CountOnly = false, bool RoundToWholeTiles = false);
// The same, clipped to the tiles' own bounds.
int32_t MicroTilesCalcRects(const TMicroTiles& MicroTiles, TRectList* DstRects, bool CountOnly = false,
                            bool RoundToWholeTiles = false);

// Each layer's tiles from its last measurement; the map owns the records.
class TMicroTilesMap {
 public:
  // The layer's record, made empty when there is none.
  TMicroTiles& Add(TCustomLayer* Layer);
  // The layer's record or null.
  TMicroTiles* Find(TCustomLayer* Layer);
  void Remove(TCustomLayer* Layer);
  void Clear() { FItems.clear(); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  template <class F>
  void ForEach(F&& Fn) {
    for (auto& e : FItems) Fn(e.first, *e.second);
  }

 private:
  std::unordered_map<TCustomLayer*, std::unique_ptr<TMicroTiles>> FItems;
};

class TMicroTilesRepaintOptimizer : public TCustomRepaintOptimizer {
 public:
  TMicroTilesRepaintOptimizer(TBitmap32* Buffer, TRectList* InvalidRects);
  ~TMicroTilesRepaintOptimizer() override;

  void SetEnabled(bool Value) override;
  void LayerListNotify(TCustomLayer* Layer, TLayerListNotification Action) override;
  void RegisterLayerCollection(TLayerCollection* Layers) override;
  void UnregisterLayerCollection(TLayerCollection* Layers) override;
  void BeginPaintBuffer() override;
  void EndPaintBuffer() override;
  void Reset() override;
  bool UpdatesAvailable() override;
  void PerformOptimization() override;
  void AreaUpdated(void* Sender, const TRect& Area, uint32_t Info) override;
  void LayerUpdated(void* Sender, TCustomLayer* Layer) override;
  void BufferResized(int32_t NewWidth, int32_t NewHeight) override;

  // ---- State, for tests and diagnostics -------------------------------------
  const TRect& BufferBounds() const { return FBufferBounds; }
  const TMicroTiles& InvalidTiles() const { return FInvalidTiles; }
  const TMicroTiles& ForcedInvalidTiles() const { return FForcedInvalidTiles; }
  // The tiles Layer covered when last measured, or null.
  const TMicroTiles* OldInvalidTiles(TCustomLayer* Layer) { return FOldInvalidTilesMap.Find(Layer); }
  const std::vector<TCustomLayer*>& InvalidLayers() const { return FInvalidLayers; }
  bool AdaptiveMode() const { return FAdaptiveMode; }
  void SetAdaptiveMode(bool Value) { FAdaptiveMode = Value; }
  int32_t PerformanceLevel() const { return FPerformanceLevel; }
  int64_t FullSceneTime() const { return FFullSceneTime; }
  int64_t LastRepaintTime() const { return FLastRepaintTime; }
  int32_t TimeDelta() const { return FTimeDelta; }
  bool AdaptionFailed() const { return FAdaptionFailed; }
  bool TimedCheck() const { return FTimedCheck; }

 protected:
  // The clock of the adaptive mode: microseconds since BeginPaintBuffer and
  // milliseconds on the monotonic clock, in 64 bits: a 32-bit tick passes
  // 2^31 after 25 days, and a signed comparison with it then never comes
  // true again. Tests replace them to drive the levels.
  virtual int64_t PaintElapsedMicroseconds() { return FPerfTimer.ElapsedMicroseconds(); }
  virtual int64_t CurrentTickCount() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }

 private:
  void HookCollection(TLayerCollection* Layers);
  void ValidateWorkingTiles();
  void UpdateOldInvalidTiles();
  // Paints Layer into the buffer in its measuring mode; the areas it would
  // touch land in Tiles.
  void DrawLayerToMicroTiles(TMicroTiles& Tiles, TCustomLayer* Layer);
  void AddArea(TMicroTiles& Tiles, const TRect& Area, uint32_t Info);
  void SetQueued(TCustomLayer* Layer, bool Queued);
  bool IsQueued(TCustomLayer* Layer) const;
  // False for a layer that no registered collection holds any more.
  bool LayerRegistered(const TCustomLayer* Layer) const;
  void ResetAdaptiveMode();
  void BeginAdaption();
  void EndAdaption();
  void CheckAdaptiveMode();

  TRect FBufferBounds{};
  TMicroTiles FTempTiles;
  TMicroTiles FInvalidTiles;
  TMicroTiles FForcedInvalidTiles;
  std::vector<TCustomLayer*> FInvalidLayers;
  // The same layers for the queued test: the option bit is only a mirror,
  // since a caller may overwrite a layer's options wholesale.
  std::unordered_set<TCustomLayer*> FQueued;
  TMicroTilesMap FOldInvalidTilesMap;
  bool FWorkingTilesValid = false;
  bool FOldInvalidTilesValid = false;
  bool FUpdatesAvailable = false;
  bool FAdaptiveMode = true;
  TPerfTimer FPerfTimer;
  int32_t FPerformanceLevel = PL_MICROTILES;
  int64_t FFullSceneTime = 0;
  int64_t FLastRepaintTime = 0;
  int64_t FLastPenaltyTime = 0;
  int32_t FTimeDelta = 1000;
  int64_t FNextCheck = 0;
  int32_t FOldInvalidRectsCount = 0;
  bool FAdaptionFailed = false;
  bool FTimedCheck = false;
};
