#pragma once
// The GIF tests' peers: giflib reads a GIF from memory with DGifSlurp (frames
// de-interlaced into row order), Pillow reads files in one Python process, and
// a small generator makes random indexed frames and plain GIF files.
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

struct TPeerFrame {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Interlace = false;
  std::vector<uint8_t> LocalMap;  // RGB triples
  std::vector<uint8_t> Pixels;    // row order
  int TransparentIndex = -1;
  int Delay = 0;
  int Disposal = 0;
};

struct TPeerGif {
  bool Ok = false;
  int Error = 0;
  int Width = 0, Height = 0;
  std::vector<uint8_t> GlobalMap;
  std::vector<TPeerFrame> Frames;
  int LoopCount = -1;
  std::vector<std::string> Comments;
};

namespace gif_peer_detail {
struct TReadState {
  const std::vector<uint8_t>* Bytes;
  size_t Pos;
};
inline int ReadFn(GifFileType* G, GifByteType* Buf, int N) {
  auto* s = static_cast<TReadState*>(G->UserData);
  const size_t n = std::min(static_cast<size_t>(N), s->Bytes->size() - s->Pos);
  std::memcpy(Buf, s->Bytes->data() + s->Pos, n);
  s->Pos += n;
  return static_cast<int>(n);
}
inline std::vector<uint8_t> MapBytes(const ColorMapObject* M) {
  std::vector<uint8_t> v;
  if (!M) return v;
  for (int i = 0; i < M->ColorCount; ++i) {
    v.push_back(M->Colors[i].Red);
    v.push_back(M->Colors[i].Green);
    v.push_back(M->Colors[i].Blue);
  }
  return v;
}
}  // namespace gif_peer_detail

// giflib's reading of a whole file.
inline TPeerGif GiflibSlurp(const std::vector<uint8_t>& Bytes) {
  using namespace gif_peer_detail;
  TPeerGif out;
  TReadState st{&Bytes, 0};
  int err = 0;
  GifFileType* g = DGifOpen(&st, ReadFn, &err);
  if (!g) {
    out.Error = err;
    return out;
  }
  if (DGifSlurp(g) != GIF_OK) {
    out.Error = g->Error;
    DGifCloseFile(g, &err);
    return out;
  }
  out.Ok = true;
  out.Width = g->SWidth;
  out.Height = g->SHeight;
  out.GlobalMap = MapBytes(g->SColorMap);
  for (int i = 0; i < g->ImageCount; ++i) {
    const SavedImage& s = g->SavedImages[i];
    TPeerFrame f;
    f.Left = s.ImageDesc.Left;
    f.Top = s.ImageDesc.Top;
    f.Width = s.ImageDesc.Width;
    f.Height = s.ImageDesc.Height;
    f.Interlace = s.ImageDesc.Interlace;
    f.LocalMap = MapBytes(s.ImageDesc.ColorMap);
    f.Pixels.assign(s.RasterBits, s.RasterBits + static_cast<size_t>(f.Width) * f.Height);
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(g, i, &gcb) == GIF_OK) {
      f.TransparentIndex = gcb.TransparentColor;
      f.Delay = gcb.DelayTime;
      f.Disposal = gcb.DisposalMode;
    }
    for (int e = 0; e < s.ExtensionBlockCount; ++e) {
      const ExtensionBlock& b = s.ExtensionBlocks[e];
      if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 && std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0 &&
          e + 1 < s.ExtensionBlockCount && s.ExtensionBlocks[e + 1].ByteCount >= 3)
        out.LoopCount = s.ExtensionBlocks[e + 1].Bytes[1] | s.ExtensionBlocks[e + 1].Bytes[2] << 8;
      if (b.Function == COMMENT_EXT_FUNC_CODE)
        out.Comments.emplace_back(reinterpret_cast<const char*>(b.Bytes), static_cast<size_t>(b.ByteCount));
    }
    out.Frames.push_back(std::move(f));
  }
  DGifCloseFile(g, &err);
  return out;
}

// Pillow's indices of the first frame of each file (one Python process for
// all of them): "W H" and the W x H indices in row order, or empty on failure.
inline std::vector<std::vector<uint8_t>> PillowIndices(const std::vector<std::string>& Files) {
  std::string cmd = "/usr/bin/python3 -c \"import sys\nfrom PIL import Image\n"
                    "for f in sys.argv[1:]:\n"
                    "  try:\n"
                    "    im = Image.open(f); im.load()\n"
                    "    assert im.mode == 'P', im.mode\n"
                    "    open(f + '.idx', 'wb').write(im.tobytes())\n"
                    "  except Exception as e:\n"
                    "    sys.stderr.write(f + ': ' + str(e) + '\\n')\n\"";
  for (const auto& f : Files) cmd += " '" + f + "'";
  std::vector<std::vector<uint8_t>> out(Files.size());
  if (std::system(cmd.c_str()) != 0) return out;
  for (size_t i = 0; i < Files.size(); ++i) {
    FILE* f = std::fopen((Files[i] + ".idx").c_str(), "rb");
    if (!f) continue;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out[i].insert(out[i].end(), buf, buf + n);
    std::fclose(f);
    std::remove((Files[i] + ".idx").c_str());
  }
  return out;
}

// Random indices below 2^Bits, with runs and repeated patterns mixed in so
// that both string-table hits and long runs occur.
inline std::vector<uint8_t> RandomIndices(int W, int H, int Bits, uint32_t Seed) {
  std::vector<uint8_t> px(static_cast<size_t>(W) * H);
  uint32_t s = Seed * 2654435761u + 1;
  const uint32_t mask = (1u << Bits) - 1;
  size_t i = 0;
  while (i < px.size()) {
    s = s * 1664525u + 1013904223u;
    const uint32_t mode = s >> 29;
    const size_t len = 1 + ((s >> 8) & 63);
    const uint8_t v = static_cast<uint8_t>((s >> 16) & mask);
    for (size_t k = 0; k < len && i < px.size(); ++k, ++i) {
      if (mode < 3) {
        s = s * 1664525u + 1013904223u;
        px[i] = static_cast<uint8_t>((s >> 20) & mask);
      } else if (mode < 6) {
        px[i] = v;
      } else {
        px[i] = static_cast<uint8_t>((v + k % 3) & mask);
      }
    }
  }
  return px;
}

// A palette of N random colours, none of them grey, as RGB triples.
inline std::vector<uint8_t> RandomMap(int N, uint32_t Seed) {
  std::vector<uint8_t> m;
  uint32_t s = Seed + 77;
  for (int i = 0; i < N; ++i) {
    s = s * 1664525u + 1013904223u;
    m.push_back(static_cast<uint8_t>(s >> 24));
    m.push_back(static_cast<uint8_t>((s >> 16) | 1));
    m.push_back(static_cast<uint8_t>((s >> 8) & 0xFE));
  }
  return m;
}
