#include "stringutils.h"

std::string CopyFromPosition(const std::string& Text, long long Start, long long Count) {
  const long long L = static_cast<long long>(Text.size());
  if (Count <= 0 || Start > L) return "";
  if (Start < 1) {
    Count += Start - 1;
    Start = 1;
    if (Count <= 0) return "";
  }
  if (Count > L - Start + 1) Count = L - Start + 1;
  return Text.substr(static_cast<size_t>(Start - 1), static_cast<size_t>(Count));
}

std::string ExtractField(const std::string& Text, char Separator, int N, char Quote, bool UseQuotes) {
  if (N < 1) return "";
  const long long L = static_cast<long long>(Text.size());
  long long start = (N == 1) ? 1 : 0, end = 0, count = 0;
  bool quoted = false;
  for (long long i = 1; i <= L; ++i) {
    const char c = Text[static_cast<size_t>(i - 1)];
    if (UseQuotes && c == Quote) {
      quoted = !quoted;  // a quote character is never a separator
      continue;
    }
    if (quoted || c != Separator) continue;
    ++count;
    if (count == N - 1) start = i + 1;
    if (count == N) {
      end = i;
      break;
    }
  }
  if (start == 0) return "";
  if (end == 0) end = L + 1;
  return CopyFromPosition(Text, start, end - start);
}

void ExtractField(const std::string& Text, char Separator, int N, std::string& Field, char Quote, bool UseQuotes) {
  Field = ExtractField(Text, Separator, N, Quote, UseQuotes);
}

bool TryStrToInt(const std::string& Text, int32_t& Value) {
  size_t i = 0;
  const size_t n = Text.size();
  while (i < n && (Text[i] == ' ' || Text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (Text[i] == '+' || Text[i] == '-')) {
    negative = Text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && Text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) return false;
  // The magnitude is gathered in 64 bits and checked against the int32
  // range at every digit, so no input overflows.
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t v = 0;
  for (; i < n; ++i) {
    const char c = Text[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
    if (v > limit) return false;
  }
  Value = static_cast<int32_t>(negative ? -v : v);
  return true;
}

int32_t StrToIntDef(const std::string& Text, int32_t Default) {
  int32_t v = 0;
  return TryStrToInt(Text, v) ? v : Default;
}
