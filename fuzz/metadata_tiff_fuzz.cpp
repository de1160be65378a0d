// The TIFF directory reader on arbitrary bytes taken as a whole file: the
// first directory wherever the header puts it, sub-directories, maker notes
// and the summary. Run with -rss_limit_mb=512 -max_len=70000.
#include <cstddef>
#include <cstdint>

#include "exif_reader.h"
#include "platform_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TimgData d(255);
  TReadOnlyMemoryStream s(Data, Size);
  d.FromTiff = true;
  d.ErrorText = "Not an EXIF file";
  d.ReadTiffMetadata(s);
  d.FromTiff = false;
  d.ExifSummaryText();
  return 0;
}
