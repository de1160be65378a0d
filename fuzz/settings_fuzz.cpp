// The settings store's parser on arbitrary bytes: it must never crash, and
// what it reads must survive being written and read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  TRegistryData parsed = ParseRegistryText(text);
  std::string written = FormatRegistryText(parsed);
  TRegistryData again = ParseRegistryText(written);
  if (!(again == parsed)) std::abort();
  if (FormatRegistryText(again) != written) std::abort();
  // Every key is reachable by its own path, whatever case it is asked in.
  for (const auto& [folded, key] : parsed.Keys) {
    if (parsed.FindKey(key.Path) != &key) std::abort();
    if (parsed.FindKey(FoldRegistryName(key.Path)) != &key) std::abort();
  }
  return 0;
}
