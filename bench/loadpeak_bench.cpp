// Peak memory of loading a 6000 x 4000 photo-like picture from a JPEG, a
// 24-bit BMP, a TIFF file (LZW and uncompressed) and a PNG file (RGB and
// RGBA, as our save writes them) the way the editor does
// (LoadImageFile into a 32-bit bitmap), beside libjpeg-turbo decoding the same
// file into a 4-byte-per-pixel buffer through its C API, libtiff's
// TIFFReadRGBAImageOriented into a buffer of its own, and beside the bitmap's
// own LoadFromFile and the general path (load the picture class, then assign
// it to the bitmap). Each load runs in a process of its own under
// /usr/bin/time -v; the table shows the growth of the maximum
// resident size over a process that only starts up, and that growth over
// the final bitmap plus the file (the goal is at most 1.2).
//
//   build-bench/bench/loadpeak_bench            the table
//   build-bench/bench/loadpeak_bench MODE FILE  one load (used by the table)
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <tiffio.h>

#include "bare_jpeg.h"
#include "bench_tiff.h"
#include "bench_util.h"
#include "img_loadfile.h"
#include "img_png.h"
#include "platform_jpeg.h"
#include "test_startup.h"

namespace {

constexpr int kW = 6000, kH = 4000;

std::vector<uint8_t> ReadAll(const std::string& File) {
  std::ifstream in(File, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The library alone: the file in memory, decoded into one 4-byte-per-pixel block.
bool BareJpeg(const std::string& File) {
  const std::vector<uint8_t> data = ReadAll(File);
  uint8_t* out = nullptr;
  BareDecodeWith(data, JCS_EXT_BGRA, 4, [&](size_t n) { return out = static_cast<uint8_t*>(std::malloc(n)); });
  benchmark::DoNotOptimize(out);
  std::free(out);
  return out != nullptr;
}

// libtiff alone: its own file mapping, the picture read into one buffer.
bool BareTiff(const std::string& File) {
  TIFF* t = TIFFOpen(File.c_str(), "r");
  if (t == nullptr) return false;
  uint32_t w = 0, h = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  auto* raster = static_cast<uint32_t*>(std::malloc(size_t{w} * h * 4));
  const bool ok = raster != nullptr && TIFFReadRGBAImageOriented(t, w, h, raster, ORIENTATION_TOPLEFT, 0) != 0;
  benchmark::DoNotOptimize(raster);
  std::free(raster);
  TIFFClose(t);
  return ok;
}

int OneLoad(const std::string& Mode, const std::string& File) {
  VemraTestStartup();
  TBitmap32 b;
  if (Mode == "ours") {
    if (!LoadImageFile(File, b)) return 1;
  } else if (Mode == "bitmap") {
    b.LoadFromFile(File);
  } else if (Mode == "assign") {
    TPicture p;
    p.LoadFromFile(File);
    b.Assign(&p);
  } else if (Mode == "libjpeg") {
    if (!BareJpeg(File)) return 1;
  } else if (Mode == "libtiff") {
    if (!BareTiff(File)) return 1;
  } else if (Mode != "startup") {
    return 2;
  }
  benchmark::DoNotOptimize(b.Bits());
  return 0;
}

// The maximum resident size of one load, in MB.
double PeakMb(const char* Self, const std::string& Mode, const std::string& File) {
  const std::string cmd = "/usr/bin/time -v '" + std::string(Self) + "' " + Mode + " '" + File + "' 2>&1 >/dev/null";
  double kb = 0;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, p))
      if (const char* at = std::strstr(line, "Maximum resident set size (kbytes):")) kb = std::atof(at + 35);
    pclose(p);
  }
  return kb / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) return OneLoad(argv[1], argv[2]);
  VemraTestStartup();
  const std::unique_ptr<TBitmap32> photo = MakePhotoLike(kW, kH, false);
  const std::string jpg = BenchTempPath("vemra_loadpeak.jpg"), bmp = BenchTempPath("vemra_loadpeak.bmp");
  const std::string lzw = BenchTempPath("vemra_loadpeak_lzw.tif"), raw = BenchTempPath("vemra_loadpeak_none.tif");
  const std::string png = BenchTempPath("vemra_loadpeak.png"), pnga = BenchTempPath("vemra_loadpeak_rgba.png");
  SavePNGFromBitmap32(png, photo.get(), false, false, 0, 6);
  SavePNGFromBitmap32(pnga, photo.get(), false, true, 0, 6);
  WriteRgbTiff(lzw, *photo, true);
  WriteRgbTiff(raw, *photo, false);
  {
    const std::vector<uint8_t> data = EncodeJpeg(photo->Bits(), kW, kH, 90);
    std::ofstream(jpg, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                               static_cast<std::streamsize>(data.size()));
    TPlatformBitmap p;
    photo->AssignTo(p);
    p.SetPixelFormat(TPixelFormat::pf24bit);
    p.SaveToFile(bmp);
  }
  const double base = PeakMb(argv[0], "startup", jpg);
  const double bitmapMb = static_cast<double>(kW) * kH * 4 / 1048576.0;
  std::printf("%d x %d pixels; bitmap %.1f MB; process start-up %.1f MB (subtracted below)\n\n", kW, kH, bitmapMb,
              base);
  std::printf("%-6s %-22s %9s %11s %14s\n", "file", "load", "file MB", "growth MB", "/(bitmap+file)");
  const struct {
    const char* Label;
    const std::string* File;
    const char* Mode;
  } rows[] = {{"JPEG", &jpg, "ours"},     {"JPEG", &jpg, "libjpeg"},  {"JPEG", &jpg, "assign"},
              {"BMP", &bmp, "ours"},      {"BMP", &bmp, "assign"},    {"TIFF", &lzw, "ours"},
              {"TIFF", &lzw, "libtiff"},  {"TIFF", &lzw, "bitmap"},   {"TIFF", &lzw, "assign"},   {"TIFF-u", &raw, "ours"},
              {"TIFF-u", &raw, "libtiff"}, {"PNG", &png, "ours"},      {"PNG-a", &pnga, "ours"}};
  for (const auto& r : rows) {
    const double fileMb = static_cast<double>(ReadAll(*r.File).size()) / 1048576.0;
    const double growth = PeakMb(argv[0], r.Mode, *r.File) - base;
    const char* name = std::strcmp(r.Mode, "ours") == 0      ? "LoadImageFile"
                       : std::strcmp(r.Mode, "libjpeg") == 0 ? "libjpeg-turbo, C API"
                       : std::strcmp(r.Mode, "libtiff") == 0 ? "libtiff RGBA, C API"
                       : std::strcmp(r.Mode, "bitmap") == 0  ? "TBitmap32::LoadFromFile"
                                                             : "picture class + Assign";
    std::printf("%-6s %-22s %9.1f %11.1f %14.2f\n", r.Label, name, fileMb, growth, growth / (bitmapMb + fileMb));
  }
  std::remove(jpg.c_str());
  std::remove(bmp.c_str());
  std::remove(lzw.c_str());
  std::remove(raw.c_str());
  std::remove(png.c_str());
  std::remove(pnga.c_str());
  return 0;
}
