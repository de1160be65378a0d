// The JPEG segment walk on arbitrary bytes, with the EXIF, maker-note and
// IPTC parsing it leads to, the summary text and a write-back of whatever
// was kept. Run with -rss_limit_mb=512 -max_len=70000: a block of that size
// must stay far below the limit however its directories overlap.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exif_reader.h"
#include "iptc_reader.h"
#include "platform_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TimgData d(255);
  TReadOnlyMemoryStream s(Data, Size);
  d.ErrorText = "Not an EXIF file";
  d.ReadJpegSegments(s);
  d.ExifSummaryText();
  if (d.IptcInfo && d.IptcSection) d.IptcInfo->ParseIptcData(d.IptcSection->Data);
  if (d.ExifInfo) d.ExifInfo->PatchExifSize(123, 456);
  TMemoryStream out;
  d.WriteJpegWithMetadataTo(std::vector<uint8_t>(Data, Data + Size), out, 123, 456, true);
  return 0;
}
