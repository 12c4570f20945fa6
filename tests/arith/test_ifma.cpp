// The eight-lane Montgomery product on the 52-bit multiply-add instructions
// against unsigned __int128 arithmetic: -p^-1 mod 2^52, then products for odd
// moduli across the whole range (the smallest, primes and odd numbers just
// below 2^50) with the extreme operands the bounds in ifma.h allow (0, 1,
// p - 1, p, 2p - 1, and one factor up to 2^52 - 1 with the other below p) and
// seeded random ones, each lane independent; the reduction of values below
// 2p. Skipped on processors without the instructions.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "arith/ifma.h"

#if BRINDLE_HAVE_IFMA
namespace {

using u128 = unsigned __int128;

constexpr uint64_t kR = uint64_t{1} << 52;

// Eight products a[l]*b[l]/2^52 mod p and the reductions of a[l].
BRINDLE_IFMA void lanes(const uint64_t* a, const uint64_t* b, uint64_t p, uint64_t* prod, uint64_t* red) {
  const ifma_modulus m = ifma_set_modulus(p);
  const __m512i x = _mm512_loadu_si512(a);
  _mm512_storeu_si512(prod, ifma_mont_mul(x, _mm512_loadu_si512(b), m));
  _mm512_storeu_si512(red, ifma_reduce(x, m));
}

class IfmaTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!cpu_has_ifma()) GTEST_SKIP() << "no AVX-512 IFMA on this processor";
  }
};

const uint64_t kModuli[] = {3,
                            5,
                            1000000007,
                            1000000000039ULL,
                            (uint64_t{1} << 49) + 1,
                            1125899906842597ULL,  // the largest prime below 2^50
                            1125899906842511ULL,
                            (uint64_t{1} << 50) - 1};

TEST_F(IfmaTest, NegatedInverseModulo2To52) {
  std::mt19937_64 rng(5);
  std::vector<uint64_t> ps(std::begin(kModuli), std::end(kModuli));
  for (int i = 0; i < 1000; ++i) ps.push_back((rng() >> 14) | 1);
  for (uint64_t p : ps) {
    const uint64_t v = ifma_neg_pinv(p);
    EXPECT_LT(v, kR);
    EXPECT_EQ((p * v + 1) & (kR - 1), 0u) << p;
  }
}

// Checks eight lanes: every product congruent to a*b*2^-52 and below 2p, every
// reduction of a < 2p equal to a mod p.
void check_lanes(const uint64_t* a, const uint64_t* b, uint64_t p, const std::string& what) {
  uint64_t prod[8], red[8];
  lanes(a, b, p, prod, red);
  for (int l = 0; l < 8; ++l) {
    SCOPED_TRACE(what + ", p " + std::to_string(p) + ", lane " + std::to_string(l) + ", a " +
                 std::to_string(a[l]) + ", b " + std::to_string(b[l]));
    ASSERT_LT(prod[l], 2 * p);
    // prod * 2^52 = a * b (mod p); both sides fit in 128 bits.
    ASSERT_EQ((static_cast<u128>(prod[l]) << 52) % p, static_cast<u128>(a[l]) * b[l] % p);
    if (a[l] < 2 * p) {
      ASSERT_EQ(red[l], a[l] % p);
    }
  }
}

TEST_F(IfmaTest, ProductsAtTheBoundsAndRandom) {
  std::mt19937_64 rng(52);
  for (uint64_t p : kModuli) {
    // Extreme pairs: both below 2p, or one up to 2^52 - 1 and the other below p.
    const uint64_t below2p[] = {0, 1, 2, p - 1, p, p + 1, 2 * p - 2, 2 * p - 1};
    for (uint64_t x : below2p) {
      uint64_t a[8], b[8];
      for (int l = 0; l < 8; ++l) {
        a[l] = x;
        b[l] = below2p[l];
      }
      check_lanes(a, b, p, "both below 2p");
    }
    {
      const uint64_t a[8] = {kR - 1, kR - 1, kR - 1, kR - 2, kR / 2, kR - 1, 0, 1};
      const uint64_t b[8] = {p - 1, 1, 0, p - 1, p - 2, p / 2, p - 1, p - 1};
      check_lanes(a, b, p, "one factor up to 2^52 - 1");
    }
    for (int r = 0; r < 2000; ++r) {
      uint64_t a[8], b[8];
      for (int l = 0; l < 8; ++l) {
        a[l] = rng() % (2 * p);
        b[l] = rng() % (2 * p);
        // Now and then the wider first factor against a canonical second one.
        if ((r & 7) == 0) {
          a[l] = rng() & (kR - 1);
          b[l] = rng() % p;
        }
      }
      check_lanes(a, b, p, "random");
    }
  }
}

}  // namespace
#endif  // BRINDLE_HAVE_IFMA (other processors have no such path)
