// Small number-theory helpers on 64-bit integers: gcd, modular inverse by the
// extended Euclidean algorithm, the inverse of an odd number modulo 2^64, the
// Jacobi symbol and one step of Chinese remaindering. None of them touches
// the modulus context.
#pragma once
#include <cstdint>

// q^-1 mod 2^64 for odd q by Newton's iteration: q*q = 1 (mod 8) gives 3
// correct low bits, and each step x*(2 - q*x) doubles them (3, 6, 12, 24, 48,
// 96). constexpr, so that tables of inverses are built at compile time.
constexpr uint64_t inverse_mod_2_64(uint64_t q) {
  uint64_t x = q;
  for (int i = 0; i < 5; ++i) x *= 2 - q * x;
  return x;
}

// floor(sqrt(n)) exactly, for any 64-bit n: a floating-point estimate
// corrected in integer arithmetic.
uint64_t isqrt_u64(uint64_t n);

// gcd(a, b) by Euclid's remainders; a != 0. gcd(a, 0) = a.
uint64_t gcd(uint64_t a, uint64_t b);

// Returns g = gcd(a, m) and sets inv in [0, m) with a*inv = g (mod m).
// a != 0, m >= 2; a may exceed m.
uint64_t multinv(uint64_t a, uint64_t m, uint64_t& inv);

// Jacobi symbol (a/n), +1 or -1, for a >= 1, odd n >= 3, gcd(a, n) = 1.
int jacobi(uint64_t a, uint64_t n);

// k*2^n + 1 mod p for p >= 2 and any k (a negative k counts as its residue),
// by binary powering in 128-bit arithmetic: the independent check of a factor
// p | k*2^n+1 found by the searches.
uint64_t k2n1_mod(uint64_t p, int64_t k, uint64_t n);

// The x in [0, m1*m2) with x = r1 (mod m1), x = r2 (mod m2); 0 <= r1 < m1,
// 0 <= r2 < m2, inv = m1^-1 mod m2 in [1, m2); m1*m2 far below 2^63.
int64_t crt(int64_t m1, int64_t r1, int64_t m2, int64_t r2, int64_t inv);

// Whether n is prime, exactly for every 64-bit n (Miller-Rabin with the
// twelve prime bases up to 37, in 128-bit arithmetic). For the rare
// questions outside the sieve, such as where the next save point falls.
bool is_prime_u64(uint64_t n);

// The smallest prime >= n (n <= 2^64 - 59, the last 64-bit prime).
uint64_t next_prime_from(uint64_t n);
