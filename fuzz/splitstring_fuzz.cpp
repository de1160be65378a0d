// The split and field routines on random bytes. The first bytes pick the
// delimiter, the quote, the field number and the minimum count; the rest is
// the text. Checks what callers rely on, not just the absence of crashes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "hashutils.h"
#include "strarray.h"
#include "stringutils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t delimLen = data[0] % 4;
  const char quote = static_cast<char>(data[1]);
  const int n = static_cast<int8_t>(data[2]);
  const int minCount = data[3] % 8;
  size_t pos = 4;
  if (size < pos + delimLen) return 0;
  const std::string delim(reinterpret_cast<const char*>(data + pos), delimLen);
  pos += delimLen;
  const std::string text(reinterpret_cast<const char*>(data + pos), size - pos);

  std::vector<std::string> pieces;
  SplitString(text, delim, minCount, pieces, quote);
  if (static_cast<int>(pieces.size()) < minCount) std::abort();
  size_t total = 0;
  for (const std::string& p : pieces) total += p.size();
  if (total > text.size()) std::abort();
  // Without quote characters in the text, the pieces joined by the delimiter
  // give the text back (a self-overlapping delimiter aside).
  if (!delim.empty() && text.find(quote) == std::string::npos && !text.empty() &&
      delim.find(delim[0], 1) == std::string::npos) {
    std::string joined;
    for (size_t i = 0; i < pieces.size(); ++i) joined += (i ? delim : "") + pieces[i];
    if (static_cast<int>(pieces.size()) <= minCount) {
      // Empty padding pieces may have been added; the text is then a prefix.
      if (joined.compare(0, text.size(), text) != 0) std::abort();
    } else if (joined != text) {
      std::abort();
    }
  }

  const char sep = delim.empty() ? ',' : delim[0];
  for (bool useQuotes : {false, true}) {
    std::string field = ExtractField(text, sep, n, quote, useQuotes);
    if (!field.empty() && text.find(field) == std::string::npos) std::abort();
    if (n < 1 && !field.empty()) std::abort();
  }
  (void)StringHash(text);
  int32_t v = 0;
  if (TryStrToInt(text, v) && StrToIntDef(text, v + 1) != v) std::abort();
  return 0;
}
