#pragma once

#include <cstddef>
#include <string>

namespace korbenit {

// Writes a file so that an existing file of that name stays whole until the new content
// is complete: the bytes go to a temporary file in the same folder, which replaces the
// target (keeping its permission bits) only on Commit. Without a Commit the temporary
// file is removed and the old file is untouched.
class TReplacingFile {
 public:
  enum class TFallback {
    None,     // a folder that refuses a new file fails like a file that cannot be created
    InPlace,  // ... then the existing file is rewritten where it stands
  };

  // Raises EFCreateError naming path when no file can be made.
  explicit TReplacingFile(std::string path, TFallback fallback = TFallback::None);
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;
  ~TReplacingFile();

  // Raises EWriteError when fewer bytes were stored than asked.
  void Write(const void* data, std::size_t size);
  // Stores the content under the target's name; raises EWriteError on failure.
  void Commit();

  bool InPlace() const { return FInPlace; }

 private:
  void Discard() noexcept;

  std::string FPath;
  std::string FTemporary;
  int FHandle = -1;
  bool FInPlace = false;
  bool FCommitted = false;
};

// The seam over creating the temporary file, so tests can make a folder refuse it.
namespace safe_file_seam {
using TCreateTemporary = int (*)(char* pattern);
extern TCreateTemporary CreateTemporary;
}  // namespace safe_file_seam

}  // namespace korbenit
