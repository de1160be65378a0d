#pragma once
// The one way a picture reaches a file: everything is written into an
// unnamed temporary file in the target's folder, which is named and replaces
// the target only once it is complete and synced, so a failed or interrupted
// save leaves the old file as it was, never a half-written picture under its
// name, and no full-size temporary file.
#include <functional>
#include <string>

#include "platform_stream.h"

// How a failed final rename is reported: as the file that could not be made
// (the picture classes) or as a failed write (the format writers).
enum class TRenameFailure { rfCreateError, rfWriteError };

// Calls Write with a stream on the temporary file, then flushes, syncs and
// renames it over FileName and syncs the folder. A symbolic link (dangling or
// not) is followed and the file it names replaced; the link stays a link. The
// replaced file's permissions are kept, and its owner and group when root
// saves; a new file gets the umask's permissions. Raises EFCreateError
// "Cannot create file \"name\"" when the target exists but may not be written
// (no write permission, not a regular file) or the temporary file cannot be
// made, EWriteError "Stream write error" when writing or syncing fails and
// the error OnRename names when the final rename fails; an exception from
// Write passes through. The temporary file is removed on every failure.
void ReplaceFileAtomically(const std::string& FileName, const std::function<void(TStream&)>& Write,
                           TRenameFailure OnRename);

// The file a save of FileName really writes: FileName with every symbolic
// link along the chain followed, even to a target that does not exist yet.
std::string ResolveSaveTarget(const std::string& FileName);
