#include "DetachedSpawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include "SpawnDescriptors.h"

namespace {

// Closes the spawn attributes and the moved descriptors on every way out.
class SpawnSetup {
 public:
  SpawnSetup() {
    actionsReady = posix_spawn_file_actions_init(&actions) == 0;
    attributesReady = posix_spawnattr_init(&attributes) == 0;
  }

  ~SpawnSetup() {
    for (int fd : moved) {
      close(fd);
    }
    if (attributesReady) {
      posix_spawnattr_destroy(&attributes);
    }
    if (actionsReady) {
      posix_spawn_file_actions_destroy(&actions);
    }
  }

  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool ready() const { return actionsReady && attributesReady; }

  // Gives the program `source` as descriptor `target`; -1 gives it the null
  // device.
  bool give(int source, int target, int count) {
    if (source < 0) {
      return posix_spawn_file_actions_addopen(
                 &actions, target, "/dev/null",
                 target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0) == 0;
    }
    // A source among the numbers handed out would be overwritten before its
    // turn, and dup2 onto the same number would leave it close-on-exec.
    if (source < count) {
      source = fcntl(source, F_DUPFD_CLOEXEC, count);
      if (source < 0) {
        return false;
      }
      moved.push_back(source);
    }
    return posix_spawn_file_actions_adddup2(&actions, source, target) == 0;
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;

 private:
  bool actionsReady = false;
  bool attributesReady = false;
  std::vector<int> moved;
};

}  // namespace

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) {
    pointers.push_back(&s[0]);
  }
  pointers.push_back(nullptr);
  return pointers;
}

bool spawnDetached(const std::string& program, char* const argv[],
                   char* const envp[], const std::vector<int>& descriptors) {
  SpawnSetup setup;
  if (!setup.ready()) {
    return false;
  }
  const int count = static_cast<int>(descriptors.size());
  for (int target = 0; target < count; ++target) {
    if (!setup.give(descriptors[target], target, count)) {
      return false;
    }
  }
  short flags =
      POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  sigset_t none;
  sigemptyset(&none);
  pid_t pid = 0;
  return keepOnlyGivenDescriptors(count, &setup.actions, &flags) &&
         posix_spawnattr_setsigdefault(&setup.attributes, &all) == 0 &&
         posix_spawnattr_setsigmask(&setup.attributes, &none) == 0 &&
         posix_spawnattr_setflags(&setup.attributes, flags) == 0 &&
         posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes,
                     argv, envp) == 0;
}
