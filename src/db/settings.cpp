// Owner of the run settings.
#include "db/settings.h"

int verbose = 0;
bool outputdupes = true;
bool progress_line_open = false;
