#pragma once
// Unique temporary files in the temporary folder ($TMPDIR, else /tmp).
#include <string>

// Creates a new empty file named "t" + 7 hex digits + "." + Extension, the
// digits taken from a hash of the current time; when that name is taken, the
// next names "temp" + 5 hex digits + "." + Extension are tried until one can
// be created. The file is created exclusively, so two callers never get the
// same name. Returns the full name, or "" when no file could be created. The
// caller deletes the file.
std::string MakeTempFile(const std::string& Extension);

// The temporary folder with a trailing "/".
std::string TempFolder();
