#pragma once
// File helpers the format readers and writers share: reading what a stream
// still has, the memory check before a picture of an untrusted size is
// allocated, and the writers' way to a file: everything goes into a temporary
// file in the target's folder, which replaces the target only once it is
// complete, so a failed save leaves the target as it was and no temporary
// file behind.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform_stream.h"

// Calls Write with a stream on the temporary file, then flushes, syncs and
// renames it over FileName (through a symbolic link to the file it names;
// the replaced file's permissions are kept). Raises EFCreateError
// "Cannot create file \"name\"" when the temporary file cannot be made, and
// EWriteError "Stream write error" when writing, syncing or renaming fails;
// an exception from Write passes through. The temporary file is removed on
// every failure.
void SaveFileAtomically(const std::string& FileName, const std::function<void(TStream&)>& Write);

// SaveFileAtomically for the writers that answer with a box under Caption
// rather than an exception: "error opening <name>" when the file cannot be
// made, "error writing <name> : <reason>" for any other failure. True when
// the file was saved.
bool SaveFileReporting(const std::string& FileName, const std::string& Caption,
                       const std::function<void(TStream&)>& Write);

// Opens FileName for reading; when it cannot be opened, shows "error opening
// <name>" under Caption and returns null.
std::unique_ptr<TFileStream> OpenFileReporting(const std::string& FileName, const std::string& Caption);

// Raises the stream's own EFOpenError, which names the reason ("Is a named
// pipe", "Is a directory", ...), when FileName is there but is no regular
// file; for readers that hand the name to a library or another program,
// which would wait on a pipe for ever.
void RefuseUnlessRegularFile(const std::string& FileName);

// Reads up to Count bytes, as many as the stream still has; returns the count.
size_t ReadUpTo(TStream& Stream, void* Buffer, size_t Count);

// Raises EOutOfMemory "Not enough memory for an image of W x H pixels" when
// W x H pixels of 4 bytes (computed in 64 bits) exceed the machine's physical
// memory; readers call it before allocating a size a file claims.
void CheckImageFitsMemory(int64_t Width, int64_t Height);

// Pictures up to this many pixels are made whatever the file holds, so a
// short or damaged file may still load with the fill its reader gives.
constexpr int64_t kShortFileMaxPixels = int64_t{4} << 20;

// The rule every reader applies before it allocates a picture its file
// describes: true when Pixels is at most kShortFileMaxPixels, or when Bytes of
// coded data could fill it at MaxPixelsPerByte, the codec's best possible
// ratio (INT64_MAX for a codec with no bound; no ratio can overflow the
// arithmetic). A reader refuses the file with its own error when this is false.
bool FileCanFillPicture(int64_t Pixels, int64_t Bytes, int64_t MaxPixelsPerByte);

// A new empty file in the temporary folder (MakeTempFile) with its absolute
// name, removed when the guard ends; Name is empty when none could be made.
class TTempFileGuard {
 public:
  explicit TTempFileGuard(const std::string& Extension);
  ~TTempFileGuard();
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;
  // Writes what is left of Source into the file, for readers that only take
  // file names; EFCreateError when there is no file.
  void Fill(TStream& Source);
  std::string Name;
};
