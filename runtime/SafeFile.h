#pragma once

#include <cstddef>
#include <string>

namespace korbenit {

// Writes a file so that an existing file of that name stays whole until the new content
// is complete: the bytes go to a temporary file beside it, which takes its place
// (keeping its permission bits) only on Commit. Without a Commit nothing changes.
//
// A symbolic link is written through: the file it names is replaced, in that file's
// folder. A file that must keep its identity (another owner's, one with several hard
// links, or no regular file) is rewritten where it stands, and so is any file whose
// folder refuses new files.
class TReplacingFile {
 public:
  // Raises EFCreateError naming path, before anything is written, when no file can be
  // made there: an empty name, a folder, an existing file that may not be written, or a
  // folder that refuses new files.
  explicit TReplacingFile(std::string path);
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;
  ~TReplacingFile();

  // Raises EWriteError when fewer bytes were stored than asked.
  void Write(const void* data, std::size_t size);
  // Stores the content under the target's name; raises EWriteError on failure.
  void Commit();

 private:
  void OpenInPlace();
  void CommitInPlace();
  void NameTemporary();
  void Discard() noexcept;

  std::string FPath;       // the name given, for messages
  std::string FTarget;     // the file that is replaced: the end of any link chain
  std::string FTemporary;  // the temporary's name; empty while it has none
  int FHandle = -1;
  std::size_t FWritten = 0;
  bool FInPlace = false;
  bool FRegular = true;
  bool FCommitted = false;
};

// Whether an existing file at path may be written by this process; true when there is
// none. A file we may not write counts as read-only for the settings.
bool MayWriteExistingFile(const std::string& path);

// The seam over creating the temporary file, so tests can make a folder refuse it.
// Answers a descriptor (or -1 with errno) and sets name when the file has one.
namespace safe_file_seam {
using TCreateTemporary = int (*)(const std::string& folder, std::string& name);
extern TCreateTemporary CreateTemporary;
}  // namespace safe_file_seam

}  // namespace korbenit
