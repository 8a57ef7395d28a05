#include <spawn.h>

#include "SpawnDescriptors.h"

bool keepOnlyGivenDescriptors(int lowest, posix_spawn_file_actions_t* actions,
                              short*) {
  return posix_spawn_file_actions_addclosefrom_np(actions, lowest) == 0;
}
