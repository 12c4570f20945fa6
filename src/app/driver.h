// The program's spine: command line, range settlement, start-up, main loop
// over the primes of the range, and the end of the run.
#pragma once

// Runs brindle with the given arguments; returns the exit status.
// A host (the volunteer-computing client) may follow the run and request
// checkpoints, pauses and a stop.
class run_host;
int brindle_main(int argc, char** argv, run_host* host = nullptr);
