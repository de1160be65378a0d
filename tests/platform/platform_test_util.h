#pragma once
// Small helpers shared by the platform tests: a temporary folder that removes
// itself, the Pillow generator's pixel files, and BMP bytes in memory.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform_graphics.h"
#include "platform_stream.h"

struct TTempDir {
  std::filesystem::path Path;
  TTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vemra-platform-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) Path = buf.data();
  }
  ~TTempDir() {
    std::error_code ec;
    if (!Path.empty()) std::filesystem::remove_all(Path, ec);
  }
  std::string File(const std::string& Name) const { return (Path / Name).string(); }
};

inline std::vector<uint8_t> ReadAll(const std::string& FileName) {
  std::ifstream in(FileName, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& FileName, const std::vector<uint8_t>& Bytes) {
  std::ofstream out(FileName, std::ios::binary);
  out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

// Pixels as the generator stores them: width, height, then 0xAARRGGBB words.
struct TPixelFile {
  int32_t Width = -1, Height = -1;
  std::vector<uint32_t> Pixels;
};

inline TPixelFile ReadPixelFile(const std::string& FileName) {
  TPixelFile r;
  std::vector<uint8_t> b = ReadAll(FileName);
  if (b.size() < 8) return r;
  auto le32 = [&](size_t o) {
    return static_cast<uint32_t>(b[o]) | static_cast<uint32_t>(b[o + 1]) << 8 |
           static_cast<uint32_t>(b[o + 2]) << 16 | static_cast<uint32_t>(b[o + 3]) << 24;
  };
  r.Width = static_cast<int32_t>(le32(0));
  r.Height = static_cast<int32_t>(le32(4));
  for (size_t o = 8; o + 4 <= b.size(); o += 4) r.Pixels.push_back(le32(o));
  return r;
}

inline std::vector<uint8_t> SaveBmp(const TPlatformBitmap& B) {
  TMemoryStream s;
  B.SaveToStream(s);
  return s.Bytes();
}

inline TPlatformBitmap LoadBmp(const std::vector<uint8_t>& Bytes) {
  TReadOnlyMemoryStream s(Bytes.data(), Bytes.size());
  TPlatformBitmap b;
  b.LoadFromStream(s);
  return b;
}

inline std::string GeneratorScript() { return std::string(VEMRA_SOURCE_DIR) + "/tests/platform/bmp_gen.py"; }

inline const char* PixelFormatName(TPixelFormat f) {
  switch (f) {
    case TPixelFormat::pfDevice: return "pfDevice";
    case TPixelFormat::pf1bit: return "pf1bit";
    case TPixelFormat::pf4bit: return "pf4bit";
    case TPixelFormat::pf8bit: return "pf8bit";
    case TPixelFormat::pf15bit: return "pf15bit";
    case TPixelFormat::pf16bit: return "pf16bit";
    case TPixelFormat::pf24bit: return "pf24bit";
    case TPixelFormat::pf32bit: return "pf32bit";
    case TPixelFormat::pfCustom: return "pfCustom";
  }
  return "?";
}
