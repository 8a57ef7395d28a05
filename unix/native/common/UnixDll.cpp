#include "Dll.h"

#include <dlfcn.h>

#include <string>

#include "ErrorHandling.h"
#include "tstrings.h"

namespace {

// dlerror() is null when the loader has nothing to report, for instance when
// a symbol is defined with a null address.
std::string loaderError() {
  const char* text = dlerror();
  return text != nullptr ? text : "no error reported by the loader";
}

void* loadLibrary(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY);
  if (handle == nullptr) {
    const std::string reason = loaderError();
    THROW_ERROR(tstrings::any()
                << "dlopen(" << path << ") failed. Error: " << reason);
  }
  return handle;
}

}  // namespace

Dll::Dll(const tstrings::any& libPath)
    : path(libPath.str()), handle(loadLibrary(path)) {}

Dll::Dll(const Dll& other) : path(other.path), handle(loadLibrary(path)) {}

void* Dll::getFunction(const std::string& name, bool throwIfNotFound) const {
  dlerror();  // Drop stale text: a null result may come without an error.
  void* fn = dlsym(handle.get(), name.c_str());
  if (fn == nullptr && throwIfNotFound) {
    const std::string reason = loaderError();
    THROW_ERROR(tstrings::any() << "dlsym(" << path << ", " << name
                                << ") failed. Error: " << reason);
  }
  return fn;
}

void* Dll::findInProcess(const std::string& name) {
  return dlsym(RTLD_DEFAULT, name.c_str());
}

void Dll::freeLibrary(void* handle) {
  if (handle != nullptr) {
    dlclose(handle);
  }
}
