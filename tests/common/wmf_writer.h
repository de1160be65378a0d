#pragma once
// Writes small Windows metafiles for the tests: records are appended one by
// one and Bytes() puts the header (and, on request, the placeable header)
// in front, with the sizes the header must carry.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class TWmfWriter {
 public:
  // A record of 16-bit parameters, in the order they stand in the file.
  TWmfWriter& Record(uint16_t Function, std::initializer_list<int> Words) {
    std::vector<uint8_t> p;
    for (int w : Words) Put16(p, static_cast<uint16_t>(w));
    return RecordBytes(Function, p);
  }
  TWmfWriter& RecordBytes(uint16_t Function, std::vector<uint8_t> Params) {
    if (Params.size() % 2) Params.push_back(0);
    std::vector<uint8_t> r;
    Put32(r, static_cast<uint32_t>(3 + Params.size() / 2));
    Put16(r, Function);
    r.insert(r.end(), Params.begin(), Params.end());
    body_.insert(body_.end(), r.begin(), r.end());
    return *this;
  }

  TWmfWriter& MapMode(int Mode) { return Record(0x0103, {Mode}); }
  TWmfWriter& WindowOrg(int X, int Y) { return Record(0x020B, {Y, X}); }
  TWmfWriter& WindowExt(int W, int H) { return Record(0x020C, {H, W}); }
  TWmfWriter& PolyFillMode(int Mode) { return Record(0x0106, {Mode}); }
  TWmfWriter& BkMode(int Mode) { return Record(0x0102, {Mode}); }
  TWmfWriter& TextAlign(int Align) { return Record(0x012E, {Align}); }
  TWmfWriter& TextColor(uint32_t C) { return Record(0x0209, {int(C & 0xFFFF), int(C >> 16)}); }
  // Object-creating records; each takes the next free object number.
  TWmfWriter& Brush(int Style, uint32_t Color, int Hatch = 0) {
    ++objects_;
    return Record(0x02FC, {Style, int(Color & 0xFFFF), int(Color >> 16), Hatch});
  }
  TWmfWriter& Pen(int Style, int Width, uint32_t Color) {
    ++objects_;
    return Record(0x02FA, {Style, Width, 0, int(Color & 0xFFFF), int(Color >> 16)});
  }
  TWmfWriter& Font(int Height, const std::string& Face, int Weight = 400) {
    ++objects_;
    std::vector<uint8_t> p;
    for (int w : {Height, 0, 0, 0, Weight}) Put16(p, static_cast<uint16_t>(w));
    for (int i = 0; i < 8; ++i) p.push_back(0);
    p.insert(p.end(), Face.begin(), Face.end());
    p.push_back(0);
    return RecordBytes(0x02FB, p);
  }
  // A region with no scans, bounded by (0, 0) and (W, H).
  TWmfWriter& Region(int W, int H) {
    ++objects_;
    return Record(0x06FF, {0, 6, 0, 0, 22, 0, 0, 0, 0, W, H});
  }
  TWmfWriter& Select(int Object) { return Record(0x012D, {Object}); }
  TWmfWriter& Rectangle(int L, int T, int R, int B) { return Record(0x041B, {B, R, T, L}); }
  TWmfWriter& Ellipse(int L, int T, int R, int B) { return Record(0x0418, {B, R, T, L}); }
  TWmfWriter& Polygon(const std::vector<std::pair<int, int>>& Points) {
    std::vector<uint8_t> p;
    Put16(p, static_cast<uint16_t>(Points.size()));
    for (auto [x, y] : Points) {
      Put16(p, static_cast<uint16_t>(x));
      Put16(p, static_cast<uint16_t>(y));
    }
    return RecordBytes(0x0324, p);
  }
  TWmfWriter& TextOut(int X, int Y, const std::string& Text) {
    std::vector<uint8_t> p;
    Put16(p, static_cast<uint16_t>(Text.size()));
    p.insert(p.end(), Text.begin(), Text.end());
    if (Text.size() % 2) p.push_back(0);
    Put16(p, static_cast<uint16_t>(Y));
    Put16(p, static_cast<uint16_t>(X));
    return RecordBytes(0x0521, p);
  }
  // Text with options (2: opaque, 4: clipped) and their rectangle.
  TWmfWriter& ExtTextOut(int X, int Y, int Options, int L, int T, int R, int B, const std::string& Text) {
    std::vector<uint8_t> p;
    for (int w : {Y, X, int(Text.size()), Options, L, T, R, B}) Put16(p, static_cast<uint16_t>(w));
    p.insert(p.end(), Text.begin(), Text.end());
    return RecordBytes(0x0A32, p);
  }
  TWmfWriter& End() { return Record(0x0000, {}); }

  // The whole file; a placeable header is written when Inch is not 0.
  std::vector<uint8_t> Bytes(int16_t Left = 0, int16_t Top = 0, int16_t Right = 0, int16_t Bottom = 0,
                             uint16_t Inch = 0) const {
    std::vector<uint8_t> out;
    if (Inch != 0) {
      Put32(out, 0x9AC6CDD7u);
      for (int w : {0, int(Left), int(Top), int(Right), int(Bottom), int(Inch), 0, 0}) Put16(out, static_cast<uint16_t>(w));
      uint16_t sum = 0;
      for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<uint16_t>(out[i] | (out[i + 1] << 8));
      Put16(out, sum);
    }
    uint32_t maxRecord = 0;
    for (size_t i = 0; i + 6 <= body_.size();) {
      const uint32_t words = body_[i] | (body_[i + 1] << 8) | (body_[i + 2] << 16) | (uint32_t(body_[i + 3]) << 24);
      maxRecord = std::max(maxRecord, words);
      i += words * 2;
    }
    Put16(out, 1);
    Put16(out, 9);
    Put16(out, 0x0300);
    Put32(out, static_cast<uint32_t>((18 + body_.size()) / 2));
    Put16(out, static_cast<uint16_t>(objects_));
    Put32(out, maxRecord);
    Put16(out, 0);
    out.insert(out.end(), body_.begin(), body_.end());
    return out;
  }

 private:
  static void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  }
  static void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, static_cast<uint16_t>(x));
    Put16(v, static_cast<uint16_t>(x >> 16));
  }
  std::vector<uint8_t> body_;
  int objects_ = 0;
};
