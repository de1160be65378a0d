// GIF decode and encode of a 12-megapixel 8-bit picture beside giflib (in
// process, through its C API) and Pillow (one Python process, start-up
// excluded): the same file, decoded into palette indices; encoding the same
// indices with LZW. Prints the ratio table (peer time / ours).
#include <gif_lib.h>

#include <cstring>

#include "bench_util.h"
#include "gif_image.h"
#include "test_startup.h"

namespace {

constexpr int kW = 4000, kH = 3000;

// Photo-like colours reduced to a 6x6x6 cube plus 40 noise entries: what a
// converted photograph looks like to a GIF coder.
const std::vector<uint8_t>& Indices() {
  static const std::vector<uint8_t> px = [] {
    std::vector<uint8_t> v(static_cast<size_t>(kW) * kH);
    uint32_t seed = 12345;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const TColor32 c = PhotoLikePixel(x, y, kW, kH, seed, false);
        const uint32_t r = (c >> 16 & 255) / 43, g = (c >> 8 & 255) / 43, b = (c & 255) / 43;
        uint32_t i = r * 36 + g * 6 + b;
        if ((seed >> 20 & 63) == 0) i = 216 + (seed >> 8) % 40;
        v[static_cast<size_t>(y) * kW + x] = static_cast<uint8_t>(i);
      }
    return v;
  }();
  return px;
}

std::vector<uint32_t> Palette256() {
  std::vector<uint32_t> p;
  for (uint32_t i = 0; i < 256; ++i) p.push_back(0xFF000000u | (i * 37 & 255) << 16 | (i * 91 & 255) << 8 | (i * 13 & 255));
  return p;
}

// The benchmark's file, written by our LZW coder (giflib reads it back
// exactly, which the decode benchmarks check).
const std::vector<uint8_t>& GifFile() {
  static const std::vector<uint8_t> bytes = [] {
    TGIFImage g;
    g.GlobalColorMap().ImportPalette(Palette256());
    auto f = std::make_unique<TGIFSubImage>(&g);
    f->SetBounds(0, 0, kW, kH);
    std::memcpy(f->Data(), Indices().data(), Indices().size());
    g.Add(std::move(f));
    TMemoryStream m;
    g.SaveToStream(m);
    return m.Bytes();
  }();
  return bytes;
}

struct TMemRead {
  const std::vector<uint8_t>* B;
  size_t Pos;
};
int MemRead(GifFileType* G, GifByteType* Buf, int N) {
  auto* s = static_cast<TMemRead*>(G->UserData);
  const size_t n = std::min(static_cast<size_t>(N), s->B->size() - s->Pos);
  std::memcpy(Buf, s->B->data() + s->Pos, n);
  s->Pos += n;
  return static_cast<int>(n);
}
int MemWrite(GifFileType* G, const GifByteType* Buf, int N) {
  auto* v = static_cast<std::vector<uint8_t>*>(G->UserData);
  v->insert(v->end(), Buf, Buf + N);
  return N;
}

void BM_Decode_Ours(benchmark::State& State) {
  const auto& file = GifFile();
  for (auto _ : State) {
    TReadOnlyMemoryStream s(file.data(), file.size());
    TGIFImage g;
    g.LoadFromStream(s);
    benchmark::DoNotOptimize(g.Images().Item(0)->Data());
  }
  TReadOnlyMemoryStream s(file.data(), file.size());
  TGIFImage g;
  g.LoadFromStream(s);
  if (std::memcmp(g.Images().Item(0)->Data(), Indices().data(), Indices().size()) != 0)
    State.SkipWithError("wrong pixels");
}

void BM_Decode_Giflib(benchmark::State& State) {
  const auto& file = GifFile();
  bool same = true;
  for (auto _ : State) {
    TMemRead r{&file, 0};
    int err = 0;
    GifFileType* g = DGifOpen(&r, MemRead, &err);
    if (!g || DGifSlurp(g) != GIF_OK) {
      State.SkipWithError("giflib failed");
      return;
    }
    same = std::memcmp(g->SavedImages[0].RasterBits, Indices().data(), Indices().size()) == 0;
    DGifCloseFile(g, &err);
  }
  if (!same) State.SkipWithError("giflib read other pixels");
}

void BM_Encode_Ours(benchmark::State& State) {
  for (auto _ : State) {
    TMemoryStream m;
    TLZWEncoder e;
    e.Compress(m, 8, 256, Indices().data(), false, kH, kW);
    benchmark::DoNotOptimize(m.Bytes().data());
  }
}

void BM_Encode_OursRunLength(benchmark::State& State) {
  for (auto _ : State) {
    TMemoryStream m;
    TRLEEncoder e;
    e.Compress(m, 8, 256, Indices().data(), false, kH, kW);
    benchmark::DoNotOptimize(m.Bytes().data());
  }
}

void BM_Encode_Giflib(benchmark::State& State) {
  const std::vector<uint32_t> pal = Palette256();
  GifColorType colors[256];
  for (int i = 0; i < 256; ++i)
    colors[i] = {static_cast<GifByteType>(pal[i] >> 16), static_cast<GifByteType>(pal[i] >> 8),
                 static_cast<GifByteType>(pal[i])};
  for (auto _ : State) {
    std::vector<uint8_t> out;
    int err = 0;
    GifFileType* g = EGifOpen(&out, MemWrite, &err);
    ColorMapObject* map = GifMakeMapObject(256, colors);
    EGifPutScreenDesc(g, kW, kH, 8, 0, map);
    EGifPutImageDesc(g, 0, 0, kW, kH, false, nullptr);
    // giflib takes rows through a non-const pointer; it only reads them.
    auto* px = const_cast<GifPixelType*>(Indices().data());
    for (int y = 0; y < kH; ++y) EGifPutLine(g, px + static_cast<size_t>(y) * kW, kW);
    EGifCloseFile(g, &err);
    GifFreeMapObject(map);
    benchmark::DoNotOptimize(out.data());
  }
}

}  // namespace

BENCHMARK(BM_Decode_Ours)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Decode_Giflib)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Encode_Ours)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Encode_OursRunLength)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Encode_Giflib)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
  const bool peers = StartBenchmarkProgram(argc, argv);
  TMsCollector ms;
  benchmark::RunSpecifiedBenchmarks(&ms);
  std::printf("\nfile: %zu bytes for %d x %d pixels\n", GifFile().size(), kW, kH);
  double pillow = 0;
  if (peers) {
    const std::string path = BenchTempPath("vemra_gif_bench.gif");
    TMemoryStream(GifFile()).SaveToFile(path);
    const std::string out = RunPeerScript("gif_peers.py", path, "");
    std::remove(path.c_str());
    pillow = PeerValue(ParsePeerLines(out), "Decode");
  }
  auto at = [&](const char* k) { return ms.Ms.count(k) ? ms.Ms[k] : 0.0; };
  const double dec = at("BM_Decode_Ours"), gdec = at("BM_Decode_Giflib");
  const double enc = at("BM_Encode_Ours"), genc = at("BM_Encode_Giflib");
  std::printf("\n%-8s %10s %10s %8s %10s %8s\n", "case", "vemra ms", "giflib ms", "ratio", "pillow ms", "ratio");
  std::printf("%-8s %10.1f %10.1f %8.2f %10.1f %8.2f\n", "Decode", dec, gdec, dec > 0 ? gdec / dec : 0, pillow,
              dec > 0 ? pillow / dec : 0);
  std::printf("%-8s %10.1f %10.1f %8.2f %10s %8s\n", "Encode", enc, genc, enc > 0 ? genc / enc : 0, "-", "-");
  std::printf("ratio = peer time / our time (above 1: we are faster)\n");
  return 0;
}
