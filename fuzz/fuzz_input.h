// The fuzz targets' view of their input: numbers taken from the front of the
// bytes, little-endian, with zeros once the input runs out, so every input,
// however short, still drives a whole call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* Data, size_t Size) : data_(Data), size_(Size) {}

  // Bytes not yet taken; a target stops its loop of steps at zero.
  size_t Left() const { return size_ - pos_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t Word() {
    uint32_t V = 0;
    for (int i = 0; i < 4; ++i) V |= uint32_t{Byte()} << (8 * i);
    return V;
  }
  int32_t Int() { return static_cast<int32_t>(Word()); }
  // Any bit pattern: NaN, infinities and denormals come as often as the input has them.
  float Float() {
    const uint32_t W = Word();
    float F;
    std::memcpy(&F, &W, sizeof F);
    return F;
  }
  double Double() {
    const uint64_t Lo = Word();
    const uint64_t Hi = Word();
    const uint64_t W = Lo | (Hi << 32);
    double D;
    std::memcpy(&D, &W, sizeof D);
    return D;
  }
  // An extended argument from a double's bits: the values a caller can really pass.
  long double Extended() { return Double(); }
  // Whatever is left, as text.
  std::string Rest() {
    std::string S(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
    pos_ = size_;
    return S;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Writes the input to a file for the readers that take a file name; a
// fuzzing machine that cannot write its own temporary folder stops at once.
inline void WriteFuzzFile(const std::string& Name, const uint8_t* Data, size_t Size) {
  std::FILE* f = std::fopen(Name.c_str(), "wb");
  if (!f) __builtin_trap();
  if (Size && std::fwrite(Data, 1, Size, f) != Size) __builtin_trap();
  std::fclose(f);
}

// A fresh folder under $TMPDIR (or /tmp) for the files a fuzz target writes
// (one a process, made at its start), removed with everything in it when the
// process ends; a fuzzing machine that cannot make one stops at once.
inline std::string MakeFuzzFolder(const std::string& Prefix) {
  static std::string Folder;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + Prefix + ".XXXXXX";
  if (!::mkdtemp(pattern.data())) __builtin_trap();
  Folder = pattern;
  std::atexit([] {
    const std::string cmd = "rm -rf '" + Folder + "'";
    static_cast<void>(std::system(cmd.c_str()));
  });
  return Folder;
}
