// Byte streams: the exact-count helpers every reader relies on, a growable
// memory stream, a read-only view of foreign bytes and a stdio-backed file.
#include "platform_stream.h"

#include "platform_savefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

// ---------------------------------------------------------------------------
// TStream helpers

void TStream::ReadBuffer(void* Buffer, size_t Count) {
  auto* p = static_cast<uint8_t*>(Buffer);
  size_t done = 0;
  while (done < Count) {
    size_t n = Read(p + done, Count - done);
    if (n == 0) throw EReadError("Stream read error");
    done += n;
  }
}

void TStream::WriteBuffer(const void* Buffer, size_t Count) {
  const auto* p = static_cast<const uint8_t*>(Buffer);
  size_t done = 0;
  while (done < Count) {
    size_t n = Write(p + done, Count - done);
    if (n == 0) throw EWriteError("Stream write error");
    done += n;
  }
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count < 0) throw EReadError("Stream read error");
  if (Count == 0) Count = std::max<int64_t>(0, Source.Remaining());
  // A bounded buffer: a large copy never needs the whole source in memory.
  constexpr size_t kChunk = 64 * 1024;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(Count, kChunk)));
  int64_t left = Count;
  while (left > 0) {
    size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buf.size())));
    Source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= static_cast<int64_t>(n);
  }
  return Count;
}

// Resolves a seek request against the current position and size; a target
// before the start is the caller's error and never moves the stream.
static int64_t SeekTarget(int64_t Offset, TSeekOrigin Origin, int64_t Pos, int64_t Size) {
  int64_t base = Origin == TSeekOrigin::soBeginning ? 0 : Origin == TSeekOrigin::soCurrent ? Pos : Size;
  if ((Offset > 0 && base > std::numeric_limits<int64_t>::max() - Offset) || base + Offset < 0)
    throw EStreamError("Stream seek error");
  return base + Offset;
}

// ---------------------------------------------------------------------------
// TMemoryStream

size_t TMemoryStream::Read(void* Buffer, size_t Count) {
  if (pos_ >= data_.size() || Count == 0) return 0;
  size_t n = std::min(Count, data_.size() - pos_);
  std::memcpy(Buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

size_t TMemoryStream::Write(const void* Buffer, size_t Count) {
  if (Count == 0) return 0;
  if (Count > std::numeric_limits<size_t>::max() - pos_) return 0;
  size_t end = pos_ + Count;
  // Writing past the end (after a seek beyond it) fills the gap with zeros.
  if (end > data_.size()) {
    try {
      data_.resize(end);
    } catch (const std::bad_alloc&) {
      return 0;
    } catch (const std::length_error&) {
      return 0;
    }
  }
  std::memcpy(data_.data() + pos_, Buffer, Count);
  pos_ = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  pos_ = static_cast<size_t>(SeekTarget(Offset, Origin, static_cast<int64_t>(pos_), Size()));
  return static_cast<int64_t>(pos_);
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, TFileMode::fmOpenRead);
  int64_t n = f.Size();
  std::vector<uint8_t> bytes(static_cast<size_t>(n));
  f.ReadBuffer(bytes.data(), bytes.size());
  data_ = std::move(bytes);
  pos_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
  ReplaceFileAtomically(FileName, [this](TStream& s) { s.WriteBuffer(data_.data(), data_.size()); },
                        TRenameFailure::rfCreateError);
}

// ---------------------------------------------------------------------------
// TReadOnlyMemoryStream

size_t TReadOnlyMemoryStream::Read(void* Buffer, size_t Count) {
  if (pos_ >= size_ || Count == 0) return 0;
  size_t n = std::min(Count, size_ - pos_);
  std::memcpy(Buffer, data_ + pos_, n);
  pos_ += n;
  return n;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  pos_ = static_cast<size_t>(SeekTarget(Offset, Origin, static_cast<int64_t>(pos_), Size()));
  return static_cast<int64_t>(pos_);
}

// ---------------------------------------------------------------------------
// TReadAheadStream

TReadAheadStream::TReadAheadStream(TStream& Source, size_t Block)
    : source_(Source), block_(std::max<size_t>(Block, 1)), pos_(Source.Position()), size_(Source.Size()),
      sourceAt_(pos_) {}

size_t TReadAheadStream::Read(void* Buffer, size_t Count) {
  auto* out = static_cast<uint8_t*>(Buffer);
  size_t done = 0;
  while (done < Count) {
    if (pos_ >= blockAt_ && pos_ < blockAt_ + static_cast<int64_t>(blockBytes_)) {
      const size_t at = static_cast<size_t>(pos_ - blockAt_), n = std::min(Count - done, blockBytes_ - at);
      std::memcpy(out + done, block_.data() + at, n);
      done += n;
      pos_ += static_cast<int64_t>(n);
      continue;
    }
    if (sourceAt_ != pos_) source_.SetPosition(pos_);
    sourceAt_ = pos_;
    // A read as large as the block goes straight to the caller.
    if (Count - done >= block_.size()) {
      const size_t n = source_.Read(out + done, Count - done);
      sourceAt_ += static_cast<int64_t>(n);
      pos_ += static_cast<int64_t>(n);
      done += n;
      break;
    }
    blockAt_ = pos_;
    blockBytes_ = source_.Read(block_.data(), block_.size());
    sourceAt_ += static_cast<int64_t>(blockBytes_);
    if (blockBytes_ == 0) break;
  }
  return done;
}

int64_t TReadAheadStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  pos_ = SeekTarget(Offset, Origin, pos_, size_);
  return pos_;
}

// ---------------------------------------------------------------------------
// TFileStream

namespace {

// Why a file that exists is no file to read a picture from.
const char* NotRegularReason(mode_t Mode) {
  if (S_ISDIR(Mode)) return "Is a directory";
  if (S_ISFIFO(Mode)) return "Is a named pipe";
  if (S_ISSOCK(Mode)) return "Is a socket";
  if (S_ISCHR(Mode) || S_ISBLK(Mode)) return "Is a device";
  return "Is not a regular file";
}

// Opens FileName for reading, regular files only. O_NONBLOCK keeps the open
// of a named pipe from waiting for a writer that may never come; it is taken
// off again once the file is known to be a plain one.
std::FILE* OpenRegularForReading(const std::string& FileName) {
  auto refuse = [&](mode_t Mode) {
    return EFOpenError("Cannot open file \"" + FileName + "\". " + NotRegularReason(Mode));
  };
  // A socket cannot be opened at all: it is told apart before the open.
  struct stat st {};
  if (::stat(FileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) throw refuse(st.st_mode);
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw EFOpenError("Cannot open file \"" + FileName + "\"");
  // Checked again on what was opened: the name may have changed meanwhile.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw refuse(st.st_mode);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    throw EFOpenError("Cannot open file \"" + FileName + "\"");
  }
  return f;
}

}  // namespace

TFileStream::TFileStream(const std::string& FileName, TFileMode Mode) {
  // Readers take regular files only: a pipe, socket or device would block or
  // never end, and a folder has no bytes.
  if (Mode == TFileMode::fmOpenRead) {
    f_ = OpenRegularForReading(FileName);
    return;
  }
  // fmOpenWrite opens an existing file without truncating it, as the platform
  // does; only fmCreate makes a new (or empties an existing) file.
  const char* how = Mode == TFileMode::fmCreate ? "w+b" : "r+b";
  f_ = std::fopen(FileName.c_str(), how);
  if (!f_) {
    if (Mode == TFileMode::fmCreate) throw EFCreateError("Cannot create file \"" + FileName + "\"");
    throw EFOpenError("Cannot open file \"" + FileName + "\"");
  }
}

TFileStream::TFileStream(std::FILE* Adopt) : f_(Adopt) {
  if (!f_) throw EFOpenError("Cannot open file \"\"");
}

TFileStream::~TFileStream() {
  if (f_) std::fclose(f_);
}

// stdio needs a positioning call between a write and a following read (and
// the other way round); the stream's callers mix both freely.
void TFileStream::SwitchTo(int op) {
  if (lastOp_ != 0 && lastOp_ != op) std::fseek(f_, 0, SEEK_CUR);
  lastOp_ = op;
}

size_t TFileStream::Read(void* Buffer, size_t Count) {
  if (Count == 0) return 0;
  SwitchTo(1);
  return std::fread(Buffer, 1, Count, f_);
}

size_t TFileStream::Write(const void* Buffer, size_t Count) {
  if (Count == 0) return 0;
  SwitchTo(2);
  return std::fwrite(Buffer, 1, Count, f_);
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t pos = ftello(f_);
  if (Origin == TSeekOrigin::soCurrent && Offset == 0) return pos;
  int64_t target = SeekTarget(Offset, Origin, pos, Origin == TSeekOrigin::soEnd ? Size() : 0);
  if (fseeko(f_, static_cast<off_t>(target), SEEK_SET) != 0) throw EStreamError("Stream seek error");
  lastOp_ = 0;
  return target;
}

int64_t TFileStream::Size() {
  std::fflush(f_);
  int64_t pos = ftello(f_);
  if (fseeko(f_, 0, SEEK_END) != 0) return pos;
  int64_t size = ftello(f_);
  fseeko(f_, static_cast<off_t>(pos), SEEK_SET);
  lastOp_ = 0;
  return size;
}

bool TFileStream::Flush() { return std::fflush(f_) == 0 && !std::ferror(f_); }

std::FILE* TFileStream::Release() {
  std::FILE* f = f_;
  f_ = nullptr;
  return f;
}
