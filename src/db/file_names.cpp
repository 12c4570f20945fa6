#include "db/file_names.h"

namespace {

file_resolver resolver = nullptr;

}  // namespace

void set_file_resolver(file_resolver r) { resolver = r; }

std::string file_path(const std::string& name) { return resolver != nullptr ? resolver(name) : name; }
