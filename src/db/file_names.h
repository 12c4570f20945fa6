// Where the program's files are opened. Every file (Vex.dat, VexStatus.dat,
// fact.txt, factexcl.txt, stat.txt) is opened under its own name in the
// working directory, unless a host maps the names to other paths: the
// volunteer-computing client does, through its slot directory. Such a host
// sets its resolver at start-up, before any file is opened or any thread
// started.
#pragma once
#include <string>

using file_resolver = std::string (*)(const std::string& name);

// Makes file_path use r (nullptr: the names themselves).
void set_file_resolver(file_resolver r);

// The path under which the file called name is opened.
std::string file_path(const std::string& name);
