// The TIFF and JPEG 2000 bridges beside the libraries they sit on, same file
// and same 32-bit pixel format:
//   TIFF, 24 MP (6000 x 4000), LZW with the predictor and uncompressed:
//     ReadTiffBitmap (our streams, red/blue swap) and LoadTiffToBitmap32
//     (into a TBitmap32, made opaque) against libtiff's TIFFReadRGBAImage
//     into a buffer and Pillow (open, load, convert to RGBA, in one process);
//   JPEG 2000, 6 MP (3000 x 2000) lossless code stream: LoadJ2KFile (module
//     loaded per call, file read, decode, flatten, copy into the bitmap)
//     against OpenJPEG's own file stream and decode called directly.
// The glue's cost is the ratio of the bare library's time to ours. Ours runs
// on one thread and on every core (the decoding itself is libtiff's, on one
// thread either way; the threads clear the bitmap and convert the pixels).
// A table of the ratios closes the run.
//
//   bridges_bench [--no-peers] [google benchmark flags]
#include <dlfcn.h>
#include <openjpeg.h>
#include <tiffio.h>

#include <fstream>
#include <map>
#include <string>

#include "bench_tiff.h"
#include "bench_util.h"
#include "img_j2k.h"
#include "img_tif.h"
#include "platform_messagebox.h"
#include "raster_parallel.h"
#include "test_startup.h"
#include "tif_image.h"

namespace {

constexpr int32_t kW = 6000, kH = 4000;
constexpr int32_t kJW = 3000, kJH = 2000;

std::string TiffFile(bool Lzw) { return BenchTempPath(Lzw ? "vemra_bench_lzw.tif" : "vemra_bench_none.tif"); }
std::string J2kFile() { return BenchTempPath("vemra_bench.j2k"); }

void Prepare() {
  static bool done = [] {
    SetMessageBoxHandler([](const TMessageBoxRequest& r) {
      std::fprintf(stderr, "box: %s\n", r.Text.c_str());
      return IDOK;
    });
    SetJ2KModuleFolder(VEMRA_BIN_DIR);
    const std::unique_ptr<TBitmap32> photo = MakePhotoLike(kW, kH, false);
    WriteRgbTiff(TiffFile(true), *photo, true);
    WriteRgbTiff(TiffFile(false), *photo, false);
    TBitmap32 b;
    b.SetSize(kJW, kJH);
    uint32_t seed = 12345;
    for (int y = 0; y < kJH; ++y)
      for (int x = 0; x < kJW; ++x) b.Bits()[y * kJW + x] = PhotoLikePixel(x, y, kJW, kJH, seed, false);
    SaveJ2KFile(J2kFile(), &b, 0, 3);
    return true;
  }();
  (void)done;
}

// Arguments of our TIFF cases: LZW (1) or uncompressed (0), then the
// threads (1, or 0 for every core).
void BM_Tiff_ReadTiffBitmap(benchmark::State& state) {
  Prepare();
  TThreadLimit limit(static_cast<int32_t>(state.range(1)));
  for (auto _ : state) {
    std::unique_ptr<TPlatformBitmap> b = ReadTiffBitmap(TiffFile(state.range(0)));
    benchmark::DoNotOptimize(b->Bits());
  }
}

void BM_Tiff_LoadTiffToBitmap32(benchmark::State& state) {
  Prepare();
  TThreadLimit limit(static_cast<int32_t>(state.range(1)));
  for (auto _ : state) {
    TBitmap32 b;
    LoadTiffToBitmap32(TiffFile(state.range(0)), &b);
    benchmark::DoNotOptimize(b.Bits());
  }
}

void BM_Tiff_LibtiffReadRGBAImage(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    TIFF* t = TIFFOpen(TiffFile(state.range(0)).c_str(), "r");
    uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    // A fresh buffer per picture, as the bridge allocates one per picture.
    std::unique_ptr<uint32_t[]> raster(new uint32_t[size_t{w} * h]);
    TIFFReadRGBAImageOriented(t, w, h, raster.get(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(t);
    benchmark::DoNotOptimize(raster.get());
  }
}

bool gPeers = true;

void BM_Tiff_Pillow(benchmark::State& state) {
  if (!gPeers) {
    state.SkipWithError("peers turned off");
    return;
  }
  Prepare();
  const std::string out = BenchTempPath("vemra_bench_tiff.t");
  const std::string cmd = "/usr/bin/python3 -c \"import time\nfrom PIL import Image\nn = 3\nt = time.perf_counter()\n"
                          "for i in range(n):\n  im = Image.open('" +
                          TiffFile(state.range(0)) +
                          "'); im.load(); im = im.convert('RGBA')\nprint((time.perf_counter() - t) / n)\" > " + out;
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("python3 with PIL failed");
      return;
    }
    double secs = 0;
    std::ifstream(out) >> secs;
    state.SetIterationTime(secs);
  }
}

void BM_J2K_LoadJ2KFile(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    TBitmap32 b;
    LoadJ2KFile(J2kFile(), &b);
    benchmark::DoNotOptimize(b.Bits());
  }
}

void BM_J2K_OpenJpegDirect(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    opj_codec_t* c = opj_create_decompress(OPJ_CODEC_J2K);
    opj_dparameters_t p;
    opj_set_default_decoder_parameters(&p);
    opj_setup_decoder(c, &p);
    opj_stream_t* s = opj_stream_create_default_file_stream(J2kFile().c_str(), OPJ_TRUE);
    opj_image_t* img = nullptr;
    opj_read_header(s, c, &img);
    opj_decode(c, s, img);
    opj_end_decompress(c, s);
    benchmark::DoNotOptimize(img->comps[0].data);
    opj_image_destroy(img);
    opj_stream_destroy(s);
    opj_destroy_codec(c);
  }
}

}  // namespace

BENCHMARK(BM_Tiff_ReadTiffBitmap)->ArgsProduct({{1, 0}, {1, 0}})->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Tiff_LoadTiffToBitmap32)->ArgsProduct({{1, 0}, {1, 0}})->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Tiff_LibtiffReadRGBAImage)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Tiff_Pillow)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_J2K_LoadJ2KFile)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_J2K_OpenJpegDirect)->Unit(benchmark::kMillisecond)->MinTime(3.0);

int main(int argc, char** argv) {
  const bool Peers = StartBenchmarkProgram(argc, argv);
  gPeers = Peers;
  TMsCollector Collector;
  benchmark::RunSpecifiedBenchmarks(&Collector);
  benchmark::Shutdown();
  std::map<std::string, double>& Ms = Collector.Ms;
  const auto Cell = [](double V, const char* Format) {
    char Text[32];
    std::snprintf(Text, sizeof Text, Format, V);
    return V > 0 ? std::string(Text) : std::string("-");
  };
  std::map<std::string, double>& Cpu = Collector.CpuMs;
  std::printf("\n%-28s %9s %9s %7s %9s %6s %6s %6s %9s %6s\n", "case", "ours 1t", "ours all", "speedup", "bare lib",
              "ratio", "ratio", "ratio", "pillow", "ratio");
  std::printf("%-28s %9s %9s %7s %9s %6s %6s %6s %9s %6s\n", "", "", "", "", "", "1t", "all", "1t cpu", "", "1t");
  for (const char* Reader : {"LoadTiffToBitmap32", "ReadTiffBitmap"})
    for (const auto& [Arg, Kind] : {std::pair{"1", "LZW"}, std::pair{"0", "none"}}) {
      const double O1 = Ms["BM_Tiff_" + std::string(Reader) + "/" + Arg + "/1"];
      const double ON = Ms["BM_Tiff_" + std::string(Reader) + "/" + Arg + "/0"];
      const double Bare = Ms["BM_Tiff_LibtiffReadRGBAImage/" + std::string(Arg)];
      const double Pil = Ms["BM_Tiff_Pillow/" + std::string(Arg)];
      const std::string Case = std::string("TIFF ") + Kind + " " + Reader;
      const auto R = [&](double Peer, double Ours) { return Cell(Peer > 0 && Ours > 0 ? Peer / Ours : 0, "%.2f"); };
      const double Cpu1 = Cpu["BM_Tiff_" + std::string(Reader) + "/" + Arg + "/1"];
      const double CpuBare = Cpu["BM_Tiff_LibtiffReadRGBAImage/" + std::string(Arg)];
      std::printf("%-28s %9s %9s %7s %9s %6s %6s %6s %9s %6s\n", Case.c_str(), Cell(O1, "%.1f").c_str(),
                  Cell(ON, "%.1f").c_str(), R(O1, ON).c_str(), Cell(Bare, "%.1f").c_str(), R(Bare, O1).c_str(),
                  R(Bare, ON).c_str(), R(CpuBare, Cpu1).c_str(), Cell(Pil, "%.1f").c_str(), R(Pil, O1).c_str());
    }
  const double J = Ms["BM_J2K_LoadJ2KFile"], JBare = Ms["BM_J2K_OpenJpegDirect"];
  const double JCpu = Cpu["BM_J2K_LoadJ2KFile"], JCpuBare = Cpu["BM_J2K_OpenJpegDirect"];
  std::printf("%-28s %9s %9s %7s %9s %6s %6s %6s\n", "J2K 6 MP LoadJ2KFile", Cell(J, "%.1f").c_str(), "-", "-",
              Cell(JBare, "%.1f").c_str(), Cell(J > 0 && JBare > 0 ? JBare / J : 0, "%.2f").c_str(), "-",
              Cell(JCpu > 0 && JCpuBare > 0 ? JCpuBare / JCpu : 0, "%.2f").c_str());
  double Load[3] = {0, 0, 0};
  if (FILE* F = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(F, "%lf %lf %lf", &Load[0], &Load[1], &Load[2]) != 3) Load[0] = 0;
    std::fclose(F);
  }
  std::printf("threads: ours %d; load average %.2f %.2f %.2f\n"
              "ratio = peer time / our time (above 1: we are faster; the glue's goal: at least 0.91)\n",
              ThreadCount(), Load[0], Load[1], Load[2]);
  return 0;
}
