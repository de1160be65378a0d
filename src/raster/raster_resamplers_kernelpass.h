#pragma once
// The inner loops of the kernel stretch, shared by the transfer code and its
// tests. Sums are 32-bit words that wrap like plain integer adds, so doing the
// horizontal pass first gives exactly the sums of the vertical-first
// definition, whatever the order or width of the machine instructions.
#include <cstdint>
#include <vector>

#include "raster_resamplers.h"

// The horizontal pass of one axis' mapping over source rows of RowWidth
// pixels: Run fills Count() x 4 sums (blue, green, red, alpha) per row.
class THorizontalKernelPass {
 public:
  // The first Count clusters of Map (all of them when Count is negative).
  THorizontalKernelPass(const TMappingTable& Map, int32_t RowWidth, int32_t Count = -1);
  int32_t Count() const { return static_cast<int32_t>(FStart.size()) - 1; }
  void Run(const TColor32* Row, uint32_t* Out) const;
  // Whether the eight-tap AVX2 form runs (false: the portable loop).
  bool Wide() const { return !FWideStart.empty(); }

 private:
  // Every (position, weight) pair, cluster by cluster.
  std::vector<int32_t> FStart, FPos, FWeight;
  // The wide form: per cluster a window of 8 * groups pixels starting at
  // FWideStart, with its weights as pairs of 16-bit lanes (see Run).
  std::vector<int32_t> FWideStart, FWideGroups, FWideOffset;
  std::vector<int16_t> FWideWeights;
};

// Out[i] = sum over k of Rows[k][i] * W[k], for N words.
void KernelVerticalCombine(const uint32_t* const* Rows, const int32_t* W, int32_t Taps,
                           uint32_t* Out, int32_t N);
// Each pixel's four sums limited to 0 .. 0xFF0000, bits 16..23 taken.
void KernelPackRow(const uint32_t* Sums, int32_t Count, TColor32* Out);
