#pragma once

// For tests and the kill probe on POSIX: how the file writer makes its temporary.
#include <string>

namespace korbenit {

// The seam over creating the temporary file, so tests can make a folder refuse it.
// Answers a descriptor (or -1 with errno) and sets name when the file has one.
namespace safe_file_seam {
using TCreateTemporary = int (*)(const std::string& folder, std::string& name);
extern TCreateTemporary CreateTemporary;
// The named temporary that file systems without unnamed files get.
int CreateNamedTemporary(const std::string& folder, std::string& name);
}  // namespace safe_file_seam

}  // namespace korbenit
