// The factor files "fact.txt" (new factors) and "factexcl.txt" (excluded
// ones), one line "p | k*2^n+1" per factor. Lines are appended whole or not
// at all, the files are synced to disk at every save point (before the save
// point itself is written), a line torn by a crash or power cut is ended
// before anything new is appended, and a resumed run reads back the factors
// that the interrupted one already stored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr const char* kFactFile = "fact.txt";
constexpr const char* kFactExclFile = "factexcl.txt";

// Appends len bytes of text to file (created if missing), resuming short and
// interrupted writes, and with sync also puts the file on disk. On any
// failure the part that was written is cut off again, so the file keeps its
// length from before the call, and false is returned with errno set.
bool append_whole(const char* file, const char* text, size_t len, bool sync);

// Appends lines (whole lines, each ending in a newline) to file, created if
// missing. When the open or any write fails (a full disk, a file size
// limit), the file is cut back to its length before the call, so no partial
// line stays behind; returns false with errno set then. A file appended to
// is remembered for sync_factor_files.
bool append_factor_lines(const char* file, const std::string& lines);

// Flushes every file appended to since the last call to disk (fsync). Returns
// false, with the file and the problem in error, when one cannot be synced;
// such a file stays on the list.
bool sync_factor_files(std::string& error);

// A file that exists, is not empty and does not end in a newline has its
// last line torn (the run that wrote it stopped mid-write): a newline is
// appended and synced, so the torn line can never join the next one. A
// missing file is fine. Returns false, with the problem in error, when the
// file cannot be read or repaired.
bool end_torn_line(const char* file, std::string& error);

// Takes every factor that file reports with pfrom <= p < pto out of the
// candidate sets (the lines "p | k*2^n+1" whose k is a slot's k; any other
// line is passed over). Returns how many n were taken out.
size_t forget_reported_factors(const char* file, uint64_t pfrom, uint64_t pto);
