// Run settings chosen on the command line and read across the program.
#pragma once

extern int verbose;        // 0, 1 with -v, 2 with -vv
extern bool outputdupes;   // report excluded factors (false with -d)

// A progress report stands unfinished on the terminal that standard output
// also writes to: a console line must start on a new line first.
extern bool progress_line_open;
