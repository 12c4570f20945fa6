// Run settings chosen on the command line and read across the program.
#pragma once

extern int verbose;        // 0, 1 with -v, 2 with -vv
extern bool outputdupes;   // report excluded factors (false with -d)
