#pragma once
// Running an outside program and waiting for it.
#include <cstdint>
#include <string>

#include "platform_process.h"

// Runs the program of CommandLine (split into arguments by the original
// platform's quoting rules, never through a shell) in Folder (the program
// folder when empty) and waits at most TimeoutMs (INFINITE for no limit).
// ShowState SW_HIDE sends the child's stdin, stdout and stderr to /dev/null;
// CreationFlags IDLE_PRIORITY_CLASS runs it at nice 19,
// BELOW_NORMAL_PRIORITY_CLASS at nice 10.
// Returns the exit code (128 + the signal number for a killed child); -1 when
// the wait timed out (the child runs on and is reaped when it ends); the
// system error code when the program could not be started (2 when it does not
// exist, 267 when the folder does not). Never throws.
int32_t RunAndWait(const std::string& CommandLine, const std::string& Folder, int32_t ShowState,
                   uint32_t CreationFlags, uint32_t TimeoutMs);
