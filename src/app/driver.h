// The program's spine: command line, range settlement, start-up, main loop
// over the primes of the range, and the end of the run.
#pragma once

// Runs brindle with the given arguments; returns the exit status.
int brindle_main(int argc, char** argv);
