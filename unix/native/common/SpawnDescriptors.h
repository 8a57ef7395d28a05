#pragma once

#include <spawn.h>

// Has a program that posix_spawn starts with `actions` and `flags` hold no
// descriptor of this process but those that the file actions give it,
// which must be all of those below `lowest`: the close-on-exec default on
// macOS, an action that closes the others on Linux. False when the action
// cannot be added.
bool keepOnlyGivenDescriptors(int lowest, posix_spawn_file_actions_t* actions,
                              short* flags);
