#pragma once

// Linux stand-in for the one macOS spawn flag that glibc lacks, with
// Apple's value, so that the macOS code compiles here too. Nothing that
// uses it is linked on Linux, which closes descriptors with an action
// instead.

#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000
