#include "BundlerPlatform.h"

namespace BundlerPlatform {

const char* const runtimeLibraryName = "libjli.so";
const bool signsCode = false;

}  // namespace BundlerPlatform
