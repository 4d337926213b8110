// The console of a command-line program: whether standard error goes to a
// person, and byte-exact standard input and output.
#pragma once

namespace oct::plat {

// True when the process's standard error goes to a terminal (a console on
// Windows), so that output meant for a person there, such as a progress bar,
// may be drawn.
bool stderrIsTerminal();

// For a command-line program: standard input and output carry bytes as they
// are (no line-end translation), and text for the console is UTF-8. Stop
// gives the console back its output code page.
void consoleStart();
void consoleStop();

}  // namespace oct::plat
