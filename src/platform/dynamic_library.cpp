#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace brn {

namespace {

// The loader's text of the last failure on this thread; a default text when
// it has none (so the caller never shows an empty reason).
std::string loaderError(const char* fallback) {
  const char* text = dlerror();
  return text != nullptr ? std::string(text) : std::string(fallback);
}

}  // namespace

TOSLibraryHandle OSLoadLibrary(const char* nativePath, std::string& errorText) {
  dlerror();  // forget an older failure of this thread
  void* library = dlopen(nativePath, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) errorText = loaderError("The library could not be opened");
  return library;
}

void* OSGetProcAddress(TOSLibraryHandle library, const char* name, std::string& errorText) {
  if (library == nullptr) {
    errorText = "The library is not loaded";
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(library, name);
  // A symbol may legitimately sit at address 0 only for special objects,
  // which a module does not export: nullptr is a missing export.
  if (symbol == nullptr) errorText = loaderError("The symbol could not be found");
  return symbol;
}

bool OSFreeLibrary(TOSLibraryHandle library, std::string& errorText) {
  if (library == nullptr) return true;
  dlerror();
  if (dlclose(library) == 0) return true;
  errorText = loaderError("The library could not be closed");
  return false;
}

}  // namespace brn
