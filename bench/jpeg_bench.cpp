// JPEG decode and encode of a 6000 x 4000 photo-like picture: our picture
// class beside the same library called directly, its command-line tools and
// Pillow. The glue (error manager, pixel layout, stream copies) should cost
// only a few percent over the bare library.
#include <benchmark/benchmark.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bare_jpeg.h"
#include "bench_util.h"
#include "platform_jpeg.h"

namespace {

constexpr int kW = 6000, kH = 4000;

// Smooth shading, edges and sensor-like noise: compresses like a photo
// (about 2 bits per pixel at quality 90), not like a flat test card.
const std::vector<uint32_t>& Photo() {
  static const std::vector<uint32_t> px = [] {
    std::vector<uint32_t> v(static_cast<size_t>(kW) * kH);
    uint32_t s = 12345;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) v[static_cast<size_t>(y) * kW + x] = PhotoLikePixel(x, y, kW, kH, s, false);
    return v;
  }();
  return px;
}

const std::vector<uint8_t>& Jpeg() {
  static const std::vector<uint8_t> data = EncodeJpeg(Photo().data(), kW, kH, 90);
  return data;
}

const std::string& JpegFile() {
  static const std::string name = [] {
    std::string n = BenchTempPath("vemra_jpeg_bench.jpg");
    std::ofstream(n, std::ios::binary).write(reinterpret_cast<const char*>(Jpeg().data()),
                                             static_cast<std::streamsize>(Jpeg().size()));
    return n;
  }();
  return name;
}

const std::string& PpmFile() {
  static const std::string name = [] {
    std::string n = BenchTempPath("vemra_jpeg_bench.ppm");
    std::ofstream out(n, std::ios::binary);
    out << "P6\n" << kW << " " << kH << "\n255\n";
    std::vector<char> row(static_cast<size_t>(kW) * 3);
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const uint32_t p = Photo()[static_cast<size_t>(y) * kW + x];
        row[x * 3] = static_cast<char>(p >> 16);
        row[x * 3 + 1] = static_cast<char>(p >> 8);
        row[x * 3 + 2] = static_cast<char>(p);
      }
      out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    return n;
  }();
  return name;
}

// Into a buffer that is reused from one picture to the next.
void BareDecode(const std::vector<uint8_t>& data, std::vector<uint8_t>& out, J_COLOR_SPACE cs, int comps) {
  BareDecodeWith(data, cs, comps, [&](size_t n) {
    out.resize(n);
    return out.data();
  });
}

// The library alone, fed the rows Row(y) gives.
template <class TRow>
size_t BareEncodeRows(J_COLOR_SPACE cs, int comps, TRow Row) {
  jpeg_compress_struct ci;
  TBareError err;
  ci.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = BareExit;
  if (setjmp(err.jump)) std::abort();
  jpeg_create_compress(&ci);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&ci, &buf, &size);
  ci.image_width = kW;
  ci.image_height = kH;
  ci.input_components = comps;
  ci.in_color_space = cs;
  jpeg_set_defaults(&ci);
  jpeg_set_quality(&ci, 90, TRUE);
  jpeg_start_compress(&ci, TRUE);
  while (ci.next_scanline < ci.image_height) {
    JSAMPROW rows[16];
    const JDIMENSION n = std::min<JDIMENSION>(16, ci.image_height - ci.next_scanline);
    for (JDIMENSION k = 0; k < n; ++k) rows[k] = Row(ci.next_scanline + k, k);
    jpeg_write_scanlines(&ci, rows, n);
  }
  jpeg_finish_compress(&ci);
  jpeg_destroy_compress(&ci);
  std::free(buf);
  return size;
}

size_t BareEncode(const uint8_t* px, J_COLOR_SPACE cs, int comps) {
  const size_t stride = static_cast<size_t>(kW) * comps;
  return BareEncodeRows(cs, comps, [&](JDIMENSION y, JDIMENSION) { return const_cast<uint8_t*>(px + y * stride); });
}

// The library fed RGB rows converted from our 4-byte pixels 16 rows at a time.
size_t BareEncodeConverted(const uint32_t* px) {
  std::vector<uint8_t> rgb(static_cast<size_t>(kW) * 3 * 16);
  return BareEncodeRows(JCS_RGB, 3, [&](JDIMENSION y, JDIMENSION k) {
    const uint32_t* s = px + static_cast<size_t>(y) * kW;
    uint8_t* row = rgb.data() + static_cast<size_t>(k) * kW * 3;
    uint8_t* d = row;
    for (int x = 0; x < kW; ++x, d += 3) {
      d[0] = static_cast<uint8_t>(s[x] >> 16);
      d[1] = static_cast<uint8_t>(s[x] >> 8);
      d[2] = static_cast<uint8_t>(s[x]);
    }
    return row;
  });
}

const std::vector<uint8_t>& PhotoRgb() {
  static const std::vector<uint8_t> rgb = [] {
    std::vector<uint8_t> v(static_cast<size_t>(kW) * kH * 3);
    for (size_t i = 0; i < Photo().size(); ++i) {
      v[i * 3] = static_cast<uint8_t>(Photo()[i] >> 16);
      v[i * 3 + 1] = static_cast<uint8_t>(Photo()[i] >> 8);
      v[i * 3 + 2] = static_cast<uint8_t>(Photo()[i]);
    }
    return v;
  }();
  return rgb;
}

// Pillow times itself (interpreter start-up excluded) and reports seconds per run.
void TimePillow(benchmark::State& state, const std::string& body) {
  const std::string cmd = "/usr/bin/python3 -c \"import io, sys, time\nfrom PIL import Image\n" + body +
                          "\" > " + JpegFile() + ".t";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("python3 with PIL failed");
      return;
    }
    double secs = 0;
    std::ifstream(JpegFile() + ".t") >> secs;
    state.SetIterationTime(secs);
  }
}

void BM_Decode_TJPEGImage(benchmark::State& state) {
  const std::vector<uint8_t>& data = Jpeg();
  for (auto _ : state) {
    TJPEGImage img;
    img.LoadFromBytes(data.data(), data.size());
    benchmark::DoNotOptimize(img.Pixels());
  }
  state.counters["MB"] = static_cast<double>(data.size()) / 1e6;
}

void BM_Decode_BareLibraryRgb(benchmark::State& state) {
  std::vector<uint8_t> out;
  for (auto _ : state) {
    BareDecode(Jpeg(), out, JCS_RGB, 3);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Decode_BareLibraryBgra(benchmark::State& state) {
  std::vector<uint8_t> out;
  for (auto _ : state) {
    BareDecode(Jpeg(), out, JCS_EXT_BGRA, 4);
    benchmark::DoNotOptimize(out.data());
  }
}

// The same into a new, uninitialised block for every picture, as a loader
// that hands each picture its own memory must: the first touch of fresh
// pages is part of the price of every decode that is not into a reused buffer.
void BM_Decode_BareLibraryBgraFresh(benchmark::State& state) {
  for (auto _ : state) {
    uint8_t* block = nullptr;
    BareDecodeWith(Jpeg(), JCS_EXT_BGRA, 4, [&](size_t n) { return block = static_cast<uint8_t*>(std::malloc(n)); });
    benchmark::DoNotOptimize(block);
    std::free(block);
  }
}

void BM_Decode_CommandLine(benchmark::State& state) {
  TimeCommand(state, "djpeg -outfile /dev/null " + JpegFile());
}

void BM_Decode_Pillow(benchmark::State& state) {
  TimePillow(state, "d = open('" + JpegFile() +
                        "', 'rb').read()\nt = time.perf_counter()\nfor i in range(3): Image.open(io.BytesIO(d)).load()\n"
                        "print((time.perf_counter() - t) / 3)");
}

void BM_Encode_TJPEGImage(benchmark::State& state) {
  const std::vector<uint32_t>& px = Photo();
  for (auto _ : state) {
    std::vector<uint8_t> out = EncodeJpeg(px.data(), kW, kH, 90);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Encode_BareLibraryRgb(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BareEncode(PhotoRgb().data(), JCS_RGB, 3));
}

void BM_Encode_BareLibraryBgrx(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(BareEncode(reinterpret_cast<const uint8_t*>(Photo().data()), JCS_EXT_BGRX, 4));
}

void BM_Encode_BareLibraryConvertedRgb(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BareEncodeConverted(Photo().data()));
}

void BM_Encode_CommandLine(benchmark::State& state) {
  TimeCommand(state, "cjpeg -quality 90 -outfile /dev/null " + PpmFile());
}

void BM_Encode_Pillow(benchmark::State& state) {
  TimePillow(state, "im = Image.open('" + PpmFile() +
                        "'); im.load()\nt = time.perf_counter()\nfor i in range(3): im.save(io.BytesIO(), 'JPEG', quality=90)\n"
                        "print((time.perf_counter() - t) / 3)");
}

}  // namespace

BENCHMARK(BM_Decode_TJPEGImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Decode_BareLibraryRgb)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Decode_BareLibraryBgra)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Decode_BareLibraryBgraFresh)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Decode_CommandLine)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Decode_Pillow)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_Encode_TJPEGImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Encode_BareLibraryRgb)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Encode_BareLibraryBgrx)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Encode_BareLibraryConvertedRgb)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Encode_CommandLine)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Encode_Pillow)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

BENCHMARK_MAIN();
