#pragma once
// A small 32-bit hash of a string, used to name temporary files.
#include <cstdint>
#include <string>

// XORs little-endian words of the decimal length, the text and padding bytes
// 0xFF at three byte offsets. StringHash("abc") = 0x63FEFC31.
int32_t StringHash(const std::string& Text);
