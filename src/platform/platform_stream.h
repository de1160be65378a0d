#pragma once
// Byte streams of the class library: the bitmap's "Data" record, BMP load and
// save, the undo checkpoint and the picture classes read and write through them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform_exceptions.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to Count bytes; returns how many were read (0 at the end).
  virtual size_t Read(void* Buffer, size_t Count) = 0;
  // Writes Count bytes; returns how many were written.
  virtual size_t Write(const void* Buffer, size_t Count) = 0;
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t Size() = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t P) { Seek(P, TSeekOrigin::soBeginning); }
  int64_t Remaining() { return Size() - Position(); }
  // Exactly Count bytes or EReadError "Stream read error".
  void ReadBuffer(void* Buffer, size_t Count);
  // Exactly Count bytes or EWriteError "Stream write error".
  void WriteBuffer(const void* Buffer, size_t Count);
  // Copies Count bytes from Source (all that remains of it when Count is 0).
  int64_t CopyFrom(TStream& Source, int64_t Count);
};

// A growable in-memory stream.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}
  size_t Read(void* Buffer, size_t Count) override;
  size_t Write(const void* Buffer, size_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(size_t n) { data_.resize(n); if (pos_ > n) pos_ = n; }
  void Clear() { data_.clear(); pos_ = 0; }
  const std::vector<uint8_t>& Bytes() const { return data_; }
  std::vector<uint8_t>& Bytes() { return data_; }
  const uint8_t* Memory() const { return data_.data(); }
  void LoadFromFile(const std::string& FileName);
  // Through the atomic save: the file is replaced only once all is written.
  void SaveToFile(const std::string& FileName);

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

// A read-only view of bytes owned by someone else (fuzzers, clipboard blocks).
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  size_t Read(void* Buffer, size_t Count) override;
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Reads another stream through a block of read-ahead, so that a reader
// that walks small headers and skips data asks the source for large reads
// only; seeks within the block cost nothing. Its size is the source's when
// the wrapper was made; it does not write.
class TReadAheadStream : public TStream {
 public:
  explicit TReadAheadStream(TStream& Source, size_t Block = size_t{256} << 10);
  size_t Read(void* Buffer, size_t Count) override;
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return size_; }

 private:
  TStream& source_;
  std::vector<uint8_t> block_;
  int64_t blockAt_ = 0, pos_, size_, sourceAt_;
  size_t blockBytes_ = 0;
};

enum class TFileMode { fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreate };

// A file stream; opening failures raise EFOpenError / EFCreateError with
// "Cannot open file \"name\"" / "Cannot create file \"name\"". fmOpenRead takes
// regular files only: a folder, named pipe, socket or device is refused at
// once with "Cannot open file \"name\". " and the reason ("Is a directory",
// "Is a named pipe", "Is a socket", "Is a device").
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& FileName, TFileMode Mode);
  // Takes ownership of an already open file (a temporary file made with mkstemp).
  explicit TFileStream(std::FILE* Adopt);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  size_t Read(void* Buffer, size_t Count) override;
  size_t Write(const void* Buffer, size_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override;
  // Flushes to the operating system; false when the data could not be written.
  bool Flush();
  // Hands the open file back to the caller (who then closes it).
  std::FILE* Release();

 private:
  void SwitchTo(int op);
  std::FILE* f_ = nullptr;
  int lastOp_ = 0;  // 0 none or after a seek, 1 read, 2 write
};
