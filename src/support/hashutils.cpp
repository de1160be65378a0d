#include "hashutils.h"

namespace {

uint32_t WordAt(const std::string& T, size_t Offset) {
  return static_cast<uint32_t>(static_cast<unsigned char>(T[Offset])) |
         static_cast<uint32_t>(static_cast<unsigned char>(T[Offset + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(T[Offset + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(T[Offset + 3])) << 24;
}

}  // namespace

int32_t StringHash(const std::string& Text) {
  std::string t = std::to_string(Text.size()) + Text + "\xFF\xFF\xFF";
  // t holds at least 4 bytes (one digit and the padding), so k >= 0.
  const size_t k = t.size() / 4 - 1;
  t += "\xFF\xFF\xFF";
  uint32_t h = 0;
  for (size_t i = 0; i <= k; ++i) h ^= WordAt(t, 4 * i);
  for (size_t i = 0; i <= k; ++i) h ^= WordAt(t, 4 * i + 1);
  for (size_t i = 0; i <= k; ++i) h ^= WordAt(t, 4 * i + 3);
  return static_cast<int32_t>(h);
}
