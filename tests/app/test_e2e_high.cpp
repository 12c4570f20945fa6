// Real runs above 2^50. The fixture is factors of k*2^n+1 with small n in the
// k's standard class, found by factoring k*2^n+1 with GNU coreutils
// `factor` (Pollard's rho, nothing of this program), one near each of 2^50,
// 2^52.5, 2^56, 2^58 and 2^62. A run of brindle over a short range around
// each p must file that line in fact.txt, and every line it files must be a
// true factor (checked with 128-bit arithmetic).
#include <gtest/gtest.h>

#include <string>

#include "e2e_util.h"

namespace {

using e2e::TempDir;

struct Known {
  uint64_t p;
  int32_t k;
  uint32_t n;
};

const Known kKnown[] = {
    {1274254912697527ULL, 28433, 73},     // 2^50.18
    {6241641239283337ULL, 28433, 97},     // 2^52.47
    {63266229350308949ULL, 28433, 49},    // 2^55.81
    {326883732123650549ULL, 4847, 87},    // 2^58.18
    {3703554732181166491ULL, 55459, 94},  // 2^61.68
};

TEST(HighRanges, KnownFactorsFoundByARealRun) {
  for (const Known& f : kKnown) {
    const std::string line =
        std::to_string(f.p) + " | " + std::to_string(f.k) + "*2^" + std::to_string(f.n) + "+1";
    SCOPED_TRACE(line);
    // The factor divides k*2^n+1 (an independent check of the fixture).
    const unsigned __int128 value = static_cast<unsigned __int128>(f.k) * e2e::pow2mod(f.n, f.p) + 1;
    ASSERT_EQ(static_cast<uint64_t>(value % f.p), 0u);
    TempDir dir;
    e2e::write_file(dir.file("Vex.dat"), e2e::standard_vex(100000));
    const e2e::Result r =
        e2e::run(dir, {"-f", std::to_string(f.p - 1000000), std::to_string(f.p + 1000000)});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string fact = e2e::read_file(dir.file("fact.txt"));
    EXPECT_NE(fact.find(line + "\n"), std::string::npos) << fact;
    const std::vector<e2e::Factor> all = e2e::read_factors(fact);
    EXPECT_FALSE(all.empty());
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  }
}

}  // namespace
