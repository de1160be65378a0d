#pragma once
// The program's own version and file, and the machine's memory.
#include <cstdint>
#include <string>

// The program's file version ("0.1.0.0"), set by the build; "" when unknown.
std::string GetFileVersion();

// Physical memory in megabytes (bytes shr 20), or the memory limit of the
// process's control group when that is lower, capped at 4095 as a 32-bit
// program saw it. The undo stores are sized from it.
int32_t TotalPhysicalMB();

// The running program's full file name, and its folder without a trailing "/".
std::string ProgramFile();
std::string ProgramFolder();
