#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "StderrLog.h"

// What a start and the keeper of its log (a process of its own: the
// launcher executable again, in a mode of its own) share. The start writes
// into a pipe, the keeper copies what arrives into the log; over a stream
// socket the start asks and the keeper answers.
namespace StderrLogChannel {

// The keeper's descriptors.
constexpr int kPipe = 0;     // the read end of the pipe
constexpr int kChannel = 1;  // the keeper's end of the socket
constexpr int kLogFile = 3;  // the log, locked
constexpr int kDescriptorCount = 4;

// Requests, one byte each.
//
// Answered with the last lines, once everything written to the pipe before
// the request has been logged: 4 bytes, the size of what follows in native
// byte order, then each line and a line feed.
constexpr char kTailRequest = 't';
// The start's process ends through its exit handlers; not answered. A
// process that ends without it ended at once, killed or by _exit.
constexpr char kFarewell = 'f';

// The environment variable that tells the launcher executable that it is
// the keeper, with the start's process id; and the keeper's arguments.
constexpr char kKeeperMark[] = "WRAPKIN_STDERR_LOG_KEEPER";
enum { kTitle, kLogPath, kArgumentCount };

std::string encodeLines(const std::vector<std::string>& lines);

// Sends all of `bytes`; false when the other end is gone. Never raises
// SIGPIPE.
bool sendAll(int fd, const char* bytes, std::size_t size);

// Makes a socket of the pair never raise SIGPIPE where the system has no
// flag for single sends.
void setNoSigpipe(int fd);

// In the keeper: what StderrLog::tail() gives. False in any other process.
bool keeperTail(StderrLog::Tail& tail);

}  // namespace StderrLogChannel
