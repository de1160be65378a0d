// The metadata readers on arbitrary bytes: the JPEG segment walk with its
// EXIF, maker-note and IPTC parsing, the TIFF directory reader, the summary
// text and a write-back of whatever was kept.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exif_reader.h"
#include "iptc_reader.h"
#include "platform_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  {
    TimgData d(255);
    TReadOnlyMemoryStream s(Data, Size);
    d.ErrorText = "Not an EXIF file";
    d.ReadJpegSegments(s);
    d.ExifSummaryText();
    if (d.IptcInfo && d.IptcSection) d.IptcInfo->ParseIptcData(d.IptcSection->Data);
    if (d.ExifInfo) d.ExifInfo->PatchExifSize(123, 456);
    TMemoryStream out;
    d.WriteJpegWithMetadataTo(std::vector<uint8_t>(Data, Data + Size), out, 123, 456, true);
  }
  {
    TimgData d(255);
    TReadOnlyMemoryStream s(Data, Size);
    d.FromTiff = true;
    d.ReadTiffMetadata(s);
  }
  {
    TIPTCdata ip(nullptr);
    ip.ParseIptcData(std::string(reinterpret_cast<const char*>(Data), Size));
  }
  return 0;
}
