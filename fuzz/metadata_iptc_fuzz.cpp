// The IPTC dataset parser on arbitrary bytes taken as an APP13 segment's
// data, and the merging operations on what it found. Run with
// -rss_limit_mb=512 -max_len=70000.
#include <cstddef>
#include <cstdint>
#include <string>

#include "iptc_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TIPTCdata ip(nullptr);
  const std::string bytes(reinterpret_cast<const char*>(Data), Size);
  ip.ParseIptcData(bytes);
  if (ip.Count() > 0) {
    const std::string name = ip.Tags[0].Name;
    ip.UpdateTag("Keywords", name);
    ip.AppendToTag(name, "x\r\ny");
    ip.RemoveTag(name);
  }
  return 0;
}
