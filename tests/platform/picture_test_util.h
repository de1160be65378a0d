#pragma once
// Helpers for the picture-class tests: a temporary folder, Netpbm files to
// hand to the command-line tools, and running those tools.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct TTempDir {
  TTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vemra-pic-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) path = buf.data();
  }
  ~TTempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

// Runs a shell command line (tests build it from fixed words and temp paths).
inline bool RunTool(const std::string& cmd) { return std::system((cmd + " 2>/dev/null").c_str()) == 0; }

inline std::vector<uint8_t> ReadFileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream out(name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A picture as 0xAARRGGBB rows.
struct TTestImage {
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Px;
  uint32_t At(int32_t x, int32_t y) const { return Px[static_cast<size_t>(y) * Width + x]; }
};

// A photo-like picture: smooth gradients, a few hard edges and some noise,
// so that every part of the codec gets work.
inline TTestImage MakePhotoLike(int32_t w, int32_t h, uint32_t seed = 1) {
  TTestImage img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  uint32_t s = seed * 2654435761u + 12345;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      const int noise = static_cast<int>((s >> 24) % 17) - 8;
      int r = (x * 255) / std::max(1, w - 1) + noise;
      int g = (y * 255) / std::max(1, h - 1) - noise;
      int b = ((x / 13 + y / 9) % 2) ? 200 : 40;
      if ((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2) < (w * h) / 16) r = 255 - r;
      r = std::clamp(r, 0, 255);
      g = std::clamp(g, 0, 255);
      img.Px[static_cast<size_t>(y) * w + x] =
          0xFF000000u | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
    }
  return img;
}

inline void WritePpm(const std::string& name, const TTestImage& img) {
  std::ofstream out(name, std::ios::binary);
  out << "P6\n" << img.Width << " " << img.Height << "\n255\n";
  for (uint32_t p : img.Px) {
    const char rgb[3] = {static_cast<char>(p >> 16), static_cast<char>(p >> 8), static_cast<char>(p)};
    out.write(rgb, 3);
  }
}

// Reads a binary PGM (grey expanded) or PPM as opaque pixels; empty on error.
inline TTestImage ReadPnm(const std::string& name) {
  TTestImage img;
  std::ifstream in(name, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  in >> magic >> w >> h >> maxval;
  in.get();
  if (!in || (magic != "P5" && magic != "P6") || maxval != 255 || w <= 0 || h <= 0) return img;
  const int comps = magic == "P6" ? 3 : 1;
  std::vector<uint8_t> raw(static_cast<size_t>(w) * h * comps);
  in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  if (!in) return img;
  img.Width = w;
  img.Height = h;
  img.Px.resize(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < img.Px.size(); ++i) {
    const uint32_t r = raw[i * comps], g = raw[i * comps + comps / 2], b = raw[i * comps + comps - 1];
    img.Px[i] = 0xFF000000u | (r << 16) | (g << 8) | b;
  }
  return img;
}
