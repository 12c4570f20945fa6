// The result of a range as a volunteer-computing task uploads it: every
// factor line the range produced, each once, and a last line that says the
// range is done, so that a server can tell a finished result from a cut one.
#pragma once
#include <cstdint>
#include <string>

// The lines of fact_text and then excl_text (the contents of fact.txt and
// factexcl.txt) of the form "p | k*2^n+1" with pmin <= p <= pmax, each line
// once at its first place, then "done <pmin> <pmax>". A resumed run may have
// written a line twice, and a slot may hold lines of an earlier range; both
// are left out. Lines of any other form (a torn last line) are left out too.
std::string result_text(const std::string& fact_text, const std::string& excl_text, uint64_t pmin,
                        uint64_t pmax);

// Writes text to path through "<path>.tmp" in the same directory, synced,
// then renamed over path: path holds either the whole text or what it held
// before. False, with the reason in error, when that fails.
bool write_file_atomically(const std::string& path, const std::string& text, std::string& error);
