#pragma once

#include <string>
#include <vector>

// The argument or environment vector of `strings`, null-terminated; valid
// while `strings` is unchanged.
std::vector<char*> pointersTo(std::vector<std::string>& strings);

// Starts `program` with `argv` and `envp` in a session of its own, with
// every signal's default action and none blocked (a JVM's thread blocks
// some), and with no descriptor of this process but `descriptors`: the
// program gets descriptors[i] as its descriptor i, or the null device where
// it is -1. False when it cannot be started; the process is not waited for.
bool spawnDetached(const std::string& program, char* const argv[],
                   char* const envp[], const std::vector<int>& descriptors);
