// Small number-theory helpers on 64-bit integers: gcd, modular inverse by the
// extended Euclidean algorithm, the Jacobi symbol and one step of Chinese
// remaindering. None of them touches the modulus context.
#pragma once
#include <cstdint>

// gcd(a, b) by Euclid's remainders; a != 0. gcd(a, 0) = a.
uint64_t gcd(uint64_t a, uint64_t b);

// Returns g = gcd(a, m) and sets inv in [0, m) with a*inv = g (mod m).
// a != 0, m >= 2; a may exceed m.
uint64_t multinv(uint64_t a, uint64_t m, uint64_t& inv);

// Jacobi symbol (a/n), +1 or -1, for a >= 1, odd n >= 3, gcd(a, n) = 1.
int jacobi(uint64_t a, uint64_t n);

// The x in [0, m1*m2) with x = r1 (mod m1), x = r2 (mod m2); 0 <= r1 < m1,
// 0 <= r2 < m2, inv = m1^-1 mod m2 in [1, m2); m1*m2 far below 2^63.
int64_t crt(int64_t m1, int64_t r1, int64_t m2, int64_t r2, int64_t inv);
