#pragma once
// Opening files, documents and addresses with the desktop, and starting the
// program itself again. Everything is started detached and not waited for;
// only the help page's opener has its end told, since a failure there is
// the user's only answer to F1.
#include <cstdint>
#include <string>
#include <vector>

#include "platform_process.h"

// Opens File with the desktop's handler (xdg-open) in Folder (the program
// folder when empty). An executable program (a binary or a "#!" script, not
// just any file with the execute bit) is started itself, with Parameters
// split into arguments by the original platform's quoting rules; for any
// other file the parameters are not passed (the handler takes one file).
// The result of the start is not reported.
void ShellOpen(const std::string& File, const std::string& Parameters, const std::string& Folder);

// ShellOpen of a file or an address, in the current folder.
void OpenDocument(const std::string& FileOrAddress);

// Hands a document (not a program) to the desktop's handler in the current
// folder, as OpenDocument does, but with the handler's end watched: returns
// 0 with Watch to collect (PlatformCollectWatched) once its EndFd is
// readable, or the system error code when the handler could not start.
int32_t OpenDocumentWatched(const std::string& Document, TWatchedStart& Watch);

// Starts the program's own executable again in the current folder with
// Parameter as one argument, whatever blanks it holds (no argument when it
// is empty): "@@", "@" + file name, "@".
void RunSelf(const std::string& Parameter);
// The same with an argument vector.
void RunSelf(const std::vector<std::string>& Arguments);
// The argument vector RunSelf starts: the program's own file, then Arguments.
std::vector<std::string> SelfStartArguments(const std::vector<std::string>& Arguments);
