// JPEG decode and encode over libjpeg-turbo.
//
// The library reports fatal errors by calling error_exit, which must not
// return. We longjmp back into a small C-style routine that called setjmp and
// owns nothing with a destructor (C++ objects skipped by longjmp would leak or
// worse); that routine returns false and the C++ side turns the recorded
// message code into EInvalidGraphic. The libjpeg objects live in job records
// whose destructors release them, so every path frees what was taken.
#include "platform_jpeg.h"

#include <algorithm>
#include <atomic>
#include <sys/mman.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <typeinfo>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace {

std::atomic<uint64_t> gPixelLimit{uint64_t{1} << 28};

// Working memory libjpeg may take for one picture besides our pixel buffer
// (the coefficient buffers of progressive and multi-scan files, tables): at
// most 1 GiB, and no more than 2048 bytes per byte of input above a floor of
// 64 MiB. A progressive file spends at least about a bit per 8 x 8 block,
// whose coefficients take 128 bytes, so a real file always gets what it needs
// while a forged header over a few bytes cannot ask for a gigabyte.
constexpr long kMaxLibraryMemory = 1L << 30;
constexpr long kMinLibraryMemory = 64L << 20;
constexpr long kLibraryMemoryPerInputByte = 2048;
// Progressive streams can carry thousands of tiny scans that each force a
// pass over the whole coefficient buffer; real encoders write about ten.
constexpr int kMaxScans = 100;
// Below this many pixels per input byte a picture is allocated whole at
// once; above it (only flat pictures compress so far, and forged headers) the
// pixel memory grows with the rows really decoded, so missing data costs
// nothing. Photos take 4 to 16 pixels per byte.
constexpr uint64_t kWholeAllocPixelsPerByte = 64;
constexpr uint64_t kWholeAllocMinPixels = uint64_t{4} << 20;
// The most pixels a byte of input can stand for. Huffman data spends at least
// one bit per 8 x 8 block of the first component (a progressive DC scan;
// baseline spends two), so 512 pixels a byte; twice that leaves room. The
// arithmetic coder can code a flat block in a small fraction of a bit, and it
// pads missing data with zeros without a warning, so a few hundred bytes
// could otherwise stand for a gigapixel picture. Pictures of up to 4 million
// pixels are never refused by this.
constexpr uint64_t kMaxPixelsPerByteHuffman = 1024;
constexpr uint64_t kMaxPixelsPerByteArithmetic = 32768;

struct TJpegError {
  jpeg_error_mgr pub;
  jmp_buf jump;
  int code;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  err->code = cinfo->err->msg_code;
  std::longjmp(err->jump, 1);
}

// Warnings that mean the picture cannot be complete: the library would fill
// the rest with grey and carry on, we refuse instead.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
      ErrorExit(cinfo);
    default:
      cinfo->err->num_warnings++;
  }
}

void OutputMessage(j_common_ptr) {}  // the library must not print to stderr

void InstallErrorManager(TJpegError& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
  err.code = 0;
}

[[noreturn]] void RaiseJpegError(int code) {
  throw EInvalidGraphic("JPEG error #" + std::to_string(code));
}

// Watches the scans as they start. Besides capping their number, it keeps
// its own record of which coefficient bits each scan brought, so that a scan
// which adds nothing new (a repeated first scan, a repeated refinement) is
// refused: repeating one scan hundreds of times would otherwise cost a pass
// over the whole picture each, for a few bytes of input.
struct TScanWatch {
  jpeg_progress_mgr pub;  // first, so the library's pointer is ours
  int lastScan = 0;
  // Per component and coefficient: the lowest bit known so far, -1 for none.
  int8_t known[MAX_COMPONENTS][DCTSIZE2];
};

[[noreturn]] void BadProgression(j_common_ptr cinfo) {
  cinfo->err->msg_code = JERR_BAD_PROGRESSION;
  ErrorExit(cinfo);
}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  auto* watch = reinterpret_cast<TScanWatch*>(cinfo->progress);
  if (d->input_scan_number > kMaxScans) BadProgression(cinfo);
  if (d->input_scan_number == watch->lastScan || d->comps_in_scan <= 0) return;
  watch->lastScan = d->input_scan_number;
  const int ss = std::clamp(d->Ss, 0, DCTSIZE2 - 1), se = std::clamp(d->Se, ss, DCTSIZE2 - 1);
  bool adds = false;
  for (int i = 0; i < d->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
    const int c = d->cur_comp_info[i]->component_index;
    if (c < 0 || c >= MAX_COMPONENTS) BadProgression(cinfo);
    for (int k = ss; k <= se; ++k) {
      int8_t& bit = watch->known[c][k];
      // A first scan brings a coefficient never seen; a refinement the bit
      // just below the lowest one known.
      if (d->Ah == 0 ? bit < 0 : (bit == d->Ah && d->Al < d->Ah)) adds = true;
      bit = static_cast<int8_t>(d->Al);
    }
  }
  if (!adds) BadProgression(cinfo);
}

// Decoder state. Only plain data: it is touched on both sides of a longjmp.
struct TDecodeJob {
  jpeg_decompress_struct cinfo;
  TJpegError err;
  TScanWatch progress;
  bool created = false;
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint32_t* out = nullptr;      // outRows rows of the picture's width
  size_t outRows = 0;
  bool outOfMemory = false;
  uint8_t* cmykRow = nullptr;   // one row of 4-byte samples for CMYK input
  bool cmyk = false;
  bool adobeInverted = false;

  ~TDecodeJob() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

bool ReadHeader(TDecodeJob* j) {
  if (setjmp(j->err.jump)) return false;
  jpeg_create_decompress(&j->cinfo);
  j->created = true;
  j->cinfo.mem->max_memory_to_use = static_cast<long>(std::clamp<uint64_t>(
      static_cast<uint64_t>(j->size) * kLibraryMemoryPerInputByte, kMinLibraryMemory, kMaxLibraryMemory));
  j->progress.pub.progress_monitor = ProgressMonitor;
  std::memset(j->progress.known, -1, sizeof j->progress.known);
  j->cinfo.progress = &j->progress.pub;
  jpeg_mem_src(&j->cinfo, j->data, static_cast<unsigned long>(j->size));
  if (jpeg_read_header(&j->cinfo, TRUE) != JPEG_HEADER_OK) {
    j->err.code = JERR_NO_IMAGE;
    return false;
  }
  return true;
}

// Adobe CMYK (stored inverted by almost every writer) to RGB.
void CmykRowToRgb(const uint8_t* src, uint32_t* dst, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, src += 4) {
    uint32_t c = src[0], m = src[1], y = src[2], k = src[3];
    if (!inverted) {
      c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k;
    }
    const uint32_t r = (c * k + 127) / 255, g = (m * k + 127) / 255, b = (y * k + 127) / 255;
    dst[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
  }
}

// Makes room for the rows below Rows; false when memory runs out. The
// buffer grows by half of itself, so a picture costs few copies.
bool ReserveRows(TDecodeJob* j, size_t Rows) {
  const size_t height = j->cinfo.output_height, width = j->cinfo.output_width;
  // A whole picture (perhaps the caller's rows, which are not ours to
  // reallocate) never grows.
  if (std::min(Rows, height) <= j->outRows) return true;
  const size_t rows = std::min(height, std::max({Rows, j->outRows + j->outRows / 2, size_t{64}}));
  auto* p = static_cast<uint32_t*>(std::realloc(j->out, rows * width * sizeof(uint32_t)));
  if (!p) {
    j->outOfMemory = true;
    return false;
  }
  j->out = p;
  j->outRows = rows;
  return true;
}

bool DecodeBody(TDecodeJob* j) {
  if (setjmp(j->err.jump)) return false;
  jpeg_start_decompress(&j->cinfo);
  const JDIMENSION width = j->cinfo.output_width;
  while (j->cinfo.output_scanline < j->cinfo.output_height) {
    const JDIMENSION y = j->cinfo.output_scanline;
    if (!ReserveRows(j, static_cast<size_t>(y) + 16)) return false;
    uint32_t* row = j->out + static_cast<size_t>(y) * width;
    if (j->cmyk) {
      JSAMPROW r = j->cmykRow;
      if (jpeg_read_scanlines(&j->cinfo, &r, 1) != 1) {
        j->err.code = JWRN_JPEG_EOF;
        return false;
      }
      CmykRowToRgb(j->cmykRow, row, width, j->adobeInverted);
    } else {
      // Several rows at once: the library then hands back whole MCU rows
      // without an extra copy.
      JSAMPROW rows[16];
      JDIMENSION n = std::min<JDIMENSION>(16, j->cinfo.output_height - y);
      for (JDIMENSION k = 0; k < n; ++k) rows[k] = reinterpret_cast<JSAMPROW>(row + static_cast<size_t>(k) * width);
      if (jpeg_read_scanlines(&j->cinfo, rows, n) == 0) {
        j->err.code = JWRN_JPEG_EOF;
        return false;
      }
    }
  }
  jpeg_finish_decompress(&j->cinfo);
  return true;
}

// The compressed output goes into one block that the encode job owns from
// start to end and that only ever grows with realloc. (The library's own
// memory destination swaps in blocks of its own as the output grows and
// forgets a block the caller handed it, which leaks that block, and after an
// error the newest block as well.)
struct TOutputDest {
  jpeg_destination_mgr pub;
  unsigned char* buffer = nullptr;  // malloc'd
  size_t size = 0;
  size_t used = 0;  // set when the stream is complete
};

void InitOutput(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TOutputDest*>(cinfo->dest);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = d->size;
}

// Called when the whole block is full: doubles it and carries on behind the
// bytes already written.
boolean GrowOutput(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TOutputDest*>(cinfo->dest);
  const size_t grown = std::max<size_t>(d->size * 2, 65536);
  auto* p = static_cast<unsigned char*>(std::realloc(d->buffer, grown));
  if (!p) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
  d->pub.next_output_byte = p + d->size;
  d->pub.free_in_buffer = grown - d->size;
  d->buffer = p;
  d->size = grown;
  return TRUE;
}

void TermOutput(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<TOutputDest*>(cinfo->dest);
  d->used = d->size - d->pub.free_in_buffer;
}

struct TEncodeJob {
  jpeg_compress_struct cinfo;
  TJpegError err;
  TOutputDest dest;
  bool created = false;
  const uint32_t* pixels = nullptr;
  int32_t width = 0, height = 0, quality = 90;
  bool progressive = false;

  ~TEncodeJob() {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(dest.buffer);
  }
};

bool EncodeCore(TEncodeJob* j) {
  if (setjmp(j->err.jump)) return false;
  jpeg_create_compress(&j->cinfo);
  j->created = true;
  j->dest.pub.init_destination = InitOutput;
  j->dest.pub.empty_output_buffer = GrowOutput;
  j->dest.pub.term_destination = TermOutput;
  j->cinfo.dest = &j->dest.pub;
  j->cinfo.image_width = static_cast<JDIMENSION>(j->width);
  j->cinfo.image_height = static_cast<JDIMENSION>(j->height);
  j->cinfo.input_components = 4;
  j->cinfo.in_color_space = JCS_EXT_BGRX;  // 0xAARRGGBB little-endian is B, G, R, A in memory
  jpeg_set_defaults(&j->cinfo);            // writes the JFIF APP0 first
  jpeg_set_quality(&j->cinfo, j->quality, TRUE);
  if (j->progressive) jpeg_simple_progression(&j->cinfo);
  jpeg_start_compress(&j->cinfo, TRUE);
  while (j->cinfo.next_scanline < j->cinfo.image_height) {
    JSAMPROW rows[16];
    const JDIMENSION y = j->cinfo.next_scanline;
    const JDIMENSION n = std::min<JDIMENSION>(16, j->cinfo.image_height - y);
    for (JDIMENSION k = 0; k < n; ++k) {
      // libjpeg only reads the input rows; its prototype is not const-correct.
      rows[k] = reinterpret_cast<JSAMPROW>(
          const_cast<uint32_t*>(j->pixels + static_cast<size_t>(y + k) * static_cast<size_t>(j->width)));
    }
    jpeg_write_scanlines(&j->cinfo, rows, n);
  }
  jpeg_finish_compress(&j->cinfo);
  return true;
}

}  // namespace

void TJpegPixelFree::operator()(uint32_t* p) const { std::free(p); }

namespace {

// Pixel memory for a picture. A fresh 24-megapixel buffer costs more in page
// faults than the whole decode when it is mapped in 4 KiB pages, so large
// buffers are aligned for (and asked to get) transparent huge pages.
TJpegPixelBuffer AllocatePixels(size_t Count) {
  constexpr size_t kHuge = size_t{2} << 20;
  const size_t bytes = Count * sizeof(uint32_t);
  void* p = nullptr;
  if (bytes >= 2 * kHuge) {
    const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    p = std::aligned_alloc(kHuge, rounded);
#ifdef MADV_HUGEPAGE
    if (p) madvise(p, rounded, MADV_HUGEPAGE);
#endif
  } else {
    p = std::malloc(bytes ? bytes : 1);
  }
  if (!p) throw EOutOfMemory("Out of memory");
  return TJpegPixelBuffer(static_cast<uint32_t*>(p));
}

}  // namespace

uint64_t SetJpegPixelLimit(uint64_t MaxPixels) { return gPixelLimit.exchange(MaxPixels); }

namespace {

// Decodes into the rows Allocate hands out (null: into memory of our own,
// which Out then owns); Out gets the size and the grey flag on success.
void DecodeJpegTo(const uint8_t* Data, size_t Size, const TGraphic::TPixelAllocator* Allocate, TJpegPixels& Out) {
  if (!Data || Size == 0) RaiseJpegError(JERR_INPUT_EMPTY);
  TDecodeJob job;
  InstallErrorManager(job.err);
  job.cinfo.err = &job.err.pub;
  job.data = Data;
  job.size = Size;
  if (!ReadHeader(&job)) RaiseJpegError(job.err.code);

  jpeg_decompress_struct& ci = job.cinfo;
  const uint64_t w = ci.image_width, h = ci.image_height;
  if (w == 0 || h == 0) RaiseJpegError(JERR_EMPTY_IMAGE);
  if (w > static_cast<uint64_t>(INT32_MAX) || h > static_cast<uint64_t>(INT32_MAX) ||
      w * h > gPixelLimit.load()) {
    RaiseJpegError(JERR_IMAGE_TOO_BIG);
  }
  const uint64_t perByte = ci.arith_code ? kMaxPixelsPerByteArithmetic : kMaxPixelsPerByteHuffman;
  if (w * h > std::max(kWholeAllocMinPixels, static_cast<uint64_t>(Size) * perByte)) RaiseJpegError(JWRN_JPEG_EOF);
  switch (ci.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
      ci.out_color_space = JCS_EXT_BGRA;  // alpha bytes come out as 255
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      ci.out_color_space = JCS_CMYK;
      job.cmyk = true;
      job.adobeInverted = ci.saw_Adobe_marker;
      break;
    default:
      RaiseJpegError(JERR_CONVERSION_NOTIMPL);
  }
  const bool grey = ci.jpeg_color_space == JCS_GRAYSCALE;

  // The pixel memory: whole at once for an ordinary picture, else growing
  // with the rows decoded (the growing buffer belongs to `pixels`
  // throughout, and only a complete picture is copied into the caller's rows).
  TJpegPixelBuffer pixels;
  uint32_t* target = nullptr;
  const bool whole = w * h <= std::max(kWholeAllocMinPixels, static_cast<uint64_t>(Size) * kWholeAllocPixelsPerByte);
  if (whole) {
    if (Allocate) {
      target = (*Allocate)(static_cast<int32_t>(w), static_cast<int32_t>(h));
      if (!target) throw EOutOfMemory("Out of memory");
    } else {
      pixels = AllocatePixels(static_cast<size_t>(w * h));
    }
    job.outRows = static_cast<size_t>(h);
  }
  std::unique_ptr<uint8_t[]> cmykRow;
  try {
    if (job.cmyk) cmykRow.reset(new uint8_t[static_cast<size_t>(w) * 4]);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory("Out of memory");
  }
  job.cmykRow = cmykRow.get();
  job.out = target ? target : pixels.release();
  const bool decoded = DecodeBody(&job);
  if (!target) pixels.reset(job.out);
  if (job.outOfMemory) throw EOutOfMemory("Out of memory");
  if (!decoded) RaiseJpegError(job.err.code);
  if (Allocate && !target) {
    uint32_t* rows = (*Allocate)(static_cast<int32_t>(w), static_cast<int32_t>(h));
    if (!rows) throw EOutOfMemory("Out of memory");
    std::memcpy(rows, pixels.get(), static_cast<size_t>(w * h) * sizeof(uint32_t));
    pixels.reset();
  }

  Out.Width = static_cast<int32_t>(w);
  Out.Height = static_cast<int32_t>(h);
  Out.Grayscale = grey;
  Out.Bits = std::move(pixels);
}

}  // namespace

void DecodeJpeg(const uint8_t* Data, size_t Size, TJpegPixels& Out) {
  TJpegPixels decoded;
  DecodeJpegTo(Data, Size, nullptr, decoded);
  Out = std::move(decoded);
}

void DecodeJpegInto(const uint8_t* Data, size_t Size, const TGraphic::TPixelAllocator& Allocate, bool* Grayscale) {
  TJpegPixels decoded;
  DecodeJpegTo(Data, Size, &Allocate, decoded);
  if (Grayscale) *Grayscale = decoded.Grayscale;
}

std::vector<uint8_t> EncodeJpeg(const uint32_t* Pixels, int32_t Width, int32_t Height, int32_t Quality,
                                bool Progressive) {
  if (!Pixels || Width <= 0 || Height <= 0) throw EInvalidGraphic("Cannot encode an empty JPEG image");
  if (Width > JPEG_MAX_DIMENSION || Height > JPEG_MAX_DIMENSION) RaiseJpegError(JERR_IMAGE_TOO_BIG);
  TEncodeJob job;
  InstallErrorManager(job.err);
  job.cinfo.err = &job.err.pub;
  job.pixels = Pixels;
  job.width = Width;
  job.height = Height;
  job.quality = std::clamp(Quality, 1, 100);
  job.progressive = Progressive;
  // Start with room for a typical photo (4 bits per pixel) so the output
  // rarely has to grow; pages that are never written cost nothing.
  job.dest.size = static_cast<size_t>(
      std::min<uint64_t>(static_cast<uint64_t>(Width) * static_cast<uint64_t>(Height) / 2 + 65536, 1u << 30));
  job.dest.buffer = static_cast<unsigned char*>(std::malloc(job.dest.size));
  if (!job.dest.buffer) throw EOutOfMemory("Out of memory");
  if (!EncodeCore(&job)) RaiseJpegError(job.err.code);
  return std::vector<uint8_t>(job.dest.buffer, job.dest.buffer + job.dest.used);
}

// ---------------------------------------------------------------------------
// TJPEGImage

void TJPEGImage::Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const {
  if (!Surface.Bits || !pixels_.Bits) return;
  const int64_t dw = static_cast<int64_t>(Dest.Right) - Dest.Left;
  const int64_t dh = static_cast<int64_t>(Dest.Bottom) - Dest.Top;
  if (dw <= 0 || dh <= 0) return;
  const int64_t x0 = std::max<int64_t>(Dest.Left, 0), x1 = std::min<int64_t>(Dest.Right, Surface.Width);
  const int64_t y0 = std::max<int64_t>(Dest.Top, 0), y1 = std::min<int64_t>(Dest.Bottom, Surface.Height);
  const int64_t sw = pixels_.Width, sh = pixels_.Height;
  for (int64_t y = y0; y < y1; ++y) {
    const int64_t sy = (y - Dest.Top) * sh / dh;
    const uint32_t* src = pixels_.Bits.get() + sy * sw;
    uint32_t* dst = Surface.Bits + y * static_cast<int64_t>(Surface.Width);
    if (dw == sw) {
      std::memcpy(dst + x0, src + (x0 - Dest.Left), static_cast<size_t>(x1 - x0) * 4);
    } else {
      for (int64_t x = x0; x < x1; ++x) dst[x] = src[(x - Dest.Left) * sw / dw];
    }
  }
}

void TJPEGImage::LoadFromBytes(const uint8_t* Data, size_t Size) {
  TJpegPixels decoded;
  DecodeJpeg(Data, Size, decoded);
  std::vector<uint8_t> kept(Data, Data + Size);
  pixels_ = std::move(decoded);
  data_ = std::move(kept);
}

bool TJPEGImage::LoadPixelsFromFile(const std::string& FileName, const TPixelAllocator& Allocate) {
  // A class built on this one may read its files its own way.
  if (typeid(*this) != typeid(TJPEGImage)) return false;
  std::vector<uint8_t> bytes;
  {
    TFileStream s(FileName, TFileMode::fmOpenRead);
    bytes.resize(static_cast<size_t>(std::max<int64_t>(s.Remaining(), 0)));
    if (!bytes.empty()) s.ReadBuffer(bytes.data(), bytes.size());
  }
  DecodeJpegInto(bytes.data(), bytes.size(), Allocate, nullptr);
  return true;
}

void TJPEGImage::LoadFromStream(TStream& Stream) {
  const int64_t remaining = Stream.Remaining();
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(remaining, 0)));
  if (!bytes.empty()) Stream.ReadBuffer(bytes.data(), bytes.size());
  TJpegPixels decoded;
  DecodeJpeg(bytes.data(), bytes.size(), decoded);
  pixels_ = std::move(decoded);
  data_ = std::move(bytes);
}

std::vector<uint8_t> TJPEGImage::SaveToBytes() const {
  if (!data_.empty()) return data_;
  if (!pixels_.Bits) throw EInvalidGraphic("Cannot encode an empty JPEG image");
  return EncodeJpeg(pixels_.Bits.get(), pixels_.Width, pixels_.Height, quality_, progressive_);
}

void TJPEGImage::SaveToStream(TStream& Stream) const {
  if (!data_.empty()) {
    Stream.WriteBuffer(data_.data(), data_.size());
    return;
  }
  std::vector<uint8_t> bytes = SaveToBytes();
  Stream.WriteBuffer(bytes.data(), bytes.size());
}

void TJPEGImage::SetCompressionQuality(int32_t Quality) {
  Quality = std::clamp(Quality, 1, 100);
  if (Quality == quality_) return;
  quality_ = Quality;
  if (pixels_.Bits) data_.clear();
}

void TJPEGImage::SetProgressiveEncoding(bool Value) {
  if (Value == progressive_) return;
  progressive_ = Value;
  if (pixels_.Bits) data_.clear();
}

void TJPEGImage::SetPixels(int32_t W, int32_t H, const uint32_t* Argb) {
  TJpegPixels p;
  if (W > 0 && H > 0 && Argb) {
    const size_t n = static_cast<size_t>(W) * static_cast<size_t>(H);
    p.Bits = AllocatePixels(n);
    for (size_t i = 0; i < n; ++i) p.Bits[i] = Argb[i] | 0xFF000000u;
    p.Width = W;
    p.Height = H;
  }
  pixels_ = std::move(p);
  data_.clear();
}

void TJPEGImage::Assign(const TPlatformBitmap& Bitmap) {
  SetPixels(Bitmap.Width(), Bitmap.Height(), Bitmap.Bits());
}

void TJPEGImage::AssignTo(TPlatformBitmap& Bitmap) const {
  Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  Bitmap.SetSize(pixels_.Width, pixels_.Height);
  if (pixels_.Bits && Bitmap.Bits())
    std::memcpy(Bitmap.Bits(), pixels_.Bits.get(),
                static_cast<size_t>(pixels_.Width) * static_cast<size_t>(pixels_.Height) * 4);
}

void TJPEGImage::Compress() {
  if (!pixels_.Bits) throw EInvalidGraphic("Cannot encode an empty JPEG image");
  data_ = EncodeJpeg(pixels_.Bits.get(), pixels_.Width, pixels_.Height, quality_, progressive_);
}
