#include "utilities.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <typeinfo>

#include "platform_exceptions.h"
#include "platform_text.h"

int ShowMessageBox(const std::string& Text, uint32_t Flags) {
  TMessageBoxRequest r;
  r.Text = Text;
  r.Caption = ApplicationTitle();
  r.Flags = Flags | MB_TOPMOST;
  r.ApplicationOwned = true;
  return PlatformMessageBox(r);
}

int ShowUnitMessageBox(const std::string& Text, const std::string& UnitName, uint32_t Flags) {
  TMessageBoxRequest r;
  r.Text = Text;
  r.Caption = UnitName;
  r.Flags = Flags;
  r.ApplicationOwned = false;
  return PlatformMessageBox(r);
}

std::string ExceptionClassName(const std::exception& E) {
  if (const auto* own = dynamic_cast<const Exception*>(&E)) return own->ClassName();
  if (dynamic_cast<const std::bad_alloc*>(&E)) return "EOutOfMemory";
  const char* mangled = typeid(E).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return (status == 0 && demangled) ? std::string(demangled.get()) : std::string(mangled);
}

void ShowExceptionBox(const std::exception& E, const std::string& Place) {
  ShowMessageBox("Exception (" + ExceptionClassName(E) + ") " + Place + ": " + E.what(), MB_ICONERROR);
}

void ShowCurrentExceptionBox(const std::string& Place) {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    ShowExceptionBox(e, Place);
  } catch (...) {
    ShowMessageBox("Exception (Exception) " + Place + ": unknown exception", MB_ICONERROR);
  }
}

void GetWindowCaption(const TCaptionedWindow* Window, std::string& Caption) {
  Caption.clear();
  if (!Window) return;
  Caption = Window->WindowText();
  if (Caption.size() <= 255) return;
  size_t cut = 255;
  // Back up over continuation bytes so that no character is cut in two.
  while (cut > 0 && (static_cast<unsigned char>(Caption[cut]) & 0xC0) == 0x80) --cut;
  Caption.resize(cut);
}

void MeasureTextScale(TTextScale& Scale) {
  Scale = TTextScale();
  try {
    TFont font;
    font.Name = "Arial";
    font.Size = 24;
    font.Style = 0;
    const TTextExtent e = PlatformTextExtent(font, "ABCDEFGHIJ");
    if (e.cx <= 0 || e.cy <= 0) return;
    Scale.Horizontal = e.cx * 96 / 202;
    Scale.Vertical = e.cy * 96 / 36;
  } catch (...) {
    Scale = TTextScale();
  }
}
