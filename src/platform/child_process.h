// Other programs run by this one, and stopped from outside at any moment:
// what the tests need to see that a save killed part-way leaves whole files.
// On Linux posix_spawn and SIGKILL; on Windows CreateProcessW and
// TerminateProcess. Neither gives the stopped program any chance to run code.
#pragma once

#include <string>
#include <vector>

namespace oct::plat {

struct ChildProcess;

// What childWait learns of a program's end.
constexpr int kChildKilled = -2;   // stopped by childKill before it ended by itself
constexpr int kChildUnknown = -1;  // its end could not be learnt

// Starts `program` (a path) with `args`, standard input and output on the null
// device and standard error shared with this process. Null when it cannot be
// started.
ChildProcess* childStart(const std::u16string& program, const std::vector<std::u16string>& args);

// Stops the program at once. Null, or a program that has ended already, does
// nothing.
void childKill(ChildProcess* child);

// Waits for the program to end and releases `child`: its exit code (0 to 255
// on Linux), kChildKilled when childKill ended it, else kChildUnknown.
int childWait(ChildProcess* child);

}  // namespace oct::plat
