#pragma once
// Libraries loaded at run time (plug-ins, the scanner source manager): a
// loaded library is an object that unloads itself when it goes.
#include <memory>
#include <string>

class TLibrary {
 public:
  // The library at FileName, resolved at once; null when it cannot be
  // loaded (missing, not a library of this machine, unresolved symbols).
  static std::unique_ptr<TLibrary> Load(const std::string& FileName);
  ~TLibrary();
  TLibrary(const TLibrary&) = delete;
  TLibrary& operator=(const TLibrary&) = delete;

  // The address of the exported Name; null when it is not exported.
  void* Symbol(const char* Name) const;
  template <class T>
  T Proc(const char* Name) const {
    return reinterpret_cast<T>(Symbol(Name));
  }

 private:
  explicit TLibrary(void* Handle) : handle_(Handle) {}
  void* handle_;
};
