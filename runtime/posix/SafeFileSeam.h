#pragma once

// For tests and the kill probe on POSIX: how the file writer makes its temporary.
#include <optional>
#include <string>

namespace korbenit {

// The seam over creating the temporary file, so tests can make a folder refuse it.
// Answers a descriptor (or -1 with errno) and sets name when the file has one.
namespace safe_file_seam {
using TCreateTemporary = int (*)(const std::string& folder, std::string& name);
extern TCreateTemporary CreateTemporary;
// The named temporary that file systems without unnamed files get.
int CreateNamedTemporary(const std::string& folder, std::string& name);
// Called once the journal of an in-place write is on disk, before the file is touched;
// a test ends its process there to stand for a kill.
using TAfterJournal = void (*)(const std::string& target);
extern TAfterJournal AfterJournal;
}  // namespace safe_file_seam

// Where an in-place write keeps the old content of target (found through any of its
// names in that folder) until the new one is on disk, and that content when a journal of
// target is there whole (a write was interrupted).
std::string JournalPath(const std::string& target);
std::optional<std::string> JournalledContent(const std::string& target);

}  // namespace korbenit
