// Entry point of brindle.
#include "app/driver.h"

int main(int argc, char** argv) { return brindle_main(argc, argv); }
