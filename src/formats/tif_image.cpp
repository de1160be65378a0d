// TIFF through libtiff on our own streams. Reading lets libtiff turn any
// layout it knows into an RGBA raster, top row first, straight into the
// picture's rows, and then swaps red and blue (libtiff packs R in the low
// byte, our pixels keep B there). Writing fills one strip buffer of about
// 256 KB at a time and hands it to libtiff, all inside the atomic save.
#include "tif_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "img_fileio.h"
#include "raster_parallel.h"
#include "utilities.h"

namespace {

bool gRegistered = false;

// Errors reported on this thread (libtiff reports on the thread that reads):
// a read that goes on past a damaged strip still returns success.
thread_local uint64_t tErrorsReported = 0;

// ---- libtiff's view of a stream --------------------------------------------

// Memory input is handed to libtiff as a mapped file, so it reads strips in
// place; streams are read and written through their own calls.
struct TTiffClient {
  TStream* Stream = nullptr;
  const uint8_t* Memory = nullptr;
  size_t MemorySize = 0;
};

TTiffClient* ClientOf(thandle_t H) { return static_cast<TTiffClient*>(H); }

tmsize_t ClientRead(thandle_t H, void* Buf, tmsize_t Size) {
  if (Size <= 0) return 0;
  return static_cast<tmsize_t>(ReadUpTo(*ClientOf(H)->Stream, Buf, static_cast<size_t>(Size)));
}

tmsize_t ClientWrite(thandle_t H, void* Buf, tmsize_t Size) {
  if (Size <= 0) return 0;
  try {
    return static_cast<tmsize_t>(ClientOf(H)->Stream->Write(Buf, static_cast<size_t>(Size)));
  } catch (...) {
    return -1;
  }
}

toff_t ClientSeek(thandle_t H, toff_t Offset, int Whence) {
  const TSeekOrigin Origin =
      Whence == SEEK_SET ? TSeekOrigin::soBeginning : Whence == SEEK_CUR ? TSeekOrigin::soCurrent : TSeekOrigin::soEnd;
  try {
    const int64_t P = ClientOf(H)->Stream->Seek(static_cast<int64_t>(Offset), Origin);
    return P < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(P);
  } catch (...) {
    return static_cast<toff_t>(-1);
  }
}

int ClientClose(thandle_t) { return 0; }

toff_t ClientSize(thandle_t H) {
  try {
    return static_cast<toff_t>(ClientOf(H)->Stream->Size());
  } catch (...) {
    return 0;
  }
}

int ClientMap(thandle_t H, void** Base, toff_t* Size) {
  const TTiffClient* C = ClientOf(H);
  if (C->Memory == nullptr) return 0;
  *Base = const_cast<uint8_t*>(C->Memory);
  *Size = static_cast<toff_t>(C->MemorySize);
  return 1;
}

void ClientUnmap(thandle_t, void*, toff_t) {}

TIFF* OpenClient(const std::string& Name, const char* Mode, TTiffClient& Client) {
  return TIFFClientOpen(Name.c_str(), Mode, &Client, ClientRead, ClientWrite, ClientSeek, ClientClose, ClientSize,
                        ClientMap, ClientUnmap);
}

struct TTiffCloser {
  void operator()(TIFF* T) const { TIFFClose(T); }
};
using TTiffPtr = std::unique_ptr<TIFF, TTiffCloser>;

void LibTiffError(const char* Module, const char* Format, va_list Args) {
  char Text[1024];
  std::vsnprintf(Text, sizeof Text, Format, Args);
  TiffErrorHandler(Module ? Module : "", Text);
}

// ---- Reading ---------------------------------------------------------------

// With Opaque the same pass sets every alpha to 255, so the bitmap bridge
// needs no second pass over the picture. The pass is split across threads.
void SwapRedBlue(uint32_t* Pixels, size_t Count, bool Opaque) {
  const uint32_t Keep = Opaque ? 0x0000FF00u : 0xFF00FF00u;
  const uint32_t Set = Opaque ? 0xFF000000u : 0;
  ParallelSpans(Count, size_t{1} << 16, [=](size_t First, size_t Last) {
    for (size_t i = First; i < Last; ++i) {
      const uint32_t V = Pixels[i];
      Pixels[i] = (V & Keep) | Set | ((V >> 16) & 0xFFu) | ((V & 0xFFu) << 16);
    }
  });
}

// The commonest layouts (8-bit RGB, interleaved, with or without an
// associated alpha: every uncompressed, LZW, Deflate or JPEG photo) are put
// into the raster by our own routines, which write our byte order straight
// away; the swap pass over the whole picture is then not needed, and the
// raster need not be cleared first. The values are libtiff's own for these
// layouts: the samples as they are, 255 for alpha where there is none.
// Opaque puts 255 in every alpha as well.
//
// libtiff hands the put routines the reader's address, which is the start of
// this record: they note there how much of every row they wrote, so that the
// rows a damaged file left unwritten can be cleared afterwards.
struct TReader {
  TIFFRGBAImage Image;
  const uint32_t* Base;
  uint32_t Width;
  uint32_t* RowFill;  // pixels written per row
};

template <bool Alpha, bool Opaque>
void PutRgb8(TIFFRGBAImage* Img, uint32_t* Out, uint32_t, uint32_t, uint32_t W, uint32_t H, int32_t FromSkew,
             int32_t ToSkew, unsigned char* In) {
  TReader* R = reinterpret_cast<TReader*>(Img);
  const int32_t Step = Img->samplesperpixel;
  const ptrdiff_t Skip = static_cast<ptrdiff_t>(FromSkew) * Step;
  for (; H > 0; --H) {
    R->RowFill[static_cast<size_t>(Out - R->Base) / R->Width] += W;
    uint32_t i = 0;
    if (!Alpha && Step == 3) {
      // Four bytes from a pixel's first sample, byte-swapped, hold R, G, B
      // in our places above the next pixel's red; the last pixel of the row
      // goes the long way, so nothing past the row is read.
      for (; i + 1 < W; ++i, In += 3) {
        uint32_t V;
        std::memcpy(&V, In, sizeof V);
        *Out++ = 0xFF000000u | (__builtin_bswap32(V) >> 8);
      }
    }
    for (; i < W; ++i, In += Step) {
      const uint32_t A = Alpha && !Opaque ? uint32_t{In[3]} << 24 : 0xFF000000u;
      *Out++ = A | (uint32_t{In[0]} << 16) | (uint32_t{In[1]} << 8) | In[2];
    }
    Out += ToSkew;
    In += Skip;
  }
}

// Replaces the put routine libtiff picked where the layout is one of those
// above; true when it did (the pixels then come out in our order).
bool PutInOurOrder(TIFFRGBAImage& Reader, bool Opaque) {
  if (!Reader.isContig || Reader.photometric != PHOTOMETRIC_RGB || Reader.bitspersample != 8) return false;
  if (Reader.alpha == 0 && Reader.samplesperpixel >= 3) {
    Reader.put.contig = PutRgb8<false, false>;
    return true;
  }
  if (Reader.alpha == EXTRASAMPLE_ASSOCALPHA && Reader.samplesperpixel >= 4) {
    Reader.put.contig = Opaque ? PutRgb8<true, true> : PutRgb8<true, false>;
    return true;
  }
  return false;
}

// The file's bytes mapped into memory, as libtiff maps the files it opens
// itself, so strips are decoded straight from the page cache.
class TMappedFile {
 public:
  explicit TMappedFile(const std::string& FileName) {
    // A folder, pipe, socket or device is refused by the stream's own rule,
    // which names the reason.
    RefuseUnlessRegularFile(FileName);
    // O_NONBLOCK: the open of a named pipe must not wait for a writer; only
    // regular files are mapped.
    const int Fd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (Fd < 0) return;
    struct stat St {};
    if (::fstat(Fd, &St) == 0 && S_ISREG(St.st_mode) && St.st_size > 0) {
      void* P = ::mmap(nullptr, static_cast<size_t>(St.st_size), PROT_READ, MAP_PRIVATE, Fd, 0);
      if (P != MAP_FAILED) {
        data_ = static_cast<const uint8_t*>(P);
        size_ = static_cast<size_t>(St.st_size);
      }
    }
    ::close(Fd);
  }
  ~TMappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
  }
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// The most pixels one byte of the file can stand for under the file's
// compression, for a picture of Width and BitsPerPixel: a file whose size
// cannot hold its picture at that ratio is damage, not a picture.
int64_t MaxPixelsPerByte(uint16_t Compression, uint32_t Width, uint32_t BitsPerPixel) {
  // Decoded bytes a byte of coded data yields at most, for codecs whose
  // output is a byte stream.
  int64_t Bytes = 0;
  switch (Compression) {
    case COMPRESSION_NONE:
      Bytes = 1;
      break;
    case COMPRESSION_PACKBITS:
      // A run is a count byte and one value byte for at most 128 bytes.
      Bytes = 64;
      break;
    case COMPRESSION_LZW:
      // A code is at least 9 bits and its string at most 4096 bytes long
      // (the table has 4096 entries), so under 4096 bytes per code byte.
      Bytes = 4096;
      break;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE:
      // Deflate's longest match (258 bytes) costs at least two bits, a one-bit
      // length code and a one-bit distance code: 1032 bytes per byte.
      Bytes = 1032;
      break;
    case COMPRESSION_ZSTD:
      // Every block has a 3-byte header and decodes to at most 128 KB.
      Bytes = (int64_t{128} << 10) / 3 + 1;
      break;
    case COMPRESSION_LZMA:
      // LZMA2 chunks decode to at most 2 MB and take at least 6 bytes (a
      // 5-byte header and one byte of data); stored chunks only copy.
      Bytes = (int64_t{2} << 20) / 6 + 1;
      break;
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG:
      // As the JPEG picture class: the arithmetic coder's bound, the widest.
      return 32768;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_NEXT:
    case COMPRESSION_THUNDERSCAN:
      // The fax codecs spend at least one bit on a row (a two-dimensional
      // row that repeats the row above is one V0 code), and so do NeXT's and
      // ThunderScan's run codes.
      return int64_t{8} * std::max<uint32_t>(Width, 1);
    default:
      // JBIG's arithmetic coder, LERC and WebP code a flat picture in little
      // more than their headers, and the rest are not known to us: no ratio
      // of the codec's own refuses a tiny file claiming gigabytes. 128K
      // pixels a byte lets a flat picture of some 30 M pixels through in the
      // 230 bytes such an encoder writes for it, while a file of that size
      // can ask for no more than about 120 MB.
      return int64_t{1} << 17;
  }
  return std::max<int64_t>(1, Bytes * 8 / std::max<uint32_t>(BitsPerPixel, 1));
}

// Reads the open file into the pixels Allocate hands out for its size
// (top-down 32-bit rows). Every refusal (codec, size, a layout libtiff cannot
// turn into RGBA) is reported before Allocate is called, so a destination is
// only touched for a file that will be read; false after a refusal. With
// Cleared false the pixels handed out may hold anything: every one is
// written.
using TTiffAllocate = std::function<uint32_t*(uint32_t Width, uint32_t Height, bool Cleared)>;

bool ReadOpenTiff(TIFF* Tif, const std::string& Name, bool Opaque, const TTiffAllocate& Allocate) {
  TTiffPtr Guard(Tif);
  uint32_t Width = 0, Height = 0;
  uint16_t Compression = COMPRESSION_NONE;
  TIFFGetField(Tif, TIFFTAG_IMAGEWIDTH, &Width);
  TIFFGetField(Tif, TIFFTAG_IMAGELENGTH, &Height);
  TIFFGetFieldDefaulted(Tif, TIFFTAG_COMPRESSION, &Compression);
  if (!TIFFIsCODECConfigured(Compression)) {
    if (const TIFFCodec* Codec = TIFFFindCODEC(Compression)) {
      Guard.reset();
      TiffErrorHandler(Name, std::string("compression scheme \"") + Codec->name + "\" is not configured !");
      return false;
    }
  }
  // A layout libtiff refuses gives no picture rather than a black one that
  // looks like a successful read. Setting the reader up finds every refusal
  // (the same steps TIFFReadRGBAImageOriented takes), before any pixel.
  char Why[1024] = {};
  TReader Ours{};
  TIFFRGBAImage& Reader = Ours.Image;
  if (Width > 0 && Height > 0 && !TIFFRGBAImageBegin(&Reader, Tif, 0, Why)) {
    Guard.reset();
    TiffErrorHandler(Name, Why);
    return false;
  }
  struct TReaderEnd {
    TIFFRGBAImage* R;
    ~TReaderEnd() {
      if (R) TIFFRGBAImageEnd(R);
    }
  } End{Width > 0 && Height > 0 ? &Reader : nullptr};
  // Our own put routines where the layout allows (before the pixels are
  // asked for: those need no clearing).
  const bool OurOrder = Width > 0 && Height > 0 && PutInOurOrder(Reader, Opaque);
  uint32_t* Pixels = nullptr;
  try {
    // Width and height are 32-bit unsigned in the file; anything beyond the
    // platform bitmap's limits is refused here, before a byte is allocated.
    if (Width > static_cast<uint32_t>(TPlatformBitmap::kMaxDimension) ||
        Height > static_cast<uint32_t>(TPlatformBitmap::kMaxDimension))
      throw EOutOfResources("Not enough storage is available to process this command");
    CheckImageFitsMemory(Width, Height);
    uint16_t BitsPerSample = 1, SamplesPerPixel = 1;
    TIFFGetFieldDefaulted(Tif, TIFFTAG_BITSPERSAMPLE, &BitsPerSample);
    TIFFGetFieldDefaulted(Tif, TIFFTAG_SAMPLESPERPIXEL, &SamplesPerPixel);
    uint16_t Photometric = 0;
    TIFFGetField(Tif, TIFFTAG_PHOTOMETRIC, &Photometric);
    // Subsampled chroma leaves a YCbCr pixel only its luma sample for sure.
    const uint32_t BitsPerPixel =
        Photometric == PHOTOMETRIC_YCBCR ? uint32_t{BitsPerSample} : uint32_t{BitsPerSample} * SamplesPerPixel;
    const int64_t FileBytes = static_cast<int64_t>(ClientSize(TIFFClientdata(Tif)));
    if (!FileCanFillPicture(int64_t{Width} * Height, FileBytes, MaxPixelsPerByte(Compression, Width, BitsPerPixel)))
      throw EOutOfResources("Not enough storage is available to process this command");
    Pixels = Allocate(Width, Height, !OurOrder);
  } catch (...) {
    if (End.R) TIFFRGBAImageEnd(End.R);
    End.R = nullptr;
    Guard.reset();
    TiffErrorHandler(Name, "Unable to create TBitmap buffer");
    throw;
  }
  if (Width == 0 || Height == 0) return true;
  Reader.req_orientation = ORIENTATION_TOPLEFT;
  std::vector<uint32_t> RowFill(OurOrder ? Height : 0);
  Ours.Base = Pixels;
  Ours.Width = Width;
  Ours.RowFill = RowFill.data();
  // What a damaged file left readable is kept (the load shows it), so it
  // gets our byte order too; rows it left incomplete are cleared.
  const bool Got = TIFFRGBAImageGet(&Reader, Pixels, Width, Height) != 0;
  if (!OurOrder) SwapRedBlue(Pixels, static_cast<size_t>(Width) * Height, Opaque);
  for (size_t y = 0; y < RowFill.size(); ++y)
    if (RowFill[y] != Width) std::fill_n(Pixels + y * Width, Width, uint32_t{0});
  return Got;
}

// Rows of a picture sized for the file.
TTiffAllocate PictureRows(TPlatformBitmap& Bitmap) {
  return [&Bitmap](uint32_t W, uint32_t H, bool) {
    Bitmap.SetSize(static_cast<int32_t>(W), static_cast<int32_t>(H));
    return Bitmap.Bits();
  };
}

std::unique_ptr<TPlatformBitmap> ReadToPicture(TIFF* Tif, const std::string& Name, bool Opaque) {
  auto Bitmap = std::make_unique<TPlatformBitmap>();
  return ReadOpenTiff(Tif, Name, Opaque, PictureRows(*Bitmap)) ? std::move(Bitmap) : nullptr;
}

// Opens a file through its mapped bytes; null after the report.
TIFF* OpenMapped(const std::string& FileName, const TMappedFile& Map, TTiffClient& Client) {
  TIFF* Tif = Map.Data() ? OpenClient(FileName, "r", Client) : nullptr;
  if (!Tif) TiffErrorHandler(FileName, "Unable to open file");
  return Tif;
}

// ---- Writing ---------------------------------------------------------------

bool IsColorBitmap(const TPlatformBitmap& B) {
  return B.PixelFormat() == TPixelFormat::pf24bit || B.PixelFormat() == TPixelFormat::pf32bit;
}

// Raised inside the atomic save so that the temporary file is removed.
VEMRA_DECLARE_EXCEPTION(ETiffWriteFailed, Exception);

void WriteTiff(TStream& Stream, const std::string& Name, const TPlatformBitmap& Bitmap, uint16_t Compression) {
  const size_t Width = static_cast<size_t>(Bitmap.Width());
  const size_t Height = static_cast<size_t>(Bitmap.Height());
  const size_t RowsPerStrip = TiffRowsPerStrip(Width, Height);
  std::vector<uint8_t> Strip(3 * Width * RowsPerStrip);
  TTiffClient Client{&Stream};
  TTiffPtr Tif(OpenClient(Name, "w", Client));
  if (!Tif) throw EFCreateError("Unable to create file");
  TIFFSetField(Tif.get(), TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(Width));
  TIFFSetField(Tif.get(), TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(Height));
  TIFFSetField(Tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(Tif.get(), TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(Tif.get(), TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(Tif.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(Tif.get(), TIFFTAG_COMPRESSION, Compression);
  TIFFSetField(Tif.get(), TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(Tif.get(), TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(RowsPerStrip));
  uint32_t StripNo = 0;
  for (size_t Top = 0; Top < Height; Top += RowsPerStrip, ++StripNo) {
    const size_t Rows = std::min(RowsPerStrip, Height - Top);
    uint8_t* D = Strip.data();
    for (size_t y = Top; y < Top + Rows; ++y) {
      const uint32_t* Row = Bitmap.ScanLine(static_cast<int32_t>(y));
      for (size_t x = 0; x < Width; ++x, D += 3) {
        D[0] = static_cast<uint8_t>(Row[x] >> 16);
        D[1] = static_cast<uint8_t>(Row[x] >> 8);
        D[2] = static_cast<uint8_t>(Row[x]);
      }
    }
    if (TIFFWriteEncodedStrip(Tif.get(), StripNo, Strip.data(), static_cast<tmsize_t>(3 * Width * Rows)) < 0)
      throw ETiffWriteFailed("Failed to write");
  }
  // Closing writes the directory; a failure there is a failed write too.
  if (!TIFFWriteDirectory(Tif.get())) throw ETiffWriteFailed("Failed to write");
}

}  // namespace

void TiffErrorHandler(const std::string& Module, const std::string& Text) {
  ++tErrorsReported;
  ShowMessageBox("LibTiffKorvin error on " + Module + ": " + Text, MB_OK);
}

namespace {

// Reads a file through its mapped bytes into what Allocate hands out; false
// after a reported failure.
bool ReadTiffFile(const std::string& FileName, bool Opaque, const TTiffAllocate& Allocate) {
  const TMappedFile Map(FileName);
  TReadOnlyMemoryStream Stream(Map.Data(), Map.Size());
  TTiffClient Client{&Stream, Map.Data(), Map.Size()};
  TIFF* Tif = OpenMapped(FileName, Map, Client);
  return Tif && ReadOpenTiff(Tif, FileName, Opaque, Allocate);
}

}  // namespace

std::unique_ptr<TPlatformBitmap> ReadTiffBitmap(const std::string& FileName, bool Opaque) {
  auto Bitmap = std::make_unique<TPlatformBitmap>();
  return ReadTiffFile(FileName, Opaque, PictureRows(*Bitmap)) ? std::move(Bitmap) : nullptr;
}

bool ReadTiffIntoBitmap32(const std::string& FileName, TBitmap32& Bitmap) {
  const uint64_t ErrorsBefore = tErrorsReported;
  const bool Ok = ReadTiffFile(FileName, true, [&](uint32_t W, uint32_t H, bool Cleared) {
    if (Cleared)
      Bitmap.SetSize(static_cast<int32_t>(W), static_cast<int32_t>(H));
    else
      Bitmap.SetSizeForOverwrite(static_cast<int32_t>(W), static_cast<int32_t>(H));
    return Bitmap.Bits();
  });
  if (Ok) Bitmap.Changed();
  return Ok && tErrorsReported == ErrorsBefore;
}

std::unique_ptr<TPlatformBitmap> ReadTiffBitmapFromMemory(const uint8_t* Data, size_t Size, const std::string& Name) {
  TReadOnlyMemoryStream Stream(Data, Size);
  TTiffClient Client{&Stream, Data, Size};
  TIFF* Tif = OpenClient(Name, "rM", Client);
  if (!Tif) {
    TiffErrorHandler(Name, "Unable to open file");
    return nullptr;
  }
  return ReadToPicture(Tif, Name, false);
}

size_t TiffRowsPerStrip(size_t Width, size_t Height) {
  return std::clamp<size_t>(262144 / (3 * Width), 1, std::max<size_t>(Height, 1));
}

bool WriteColorBitmapToTiffLZW(const TPlatformBitmap& Bitmap, const std::string& FileName, uint16_t Compression) {
  if (!IsColorBitmap(Bitmap)) {
    TiffErrorHandler(FileName, "WriteColorBitmapToTiffLZW is designed for 24bit and 32 bit bitmaps only");
    return false;
  }
  // A TIFF of no pixels is not a file any reader accepts; it is refused
  // before the strip size (a division by the width) is worked out.
  if (Bitmap.Empty()) {
    TiffErrorHandler(FileName, "Unable to create file");
    return false;
  }
  try {
    SaveFileAtomically(FileName, [&](TStream& S) { WriteTiff(S, FileName, Bitmap, Compression); });
    return true;
  } catch (const EFCreateError&) {
    TiffErrorHandler(FileName, "Unable to create file");
  } catch (const std::exception&) {
    TiffErrorHandler(FileName, "Failed to write");
  }
  return false;
}

void TTIFImage::LoadFromFile(const std::string& FileName) {
  // The reader has shown its box; the picture keeps what it held.
  std::unique_ptr<TPlatformBitmap> B = ReadTiffBitmap(FileName);
  if (!B) throw EInvalidGraphic("Unable to read TIFF image");
  SetSize(B->Width(), B->Height());
  if (!B->Empty()) std::copy_n(B->Bits(), static_cast<size_t>(B->Width()) * B->Height(), Bits());
}

// A freshly read picture is a 32-bit one that is not transparent, so its rows
// are what assigning it to a 32-bit bitmap gives: they go straight there,
// within the limits of the picture they replace.
bool TTIFImage::LoadPixelsFromFile(const std::string& FileName, const TPixelAllocator& Allocate) {
  const bool Ok = ReadTiffFile(FileName, false, [&](uint32_t W, uint32_t H, bool) {
    CheckSize(static_cast<int32_t>(W), static_cast<int32_t>(H));
    return Allocate(static_cast<int32_t>(W), static_cast<int32_t>(H));
  });
  if (!Ok) throw EInvalidGraphic("Unable to read TIFF image");
  return true;
}

void TTIFImage::SaveToFile(const std::string& FileName) const { WriteColorBitmapToTiffLZW(*this, FileName, 5); }

void TTIFImage::LoadFromStream(TStream& Stream) {
  std::vector<uint8_t> Bytes(static_cast<size_t>(std::max<int64_t>(Stream.Remaining(), 0)));
  Bytes.resize(ReadUpTo(Stream, Bytes.data(), Bytes.size()));
  std::unique_ptr<TPlatformBitmap> B = ReadTiffBitmapFromMemory(Bytes.data(), Bytes.size(), "stream");
  if (!B) throw EInvalidGraphic("Unable to read TIFF image");
  SetSize(B->Width(), B->Height());
  if (!B->Empty()) std::copy_n(B->Bits(), static_cast<size_t>(B->Width()) * B->Height(), Bits());
}

void TTIFImage::SaveToStream(TStream& Stream) const {
  if (Empty()) throw EInvalidGraphicOperation("Unable to create file");
  WriteTiff(Stream, "stream", *this, 5);
}

void RegisterTifImage() {
  if (gRegistered) return;
  TIFFSetErrorHandler(LibTiffError);
  // Warnings (unknown tags, odd but readable files) are no reason for a box.
  TIFFSetWarningHandler(nullptr);
  RegisterFileFormat("TIF", "TIF Image", "TTIFImage", [] { return std::make_unique<TTIFImage>(); });
  RegisterFileFormat("TIFF", "TIF Image", "TTIFImage", [] { return std::make_unique<TTIFImage>(); });
  gRegistered = true;
}

void UnregisterTifImage() {
  UnregisterGraphicClass("TTIFImage");
  gRegistered = false;
}
