#include "BundlerPlatform.h"

namespace BundlerPlatform {

const char* const runtimeLibraryName = "libjli.dylib";
const bool signsCode = true;

}  // namespace BundlerPlatform
