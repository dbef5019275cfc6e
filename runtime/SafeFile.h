#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace korbenit {

// Writes a file so that an existing file of that name stays whole until the new content
// is complete: the bytes go to a temporary file beside it, which takes its place
// (keeping its permission bits, group and extended attributes, ACLs among them) only on
// Commit. Without a Commit nothing changes.
//
// A symbolic link is written through: the file it names is replaced, in that file's
// folder, unless the kernel would refuse to follow the link (one in a sticky folder that
// anybody may write, owned by neither us nor the folder's owner). A file that must keep
// its identity (another owner's, one with several hard links, one whose group or
// attributes a new file could not take) is rewritten where it stands, and so is any file
// whose folder refuses new files: its new content is held until Commit, which reserves
// the space for all of it before the first old byte is overwritten.
class TReplacingFile {
 public:
  // Raises EFCreateError naming path, before anything is written, when no file can be
  // made there: an empty or overlong name, a folder, a pipe or device, a link loop, an
  // existing file that may not be written or that nobody may write (read-only, for root
  // too), or a folder that refuses new files. Our own temporaries that a killed writer
  // left in the folder are removed.
  explicit TReplacingFile(std::string path);
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;
  ~TReplacingFile();

  // The new file takes the permission bits of source (run bits among them) instead of
  // the old file's; they are set before the new file takes the target's name.
  void TakePermissionsOf(const std::string& source);
  // Raises EWriteError when fewer bytes were stored than asked.
  void Write(const void* data, std::size_t size);
  // Makes sure that the next bytes bytes will find room on the disk; false when they
  // would not (a disk about to be full), so that a writer can end the file while it can.
  bool ReserveAhead(std::size_t bytes) noexcept;
  // Overwrites bytes already written at offset (a header filled in at the end); raises
  // EWriteError.
  void PatchAt(std::size_t offset, const void* data, std::size_t size);
  // Stores the content under the target's name; raises EWriteError on failure.
  void Commit();

 private:
  struct TPlatform;
  std::unique_ptr<TPlatform> FPlatform;
};

// Whether an existing file at path may be written by this process; true when there is
// none. A file we may not write counts as read-only for the settings.
bool MayWriteExistingFile(const std::string& path);

// The whole content of a regular file, read without ever waiting on a pipe or a device;
// nothing when it cannot be read (errno says why: EISDIR for a folder, ENOENT for none).
std::optional<std::string> ReadRegularFile(const std::string& path);

// An advisory lock for one read or one read-modify-write of a file, so that two programs
// never mix their changes; shared or exclusive. It locks the file's folder, which is there
// before the file is and stays while the file is replaced, then the file itself when it
// exists, for its other names in other folders. It waits at most timeout for both; Held
// says whether it got them. A writer that could not have it must not write.
class TFileLock {
 public:
  TFileLock(const std::string& path, bool exclusive,
            std::chrono::milliseconds timeout = std::chrono::seconds(5));
  bool Held() const;
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;
  ~TFileLock();

 private:
  struct TPlatform;
  std::unique_ptr<TPlatform> FPlatform;
};

}  // namespace korbenit
