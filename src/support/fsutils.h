#pragma once
// Folders and file sizes.
#include <cstdint>
#include <string>

// Makes sure Folder exists: one mkdir, and only when that fails the whole
// chain of missing parents. True when the folder exists afterwards.
bool EnsureDir(const std::string& Folder);

// The size of a file in bytes (64-bit), or -1 when it cannot be opened for
// reading or is not a regular file.
int64_t FileSizeOf(const std::string& FileName);
