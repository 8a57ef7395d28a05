#pragma once

#include <string>
#include <vector>

// The files of one class-data archive <a> on disk:
//   <a>              the archive, put there only once complete
//   <a>.done         the launcher's record of it: size, modification time
//                    and file as the launcher completed it
//   <a>.failed       left by an attempt to make it that failed
//   <a>.<pid>.lock   locked by start <pid>, and by the background dump it
//                    leaves, for as long as they make the archive
//   <a>.<pid>.tmp    what the runtime of start <pid> writes
//   <a>.<pid>.dump   what the background dump of start <pid> writes
namespace AppCdsStore {

// Empty when the archive is there as the launcher completed it; otherwise
// why not, in a few words.
std::string whyIncomplete(const std::string& archive);

// Whether another start, or the background dump it left, is making the
// archive now. Removes what ended ones left behind.
bool isBeingMade(const std::string& archive);

// Whether an attempt to make the archive failed within the last day.
bool failedRecently(const std::string& archive);

// Locks the archive for this process to make. The lock lasts as long as
// this process and the background dump it may leave. False when it cannot
// be had.
bool lockForMaking(const std::string& archive);

std::string startOutput(const std::string& archive);
std::string dumpOutput(const std::string& archive);

// What becomes of a making start's output once the process exits.
struct Completion {
  std::string archive;
  // The file the start's runtime writes: the archive itself, or a class
  // list for `dumpCommand`.
  std::string produced;
  // When not empty: the command, run in the background once this process
  // has ended, that makes the archive from `produced` into dumpOutput().
  std::vector<std::string> dumpCommand;
};

// When the process exits, after the runtime has written what it writes at
// exit: checks what was made and moves it into place, or notes the failure.
// A dump runs detached, with no standard streams, so that nothing waits
// for it.
void completeAtExit(const Completion& completion);

}  // namespace AppCdsStore
