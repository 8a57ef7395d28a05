#pragma once

#include <string>
#include <vector>

// The files of one class-data archive <a> on disk, in a folder that is the
// user's alone (AppCds checks that first). Each is opened without following
// a link.
//   <a>              the archive, put there only once complete
//   <a>.done         the launcher's record of it: size, modification time
//                    and file as the launcher completed it, then the state
//                    of each file beyond the key that the runtime checks
//                    before it maps the archive (see ClassPathLog)
//   <a>.failed       left by an attempt to make it that failed; its
//                    modification time says when
//   <a>.lock         locked by the start that makes the archive, and by the
//                    waiter it leaves, for as long as they make it; never
//                    removed, so that one flock decides who makes it
//   <a>.<pid>.tmp    what the runtime of start <pid> writes
//   <a>.<pid>.dump   what the dump that start <pid> leaves writes
namespace AppCdsStore {

// Empty when the archive is there as the launcher completed it; otherwise
// why not, in a few words.
std::string whyIncomplete(const std::string& archive);

enum class Lock { taken, heldElsewhere, failed };

// Takes the archive's lock for this process without waiting. The lock
// lasts as long as this process and the waiter it may leave, or until
// releaseLock.
Lock lockForMaking(const std::string& archive);
void releaseLock();

// Whether `descriptor` is open on the lock file that is in the archive's
// folder now. A lock taken on a file that another process removed with its
// folder (pruning) locks nothing.
bool isLockOf(int descriptor, const std::string& archive);

// With the lock: creates the file the start's runtime writes, empty, so
// that the runtime never finds it cannot (it would say so on the
// application's standard error). False, with the system's reason in
// `failure`, when it cannot be created.
bool createStartOutput(const std::string& archive, std::string& failure);

// With the lock: removes what earlier starts that ended without finishing
// left beside the archive.
void removeLeftovers(const std::string& archive);

// Whether an attempt to make the archive failed within the last day.
bool failedRecently(const std::string& archive);

// Removes `folder`, a key folder of the launcher's, with all it holds,
// unless another process holds the lock of an archive in it: pruning must
// not take a folder from a start that is making its archive. Holds those
// locks itself while it removes, so that no start begins making there
// meanwhile.
void removeUnlessBeingMade(const std::string& folder);

std::string lockFile(const std::string& archive);
std::string startOutput(const std::string& archive);
std::string dumpOutput(const std::string& archive);

// Moves `made` into place as the archive, with its record, if it begins as
// a class-data archive does. The record notes the state of `checkedFiles`
// too (whether each is there, its size and modification time): a start
// finds the archive incomplete once one of them has changed.
// REQUIRES: the caller holds the archive's lock.
bool commit(const std::string& archive, const std::string& made,
            const std::vector<std::string>& checkedFiles = {});

// Notes that an attempt to make the archive failed just now.
void noteFailure(const std::string& archive);

// What becomes of a making start's output once the process exits.
struct Completion {
  std::string archive;
  // The file the start's runtime writes: the archive itself, or a class
  // list for `dumpCommand`.
  std::string produced;
  // When not empty: the command that makes the archive from `produced`
  // into dumpOutput(), which a waiter runs once this process has ended.
  std::vector<std::string> dumpCommand;
  // The command with which the runtime shows that it maps what the dump
  // made into a start like this one, and logs the files it checks for
  // that (ClassPathLog).
  std::vector<std::string> proofCommand;
  // The paths that the archive's folder's key already follows
  // (CacheDir::follows); empty when the archive is not in a key folder.
  std::vector<std::string> keySources;
  // This process's executable, which the waiter runs again.
  std::string launcher;
};

// When the process exits, after the runtime has written what it writes at
// exit: moves an archive the runtime wrote into place, or leaves a waiter
// that runs the dump (AppCdsWaiter), or notes the failure.
void completeAtExit(const Completion& completion);

}  // namespace AppCdsStore
