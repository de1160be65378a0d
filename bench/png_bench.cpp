// PNG decode of 6000 x 4000 pictures (RGB8 with mixed filters, RGBA8 with
// Paeth only and with mixed filters, RGB8 with Adam7), each on one thread,
// and the save at level 9 on one thread and on eight, with the file sizes:
// our bridge beside libpng's png_read_image / png_write_image called in
// process on the same files, and Pillow in one Python process. libpng is
// asked for the same pixel layout as ours (four bytes per pixel, blue first)
// into rows allocated per run, as our bitmap is.
//
// Then the photos other programs write, with their default filters and
// level: Pillow (RGB8, RGBA8; it writes neither Adam7 nor 16-bit colour) and
// libpng (RGB8, RGBA8, RGB8 Adam7, RGB16), each opened on one thread through
// LoadPNGIntoBitmap32 from a file in the page cache, beside libpng's
// simplified API decoding the same file from memory to BGRA. The ratio
// table uses each thread's processor time, which a busy machine disturbs
// least; run it pinned to one core:
//   taskset -c 2 build-bench/bench/png_bench --benchmark_filter=Photo
#include <benchmark/benchmark.h>
#include <png.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "img_png.h"
#include "libpng_reader.h"
#include "raster_parallel.h"
#include "test_startup.h"

namespace {

constexpr int kW = 6000, kH = 4000;

// The folder for the files: in memory where possible, so that the encode
// times are not a disk's.
std::string ScratchPath(const std::string& Leaf) {
  FILE* f = std::fopen("/dev/shm/.vemra_probe", "wb");
  if (f) {
    std::fclose(f);
    std::remove("/dev/shm/.vemra_probe");
    return "/dev/shm/" + Leaf;
  }
  return BenchTempPath(Leaf);
}

const TBitmap32& Picture(bool Alpha) {
  static std::map<bool, std::unique_ptr<TBitmap32>> cache;
  auto& p = cache[Alpha];
  if (!p) {
    p = std::make_unique<TBitmap32>();
    p->SetSize(kW, kH);
    uint32_t s = 12345;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) p->RowPtr(y)[x] = PhotoLikePixel(x, y, kW, kH, s, Alpha);
  }
  return *p;
}

// The 16-bit sample of an 8-bit one: its byte on top and a noisy low byte,
// as a camera's raw values have.
uint16_t Widen16(uint8_t V, uint32_t& Seed) {
  Seed = Seed * 1664525u + 1013904223u;
  return static_cast<uint16_t>(V << 8 | Seed >> 24);
}

// Writes Picture through libpng: RGB or RGBA, 8-bit or (Sixteen) 16-bit
// samples, the given filters and interlacing, zlib level Level; Filters or
// Level -1 keeps libpng's default.
bool LibpngWrite(const std::string& File, const TBitmap32& P, bool Alpha, int Filters, bool Adam7, int Level,
                 bool Sixteen = false) {
  FILE* f = std::fopen(File.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> row(static_cast<size_t>(P.Width()) * 4);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(P.Width()), static_cast<png_uint_32>(P.Height()),
               Sixteen ? 16 : 8, Alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               Adam7 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (Filters >= 0) png_set_filter(png, 0, Filters);
  if (Level >= 0) png_set_compression_level(png, Level);
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  if (Sixteen) {
    // Big-endian samples made here; every pass sees the same rows.
    const int samples = Alpha ? 4 : 3;
    row.resize(static_cast<size_t>(P.Width()) * samples * 2);
    for (int pass = 0; pass < passes; ++pass) {
      uint32_t seed = 777;
      for (int y = 0; y < P.Height(); ++y) {
        for (int x = 0; x < P.Width(); ++x) {
          const TColor32 c = P.RowPtr(y)[x];
          const uint8_t v[4] = {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c),
                                static_cast<uint8_t>(c >> 24)};
          for (int k = 0; k < samples; ++k) {
            const uint16_t s = Widen16(v[k], seed);
            row[(static_cast<size_t>(x) * samples + k) * 2] = static_cast<uint8_t>(s >> 8);
            row[(static_cast<size_t>(x) * samples + k) * 2 + 1] = static_cast<uint8_t>(s);
          }
        }
        png_write_row(png, row.data());
      }
    }
  } else {
    // Our pixels are 0xAARRGGBB words: B, G, R, A bytes in memory.
    png_set_bgr(png);
    if (!Alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int pass = 0; pass < passes; ++pass)
      for (int y = 0; y < P.Height(); ++y)
        png_write_row(png, reinterpret_cast<png_const_bytep>(P.RowPtr(y)));
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

struct TCase {
  const char* Name;
  bool Alpha;
  int Filters;
  bool Adam7;
};
const TCase kCases[] = {
    {"RGB8", false, PNG_ALL_FILTERS, false},
    {"RGBA8Paeth", true, PNG_FILTER_PAETH, false},
    {"RGBA8Mixed", true, PNG_ALL_FILTERS, false},
    {"Adam7", false, PNG_ALL_FILTERS, true},
};

const std::string& CaseFile(const TCase& C) {
  static std::map<std::string, std::string> files;
  auto& f = files[C.Name];
  if (f.empty()) {
    f = ScratchPath(std::string("vemra_png_bench_") + C.Name + ".png");
    if (!LibpngWrite(f, Picture(C.Alpha), C.Alpha, C.Filters, C.Adam7, 6)) f.clear();
  }
  return f;
}

// File sizes of the saves, by who wrote them.
std::map<std::string, double> gEncodedBytes;

std::vector<uint8_t> ReadAll(const std::string& File) {
  std::ifstream in(File, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Times LoadPNGIntoBitmap32 of File, after a check against libpng.
void TimeOurLoad(benchmark::State& State, const std::string& file) {
  {
    TBitmap32 b;
    LoadPNGIntoBitmap32(file, &b);
    std::vector<uint8_t> bytes = ReadAll(file), ref;
    int w = 0, h = 0;
    if (!libpng_reader::Decode(bytes.data(), bytes.size(), w, h, ref, true) || w != b.Width() || h != b.Height() ||
        std::memcmp(ref.data(), b.Bits(), ref.size()) != 0) {
      State.SkipWithError("decode differs from libpng");
      return;
    }
  }
  for (auto _ : State) {
    TBitmap32 b;
    LoadPNGIntoBitmap32(file, &b);
    benchmark::DoNotOptimize(b.Bits());
  }
}

void OursDecode(benchmark::State& State, const TCase* C) { TimeOurLoad(State, CaseFile(*C)); }

// png_read_image from the file into rows of one block; false on an error.
bool LibpngReadFile(const std::string& File) {
  FILE* f = std::fopen(File.c_str(), "rb");
  if (!f) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  std::unique_ptr<uint32_t[]> pixels(new uint32_t[static_cast<size_t>(w) * h]());
  std::vector<png_bytep> rows(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = reinterpret_cast<png_bytep>(pixels.get() + static_cast<size_t>(y) * w);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  benchmark::DoNotOptimize(pixels.get());
  return true;
}

void LibpngDecode(benchmark::State& State, const TCase* C) {
  const std::string& file = CaseFile(*C);
  for (auto _ : State)
    if (!LibpngReadFile(file)) State.SkipWithError("libpng failed");
}

// ---- Photos written by other programs ------------------------------------------

struct TPhotoCase {
  const char* Name;    // "Pillow/RGB8"
  bool Pillow;         // else libpng
  bool Alpha, Adam7, Sixteen;
};
const TPhotoCase kPhotos[] = {
    {"Pillow/RGB8", true, false, false, false},   {"Pillow/RGBA8", true, true, false, false},
    {"libpng/RGB8", false, false, false, false},  {"libpng/RGBA8", false, true, false, false},
    {"libpng/Adam7", false, false, true, false},  {"libpng/RGB16", false, false, false, true},
};

std::string PhotoPath(const TPhotoCase& C) {
  std::string leaf = std::string("vemra_png_photo_") + C.Name + ".png";
  leaf[leaf.find('/')] = '_';
  return ScratchPath(leaf);
}

// Writes every photo once: libpng's here, Pillow's in one Python process from
// the raw picture. A photo that could not be written is left out (empty name).
const std::string& PhotoFile(const TPhotoCase& C) {
  static std::map<std::string, std::string> files;
  if (files.empty()) {
    std::string pillowArgs;
    for (const TPhotoCase& p : kPhotos) {
      const std::string path = PhotoPath(p);
      std::remove(path.c_str());
      if (p.Pillow) pillowArgs += std::string(" ") + (p.Alpha ? "RGBA8" : "RGB8") + "='" + path + "'";
      else if (!LibpngWrite(path, Picture(p.Alpha), p.Alpha, -1, p.Adam7, -1, p.Sixteen)) continue;
      files[p.Name] = path;
    }
    const std::string raw = WriteRgbaTempFile(Picture(true), "vemra_png_photo");
    if (!raw.empty()) {
      RunPeerScript("png_writers.py", raw, std::to_string(kW) + " " + std::to_string(kH) + pillowArgs);
      std::remove(raw.c_str());
    }
    for (auto& [name, path] : files)
      if (std::FILE* f = std::fopen(path.c_str(), "rb")) std::fclose(f);
      else path.clear();
  }
  return files[C.Name];
}

void OursPhoto(benchmark::State& State, const TPhotoCase* C) {
  const std::string& file = PhotoFile(*C);
  if (file.empty()) {
    State.SkipWithError("no file");
    return;
  }
  TThreadLimit limit(1);
  TimeOurLoad(State, file);
}

// libpng's simplified API, the file already in memory, to BGRA in a buffer
// allocated per run. 16-bit samples are taken as sRGB-coded, as a writer of
// 8-bit photos means them, so libpng narrows them without linearising.
bool LibpngSimplified(const std::vector<uint8_t>& Bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, Bytes.data(), Bytes.size())) return false;
  image.format = PNG_FORMAT_BGRA;
  image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[PNG_IMAGE_SIZE(image)]);
  const bool ok = png_image_finish_read(&image, nullptr, pixels.get(), 0, nullptr) != 0;
  png_image_free(&image);
  benchmark::DoNotOptimize(pixels.get());
  return ok;
}

void LibpngPhoto(benchmark::State& State, const TPhotoCase* C) {
  const std::string& file = PhotoFile(*C);
  if (file.empty()) {
    State.SkipWithError("no file");
    return;
  }
  const std::vector<uint8_t> bytes = ReadAll(file);
  for (auto _ : State)
    if (!LibpngSimplified(bytes)) State.SkipWithError("libpng failed");
}

// Peak memory of one decode, in a process of its own ("--peak ours|libpng
// FILE" runs one and prints the growth of its resident high-water mark in MB).
int PeakMode(const std::string& Who, const std::string& File) {
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  if (Who == "ours") {
    TBitmap32 b;
    LoadPNGIntoBitmap32(File, &b);
  } else if (!LibpngReadFile(File)) {
    return 1;
  }
  getrusage(RUSAGE_SELF, &after);
  std::printf("%.1f\n", (after.ru_maxrss - before.ru_maxrss) / 1024.0);
  return 0;
}

double PeakMb(const char* Self, const std::string& Who, const std::string& File) {
  double mb = 0;
  if (FILE* p = popen(("'" + std::string(Self) + "' --peak " + Who + " '" + File + "'").c_str(), "r")) {
    if (std::fscanf(p, "%lf", &mb) != 1) mb = 0;
    pclose(p);
  }
  return mb;
}

// Our save at level 9 on Threads threads (our filter set is Sub alone).
void OursEncode(benchmark::State& State, int Threads) {
  const std::string file = ScratchPath("vemra_png_bench_ours9.png");
  TThreadLimit limit(Threads);
  for (auto _ : State) SavePNGFromBitmap32(file, &Picture(false), false, false, 0, 9);
  gEncodedBytes["ours/" + std::to_string(Threads)] = static_cast<double>(ReadAll(file).size());
  std::remove(file.c_str());
}

// libpng at the same level with the same filter, so both compress the same
// filtered rows.
void LibpngEncode(benchmark::State& State) {
  const std::string file = ScratchPath("vemra_png_bench_libpng9.png");
  for (auto _ : State)
    if (!LibpngWrite(file, Picture(false), false, PNG_FILTER_SUB, false, 9)) State.SkipWithError("libpng failed");
  gEncodedBytes["libpng"] = static_cast<double>(ReadAll(file).size());
  std::remove(file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peak") == 0) {
    VemraTestStartup();
    return PeakMode(argv[2], argv[3]);
  }
  std::vector<char*> args;
  const bool peers = TakePeersFlag(argc, argv, args);
  int n = static_cast<int>(args.size());
  VemraTestStartup();
  for (const TPhotoCase& c : kPhotos) {
    benchmark::RegisterBenchmark((std::string("Photo/") + c.Name + "/ours").c_str(), OursPhoto, &c)
        ->Unit(benchmark::kMillisecond)->Iterations(5);
    benchmark::RegisterBenchmark((std::string("Photo/") + c.Name + "/libpng").c_str(), LibpngPhoto, &c)
        ->Unit(benchmark::kMillisecond)->Iterations(5);
  }
  for (const TCase& c : kCases) {
    benchmark::RegisterBenchmark((std::string("Decode/") + c.Name + "/ours").c_str(), OursDecode, &c)
        ->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
    benchmark::RegisterBenchmark((std::string("Decode/") + c.Name + "/libpng").c_str(), LibpngDecode, &c)
        ->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
  }
  // Level 9 costs tens of seconds on one thread here: one run each of those.
  benchmark::RegisterBenchmark("Encode/RGB8L9/ours1", OursEncode, 1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
  benchmark::RegisterBenchmark("Encode/RGB8L9/ours8", OursEncode, 8)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
  benchmark::RegisterBenchmark("Encode/RGB8L9/libpng", LibpngEncode)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
  benchmark::Initialize(&n, args.data());
  TMsCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  if (collector.CpuMs.count("Photo/Pillow/RGB8/ours") + collector.CpuMs.count("Photo/libpng/RGB8/ours") > 0) {
    const double bitmapMb = static_cast<double>(kW) * kH * 4 / 1048576.0;
    std::printf("\n%-14s %9s %9s %7s %9s %9s %9s %9s %9s\n", "photo", "ours ms", "libpng ms", "ratio", "wall ms",
                "libpng", "file MB", "peak MB", "/(bmp+f)");
    for (const TPhotoCase& c : kPhotos) {
      const std::string name = std::string("Photo/") + c.Name;
      if (!collector.CpuMs.count(name + "/ours") || PhotoFile(c).empty()) continue;
      const double ours = collector.CpuMs[name + "/ours"], lib = collector.CpuMs[name + "/libpng"];
      const double fileMb = static_cast<double>(ReadAll(PhotoFile(c)).size()) / 1048576.0;
      const double peak = PeakMb(argv[0], "ours", PhotoFile(c));
      std::printf("%-14s %9.1f %9.1f %7.2f %9.1f %9.1f %9.1f %9.1f %9.2f\n", c.Name, ours, lib,
                  ours > 0 ? lib / ours : 0.0, collector.Ms[name + "/ours"], collector.Ms[name + "/libpng"], fileMb,
                  peak, peak / (bitmapMb + fileMb));
    }
    std::printf("ours, libpng: processor time of one decode on one thread; ratio = libpng / ours; wall: the same\n"
                "in wall-clock time; peak: growth of our decode's resident high-water mark over the bitmap plus\n"
                "the file (%.1f MB bitmap)\n", bitmapMb);
    for (const TPhotoCase& c : kPhotos)
      if (!PhotoFile(c).empty()) std::remove(PhotoFile(c).c_str());
  }
  if (collector.Ms.count("Decode/RGB8/ours") == 0) return 0;
  std::string peerOut;
  if (peers) {
    std::string list;
    for (const TCase& c : kCases) list += std::string(" Decode/") + c.Name + "=" + CaseFile(c);
    peerOut = RunPeerScript("png_peers.py", "-", list);
  }
  const auto pillow = ParsePeerLines(peerOut);
  std::printf("\n%-18s %10s %10s %8s %10s %8s\n", "case", "vemra ms", "libpng ms", "ratio", "pillow ms", "ratio");
  for (const std::string name : {"Decode/RGB8", "Decode/RGBA8Paeth", "Decode/RGBA8Mixed", "Decode/Adam7"}) {
    const double ours = collector.Ms[name + "/ours"], lib = collector.Ms[name + "/libpng"];
    const double pil = PeerValue(pillow, name);
    std::printf("%-18s %10.1f %10.1f %8.2f %10.1f %8.2f\n", name.c_str(), ours, lib, ours > 0 ? lib / ours : 0.0, pil,
                pil > 0 && ours > 0 ? pil / ours : 0.0);
  }
  std::printf("ratio = peer time / our time (above 1: we are faster)\n");
  const double lib = collector.Ms["Encode/RGB8L9/libpng"];
  std::printf("\n%-22s %10s %8s %12s %12s\n", "save, level 9", "ms", "ratio", "bytes", "vs libpng");
  for (const char* who : {"ours1", "ours8", "libpng"}) {
    const double ms = collector.Ms[std::string("Encode/RGB8L9/") + who];
    const std::string key = std::string(who) == "libpng" ? "libpng" : std::string("ours/") + (who + 4);
    const double bytes = gEncodedBytes[key], libBytes = gEncodedBytes["libpng"];
    std::printf("%-22s %10.1f %8.2f %12.0f %12.4f\n", who, ms, ms > 0 ? lib / ms : 0.0, bytes,
                libBytes > 0 ? bytes / libBytes : 0.0);
  }
  std::printf("ours1, ours8: our save on 1 and 8 threads; ratio = libpng time / ours\n");
  std::printf("\n%-18s %12s %12s\n", "peak memory", "vemra MB", "libpng MB");
  for (const TCase& c : kCases)
    std::printf("%-18s %12.1f %12.1f\n", c.Name, PeakMb(argv[0], "ours", CaseFile(c)),
                PeakMb(argv[0], "libpng", CaseFile(c)));
  for (const TCase& c : kCases) std::remove(CaseFile(c).c_str());
  return 0;
}
