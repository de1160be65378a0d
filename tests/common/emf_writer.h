#pragma once
// Writes small enhanced metafiles for the tests, record by record: the
// header first (its byte and record counts filled in by Finish), then
// records of 32-bit parameters or of raw bytes, then the end record.
#include <cstdint>
#include <cstring>
#include <vector>

// Writes an enhanced metafile. The reference device has DevPerMm pixels per
// millimetre; the frame is W x H reference pixels, so a picture played into
// (0, 0, W, H) maps logical MM_TEXT units one to one onto the surface.
class TEmfWriter {
 public:
  TEmfWriter(int32_t W, int32_t H, uint16_t Handles = 8, int32_t DevPerMm = 10) {
    const int32_t frameW = W * 100 / DevPerMm, frameH = H * 100 / DevPerMm;
    Words({1, 88, 0, 0, W - 1, H - 1, 0, 0, frameW, frameH, 0x464D4520, 0x10000, 0, 0, Handles, 0, 0, 0,
           DevPerMm * 100, DevPerMm * 100, 100, 100});
    records_ = 1;
  }
  TEmfWriter& Rec(uint32_t Type, std::vector<int32_t> Params) {
    Params.insert(Params.begin(), {int32_t(Type), int32_t(8 + 4 * Params.size())});
    Words(Params);
    ++records_;
    return *this;
  }
  // A record from its bytes after type and size (padded to 4).
  TEmfWriter& Raw(uint32_t Type, std::vector<uint8_t> Body) {
    while (Body.size() % 4) Body.push_back(0);
    Words({int32_t(Type), int32_t(8 + Body.size())});
    bytes_.insert(bytes_.end(), Body.begin(), Body.end());
    ++records_;
    return *this;
  }
  // The reference device (pixels and millimetres) and the frame (0.01 mm).
  TEmfWriter& SetDevice(int32_t Px, int32_t Py, int32_t MmX, int32_t MmY) {
    Put(72, uint32_t(Px)), Put(76, uint32_t(Py)), Put(80, uint32_t(MmX)), Put(84, uint32_t(MmY));
    return *this;
  }
  TEmfWriter& SetFrame(int32_t L, int32_t T, int32_t R, int32_t B) {
    Put(24, uint32_t(L)), Put(28, uint32_t(T)), Put(32, uint32_t(R)), Put(36, uint32_t(B));
    return *this;
  }
  std::vector<uint8_t> Finish() {
    Rec(14, {0, 16, 20});
    Put(48, uint32_t(bytes_.size()));
    Put(52, records_);
    return bytes_;
  }

 private:
  void Put(size_t At, uint32_t V) { std::memcpy(bytes_.data() + At, &V, 4); }
  void Words(const std::vector<int32_t>& W) {
    for (int32_t w : W)
      for (int i = 0; i < 4; ++i) bytes_.push_back(uint8_t(uint32_t(w) >> (8 * i)));
  }
  std::vector<uint8_t> bytes_;
  uint32_t records_ = 0;
};

// Record types and stock objects the tests use.
namespace emr {
enum : uint32_t {
  POLYGON = 3, POLYLINE = 4, POLYPOLYGON16 = 91, POLYGON16 = 86, SETWINDOWEXTEX = 9, SETWINDOWORGEX = 10,
  SETVIEWPORTEXTEX = 11, SETVIEWPORTORGEX = 12, SETMAPMODE = 17, SETBKMODE = 18, SETPOLYFILLMODE = 19,
  SETTEXTALIGN = 22, SETTEXTCOLOR = 24, MOVETOEX = 27, INTERSECTCLIPRECT = 30, SAVEDC = 33, RESTOREDC = 34,
  SETWORLDTRANSFORM = 35, MODIFYWORLDTRANSFORM = 36, SELECTOBJECT = 37, CREATEPEN = 38, CREATEBRUSH = 39,
  DELETEOBJECT = 40, ELLIPSE = 42, RECTANGLE = 43, LINETO = 54, BEGINPATH = 59, ENDPATH = 60, CLOSEFIGURE = 61,
  FILLPATH = 62, STRETCHDIBITS = 81, EXTCREATEFONTINDIRECTW = 82, EXTTEXTOUTW = 84,
};
constexpr int32_t kNullPen = int32_t(0x80000008), kNullBrush = int32_t(0x80000005);
}  // namespace emr

inline int32_t FloatBits(float f) {
  int32_t i;
  std::memcpy(&i, &f, 4);
  return i;
}

