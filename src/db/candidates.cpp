// The candidate database: the twelve candidate sets, the reader of the
// candidate file "Vex.dat" and the analysis of the residue classes into which
// each set's exponents fall.
//
// File format (the writer in candidates_writer.cpp produces exactly this):
// three header numbers (number of sections, lowest n, highest n), then per
// slot a section "k=<k>", the smallest n, and every further n as "+<diff>".
// Line breaks carry no meaning; any white space separates items, and any
// character other than "k" and "+" between items is skipped.
//
// The reader parses the whole file into local tables first and only then
// replaces the globals, so a rejected file leaves the previous state intact.
// Every malformed file is rejected with one line on standard output naming
// the problem and its line, and read_db returns false.
//
// Residue-class analysis: all n of a slot share the residue akequiv modulo
// akpower, so modulo a = m*akpower every n mod a is akequiv + t*akpower with
// t < m. Counting the distinct t with a 49-entry flag array gives the number
// of occupied classes without any table sized by akpower.
#include "db/candidates.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "arith/numtheory.h"
#include "db/settings.h"

namespace {

// The built-in k; slots beyond the file's last section get these back.
constexpr int32_t kBuiltinK[kNumK] = {4847,  5359,  10223, 19249, 21181, 22699,
                                      24737, 27653, 28433, 33661, 55459, 67607};
constexpr int kMaxMultiplier = 49;   // multipliers m = 1..49 of akpower
constexpr uint32_t kMaxResidues = 10;  // at most this many classes per slot
constexpr uint64_t kMaxK = (1ULL << 31) - 1;
constexpr uint64_t kMaxN = 0xFFFFFFFFULL;

}  // namespace

// Same values as kBuiltinK; the file's sections replace them in order.
int32_t ak[kNumK] = {4847,  5359,  10223, 19249, 21181, 22699,
                     24737, 27653, 28433, 33661, 55459, 67607};
std::set<uint32_t> aunfacset[kNumK];
uint32_t akpower[kNumK];
uint32_t akequiv[kNumK];
uint32_t akmod[kNumK];
uint32_t aknres[kNumK];
uint32_t akares[kNumK][10];
uint32_t nhigh = kDefaultNhigh;

namespace {

// What the parser collects before anything global is touched.
struct parsed_db {
  uint32_t nhigh = 0;
  int nsections = 0;
  int32_t k[kNumK] = {};
  std::set<uint32_t> sets[kNumK];
  uint32_t power[kNumK] = {};
  uint32_t equiv[kNumK] = {};
};

// A cursor over the file's text that counts lines and prints the one
// error line of a rejected file.
class db_parser {
 public:
  db_parser(const std::string& filename, const std::string& text)
      : filename_(filename), text_(text) {}

  bool parse(parsed_db& db);

 private:
  enum class num_status { ok, missing, too_large };

  static bool is_blank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  static bool is_digit(int c) { return c >= '0' && c <= '9'; }

  void skip_blanks() {
    while (pos_ < text_.size() && is_blank(static_cast<unsigned char>(text_[pos_]))) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }

  // Next non-blank character, consumed; -1 at the end of the text.
  int next_char() {
    skip_blanks();
    if (pos_ >= text_.size()) return -1;
    return static_cast<unsigned char>(text_[pos_++]);
  }

  // Describes the item at the cursor for "expected ..., found ..." messages.
  std::string found_here() const {
    if (pos_ >= text_.size()) return "end of file";
    return describe_char(static_cast<unsigned char>(text_[pos_]));
  }

  static std::string describe_char(int c) {
    char buf[32];
    if (c > ' ' && c < 127)
      std::snprintf(buf, sizeof buf, "\"%c\"", c);
    else
      std::snprintf(buf, sizeof buf, "character 0x%02x", c);
    return buf;
  }

  // Skips blanks and reads a decimal number of at most `limit`. On too_large
  // `digits` holds the digits read (shortened when very long).
  num_status read_number(uint64_t limit, uint64_t& value, std::string& digits) {
    skip_blanks();
    value = 0;
    digits.clear();
    if (pos_ >= text_.size() || !is_digit(static_cast<unsigned char>(text_[pos_])))
      return num_status::missing;
    bool too_large = false;
    while (pos_ < text_.size() && is_digit(static_cast<unsigned char>(text_[pos_]))) {
      const unsigned digit = static_cast<unsigned>(text_[pos_] - '0');
      if (digits.size() < 24) digits += text_[pos_];
      if (!too_large) {
        if (value > (limit - digit) / 10)
          too_large = true;
        else
          value = value * 10 + digit;
      }
      ++pos_;
    }
    if (too_large) {
      if (digits.size() >= 24) digits += "...";
      return num_status::too_large;
    }
    return num_status::ok;
  }

  bool fail(unsigned line, const std::string& problem) const {
    std::cout << "Error in " << filename_ << ", line " << line << ": " << problem << "\n";
    return false;
  }

  // Reads a number for the message noun `what` (for example "the first n of
  // section k=4847"); prints the error and returns false when it is missing
  // or larger than `limit`.
  bool expect_number(const std::string& what, uint64_t limit, uint64_t& value) {
    std::string digits;
    const num_status st = read_number(limit, value, digits);
    if (st == num_status::missing) return fail(line_, "expected " + what + ", found " + found_here());
    if (st == num_status::too_large)
      return fail(line_, what + " is too large: " + digits + " (at most " + std::to_string(limit) + ")");
    return true;
  }

  const std::string& filename_;
  const std::string& text_;
  size_t pos_ = 0;
  unsigned line_ = 1;
};

bool db_parser::parse(parsed_db& db) {
  skip_blanks();
  if (pos_ >= text_.size()) {
    std::cout << "Error in " << filename_ << ": the file is empty\n";
    return false;
  }

  uint64_t value = 0;
  if (!expect_number("the number of sections (header)", kMaxN, value)) return false;
  if (!expect_number("the lowest n (header)", kMaxN, value)) return false;
  if (!expect_number("the highest n (header)", kMaxN, value)) return false;
  db.nhigh = static_cast<uint32_t>(value);

  int h = -1;          // slot of the open section
  uint32_t n = 0;      // last n read in the open section
  uint32_t g = 0;      // gcd of the section's differences so far, 0 if none
  unsigned kline = 0;  // line of the open section's "k"
  std::string section;  // " in section k=<k>", for messages

  // Closing a section needs two distinct n: their difference gives akpower.
  auto close_section = [&]() {
    if (g == 0)
      return fail(kline, "section k=" + std::to_string(db.k[h]) + " has fewer than two distinct n");
    db.power[h] = g;
    db.equiv[h] = n % g;
    return true;
  };

  for (;;) {
    const int c = next_char();
    if (c < 0) break;
    if (c == 'k') {
      const unsigned line = line_;
      if (h >= 0 && !close_section()) return false;
      if (h + 1 >= kNumK)
        return fail(line, "more than " + std::to_string(kNumK) + " sections (a 13th \"k\" found)");
      // One separator character, whatever it is, but a digit there would be
      // taken silently as part of the separator and shorten k.
      skip_blanks();
      if (pos_ >= text_.size()) return fail(line_, "the file ends after \"k\"");
      if (is_digit(static_cast<unsigned char>(text_[pos_])))
        return fail(line_, "expected a separator such as \"=\" between \"k\" and its value, found " +
                               found_here());
      ++pos_;
      uint64_t kval = 0;
      if (!expect_number("k", kMaxK, kval)) return false;
      ++h;
      db.k[h] = static_cast<int32_t>(kval);
      kline = line;
      section = " in section k=" + std::to_string(kval);
      uint64_t first = 0;
      if (!expect_number("the first n" + section, kMaxN, first)) return false;
      n = static_cast<uint32_t>(first);
      db.sets[h].insert(n);
      g = 0;
    } else if (c == '+') {
      if (h < 0) return fail(line_, "\"+\" before the first k");
      uint64_t d = 0;
      if (!expect_number("a difference after \"+\"" + section, kMaxN, d)) return false;
      if (d > kMaxN - n)
        return fail(line_, "n overflows 32 bits" + section + ": " + std::to_string(n) + " + " +
                               std::to_string(d) + " is above " + std::to_string(kMaxN));
      n += static_cast<uint32_t>(d);
      g = (g == 0) ? static_cast<uint32_t>(d) : static_cast<uint32_t>(gcd(g, d));
      db.sets[h].insert(n);
    }
    // Any other character between items is skipped.
  }
  if (h < 0) return fail(line_, "no sections after the header (no \"k\" found)");
  if (!close_section()) return false;
  db.nsections = h + 1;
  return true;
}

bool read_file(const std::string& filename, std::string& text, bool& missing) {
  missing = false;
  FILE* f = std::fopen(filename.c_str(), "rb");
  if (!f) {
    missing = true;
    return false;
  }
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) {
    std::cout << "Error reading " << filename << ": " << std::strerror(err) << "\n";
    return false;
  }
  return true;
}

// Chooses akmod[j] and lists the residues of the slot's n modulo it. A slot
// with akpower 0 (no section in the file) gets akmod 0 and no residues.
void analyse_slot(int j) {
  const uint32_t power = akpower[j];
  const std::set<uint32_t>& s = aunfacset[j];
  if (power == 0 || s.empty()) {
    akmod[j] = 0;
    if (verbose >= 2) std::cout << "\n";
    return;
  }
  // The 49 passes below walk a flat copy: iterating the tree itself costs
  // more than the remainders.
  const std::vector<uint32_t> ns(s.begin(), s.end());
  double best = 0.0;
  uint32_t chosen = 1;
  for (uint32_t m = 1; m <= kMaxMultiplier; ++m) {
    const uint64_t a = static_cast<uint64_t>(m) * power;
    if (a > kMaxN) break;  // akmod must stay a 32-bit value
    bool seen[kMaxMultiplier] = {};
    uint32_t d = 0;
    for (uint32_t n : ns) {
      const uint32_t t = static_cast<uint32_t>(n % a) / power;
      if (!seen[t]) {
        seen[t] = true;
        if (++d > kMaxResidues) break;
      }
    }
    if (d > kMaxResidues) continue;
    const double ratio = static_cast<double>(m) / d;
    if (ratio > best + 1e-10) {
      if (verbose >= 2) {
        const double per_class = static_cast<double>(a) / d;
        std::cout << "k: " << ak[j] << " a: " << a << "(" << m << "*" << power << ") :"
                  << " " << d << " diff. a/diff: " << per_class
                  << " factor: " << per_class / power << "\n";
      }
      chosen = m;
      best = ratio;
    }
  }
  if (verbose >= 2) std::cout << "\n";

  akmod[j] = power * chosen;
  bool seen[kMaxMultiplier] = {};
  for (uint32_t n : ns) {
    const uint32_t r = n % akmod[j];
    const uint32_t t = r / power;
    if (!seen[t]) {
      seen[t] = true;
      akares[j][aknres[j]++] = r;  // chosen m has at most 10 classes
    }
  }
}

void analyse_residue_classes() {
  for (int j = 0; j < kNumK; ++j) aknres[j] = 0;
  for (int j = 0; j < kNumK; ++j) analyse_slot(j);
  for (int j = 0; j < kNumK; ++j) {
    std::sort(akares[j], akares[j] + aknres[j]);
    if (verbose >= 2) {
      std::cout << ak[j] << ": mod " << akmod[j] << ":";
      for (uint32_t i = 0; i < aknres[j]; ++i) std::cout << " " << akares[j][i];
      std::cout << "\n";
    }
  }
  if (verbose >= 2) std::cout << "\n";
}

}  // namespace

bool read_db(const std::string& filename) {
  std::string text;
  bool missing = false;
  if (!read_file(filename, text, missing)) {
    if (missing) std::cout << "You need a Vex.dat file to run this program. Get it from the VX forums.\n";
    return false;
  }
  parsed_db db;
  if (!db_parser(filename, text).parse(db)) return false;

  nhigh = db.nhigh;
  for (int h = 0; h < kNumK; ++h) {
    const bool in_file = h < db.nsections;
    ak[h] = in_file ? db.k[h] : kBuiltinK[h];
    aunfacset[h].swap(db.sets[h]);
    akpower[h] = in_file ? db.power[h] : 0;
    akequiv[h] = in_file ? db.equiv[h] : 0;
    akmod[h] = 0;
    aknres[h] = 0;
    if (in_file && verbose >= 1)
      std::cout << "k: " << ak[h] << ". All remaining n = " << akequiv[h] << " (mod " << akpower[h]
                << ").\n";
  }
  if (verbose >= 1) {
    print_stats();
    std::cout << "\n";
  }
  analyse_residue_classes();
  return true;
}

void print_stats() {
  int64_t total = 0;
  for (int i = 0; i < kNumK; ++i) {
    std::cout << ak[i] << " has " << aunfacset[i].size() << " unfactored " << 0 << "<=n<=" << nhigh
              << "\n";
    total += static_cast<int64_t>(aunfacset[i].size());
  }
  std::cout << "Total: " << total << " unfactored\n";
}
