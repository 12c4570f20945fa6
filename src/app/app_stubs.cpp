// Placeholders for the driver until it lands.
#include "app/cli.h"
#include "app/driver.h"
#include "app/stats.h"
#include "app/status.h"

time_acc timetot;
void print_usage() {}
uint64_t toint(const std::string&) { return 0; }
bool new_status_range(uint64_t, uint64_t, bool) { return true; }
bool resume_status_range(uint64_t&, uint64_t&, bool) { return true; }
void save_status_pmin(uint64_t) {}
void save_status_done() {}
bool ask_clear_vexstatus_dat() { return false; }
bool ask_pmin_pmax(uint64_t&, uint64_t&) { return false; }
void time_start(time_acc*) {}
void time_stop(time_acc*) {}
void report_statistics(uint64_t, uint64_t, uint64_t) {}
int brindle_main(int, char**) { return 1; }
