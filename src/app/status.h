// Progress status file "VexStatus.dat" and the console questions about the range.
#pragma once
#include <cstdint>

bool new_status_range(uint64_t pmin, uint64_t pmax, bool force);
bool resume_status_range(uint64_t& pmin, uint64_t& pmax, bool force);
void save_status_pmin(uint64_t p);
void save_status_done();
bool ask_clear_vexstatus_dat();
bool ask_pmin_pmax(uint64_t& pmin, uint64_t& pmax);
