// JPEG 2000 through OpenJPEG, on memory streams. Decoding flattens every
// component layout to 8-bit grey, BGR or BGRA: precision scaled to 8 bits,
// signed components shifted to unsigned, subsampled components repeated,
// and sYCC (also the unmarked three-component files with subsampled chroma,
// as OpenJPEG's own tools read them) turned into RGB.
#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "j2k_codec.h"

namespace j2k {

namespace {

struct TMemoryIn {
  const uint8_t* Data;
  size_t Size;
  size_t Pos;
};

OPJ_SIZE_T MemRead(void* Buf, OPJ_SIZE_T N, void* User) {
  auto* M = static_cast<TMemoryIn*>(User);
  if (M->Pos >= M->Size) return static_cast<OPJ_SIZE_T>(-1);
  const size_t K = std::min<size_t>(N, M->Size - M->Pos);
  std::memcpy(Buf, M->Data + M->Pos, K);
  M->Pos += K;
  return K;
}

OPJ_OFF_T MemSkip(OPJ_OFF_T N, void* User) {
  auto* M = static_cast<TMemoryIn*>(User);
  if (N < 0 ? static_cast<size_t>(-N) > M->Pos : static_cast<uint64_t>(N) > M->Size - std::min(M->Pos, M->Size))
    return -1;
  M->Pos = static_cast<size_t>(static_cast<OPJ_OFF_T>(M->Pos) + N);
  return N;
}

OPJ_BOOL MemSeek(OPJ_OFF_T N, void* User) {
  auto* M = static_cast<TMemoryIn*>(User);
  if (N < 0 || static_cast<uint64_t>(N) > M->Size) return OPJ_FALSE;
  M->Pos = static_cast<size_t>(N);
  return OPJ_TRUE;
}

struct TMemoryOut {
  std::vector<uint8_t>* Bytes;
  size_t Pos;
};

OPJ_SIZE_T OutWrite(void* Buf, OPJ_SIZE_T N, void* User) {
  auto* M = static_cast<TMemoryOut*>(User);
  if (M->Pos + N > M->Bytes->size()) M->Bytes->resize(M->Pos + N);
  std::memcpy(M->Bytes->data() + M->Pos, Buf, N);
  M->Pos += N;
  return N;
}

OPJ_OFF_T OutSkip(OPJ_OFF_T N, void* User) {
  auto* M = static_cast<TMemoryOut*>(User);
  if (N < 0 && static_cast<size_t>(-N) > M->Pos) return -1;
  M->Pos = static_cast<size_t>(static_cast<OPJ_OFF_T>(M->Pos) + N);
  if (M->Pos > M->Bytes->size()) M->Bytes->resize(M->Pos);
  return N;
}

OPJ_BOOL OutSeek(OPJ_OFF_T N, void* User) {
  auto* M = static_cast<TMemoryOut*>(User);
  if (N < 0) return OPJ_FALSE;
  M->Pos = static_cast<size_t>(N);
  if (M->Pos > M->Bytes->size()) M->Bytes->resize(M->Pos);
  return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

struct TCodecFree {
  void operator()(opj_codec_t* C) const { opj_destroy_codec(C); }
};
struct TStreamFree {
  void operator()(opj_stream_t* S) const { opj_stream_destroy(S); }
};
struct TImageFree {
  void operator()(opj_image_t* I) const { opj_image_destroy(I); }
};
using TCodec = std::unique_ptr<opj_codec_t, TCodecFree>;
using TStream = std::unique_ptr<opj_stream_t, TStreamFree>;
using TImage = std::unique_ptr<opj_image_t, TImageFree>;

void SilenceCodec(opj_codec_t* C) {
  opj_set_info_handler(C, Quiet, nullptr);
  opj_set_warning_handler(C, Quiet, nullptr);
  opj_set_error_handler(C, Quiet, nullptr);
}

// One component's samples as seen from the picture's grid: shifted to
// unsigned and clamped to its precision, at the nearest stored sample.
struct TComponentView {
  const opj_image_comp_t* C;
  uint32_t X0, Y0;  // the component's origin in its own (subsampled) grid
  int32_t Offset;   // added to signed samples
  int64_t Max;      // (1 << precision) - 1

  int64_t At(uint32_t ImageX, uint32_t ImageY) const {
    int64_t cx = static_cast<int64_t>(ImageX / C->dx) - X0;
    int64_t cy = static_cast<int64_t>(ImageY / C->dy) - Y0;
    cx = std::clamp<int64_t>(cx, 0, C->w - 1);
    cy = std::clamp<int64_t>(cy, 0, C->h - 1);
    const int64_t V = int64_t{C->data[static_cast<size_t>(cy) * C->w + static_cast<size_t>(cx)]} + Offset;
    return std::clamp<int64_t>(V, 0, Max);
  }
  uint8_t To8(int64_t V) const {
    return static_cast<uint8_t>(Max == 255 ? V : (V * 255 + Max / 2) / Max);
  }
};

bool MakeView(const opj_image_t& I, uint32_t K, TComponentView& V) {
  const opj_image_comp_t& C = I.comps[K];
  if (C.data == nullptr || C.w == 0 || C.h == 0 || C.dx == 0 || C.dy == 0 || C.prec == 0 || C.prec > 31) return false;
  V.C = &C;
  V.X0 = (I.x0 + C.dx - 1) / C.dx;
  V.Y0 = (I.y0 + C.dy - 1) / C.dy;
  V.Offset = C.sgnd ? static_cast<int32_t>(1u << (C.prec - 1)) : 0;
  V.Max = (int64_t{1} << C.prec) - 1;
  return true;
}

uint32_t Be(const uint8_t* P, int Bytes) {
  uint32_t V = 0;
  for (int i = 0; i < Bytes; ++i) V = V << 8 | P[i];
  return V;
}

struct TTileGrid {
  uint64_t X, Y, X0, Y0, TW, TH, TX0, TY0, TilesX, Tiles;
};

// Pictures up to this many pixels are decoded whatever the code stream
// holds, so a partial stream still gives its fill; the rule of every reader.
constexpr uint64_t kShortStreamMaxPixels = uint64_t{4} << 20;

// The code stream has no bound of pixels per byte: a packet of one byte can
// say that a whole precinct (up to 2^15 x 2^15 samples at its resolution) is
// zero. What it must have is a tile-part with data for every tile: a tile
// without one is only the fill, and OpenJPEG would still make the whole
// picture for it. So a picture of more than 4M pixels is read only when the
// tile-parts in the file, walked from the end of the main header by their
// lengths, cover it. Pos is the first byte after the SIZ segment.
bool TilesCarryData(const uint8_t* Data, size_t Size, size_t Pos, const TTileGrid& G) {
  if ((G.X - G.X0) * (G.Y - G.Y0) <= kShortStreamMaxPixels) return true;
  // The rest of the main header, marker segment by marker segment, to the first SOT.
  for (;;) {
    if (Pos > Size || Size - Pos < 4) return false;
    const uint32_t Marker = Be(Data + Pos, 2);
    if (Marker == 0xFF90) break;
    if ((Marker & 0xFF00) != 0xFF00) return false;
    Pos += 2 + Be(Data + Pos + 2, 2);
  }
  std::vector<bool> Seen(static_cast<size_t>(G.Tiles), false);
  uint64_t Covered = 0;
  // Tile-parts: SOT, Lsot = 10, the tile's index, the part's length from its
  // SOT (0: to the end of the stream), its number and count; then its own
  // header and SOD (2 bytes) and the packets.
  while (Pos <= Size && Size - Pos >= 12 && Be(Data + Pos, 2) == 0xFF90) {
    const uint64_t Tile = Be(Data + Pos + 4, 2);
    uint64_t Length = Be(Data + Pos + 6, 4);
    if (Length == 0 || Length > Size - Pos) Length = Size - Pos;
    if (Length < 12) break;
    if (Tile < G.Tiles && Length > 14 && !Seen[static_cast<size_t>(Tile)]) {
      Seen[static_cast<size_t>(Tile)] = true;
      const uint64_t Tx = Tile % G.TilesX, Ty = Tile / G.TilesX;
      const uint64_t Left = std::max(G.TX0 + Tx * G.TW, G.X0), Right = std::min(G.TX0 + (Tx + 1) * G.TW, G.X);
      const uint64_t Top = std::max(G.TY0 + Ty * G.TH, G.Y0), Bottom = std::min(G.TY0 + (Ty + 1) * G.TH, G.Y);
      if (Right > Left && Bottom > Top) Covered += (Right - Left) * (Bottom - Top);
    }
    Pos += static_cast<size_t>(Length);
  }
  return Covered >= (G.X - G.X0) * (G.Y - G.Y0);
}

// Reads the SIZ marker segment before OpenJPEG does: OpenJPEG sets up every
// tile and every tile-component while it reads the main header, so a header
// that asks for tiny tiles over a large picture, or for thousands of
// components, would cost gigabytes before any check of ours could run.
// Allows at most one tile per 4096 pixels of the largest picture and four
// components per tile on average.
bool SizFits(const uint8_t* Data, size_t Size, bool Jp2, uint64_t MaxPixels) {
  size_t Pos = 0;
  if (Jp2) {
    // Walk the boxes to the code stream box.
    for (;;) {
      if (Size - Pos < 8) return false;
      uint64_t Len = Be(Data + Pos, 4);
      const uint32_t Type = Be(Data + Pos + 4, 4);
      size_t Header = 8;
      if (Len == 1) {
        if (Size - Pos < 16) return false;
        Len = uint64_t{Be(Data + Pos + 8, 4)} << 32 | Be(Data + Pos + 12, 4);
        Header = 16;
      } else if (Len == 0) {
        Len = Size - Pos;
      }
      if (Type == 0x6A703263u) {  // "jp2c"
        Pos += Header;
        break;
      }
      if (Len < Header || Len > Size - Pos) return false;
      Pos += static_cast<size_t>(Len);
    }
  }
  if (Size - Pos < 4 + 2 + 38 || Be(Data + Pos, 2) != 0xFF4F || Be(Data + Pos + 2, 2) != 0xFF51) return false;
  const uint8_t* S = Data + Pos + 6;  // after Lsiz
  const uint64_t X = Be(S + 2, 4), Y = Be(S + 6, 4), X0 = Be(S + 10, 4), Y0 = Be(S + 14, 4);
  const uint64_t TW = Be(S + 18, 4), TH = Be(S + 22, 4), TX0 = Be(S + 26, 4), TY0 = Be(S + 30, 4);
  const uint64_t Components = Be(S + 34, 2);
  if (X <= X0 || Y <= Y0 || TW == 0 || TH == 0 || TX0 > X0 || TY0 > Y0 || Components == 0) return false;
  if ((X - X0) * (Y - Y0) > MaxPixels) return false;
  const uint64_t TilesX = (X - TX0 + TW - 1) / TW, TilesY = (Y - TY0 + TH - 1) / TH;
  const uint64_t Tiles = TilesX * TilesY;
  const uint64_t MaxTiles = std::max<uint64_t>(1, MaxPixels / 4096);
  if (Tiles > MaxTiles || Tiles * Components > 4 * MaxTiles) return false;
  return TilesCarryData(Data, Size, Pos + 4 + Be(Data + Pos + 4, 2), {X, Y, X0, Y0, TW, TH, TX0, TY0, TilesX, Tiles});
}

}  // namespace

bool DecodeOpenJpeg(const uint8_t* Data, size_t Size, uint64_t MaxPixels, TPicture& Out) {
  static const uint8_t kJp2Signature[] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  const bool Jp2 = Size >= sizeof kJp2Signature && std::memcmp(Data, kJp2Signature, sizeof kJp2Signature) == 0;
  if (!SizFits(Data, Size, Jp2, MaxPixels)) return false;
  TCodec Codec(opj_create_decompress(Jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!Codec) return false;
  SilenceCodec(Codec.get());
  opj_dparameters_t Params;
  opj_set_default_decoder_parameters(&Params);
  if (!opj_setup_decoder(Codec.get(), &Params)) return false;
  TMemoryIn In{Data, Size, 0};
  TStream Stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  if (!Stream) return false;
  opj_stream_set_user_data(Stream.get(), &In, nullptr);
  opj_stream_set_user_data_length(Stream.get(), Size);
  opj_stream_set_read_function(Stream.get(), MemRead);
  opj_stream_set_skip_function(Stream.get(), MemSkip);
  opj_stream_set_seek_function(Stream.get(), MemSeek);
  opj_image_t* Raw = nullptr;
  const bool HeaderOk = opj_read_header(Stream.get(), Codec.get(), &Raw);
  TImage Image(Raw);
  if (!HeaderOk || !Image || Image->numcomps == 0) return false;
  if (Image->x1 <= Image->x0 || Image->y1 <= Image->y0) return false;
  const uint32_t W = Image->x1 - Image->x0, H = Image->y1 - Image->y0;
  if (W > kMaxSide || H > kMaxSide || uint64_t{W} * H > MaxPixels) return false;
  // A header may claim thousands of components, each as large as the
  // picture; OpenJPEG would allocate them all before we see a sample.
  uint64_t Samples = 0;
  for (uint32_t k = 0; k < Image->numcomps; ++k) {
    const opj_image_comp_t& C = Image->comps[k];
    if (C.dx == 0 || C.dy == 0) return false;
    Samples += (uint64_t{W} / C.dx + 1) * (uint64_t{H} / C.dy + 1);
    if (Samples > 4 * MaxPixels + 4 * (uint64_t{W} + H + 1)) return false;
  }
  if (!opj_decode(Codec.get(), Stream.get(), Image.get()) || !opj_end_decompress(Codec.get(), Stream.get()))
    return false;

  const uint32_t N = std::min<uint32_t>(Image->numcomps, 4);
  TComponentView V[4];
  for (uint32_t k = 0; k < N; ++k)
    if (!MakeView(*Image, k, V[k])) return false;
  const bool Subsampled = N >= 3 && (Image->comps[1].dx > 1 || Image->comps[1].dy > 1 ||
                                     Image->comps[2].dx > 1 || Image->comps[2].dy > 1);
  const bool Sycc = N >= 3 && (Image->color_space == OPJ_CLRSPC_SYCC ||
                               (Subsampled && Image->color_space != OPJ_CLRSPC_SRGB &&
                                Image->color_space != OPJ_CLRSPC_GRAY));
  const bool Alpha = N == 2 || N == 4;
  Out.Width = W;
  Out.Height = H;
  Out.Channels = N == 1 ? 1 : Alpha ? 4 : 3;
  Out.Pixels.assign(static_cast<size_t>(uint64_t{W} * H * Out.Channels), 0);
  uint8_t* D = Out.Pixels.data();
  for (uint32_t y = 0; y < H; ++y)
    for (uint32_t x = 0; x < W; ++x) {
      const uint32_t ix = Image->x0 + x, iy = Image->y0 + y;
      if (N == 1) {
        *D++ = V[0].To8(V[0].At(ix, iy));
        continue;
      }
      uint8_t R, G, B;
      if (N == 2) {
        R = G = B = V[0].To8(V[0].At(ix, iy));
      } else if (Sycc) {
        // ITU-R BT.601 full range, in the luma component's precision.
        const double Y = static_cast<double>(V[0].At(ix, iy));
        const double Half = static_cast<double>((V[0].Max + 1) / 2);
        const double Cb = static_cast<double>(V[1].At(ix, iy)) - Half;
        const double Cr = static_cast<double>(V[2].At(ix, iy)) - Half;
        auto Clamp = [&](double v) { return V[0].To8(std::clamp<int64_t>(std::llround(v), 0, V[0].Max)); };
        R = Clamp(Y + 1.402 * Cr);
        G = Clamp(Y - 0.344136 * Cb - 0.714136 * Cr);
        B = Clamp(Y + 1.772 * Cb);
      } else {
        R = V[0].To8(V[0].At(ix, iy));
        G = V[1].To8(V[1].At(ix, iy));
        B = V[2].To8(V[2].At(ix, iy));
      }
      *D++ = B;
      *D++ = G;
      *D++ = R;
      if (Alpha) {
        const TComponentView& A = V[N - 1];
        *D++ = A.To8(A.At(ix, iy));
      }
    }
  return true;
}

bool EncodeOpenJpeg(const TPicture& Picture, bool Jp2File, double Rate, std::vector<uint8_t>& Out) {
  const uint32_t N = Picture.Channels;
  if ((N != 1 && N != 3 && N != 4) || Picture.Width == 0 || Picture.Height == 0) return false;
  opj_image_cmptparm_t Parms[4];
  std::memset(Parms, 0, sizeof Parms);
  for (uint32_t k = 0; k < N; ++k) {
    Parms[k].dx = Parms[k].dy = 1;
    Parms[k].w = Picture.Width;
    Parms[k].h = Picture.Height;
    Parms[k].prec = 8;
    Parms[k].sgnd = 0;
  }
  TImage Image(opj_image_create(N, Parms, N == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
  if (!Image) return false;
  Image->x0 = Image->y0 = 0;
  Image->x1 = Picture.Width;
  Image->y1 = Picture.Height;
  if (N == 4) Image->comps[3].alpha = 1;
  const size_t Count = size_t{Picture.Width} * Picture.Height;
  for (size_t i = 0; i < Count; ++i) {
    const uint8_t* P = Picture.Pixels.data() + i * N;
    if (N == 1) {
      Image->comps[0].data[i] = P[0];
    } else {
      Image->comps[0].data[i] = P[2];
      Image->comps[1].data[i] = P[1];
      Image->comps[2].data[i] = P[0];
      if (N == 4) Image->comps[3].data[i] = P[3];
    }
  }
  opj_cparameters_t Params;
  opj_set_default_encoder_parameters(&Params);
  // OpenJPEG refuses more resolution levels than the smaller side can halve.
  const uint32_t Side = std::min(Picture.Width, Picture.Height);
  int Levels = 1;
  while (Levels < 6 && (Side >> Levels) >= 1) ++Levels;
  Params.numresolution = Levels;
  Params.tcp_numlayers = 1;
  Params.cp_disto_alloc = 1;
  Params.tcp_mct = N >= 3 ? 1 : 0;
  if (Rate > 0 && Rate < 1) {
    // OpenJPEG's rate is the compression ratio to the raw samples.
    Params.tcp_rates[0] = static_cast<float>(1.0 / Rate);
    Params.irreversible = 1;
  } else {
    Params.tcp_rates[0] = 0;
    Params.irreversible = 0;
  }
  TCodec Codec(opj_create_compress(Jp2File ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!Codec) return false;
  SilenceCodec(Codec.get());
  if (!opj_setup_encoder(Codec.get(), &Params, Image.get())) return false;
  Out.clear();
  TMemoryOut Sink{&Out, 0};
  TStream Stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
  if (!Stream) return false;
  opj_stream_set_user_data(Stream.get(), &Sink, nullptr);
  opj_stream_set_write_function(Stream.get(), OutWrite);
  opj_stream_set_skip_function(Stream.get(), OutSkip);
  opj_stream_set_seek_function(Stream.get(), OutSeek);
  return opj_start_compress(Codec.get(), Image.get(), Stream.get()) && opj_encode(Codec.get(), Stream.get()) &&
         opj_end_compress(Codec.get(), Stream.get());
}

}  // namespace j2k
