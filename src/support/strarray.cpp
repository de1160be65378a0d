#include "strarray.h"

#include "stringutils.h"

void SplitString(const std::string& Text, const std::string& Delimiter, int MinCount, std::vector<std::string>& Pieces,
                 char Quote) {
  Pieces.clear();
  const long long L = static_cast<long long>(Text.size());
  const long long D = static_cast<long long>(Delimiter.size());
  long long start = 1, length = 0;
  bool quoted = false;
  if (D > 0) {
    for (long long i = 1; i <= L; ++i) {
      const char c = Text[static_cast<size_t>(i - 1)];
      if (c == Quote) quoted = !quoted;
      if (quoted) {
        ++length;
        continue;
      }
      if (i + D - 1 <= L && Text.compare(static_cast<size_t>(i - 1), static_cast<size_t>(D), Delimiter) == 0) {
        Pieces.push_back(CopyFromPosition(Text, start, length));
        start = i + D;
        // The loop still visits the other D - 1 delimiter characters; each
        // adds one, which brings the new piece back to length 0.
        length = 1 - D;
      } else {
        ++length;
      }
    }
  } else {
    length = L;
  }
  if (!Pieces.empty() || length >= 1) Pieces.push_back(CopyFromPosition(Text, start, length));
  while (static_cast<long long>(Pieces.size()) < MinCount) Pieces.emplace_back();
}

std::vector<std::string> SplitStringArray(const std::string& Text, const std::string& Delimiter, char Quote,
                                          int MinCount) {
  std::vector<std::string> pieces;
  SplitString(Text, Delimiter, MinCount, pieces, Quote);
  return pieces;
}
