// Writing a JPEG file with the segments kept from the file it was loaded from.
#include <cstring>

#include "exif_reader.h"
#include "img_fileio.h"
#include "platform_jpeg.h"
#include "platform_stream.h"

namespace {

// JFIF 1.02, 300 x 300 dots per inch, no thumbnail.
const uint8_t kDefaultApp0[18] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01,
                                  0x02, 0x01, 0x01, 0x2C, 0x01, 0x2C, 0x00, 0x00};

int64_t WriteSection(TStream& Stream, const TSection& S) {
  uint8_t head[2] = {0xFF, static_cast<uint8_t>(S.Marker)};
  Stream.WriteBuffer(head, 2);
  Stream.WriteBuffer(S.Data.data(), S.Data.size());
  return 2 + static_cast<int64_t>(S.Data.size());
}

}  // namespace

int64_t TimgData::WriteMetadataSegments(TStream& Stream) {
  static const uint8_t soi[2] = {0xFF, 0xD8};
  Stream.WriteBuffer(soi, 2);
  int64_t n = 0;
  if (ExifSection) {
    n += WriteSection(Stream, *ExifSection);
  } else if (JfifSection) {
    n += WriteSection(Stream, *JfifSection);
  } else {
    Stream.WriteBuffer(kDefaultApp0, sizeof kDefaultApp0);
    n += sizeof kDefaultApp0;
  }
  if (IptcSection) n += WriteSection(Stream, *IptcSection);
  if (CommentSection) n += WriteSection(Stream, *CommentSection);
  return n;
}

void TimgData::WriteJpegWithMetadataTo(const std::vector<uint8_t>& Encoded, TStream& Out, int32_t Height,
                                       int32_t Width, bool AdjSize) {
  if (AdjSize && ExifInfo) ExifInfo->PatchExifSize(Height, Width);
  WriteMetadataSegments(Out);
  // Skip the encoder's own leading segments: an APP0, then at most one
  // APP1, APP13 and COM in that order.
  size_t p = 2;
  auto skip = [&](uint8_t marker) {
    if (p + 4 > Encoded.size() || Encoded[p] != 0xFF || Encoded[p + 1] != marker) return;
    size_t len = (size_t(Encoded[p + 2]) << 8) | Encoded[p + 3];
    if (p + 2 + len <= Encoded.size()) p += 2 + len;
  };
  skip(0xE0);
  skip(0xE1);
  skip(0xED);
  skip(0xFE);
  if (p < Encoded.size()) Out.WriteBuffer(Encoded.data() + p, Encoded.size() - p);
}

void TimgData::WriteJpegWithMetadata(const TJPEGImage& Jpeg, const std::string& Name, bool AdjSize) {
  // The picture is encoded before the target is touched, and the file is
  // written through a temporary file that replaces it only when complete, so
  // a failed encode or a full disk leaves the old photo as it was.
  TMemoryStream encoded;
  Jpeg.SaveToStream(encoded);
  SaveFileAtomically(Name, [&](TStream& Out) {
    WriteJpegWithMetadataTo(encoded.Bytes(), Out, Jpeg.Height(), Jpeg.Width(), AdjSize);
  });
}
