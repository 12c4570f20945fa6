// The candidate database: the twelve candidate sets, the reader of the
// candidate file "Vex.dat" and the analysis of the residue classes into which
// each set's exponents fall.
//
// File format (the writer in candidates_writer.cpp produces exactly this):
// three header numbers (number of sections, lowest n, highest n = nhigh),
// then per slot a section "k=<k>", the smallest n, and every further n as
// "+<diff>". Blanks (space, tab, CR, LF, VT, FF) separate items; how many and
// which carry no meaning, so CR LF line ends and a missing final newline are
// fine. Each item has exactly one form in its place:
//   - a number is decimal digits and ends at a blank or the end of the file;
//   - the header is three numbers (the first two are read and not used);
//   - a section opens with "k", "=" and the number k, blanks allowed around
//     the "=" (earlier readers accepted them; the writer writes "k=<k>");
//   - the first n follows as a number, then each difference as "+" with its
//     digits directly after it. A section may end after k (no n) or after
//     its first n; it ends at the next "k" or the end of the file.
// Any other byte, a bare number where a "+<diff>" belongs, text glued to a
// number or a "+" without digits is refused, and so are more than twelve
// sections, a k above 2^31-1 and an n above 2^32-1.
//
// The file is streamed through a fixed buffer and refused at the first byte
// that does not fit, so a damaged or foreign file costs no more than the
// bytes up to the damage; a file above kMaxFileBytes is refused outright.
// The reader collects everything into local tables and only then replaces
// the globals, so a rejected file leaves the previous state intact. Every
// rejected file gets one line on standard output naming the problem and its
// line, and read_db returns false.
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
#include <memory>
#include <vector>

#include <sys/stat.h>

#include "arith/numtheory.h"
#include "db/settings.h"

namespace {

constexpr int kMaxMultiplier = 49;   // multipliers m = 1..49 of akpower
constexpr uint32_t kMaxResidues = 10;  // at most this many classes per slot
constexpr uint64_t kMaxK = (1ULL << 31) - 1;
constexpr uint64_t kMaxN = 0xFFFFFFFFULL;

// The file is read in chunks of this size.
constexpr size_t kChunkBytes = 65536;
// A file above this size is refused. A real candidate file has about 13 MB;
// the sets take roughly ten times the file's size in memory, so a file of
// gigabytes would exhaust the memory of a volunteer's machine and end in the
// out-of-memory killer instead of a message.
constexpr uint64_t kMaxFileBytes = 1ULL << 30;

}  // namespace

// The built-in k; the file's sections replace them in order, and slots
// beyond the file's last section get them back.
static_assert(kNumK == 12, "one initialiser per slot");
int32_t ak[kNumK] = {kBuiltinK[0], kBuiltinK[1], kBuiltinK[2],  kBuiltinK[3],
                     kBuiltinK[4], kBuiltinK[5], kBuiltinK[6],  kBuiltinK[7],
                     kBuiltinK[8], kBuiltinK[9], kBuiltinK[10], kBuiltinK[11]};
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

// The items of the file, for messages.
enum class item { sections, lowest, highest, k, first_n, difference };

// Reads the candidate file through a fixed buffer, checks each item where it
// stands, counts lines, and prints the one error line of a rejected file.
// Nothing is read beyond the first byte that does not fit.
class db_parser {
 public:
  db_parser(std::FILE* file, const std::string& filename)
      : file_(file), filename_(filename), buf_(new unsigned char[kChunkBytes]) {}

  bool parse(parsed_db& db);

 private:
  // Why the bytes ran out: the true end of the file, a read error, or more
  // bytes than a candidate file can have.
  enum class stream_state { open, at_end, read_error, too_large };

  static bool is_blank(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  static bool is_digit(int c) { return c >= '0' && c <= '9'; }

  // Loads the next chunk; false when no byte is left (see state_).
  bool refill() {
    pos_ = end_ = 0;
    if (state_ != stream_state::open) return false;
    errno = 0;
    const size_t got = std::fread(buf_.get(), 1, kChunkBytes, file_);
    if (got < kChunkBytes) {
      if (std::ferror(file_)) {
        read_errno_ = errno != 0 ? errno : EIO;
        state_ = stream_state::read_error;
      } else {
        state_ = stream_state::at_end;
      }
    }
    total_ += got;
    if (total_ > kMaxFileBytes) {
      state_ = stream_state::too_large;
      return false;
    }
    end_ = got;
    return got > 0;
  }

  // The byte at the cursor, not consumed; -1 when none is left.
  int peek() {
    if (pos_ < end_ || refill()) return buf_[pos_];
    return -1;
  }

  // Consumes the byte peek() returned (never a line feed).
  void advance() { ++pos_; }

  // Skips blanks; returns the next byte, not consumed, or -1.
  int skip_blanks() {
    for (;;) {
      while (pos_ < end_) {
        const unsigned char c = buf_[pos_];
        if (!is_blank(c)) return c;
        if (c == '\n') ++line_;
        ++pos_;
      }
      if (!refill()) return -1;
    }
  }

  // Reads the digits at the cursor into `value`; false when the number is
  // larger than `limit`, after at most one digit more than a message shows.
  // digits() shows the number in messages.
  bool read_digits(uint64_t limit, uint64_t& value) {
    value = 0;
    ndigits_ = 0;
    for (;;) {
      while (pos_ < end_) {
        const unsigned d = static_cast<unsigned>(buf_[pos_]) - '0';
        if (d > 9) return value <= limit;
        if (ndigits_ < kShownDigits) digits_[ndigits_] = static_cast<char>(buf_[pos_]);
        ++ndigits_;
        // Once above the limit the value stays at limit + 1, so it cannot wrap.
        value = value * 10 + d;
        if (value > limit) {
          value = limit + 1;
          if (ndigits_ > kShownDigits) return false;
        }
        ++pos_;
      }
      if (!refill()) return value <= limit;
    }
  }

  std::string digits() const {
    std::string s(digits_, ndigits_ < kShownDigits ? ndigits_ : kShownDigits);
    if (ndigits_ > kShownDigits) s += "...";
    return s;
  }

  // Reads the number at the cursor (a digit) as `what` and checks that a
  // blank or the end of the file follows it.
  bool number(item what, uint64_t limit, uint64_t& value) {
    if (!read_digits(limit, value))
      return fail(line_, describe(what) + " is too large: " + digits() + " (at most " +
                             std::to_string(limit) + ")");
    const int c = peek();
    if (c >= 0 && !is_blank(c))
      return fail(line_, "text glued to " + describe(what) + ": " + describe_char(c) + " after " + digits());
    return true;
  }

  // Skips blanks and reads the number `what` that must come next.
  bool expect_number(item what, uint64_t limit, uint64_t& value) {
    const int c = skip_blanks();
    if (!is_digit(c)) return fail(line_, "expected " + describe(what) + ", found " + describe_char(c));
    return number(what, limit, value);
  }

  std::string describe(item what) const {
    switch (what) {
      case item::sections: return "the number of sections (header)";
      case item::lowest: return "the lowest n (header)";
      case item::highest: return "the highest n (header)";
      case item::k: return "k";
      case item::first_n: return "the first n" + section_;
      case item::difference: return "a difference after \"+\"" + section_;
    }
    return "";
  }

  static std::string describe_char(int c) {
    if (c < 0) return "end of file";
    if (c == '\n' || c == '\r') return "a line break";
    if (is_blank(c)) return "a blank";
    char buf[32];
    if (c > ' ' && c < 127)
      std::snprintf(buf, sizeof buf, "\"%c\"", c);
    else
      std::snprintf(buf, sizeof buf, "character 0x%02x", c);
    return buf;
  }

  // Prints the one error line: a read error or an oversized file, when that
  // is why the bytes ran out, else `problem` on `line`.
  bool fail(unsigned line, const std::string& problem) const {
    if (state_ == stream_state::read_error)
      std::cout << "Error reading " << filename_ << ": " << std::strerror(read_errno_) << "\n";
    else if (state_ == stream_state::too_large)
      std::cout << "Error in " << filename_ << ": the file is too large: more than " << kMaxFileBytes
                << " bytes\n";
    else
      std::cout << "Error in " << filename_ << ", line " << line << ": " << problem << "\n";
    return false;
  }

  static constexpr size_t kShownDigits = 24;

  std::FILE* file_;
  const std::string& filename_;
  std::unique_ptr<unsigned char[]> buf_;
  size_t pos_ = 0;  // cursor in buf_
  size_t end_ = 0;  // bytes in buf_
  uint64_t total_ = 0;
  stream_state state_ = stream_state::open;
  int read_errno_ = 0;
  unsigned line_ = 1;
  char digits_[kShownDigits] = {};
  size_t ndigits_ = 0;
  std::string section_;  // " in section k=<k>", for messages
};

bool db_parser::parse(parsed_db& db) {
  if (skip_blanks() < 0) {
    if (state_ != stream_state::at_end) return fail(line_, "");
    std::cout << "Error in " << filename_ << ": the file is empty\n";
    return false;
  }

  uint64_t value = 0;
  if (!expect_number(item::sections, kMaxN, value)) return false;
  if (!expect_number(item::lowest, kMaxN, value)) return false;
  if (!expect_number(item::highest, kMaxN, value)) return false;
  db.nhigh = static_cast<uint32_t>(value);

  int h = -1;           // slot of the open section
  bool have_n = false;  // the open section has its first n
  uint32_t n = 0;       // last n read in the open section
  uint32_t g = 0;       // gcd of the section's differences so far, 0 if none
  std::set<uint32_t>* set = nullptr;

  // Two distinct n give the class n = equiv (mod power); a section with
  // fewer carries no class information (power 0, equiv 0).
  auto close_section = [&]() {
    db.power[h] = g;
    db.equiv[h] = g == 0 ? 0 : n % g;
  };

  for (;;) {
    const int c = skip_blanks();
    if (c == '+') {
      if (h < 0) return fail(line_, "\"+\" before the first k");
      if (!have_n) return fail(line_, "expected " + describe(item::first_n) + ", found \"+\"");
      advance();
      const int next = peek();
      if (!is_digit(next))
        return fail(line_, "expected " + describe(item::difference) + ", found " + describe_char(next));
      uint64_t d = 0;
      if (!number(item::difference, kMaxN, d)) return false;
      if (d > kMaxN - n)
        return fail(line_, "n overflows 32 bits" + section_ + ": " + std::to_string(n) + " + " +
                               std::to_string(d) + " is above " + std::to_string(kMaxN));
      if (d != 0) {
        n += static_cast<uint32_t>(d);
        g = g == 0 ? static_cast<uint32_t>(d) : static_cast<uint32_t>(gcd(g, d));
        set->emplace_hint(set->end(), n);  // ascending: the hint makes it O(1)
      }
    } else if (is_digit(c)) {
      if (h < 0 || have_n) {
        const unsigned line = line_;
        read_digits(kMaxN, value);
        return fail(line, std::string(h < 0 ? "expected \"k=<k>\" after the header"
                                            : "expected \"+<difference>\"" + section_) +
                              ", found the number " + digits());
      }
      if (!number(item::first_n, kMaxN, value)) return false;
      n = static_cast<uint32_t>(value);
      set->insert(n);
      have_n = true;
    } else if (c == 'k') {
      const unsigned line = line_;
      if (h >= 0) close_section();
      if (h + 1 >= kNumK)
        return fail(line, "more than " + std::to_string(kNumK) + " sections (a 13th \"k\" found)");
      advance();
      const int sep = skip_blanks();
      if (sep < 0 && state_ == stream_state::at_end) return fail(line_, "the file ends after \"k\"");
      if (sep != '=')
        return fail(line_, "expected \"=\" between \"k\" and its value, found " + describe_char(sep));
      advance();
      uint64_t kval = 0;
      if (!expect_number(item::k, kMaxK, kval)) return false;
      ++h;
      db.k[h] = static_cast<int32_t>(kval);
      set = &db.sets[h];
      section_ = " in section k=" + std::to_string(kval);
      have_n = false;
      n = 0;
      g = 0;
    } else if (c < 0) {
      break;
    } else if (h < 0) {
      return fail(line_, "expected \"k=<k>\" after the header, found " + describe_char(c));
    } else if (!have_n) {
      return fail(line_, "expected " + describe(item::first_n) + ", found " + describe_char(c));
    } else {
      return fail(line_, "expected \"+<difference>\"" + section_ + ", found " + describe_char(c));
    }
  }
  if (state_ != stream_state::at_end) return fail(line_, "");
  if (h < 0) return fail(line_, "no sections after the header (no \"k\" found)");
  close_section();
  db.nsections = h + 1;
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
  std::FILE* f = std::fopen(filename.c_str(), "rb");
  if (!f) {
    std::cout << "You need a Vex.dat file to run this program; vexgen writes a starter file.\n";
    return false;
  }
  const bool ok = read_db_stream(f, filename);
  std::fclose(f);
  return ok;
}

bool read_db_stream(std::FILE* file, const std::string& filename) {
  // A regular file above the limit is refused before its first byte.
  struct stat st;
  const int fd = ::fileno(file);
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
    std::cout << "Error in " << filename << ": the file is too large: " << st.st_size << " bytes (at most "
              << kMaxFileBytes << ")\n";
    return false;
  }
  parsed_db db;
  if (!db_parser(file, filename).parse(db)) return false;

  nhigh = db.nhigh;
  for (int h = 0; h < kNumK; ++h) {
    const bool in_file = h < db.nsections;
    ak[h] = in_file ? db.k[h] : kBuiltinK[h];
    aunfacset[h].swap(db.sets[h]);
    akpower[h] = in_file ? db.power[h] : 0;
    akequiv[h] = in_file ? db.equiv[h] : 0;
    akmod[h] = 0;
    aknres[h] = 0;
    if (in_file && verbose >= 1) {
      if (akpower[h] == 0)
        std::cout << "k: " << ak[h] << ". Fewer than two distinct n: no residue class.\n";
      else
        std::cout << "k: " << ak[h] << ". All remaining n = " << akequiv[h] << " (mod " << akpower[h]
                  << ").\n";
    }
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
