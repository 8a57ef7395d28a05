# Cross-builds the launcher and the bundle tool as Mach-O executables for
# macOS 11 and later, from Linux.
#
# Compiler: zig's clang, which brings the Darwin C headers, a text stub of
# macOS 11's libSystem, and libc++, which it builds for the target once and
# which is linked in statically. CoreFoundation and Cocoa are text stubs in
# sdk/Frameworks, with CoreFoundation's stand-in header in sdk/include; every
# other header is one of Darwin's.
#
# Linker: Debian's ld64.lld 16, driven by Debian's clang. zig's own linker
# exports every global symbol, hidden ones too, and knows no exported-symbols
# list; ld64.lld reads the same options as Apple's linker and honours them,
# so the exports, -dead_strip and the ad-hoc signature of arm64 code come out
# as they do on a Mac. Version 16 and no older: ld64.lld 14 mislinks arm64
# unwind information (no frame description starts at its function; with
# -dead_strip it drops __eh_frame, the personality routine and the LSDAs),
# so on an Apple silicon Mac no C++ exception could be caught.
#
# Set by the presets: WRAPKIN_MACOS_ARCH (arm64 or x86_64) and WRAPKIN_ZIG,
# the compiler that tools/install-deps --macos-cross installs.

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20.1.0)  # the kernel of macOS 11
set(CMAKE_SYSTEM_PROCESSOR ${WRAPKIN_MACOS_ARCH})
# try_compile projects read this file again: hand them the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
  WRAPKIN_MACOS_ARCH WRAPKIN_ZIG WRAPKIN_MACOS_CXX_RUNTIME
  WRAPKIN_MACOS_CXX_RUNTIME_FLAGS)

if(WRAPKIN_MACOS_ARCH STREQUAL "arm64")
  set(zig_target aarch64-macos.11.0)
elseif(WRAPKIN_MACOS_ARCH STREQUAL "x86_64")
  set(zig_target x86_64-macos.11.0)
else()
  message(FATAL_ERROR "WRAPKIN_MACOS_ARCH must be arm64 or x86_64, not \"${WRAPKIN_MACOS_ARCH}\"")
endif()
if(NOT EXISTS "${WRAPKIN_ZIG}")
  message(FATAL_ERROR "no zig at \"${WRAPKIN_ZIG}\": run tools/install-deps --macos-cross")
endif()
find_program(WRAPKIN_CLANG NAMES clang++-14 clang++ REQUIRED)
# Not cached: a build folder configured with an older one finds this one.
find_program(ld64_lld NAMES ld64.lld-16 REQUIRED NO_CACHE)

set(stubs "${CMAKE_CURRENT_LIST_DIR}/sdk")
get_filename_component(zig_home "${WRAPKIN_ZIG}" DIRECTORY)
# zig's caches, libc++ for each target the largest part of a first build,
# stay in the build folder beside the compiler.
get_filename_component(zig_cache "${zig_home}/../../../cache" ABSOLUTE)
set(scripts "${CMAKE_BINARY_DIR}/toolchain")

# zig is one program with the tools as subcommands; CMake wants one
# executable per tool, so each gets a small script.
function(write_script name command)
  file(WRITE "${scripts}/${name}" "#!/bin/sh\n"
    "export ZIG_GLOBAL_CACHE_DIR='${zig_cache}' ZIG_LOCAL_CACHE_DIR='${zig_cache}'\n"
    "exec ${command} \"$@\"\n")
  file(CHMOD "${scripts}/${name}" FILE_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
endfunction()
write_script(c++ "'${WRAPKIN_ZIG}' c++ -target ${zig_target}")
write_script(ar "'${WRAPKIN_ZIG}' ar")
write_script(ranlib "'${WRAPKIN_ZIG}' ranlib")

# The static C++ runtime that zig builds for the target, found in zig's own
# link of a small program. Builtins and the rest of the C library come from
# libSystem, as on a Mac. (CMake's look at the compiler's implicit link
# settings fails on zig and says so; the link below does without them.)
# zig builds it with the flags of that link: with frame pointers, as the
# programs are compiled (CMakeLists.txt). New flags, a new runtime.
set(runtime_flags -O2 -fno-omit-frame-pointer)
foreach(archive IN LISTS WRAPKIN_MACOS_CXX_RUNTIME)
  if(NOT EXISTS "${archive}")  # zig's cache was emptied
    unset(WRAPKIN_MACOS_CXX_RUNTIME CACHE)
  endif()
endforeach()
if(NOT WRAPKIN_MACOS_CXX_RUNTIME_FLAGS STREQUAL runtime_flags)
  unset(WRAPKIN_MACOS_CXX_RUNTIME CACHE)
endif()
if(NOT WRAPKIN_MACOS_CXX_RUNTIME)
  file(WRITE "${scripts}/probe.cpp" "#include <string>\nint main() { return std::string(\"x\").size() == 1 ? 0 : 1; }\n")
  execute_process(
    COMMAND "${scripts}/c++" ${runtime_flags} -v "${scripts}/probe.cpp" -o "${scripts}/probe"
    RESULT_VARIABLE probe_result OUTPUT_VARIABLE probe_out ERROR_VARIABLE probe_out)
  string(REGEX MATCH "zig ld [^\n]*" zig_link_line "${probe_out}")
  string(REGEX MATCHALL "[^ ]*/libc\\+\\+(abi)?\\.a" runtime "${zig_link_line}")
  list(LENGTH runtime runtime_count)
  if(NOT probe_result EQUAL 0 OR NOT runtime_count EQUAL 2)
    message(FATAL_ERROR "zig did not build the C++ runtime for ${zig_target}:\n${probe_out}")
  endif()
  set(WRAPKIN_MACOS_CXX_RUNTIME "${runtime}" CACHE INTERNAL "")
  set(WRAPKIN_MACOS_CXX_RUNTIME_FLAGS "${runtime_flags}" CACHE INTERNAL "")
endif()

# libSystem as -lSystem finds it.
file(MAKE_DIRECTORY "${scripts}/lib")
file(CREATE_LINK "${zig_home}/lib/libc/darwin/libSystem.11.tbd"
  "${scripts}/lib/libSystem.tbd" SYMBOLIC)
list(JOIN WRAPKIN_MACOS_CXX_RUNTIME "' '" runtime_args)
# A linker version of Xcode 12's or later, for clang to speak to ld64.lld
# in today's options (-platform_version).
write_script(link "'${WRAPKIN_CLANG}' -target ${WRAPKIN_MACOS_ARCH}-apple-macos11 \
-mlinker-version=609 --ld-path='${ld64_lld}' -nostdlib++ \
-L'${scripts}/lib' -F'${stubs}/Frameworks'")
set(CMAKE_CXX_LINK_EXECUTABLE
  "${scripts}/link <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES> '${runtime_args}'")

set(CMAKE_CXX_COMPILER "${scripts}/c++")
# With a target named, CMake identifies the compiler from an object file.
# Without one it links a program through zig, which builds a debug libc++
# for it: a minute of every first configure, for nothing.
set(CMAKE_CXX_COMPILER_TARGET ${zig_target})
set(CMAKE_AR "${scripts}/ar" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${scripts}/ranlib" CACHE FILEPATH "" FORCE)
# No Xcode to ask for a system root: zig brings its own headers.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "" FORCE)

set(CMAKE_CXX_FLAGS_INIT "-isystem ${stubs}/include")
# zlib, as macOS has it, for find_package(ZLIB): the library is a text stub
# of /usr/lib/libz.1.dylib, and zlib.h one of zig's Darwin headers, which the
# compiler finds by itself. The include folder named is the stubs' own, on
# the command line anyway: zig's header folders must keep their order, and
# the build machine's zlib.h must stay out.
set(ZLIB_INCLUDE_DIR "${stubs}/include" CACHE PATH "" FORCE)
set(ZLIB_LIBRARY "${stubs}/lib/libz.tbd" CACHE FILEPATH "" FORCE)
# As in Xcode's release builds: the exported interface must survive it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-dead_strip")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
