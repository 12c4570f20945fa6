// Runs a built program for the end-to-end tests: in a given directory, with
// standard input from a file, standard output and standard error captured in
// files, and the exit status (-1 when it did not exit normally).
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_files.h"

namespace testfiles {

struct Result {
  int status = -1;  // exit status, -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// The emulator a cross build's tests run under (CMAKE_CROSSCOMPILING_EMULATOR,
// its words separated by spaces), empty for a native build. A program the tests
// start is run through it too: the host cannot execute the target's binaries.
inline std::vector<std::string> emulator_words() {
  std::vector<std::string> words;
#ifdef BRINDLE_TEST_EMULATOR
  std::string w;
  for (const char c : std::string(BRINDLE_TEST_EMULATOR)) {
    if (c == ' ') {
      if (!w.empty()) words.push_back(w);
      w.clear();
    } else {
      w += c;
    }
  }
  if (!w.empty()) words.push_back(w);
#endif
  return words;
}

// Starts program with args in dir; standard input from in_path ("/dev/null"
// or a file), standard output and error to out_path and err_path. in_child,
// when given, runs in the child just before the program replaces it (to set
// a resource limit, say). Returns the child's pid.
inline pid_t start_program(const std::string& program, const std::string& dir,
                           const std::vector<std::string>& args, const std::string& in_path,
                           const std::string& out_path, const std::string& err_path,
                           const std::function<void()>& in_child = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (in_child) in_child();
    // The project's programs (built, or installed into a test's directory)
    // under a cross build's emulator; the host tools the tests use come from
    // /usr or /bin and are started as they are.
    std::vector<std::string> words;
    if (program.rfind("/usr/", 0) != 0 && program.rfind("/bin/", 0) != 0) words = emulator_words();
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for the child and collects its exit status and captured output.
inline Result finish_program(pid_t pid, const std::string& out_path, const std::string& err_path) {
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  Result r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  return r;
}

// The lines of text, without their newline characters.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream s(text);
  std::string line;
  while (std::getline(s, line)) v.push_back(line);
  return v;
}

}  // namespace testfiles
