#pragma once
// TIntegerMap: a Width x Height map of int32 values, row-major.
#include <cstdint>
#include <vector>

#include "raster_core.h"

class TIntegerMap : public TCustomMap {
  VEMRA_CLASS(TIntegerMap, TCustomMap)
 public:
  TIntegerMap() = default;
  TIntegerMap(int32_t Width, int32_t Height) { SetSize(Width, Height); }

  bool Empty() const override { return FBits.empty(); }
  // Address of element X + Y * Width (unchecked).
  int32_t* ValPtr(int32_t X, int32_t Y) { return FBits.data() + static_cast<ptrdiff_t>(Y) * FWidth + X; }
  const int32_t* ValPtr(int32_t X, int32_t Y) const {
    return FBits.data() + static_cast<ptrdiff_t>(Y) * FWidth + X;
  }
  int32_t Value(int32_t X, int32_t Y) const { return *ValPtr(X, Y); }
  void SetValue(int32_t X, int32_t Y, int32_t V) { *ValPtr(X, Y) = V; }
  int32_t* Bits() { return FBits.data(); }
  const int32_t* Bits() const { return FBits.data(); }
  // Sets every element to FillValue, then Changed.
  void Clear(int32_t FillValue = 0);
  // Copies size and values from another integer map.
  void AssignTo(TPersistent* Dest) override;

 protected:
  // Resizes the array: existing values keep their linear positions, new ones are 0.
  void ChangeSize(int32_t& Width, int32_t& Height, int32_t NewWidth, int32_t NewHeight) override;

 private:
  std::vector<int32_t> FBits;
};
