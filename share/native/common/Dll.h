#pragma once

#include <memory>
#include <string>

#include "ErrorHandling.h"
#include "tstrings.h"

// An open dynamic library. Copying opens the library once more, so that every
// object closes its own handle; the loader keeps the library mapped until the
// last one is closed.
class Dll {
 public:
  explicit Dll(const tstrings::any& libPath);
  Dll(const Dll& other);
  Dll& operator=(const Dll&) = delete;
  ~Dll() = default;

  // Null for a missing symbol when `throwIfNotFound` is false.
  void* getFunction(const std::string& name, bool throwIfNotFound) const;

  template <class T>
  void getFunction(const tstrings::any& name, T& addr) const {
    addr = reinterpret_cast<T>(getFunction(name.str(), true));
  }

  const std::string& getPath() const { return path; }

  static void freeLibrary(void* handle);

  // `name` as the libraries loaded for the whole process define it (the
  // runtime loads its JVM library so), or null.
  static void* findInProcess(const std::string& name);

 private:
  struct LibraryReleaser {
    void operator()(void* h) const { freeLibrary(h); }
  };

  const std::string path;
  const std::unique_ptr<void, LibraryReleaser> handle;
};

// A function pointer that keeps the library loaded with a handle of its own.
template <class T>
class DllFunction {
 public:
  DllFunction(const Dll& library, const tstrings::any& funcName)
      : lib(library), fn(nullptr), name(funcName.str()) {
    // The builder, not `name`: a std::string would make the call ambiguous
    // with getFunction(const std::string&, bool), as T converts to bool.
    lib.getFunction(funcName, fn);
  }

  operator T() const {  // NOLINT(google-explicit-constructor)
    if (fn == nullptr) {
      THROW_ERROR(tstrings::any() << name << "() function is not available in "
                                  << lib.getPath());
    }
    return fn;
  }

 private:
  const Dll lib;
  T fn;
  const std::string name;
};
