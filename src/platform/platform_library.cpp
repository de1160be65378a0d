// dlopen with every symbol bound at load time, so that a library with a
// missing dependency fails here and not in the middle of a call; RTLD_LOCAL
// keeps two plug-ins' equal symbol names apart.
#include "platform_library.h"

#include <dlfcn.h>

std::unique_ptr<TLibrary> TLibrary::Load(const std::string& FileName) {
  void* handle = dlopen(FileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return std::unique_ptr<TLibrary>(new TLibrary(handle));
}

TLibrary::~TLibrary() { dlclose(handle_); }

void* TLibrary::Symbol(const char* Name) const { return dlsym(handle_, Name); }
