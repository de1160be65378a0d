// CMYK JPEG decoding, pixel for pixel: the library decodes the same file to its
// CMYK samples, and every RGB pixel must be those samples converted exactly
// (R = C * K / 255 rounded, on the inverted samples Adobe-marked files store).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "picture_test_util.h"
#include "platform_jpeg.h"

namespace {

struct TCmyk {
  int32_t Width = 0, Height = 0;
  bool Adobe = false;
  std::vector<uint8_t> Samples;  // 4 bytes a pixel, as stored
};

TCmyk DecodeCmykSamples(const std::vector<uint8_t>& Bytes) {
  TCmyk out;
  jpeg_decompress_struct ci{};
  jpeg_error_mgr err{};
  ci.err = jpeg_std_error(&err);
  jpeg_create_decompress(&ci);
  jpeg_mem_src(&ci, Bytes.data(), static_cast<unsigned long>(Bytes.size()));
  jpeg_read_header(&ci, TRUE);
  ci.out_color_space = JCS_CMYK;
  jpeg_start_decompress(&ci);
  out.Width = static_cast<int32_t>(ci.output_width);
  out.Height = static_cast<int32_t>(ci.output_height);
  out.Adobe = ci.saw_Adobe_marker;
  out.Samples.resize(static_cast<size_t>(out.Width) * out.Height * 4);
  while (ci.output_scanline < ci.output_height) {
    JSAMPROW row = out.Samples.data() + static_cast<size_t>(ci.output_scanline) * out.Width * 4;
    jpeg_read_scanlines(&ci, &row, 1);
  }
  jpeg_finish_decompress(&ci);
  jpeg_destroy_decompress(&ci);
  return out;
}

TEST(JpegDecode, CmykPixelsAreTheLibrarysSamplesConvertedExactly) {
  TTempDir dir;
  const TTestImage img = MakePhotoLike(67, 45, 3);
  WritePpm(dir / "src.ppm", img);
  for (int quality : {60, 95}) {
    SCOPED_TRACE(quality);
    const std::string name = dir / ("c" + std::to_string(quality) + ".jpg");
    ASSERT_TRUE(RunTool("/usr/bin/convert " + dir / "src.ppm -colorspace CMYK -quality " + std::to_string(quality) +
                        " " + name));
    const std::vector<uint8_t> bytes = ReadFileBytes(name);
    const TCmyk ref = DecodeCmykSamples(bytes);
    ASSERT_EQ(ref.Width, 67);
    ASSERT_TRUE(ref.Adobe) << "the writer marks its inverted samples";
    TJpegPixels got;
    DecodeJpeg(bytes.data(), bytes.size(), got);
    ASSERT_EQ(got.Width, ref.Width);
    ASSERT_EQ(got.Height, ref.Height);
    for (size_t i = 0; i < static_cast<size_t>(ref.Width) * ref.Height; ++i) {
      const uint8_t* s = &ref.Samples[i * 4];
      const double k = s[3];
      uint32_t expected = 0xFF000000u;
      for (int c = 0; c < 3; ++c)
        expected |= static_cast<uint32_t>(std::lround(s[c] * k / 255.0)) << (16 - 8 * c);
      ASSERT_EQ(got.Bits[i], expected) << "pixel " << i % ref.Width << "," << i / ref.Width;
    }
  }
}

}  // namespace
