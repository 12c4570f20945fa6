// Placeholder until the candidate file reader and writer land.
#include "db/candidates.h"

int32_t ak[kNumK] = {4847, 5359, 10223, 19249, 21181, 22699, 24737, 27653, 28433, 33661, 55459, 67607};
std::set<uint32_t> aunfacset[kNumK];
uint32_t akpower[kNumK];
uint32_t akequiv[kNumK];
uint32_t akmod[kNumK];
uint32_t aknres[kNumK];
uint32_t akares[kNumK][10];
uint32_t nhigh = kDefaultNhigh;

bool read_db(const std::string&) { return false; }
void print_stats() {}
bool dump_db(const std::string&) { return true; }
