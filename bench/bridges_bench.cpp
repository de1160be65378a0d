// The TIFF and JPEG 2000 bridges beside the libraries they sit on, same file
// and same 32-bit pixel format:
//   TIFF, 24 MP (6000 x 4000), LZW with the predictor and uncompressed:
//     ReadTiffBitmap (our streams, red/blue swap) and LoadTiffToBitmap32
//     (into a TBitmap32, made opaque) against libtiff's TIFFReadRGBAImage
//     into a buffer and Pillow (open, load, convert to RGBA, in one process);
//   JPEG 2000, 6 MP (3000 x 2000) lossless code stream: LoadJ2KFile (module
//     loaded per call, file read, decode, flatten, copy into the bitmap)
//     against OpenJPEG's own file stream and decode called directly.
// The glue's cost is the ratio of the bare library's time to ours.
#include <dlfcn.h>
#include <openjpeg.h>
#include <tiffio.h>

#include <fstream>

#include "bench_util.h"
#include "img_j2k.h"
#include "img_tif.h"
#include "platform_messagebox.h"
#include "test_startup.h"
#include "tif_image.h"

namespace {

constexpr int32_t kW = 6000, kH = 4000;
constexpr int32_t kJW = 3000, kJH = 2000;

std::string TiffFile(bool Lzw) { return BenchTempPath(Lzw ? "vemra_bench_lzw.tif" : "vemra_bench_none.tif"); }
std::string J2kFile() { return BenchTempPath("vemra_bench.j2k"); }

void WritePhotoTiff(const std::string& Name, bool Lzw) {
  TIFF* t = TIFFOpen(Name.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kW);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kH);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, Lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
  if (Lzw) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 262144 / (3 * kW));
  std::vector<uint8_t> row(3 * kW);
  uint32_t seed = 12345;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const TColor32 p = PhotoLikePixel(x, y, kW, kH, seed, false);
      row[3 * x] = static_cast<uint8_t>(p >> 16);
      row[3 * x + 1] = static_cast<uint8_t>(p >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(p);
    }
    TIFFWriteScanline(t, row.data(), y, 0);
  }
  TIFFClose(t);
}

void Prepare() {
  static bool done = [] {
    VemraTestStartup();
    SetMessageBoxHandler([](const TMessageBoxRequest& r) {
      std::fprintf(stderr, "box: %s\n", r.Text.c_str());
      return IDOK;
    });
    SetJ2KModuleFolder(VEMRA_BIN_DIR);
    WritePhotoTiff(TiffFile(true), true);
    WritePhotoTiff(TiffFile(false), false);
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

void BM_Tiff_ReadTiffBitmap(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    std::unique_ptr<TPlatformBitmap> b = ReadTiffBitmap(TiffFile(state.range(0)));
    benchmark::DoNotOptimize(b->Bits());
  }
}

void BM_Tiff_LoadTiffToBitmap32(benchmark::State& state) {
  Prepare();
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

void BM_Tiff_Pillow(benchmark::State& state) {
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

BENCHMARK(BM_Tiff_ReadTiffBitmap)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Tiff_LoadTiffToBitmap32)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Tiff_LibtiffReadRGBAImage)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Tiff_Pillow)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_J2K_LoadJ2KFile)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_J2K_OpenJpegDirect)->Unit(benchmark::kMillisecond)->MinTime(3.0);

BENCHMARK_MAIN();
