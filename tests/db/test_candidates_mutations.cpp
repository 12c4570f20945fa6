// Randomly damaged candidate files against an independent model of the
// grammar: split the text at blanks, join "k", "=" and the value into one
// item, and check every item's form in its place. Each damaged file must be
// read exactly when the model accepts it, to the model's sets; otherwise it
// is refused with one error line and the state stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "db/candidates.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Decimal digits only, at most `limit`.
bool number(const std::string& s, uint64_t limit, uint64_t& value) {
  if (s.empty() || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  const size_t nz = std::min(s.find_first_not_of('0'), s.size());
  if (s.size() - nz > 10) return false;
  value = s.size() == nz ? 0 : std::stoull(s.substr(nz));
  return value <= limit;
}

struct Model {
  bool ok = false;
  uint32_t high = 0;
  std::vector<int32_t> k;
  std::vector<std::set<uint32_t>> sets;
};

Model model(const std::string& text) {
  // "k", blanks, "=", blanks become "k=".
  std::string joined;
  for (size_t i = 0; i < text.size(); ++i) {
    joined += text[i];
    if (text[i] != 'k') continue;
    size_t j = i + 1;
    while (j < text.size() && blank(text[j])) ++j;
    if (j == text.size() || text[j] != '=') continue;
    ++j;
    while (j < text.size() && blank(text[j])) ++j;
    joined += '=';
    i = j - 1;
  }
  std::vector<std::string> items;
  std::string cur;
  for (char c : joined + " ") {
    if (!blank(c)) {
      cur += c;
    } else if (!cur.empty()) {
      items.push_back(cur);
      cur.clear();
    }
  }

  Model m;
  uint64_t v = 0;
  if (items.size() < 4) return m;
  for (int i = 0; i < 3; ++i)
    if (!number(items[i], 0xFFFFFFFFu, v)) return m;
  m.high = uint32_t(v);
  bool have_n = false;
  uint64_t n = 0;
  for (size_t i = 3; i < items.size(); ++i) {
    const std::string& it = items[i];
    if (it.compare(0, 2, "k=") == 0) {
      if (!number(it.substr(2), 0x7FFFFFFFu, v) || m.k.size() == 12) return m;
      m.k.push_back(int32_t(v));
      m.sets.emplace_back();
      have_n = false;
    } else if (it[0] == '+') {
      if (!have_n || !number(it.substr(1), 0xFFFFFFFFu, v) || n + v > 0xFFFFFFFFu) return m;
      n += v;
      m.sets.back().insert(uint32_t(n));
    } else {
      if (m.k.empty() || have_n || !number(it, 0xFFFFFFFFu, v)) return m;
      n = v;
      have_n = true;
      m.sets.back().insert(uint32_t(n));
    }
  }
  m.ok = !m.k.empty();
  return m;
}

std::string mutate(std::string s, std::mt19937& rng) {
  // Mostly bytes of the grammar, sometimes any byte.
  static const std::string likely = "0123456789+k= \n\r\t";
  auto any_byte = [&]() {
    return rng() % 4 ? likely[rng() % likely.size()] : char(rng() % 256);
  };
  const int edits = 1 + rng() % 2;
  for (int e = 0; e < edits && !s.empty(); ++e) {
    const size_t at = rng() % s.size();
    switch (rng() % 5) {
      case 0: s.erase(at, 1); break;
      case 1: s.insert(s.begin() + at, any_byte()); break;
      case 2: s[at] = any_byte(); break;
      case 3: s.insert(s.begin() + at, s[at]); break;
      default: s.erase(at, 1 + rng() % 4); break;
    }
  }
  return s;
}

TEST(ReadDbMutations, DamagedFilesAreReadExactlyWhenTheGrammarAllowsThem) {
  const std::vector<std::string> bases = {
      db_text({{4847, {15, 39, 63, 87}}, {5359, {6, 14}}}, 1000),
      db_text({{10223, {5, 18540221}}, {19249, {14}}, {21181, {}}}, 20000000, "\r\n"),
      db_text({{3, {0, 4294967295u}}, {5, {2, 8, 14, 20}}}, 4294967295u, " "),
      "12\n0\n100\nk = 7\n1\n+0\n+2\nk=9",
  };
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = dir.file("Vex.dat");
  std::mt19937 rng(2024);
  int accepted = 0, refused = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string text = mutate(bases[round % bases.size()], rng);
    const Model want = model(text);
    const DbState before = DbState::capture();
    write_file(path, text);
    testing::internal::CaptureStdout();
    const bool ok = read_db(path);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(ok, want.ok) << testing::PrintToString(text) << "\n" << out;
    if (!ok) {
      ++refused;
      EXPECT_EQ(out.rfind("Error in " + path + ", line ", 0), 0u) << testing::PrintToString(text) << out;
      EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << testing::PrintToString(text) << out;
      EXPECT_TRUE(DbState::capture() == before) << testing::PrintToString(text);
      continue;
    }
    ++accepted;
    EXPECT_EQ(out, "");
    EXPECT_EQ(nhigh, want.high) << testing::PrintToString(text);
    for (int i = 0; i < kNumK; ++i) {
      const bool in_file = i < int(want.k.size());
      EXPECT_EQ(ak[i], in_file ? want.k[i] : kStandardK[i]) << testing::PrintToString(text) << i;
      EXPECT_EQ(aunfacset[i], in_file ? want.sets[i] : std::set<uint32_t>()) << testing::PrintToString(text) << i;
    }
  }
  // Both outcomes occur often enough to mean something.
  EXPECT_GT(accepted, 300);
  EXPECT_GT(refused, 1000);
}

}  // namespace
