// Command line: usage text, number parsing and switch grammar.
#pragma once
#include <cstdint>
#include <string>

// Prints the usage text.
void print_usage();

// The leading unsigned decimal integer of text after white space; whatever
// follows the digits is ignored.
uint64_t toint(const std::string& text);
