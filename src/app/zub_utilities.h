#pragma once
// The program's start and end: the hand-over to a running window, the splash
// or the direct start, InitializeApp (settings, recent files, placement,
// associations, arguments) and FinalizeApp (settings written back).
#include <string>
#include <vector>

class QWidget;
class TzubForm;

// True when a running window took the first argument and this process must
// end. Never with no arguments, an "@" first argument or Ctrl held.
bool HandOverToRunningInstance(const std::vector<std::string>& Args, bool CtrlHeld);

// Starts reading the first picture the arguments open (by the rules of
// HandleArguments) while the window is being made; nothing when they open none.
void ReadFirstPictureAhead(const std::vector<std::string>& Args);

// Sets the title, then shows the splash (whose timer runs InitializeApp) or,
// for an "@" first argument, runs InitializeApp and shows the window at once.
void StartUp(TzubForm& Form, const std::vector<std::string>& Args);

// Reads the settings and the recent files, places the window, renews the
// associations when the program changed, and handles the arguments. An
// exception is shown as its message + "\non InitializeApp" and the start goes on.
void InitializeApp(TzubForm& Form, const std::vector<std::string>& Args);

// Writes the settings in their exit order and saves or deletes the recent files.
void FinalizeApp(TzubForm& Form);

// SIGTERM and SIGINT close the window the normal way (settings are kept).
void CloseOnTermination(QWidget& Window);
