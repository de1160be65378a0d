#pragma once
// The PNG picture: a file kept as its ordered list of chunks, each chunk's CRC
// checked on reading, the image decoded into a store held by the header chunk
// (bottom-up rows of 1, 4, 8 or 24 bits per pixel with a 256-entry palette, and
// an alpha plane for grey and colour images with alpha), and written back
// chunk by chunk. The IDAT chunk turns the store into filtered, deflated image
// data and back (png_image_data.cpp).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform_clipboard.h"
#include "platform_exceptions.h"
#include "platform_graphics.h"
#include "platform_stream.h"

// ---- Errors ---------------------------------------------------------------

VEMRA_DECLARE_EXCEPTION(EPngError, Exception);
VEMRA_DECLARE_EXCEPTION(EPngUnexpectedEnd, Exception);
VEMRA_DECLARE_EXCEPTION(EPngInvalidCRC, Exception);
VEMRA_DECLARE_EXCEPTION(EPngInvalidIHDR, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGMissingMultipleIDAT, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGZLIBError, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGInvalidPalette, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGInvalidFileHeader, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGIHDRNotFirst, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGSizeExceeds, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGUnknownCriticalChunk, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGUnknownCompression, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGUnknownInterlace, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGNoImageData, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGHeaderNotPresent, Exception);
VEMRA_DECLARE_EXCEPTION(EPNGOutMemory, Exception);

// The texts of unit pnglang by their resource numbers (65216 .. 65247); an
// unknown number gives an empty text.
std::string PngText(int32_t Id);

// The standard PNG CRC-32 of Data continuing from Crc (start with 0xFFFFFFFF,
// complement at the end).
uint32_t PngUpdateCrc(uint32_t Crc, const uint8_t* Data, size_t Size);

// ---- Chunks ----------------------------------------------------------------

class TPNGObject;

class TChunk {
 public:
  explicit TChunk(TPNGObject* Owner);
  virtual ~TChunk() = default;
  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;
  // The chunk type a class stands for ("IHDR"); empty for the plain chunk.
  virtual std::string GetName() const { return ""; }
  // Copies name and data.
  virtual void Assign(const TChunk& Source);
  // Reads Size data bytes and the CRC (type Name); false when the chunk cannot
  // be used. A CRC mismatch raises EPngInvalidCRC.
  virtual bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size);
  virtual bool SaveToStream(TStream& Stream);

  TPNGObject* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& N) { name_ = N; }
  std::vector<uint8_t>& Data() { return data_; }
  const std::vector<uint8_t>& Data() const { return data_; }
  uint32_t DataSize() const { return static_cast<uint32_t>(data_.size()); }
  void ResizeData(size_t N) { data_.resize(N, 0); }

 protected:
  // Writes length, type, Data and CRC.
  bool WriteChunk(TStream& Stream, const std::string& Type, const std::vector<uint8_t>& Data);

  TPNGObject* owner_;
  std::string name_;
  std::vector<uint8_t> data_;
};

// The decoded image: BytesPerRow per row, bottom-up, and the alpha plane.
struct TPngImageStore {
  int32_t BitsPerPixel = 0;         // 1, 4, 8 or 24
  int32_t BytesPerRow = 0;          // rounded up to 4 bytes
  std::vector<uint8_t> Bits;        // bottom-up rows
  uint32_t Palette[256] = {};       // 0x00RRGGBB entries
  std::vector<uint8_t> Alpha;       // Width * Height, top row first (types 4, 6)
  // Grey and colour pictures with a tRNS key: 0 where the file's full sample
  // equals the key, 255 elsewhere (Width * Height, top row first). The store
  // keeps 8 bits per sample, too few to tell a 16-bit key from its neighbours.
  std::vector<uint8_t> KeyMask;
};

class TChunkIHDR : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "IHDR"; }
  void Assign(const TChunk& Source) override;
  bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) override;
  bool SaveToStream(TStream& Stream) override;

  uint32_t Width = 0, Height = 0;
  uint8_t BitDepth = 0, ColorType = 0, CompressionMethod = 0, FilterMethod = 0, InterlaceMethod = 0;
  TPngImageStore Store;

  // Sizes the store for the current fields (all zero, alpha 0). Without
  // Allocate only the layout and the grey levels are set: a file's pixels are
  // allocated once its image data shows it can fill them.
  void PrepareImageData(bool Allocate = true);
  // Fills the grey levels of grey pictures through the owner's gamma table.
  void BuildGreyPalette();
  // Row Y counted from the top.
  uint8_t* Scanline(int32_t Y);
  const uint8_t* Scanline(int32_t Y) const;
  uint8_t* AlphaScanline(int32_t Y);
  bool HasAlpha() const { return ColorType == 4 || ColorType == 6; }
};

class TChunkPLTE : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "PLTE"; }
  void Assign(const TChunk& Source) override;
  bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) override;
  bool SaveToStream(TStream& Stream) override;
  int32_t Count() const { return count_; }
  void SetCount(int32_t N) { count_ = N; }
  // The header palette's entry Index (0x00RRGGBB); EPngError 65219 past Count.
  uint32_t Item(int32_t Index) const;

 private:
  int32_t count_ = 0;
};

class TChunktRNS : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "tRNS"; }
  void Assign(const TChunk& Source) override;
  bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) override;
  bool SaveToStream(TStream& Stream) override;
  uint8_t PaletteValues[256];
  bool BitTransparency = false;
  // Platform colour 0x00BBGGRR.
  int32_t TransparentColor() const;
  void SetTransparentColor(int32_t Color);
};

class TChunkgAMA : public TChunk {
 public:
  explicit TChunkgAMA(TPNGObject* Owner);
  std::string GetName() const override { return "gAMA"; }
  bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) override;
  uint32_t Gamma() const;
  void SetGamma(uint32_t Value);
};

// Receives the rows of the image data as they are decoded: the picture's own
// store, or a caller's pixels (the bitmap bridge writes each row once, into
// its bitmap, with no picture-sized copy in between).
class TPngRowSink {
 public:
  virtual ~TPngRowSink() = default;
  // Called once the chunks before the image data are known and the data has
  // been found large enough for the picture, before the first row. Whole is
  // the size of the filtered image data when the decoder may inflate it all
  // at once into the canvas (0 for Adam7 pictures): a sink whose pixels are
  // only a little smaller may allocate the difference past its last row.
  virtual void Begin(TPNGObject& Png, TChunkIHDR& Header, size_t Whole) = 0;
  // Count unfiltered pixels in the file's sample layout for row Y, placed at
  // columns X0, X0 + DX, ... (DX 1 without interlacing).
  virtual void Row(const uint8_t* Src, int32_t Count, int32_t Y, int32_t X0, int32_t DX) = 0;
  // After Begin: the sink's own memory for the picture, Bytes long (the
  // rows and any spare memory past them), Stride bytes a row, top row
  // first, where Row for row Y writes nothing outside bytes
  // [Y * Stride, (Y + 1) * Stride). The decoder may keep data there that
  // no row written so far has reached. Null when the sink has none.
  virtual uint8_t* Canvas(size_t& Stride, size_t& Bytes) {
    Stride = 0;
    Bytes = 0;
    return nullptr;
  }
};

// Turns unfiltered rows of the file into 0xAARRGGBB pixels the way the
// bitmap bridge loads a picture: colours through the gamma table (grey through
// its grey levels, 16-bit samples by their high byte); alpha from the file's
// alpha samples; with a key (bit transparency) alpha 0 exactly where the
// file's own sample equals the key, compared at the file's full depth before
// any reduction or gamma; for a palette picture the entries of the
// transparent colour; every other pixel opaque. The routine for the picture's
// format is chosen once, in Prepare.
class TPngArgbConverter {
 public:
  void Prepare(const TPNGObject& Png, const TChunkIHDR& Header);
  void Convert(const uint8_t* Src, uint32_t* Dst, int32_t Count) const { fn_(*this, Src, Dst, Count); }

  using TFn = void (*)(const TPngArgbConverter&, const uint8_t*, uint32_t*, int32_t);
  // Used by the routines: pixel by sample or index, gamma, key samples.
  uint32_t Table[256] = {};
  uint8_t Gamma[256] = {};
  uint16_t Key[3] = {};
  bool Keyed = false;
  uint8_t Depth = 8;

 private:
  TFn fn_ = nullptr;
};

class TChunkIDAT : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "IDAT"; }
  bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) override;
  bool SaveToStream(TStream& Stream) override;
};

class TChunkIEND : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "IEND"; }
};

class TChunktIME : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "tIME"; }
  void Assign(const TChunk& Source) override;
  bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) override;
  bool SaveToStream(TStream& Stream) override;
  uint16_t Year = 0;
  uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

class TChunktEXt : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "tEXt"; }
  void Assign(const TChunk& Source) override;
  bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) override;
  bool SaveToStream(TStream& Stream) override;
  std::string Keyword, Text;
};

class TChunkzTXt : public TChunktEXt {
 public:
  using TChunktEXt::TChunktEXt;
  std::string GetName() const override { return "zTXt"; }
  bool LoadFromStream(TStream& Stream, const std::string& Name, uint32_t Size) override;
  bool SaveToStream(TStream& Stream) override;
};

// Creates the chunk of the registered class for a type (a plain TChunk when no
// class is registered for it).
std::unique_ptr<TChunk> CreatePngChunk(TPNGObject* Owner, const std::string& Type);

// The owning chunk list in file order.
class TPNGList {
 public:
  explicit TPNGList(TPNGObject* Owner) : owner_(Owner) {}
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TChunk* Item(int32_t I) const { return items_[static_cast<size_t>(I)].get(); }
  TChunk* Add(std::unique_ptr<TChunk> C);
  void Insert(std::unique_ptr<TChunk> C, int32_t Position);
  void Remove(TChunk* C);
  void Clear() { items_.clear(); }
  // Exchanges the chunks of two lists of the same owner.
  void Swap(TPNGList& Other) { items_.swap(Other.items_); }
  // First chunk of this type, or null.
  TChunk* FindChunk(const std::string& Type) const;
  int32_t IndexOf(const TChunk* C) const;
  // Adds an ancillary chunk of type Type in its place (see png_image.cpp).
  TChunk* Add(const std::string& Type);

 private:
  TPNGObject* owner_;
  std::vector<std::unique_ptr<TChunk>> items_;
};

enum TFilter { pfNone = 1, pfSub = 2, pfUp = 4, pfAverage = 8, pfPaeth = 16 };
enum TInterlaceMethod { imNone = 0, imAdam7 = 1 };

class TPNGObject : public TGraphic {
 public:
  TPNGObject();
  std::string ClassName() const override { return "TPNGObject"; }

  TPNGList& Chunks() { return chunks_; }
  const TPNGList& Chunks() const { return chunks_; }
  uint8_t GammaTable[256];
  uint8_t InverseGamma[256];
  void InitializeGamma();

  uint8_t Filters = pfSub;  // set of TFilter bits
  uint8_t CompressionLevel() const { return compressionLevel_; }
  void SetCompressionLevel(uint8_t L) { compressionLevel_ = L > 9 ? 9 : L; }
  int32_t MaxIdatSize() const { return maxIdatSize_; }
  void SetMaxIdatSize(int32_t V) { maxIdatSize_ = V < 65535 ? 65535 : V; }
  TInterlaceMethod InterlaceMethod = imNone;

  TChunkIHDR* Header() const;
  int32_t Width() const override;
  int32_t Height() const override;
  void SetWidth(int32_t);
  void SetHeight(int32_t);
  bool IsEmpty() const { return chunks_.Count() == 0; }
  // 0 none, 1 bit, 2 partial.
  int32_t TransparencyMode() const;
  bool Transparent() const override { return TransparencyMode() != 0; }
  int32_t TransparentColor() const;
  void CreateAlpha();
  uint8_t* AlphaScanline(int32_t Y);
  uint8_t* Scanline(int32_t Y);

  // Pixel read and write as platform colours 0x00BBGGRR.
  int32_t GetPixel(int32_t X, int32_t Y) const;
  void SetPixel(int32_t X, int32_t Y, int32_t Color);
  // The 256 entries of the header's palette for grey and palette images
  // (0xFFRRGGBB), empty otherwise.
  std::vector<uint32_t> GetPalette() const;

  void Assign(const TPNGObject* Source);
  void Assign(const TPlatformBitmap& Source);
  void AssignTo(TPlatformBitmap& Dest) const;
  void Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const override;
  // The clipboard's picture, converted as a bitmap without transparency;
  // EInvalidGraphic "Unsupported clipboard format" when it holds none.
  void LoadFromClipboardFormat(TClipboard& Board);
  // Puts the picture drawn onto a black bitmap of its size on the clipboard.
  void SaveToClipboardFormat(TClipboard& Board) const;
  void LoadFromStream(TStream& Stream) override;
  // Reads the file with its image rows going to Sink instead of the store
  // (the store then stays unallocated). A file that fails to load leaves the
  // picture read before it as it was.
  void LoadFromStream(TStream& Stream, TPngRowSink* Sink);
  void SaveToStream(TStream& Stream) const override;
  // Where the image data being read goes; null for the store.
  TPngRowSink* RowSink() const { return rowSink_; }
  // True once the store holds pixels.
  bool HasImage() const;

 private:
  void DrawPartialTrans(TPixelSurface& Surface, TPlatformRect R) const;
  // Reads the signature and the chunks into the (empty) list.
  void ReadChunks(TStream& Stream);
  // Colour of the store pixel at (X, Y) from the top, as 0x00RRGGBB.
  uint32_t StoreColor(int32_t X, int32_t Y) const;

  TPNGList chunks_;
  TPngRowSink* rowSink_ = nullptr;
  uint8_t compressionLevel_ = 7;
  int32_t maxIdatSize_ = 65535;
};

// Registers TPNGObject for "PNG" ("Portable Network Graphics").
void RegisterPngImage();
void UnregisterPngImage();

// ---- Image data (png_image_data.cpp) -------------------------------------

// Decodes the image data starting with the IDAT chunk of Size bytes whose
// type has been read; reads further IDAT chunks as the decoder needs them.
// Rows go to Sink, or to the header's store when Sink is null. Data that
// cannot fill the picture (ends before its last row, or too few bytes for
// any zlib stream to expand into it) raises EPNGZLIBError.
bool DecodePngImageData(TPNGObject& Png, TChunkIHDR& Header, TStream& Stream, uint32_t Size, TPngRowSink* Sink);
// The deflate format cannot expand one byte into more than 1032 (a 258-byte
// match costs at least two bits): image data needing more is damaged.
constexpr int64_t kMaxZlibRatio = 1032;
// Writes the store as one or more IDAT chunks. The filtered rows are deflated
// in blocks of PngDeflateBlockRows rows (fewer at the end of a pass) on
// every core, each block primed with the 32 KB of the filtered stream before
// it, and joined into one zlib stream: the bounds depend on the picture
// alone, so any number of threads gives the same file, and one block is
// the plain stream a single deflate gives.
bool EncodePngImageData(const TPNGObject& Png, const TChunkIHDR& Header, TStream& Stream);
// About the filtered bytes one block holds: enough for each block's set-up
// and flush to cost next to nothing, small enough to share a picture of a
// few megapixels among eight threads.
constexpr size_t kPngDeflateBlockBytes = size_t{256} << 10;
// Rows in one block for filtered rows of RowSize bytes (filter byte included).
int64_t PngDeflateBlockRows(size_t RowSize);
