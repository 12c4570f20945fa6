#include "app/result_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "db/candidates.h"

namespace {

// p of a line "p | k*2^n+1" (digits, " | ", digits, "*2^", digits, "+1"
// and nothing else); false for any other line.
bool factor_line_p(const std::string& line, uint64_t& p) {
  size_t i = 0;
  const auto digits = [&](uint64_t* value) {
    const size_t start = i;
    uint64_t v = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
      if (i - start >= 19) return false;  // keeps v within 64 bits
      v = v * 10 + static_cast<uint64_t>(line[i] - '0');
    }
    if (value != nullptr) *value = v;
    return i > start;
  };
  const auto literal = [&](const char* text) {
    const size_t n = std::strlen(text);
    if (line.compare(i, n, text) != 0) return false;
    i += n;
    return true;
  };
  return digits(&p) && literal(" | ") && digits(nullptr) && literal("*2^") && digits(nullptr) &&
         literal("+1") && i == line.size();
}

void add_lines(const std::string& text, uint64_t pmin, uint64_t pmax, std::unordered_set<std::string>& seen,
               std::string& out) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    uint64_t p = 0;
    if (!factor_line_p(line, p) || p < pmin || p > pmax) continue;
    if (!seen.insert(line).second) continue;
    out += line;
    out += '\n';
  }
}

}  // namespace

std::string result_text(const std::string& fact_text, const std::string& excl_text, uint64_t pmin,
                        uint64_t pmax) {
  std::unordered_set<std::string> seen;
  std::string out;
  add_lines(fact_text, pmin, pmax, seen, out);
  add_lines(excl_text, pmin, pmax, seen, out);
  out += "done " + std::to_string(pmin) + " " + std::to_string(pmax) + "\n";
  return out;
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string& error) {
  const std::string tmp = path + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot create " + tmp + ": " + std::strerror(errno);
    return false;
  }
  const bool written = write_all(fd, text) && ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  if (!written || ::rename(tmp.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(written ? errno : err);
    ::unlink(tmp.c_str());
    return false;
  }
  sync_directory_of(path);
  return true;
}
