#pragma once
// Message and exception boxes, window captions and the screen's text scale.
// Every message the shell and the editing engine show goes through
// ShowMessageBox; caught exceptions are reported in one wording by
// ShowExceptionBox. All of them may be called from any thread.
#include <cstdint>
#include <exception>
#include <string>

#include "platform_messagebox.h"

// The application's box: Text with the application title as caption, the
// style Flags and always on top (MB_TOPMOST). Returns the pressed button's id.
int ShowMessageBox(const std::string& Text, uint32_t Flags);

// The box the file-format units show when they report their own failure: no
// owner window, the unit's name as caption ("img_zub", "img_pxm"), Flags as
// given. Returns the pressed button's id.
int ShowUnitMessageBox(const std::string& Text, const std::string& UnitName, uint32_t Flags);

// "Exception (" + class name + ") " + Place + ": " + message, with the error
// icon, through ShowMessageBox. Place names the operation ("on InitializeApp").
void ShowExceptionBox(const std::exception& E, const std::string& Place);
// The same for the exception being handled; call it inside a catch block
// (it also reports exceptions that do not derive from std::exception).
void ShowCurrentExceptionBox(const std::string& Place);
// The class name the box shows: the engine's own exception classes name
// themselves; a failed allocation is EOutOfMemory; other standard exceptions
// show their C++ type.
std::string ExceptionClassName(const std::exception& E);

// A window whose caption can be read (the Qt windows implement it).
class TCaptionedWindow {
 public:
  virtual ~TCaptionedWindow() = default;
  virtual std::string WindowText() const = 0;
};

// The window's caption, at most 255 bytes (never cutting a UTF-8 character
// in two); "" without a window.
void GetWindowCaption(const TCaptionedWindow* Window, std::string& Caption);

// How large the screen draws text, in 96ths: 96 means the size of a
// 96-dots-per-inch display.
struct TTextScale {
  int32_t Horizontal = 96;
  int32_t Vertical = 96;
};

// Measures "ABCDEFGHIJ" in Arial 24 points: width * 96 div 202, height * 96
// div 36. Stays (96, 96) when the text cannot be measured.
void MeasureTextScale(TTextScale& Scale);
