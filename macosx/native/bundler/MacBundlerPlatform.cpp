#include "BundlerPlatform.h"

namespace BundlerPlatform {

const char* const runtimeLibraryName = "libjli.dylib";

}  // namespace BundlerPlatform
