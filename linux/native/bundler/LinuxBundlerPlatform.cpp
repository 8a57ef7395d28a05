#include "BundlerPlatform.h"

namespace BundlerPlatform {

const char* const runtimeLibraryName = "libjli.so";

}  // namespace BundlerPlatform
