#pragma once
// The one way a picture reaches a file: everything is written into a
// temporary file in the target's folder, which replaces the target only once
// it is complete, so a failed or interrupted save leaves the old file as it
// was, never a half-written picture under its name, and no temporary file.
#include <functional>
#include <string>

#include "platform_stream.h"

// How a failed final rename is reported: as the file that could not be made
// (the picture classes) or as a failed write (the format writers).
enum class TRenameFailure { rfCreateError, rfWriteError };

// Calls Write with a stream on the temporary file, then flushes, syncs and
// renames it over FileName (through a symbolic link to the file it names; the
// replaced file's permissions are kept, a new file gets the umask's). Raises
// EFCreateError "Cannot create file \"name\"" when the temporary file cannot
// be made, EWriteError "Stream write error" when writing or syncing fails and
// the error OnRename names when the rename fails; an exception from Write
// passes through. The temporary file is removed on every failure.
void ReplaceFileAtomically(const std::string& FileName, const std::function<void(TStream&)>& Write,
                           TRenameFailure OnRename);
