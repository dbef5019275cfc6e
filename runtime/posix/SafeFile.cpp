// Replacing files on Linux: the new content goes to an unnamed file (O_TMPFILE) in the
// target's folder, which is given a short name and renamed over the target only once it
// is complete, so a writer that is killed leaves nothing behind. File systems without
// unnamed files get a short named temporary instead. Files are created with mode 0666
// and the kernel applies the umask.
#include "../SafeFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "../RuntimeErrors.h"

namespace korbenit {
namespace {

constexpr int MaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Short and independent of the target's name, so even a 255-byte name can be replaced.
std::string TemporaryName(const std::string& folder) {
  static thread_local std::mt19937 random{std::random_device{}()};
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = folder + "/.kb-";
  for (int i = 0; i < 8; ++i) name += letters[random() % (sizeof letters - 1)];
  return name;
}

int CreateNamedTemporary(const std::string& folder, std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = TemporaryName(folder);
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  name.clear();
  return -1;
}

int CreateTemporaryFile(const std::string& folder, std::string& name) {
  name.clear();
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) return fd;
  bool unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
  return unsupported ? CreateNamedTemporary(folder, name) : -1;
}

// The file a chain of symbolic links ends at (which need not exist yet).
std::string FollowLinks(std::string path) {
  for (int hop = 0; hop < MaxLinkHops; ++hop) {
    char target[PATH_MAX];
    ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length < 0 || length == static_cast<ssize_t>(sizeof target)) return path;
    std::string next(target, static_cast<std::size_t>(length));
    path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
  }
  return path;
}

bool RefusedByFolder(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

// Replacing such a file would change its owner, cut its other names, or put a plain
// file where a device or pipe was.
bool MustKeepItsIdentity(const struct stat& file) {
  return !S_ISREG(file.st_mode) || file.st_uid != ::geteuid() || file.st_nlink > 1;
}

}  // namespace

namespace safe_file_seam {
TCreateTemporary CreateTemporary = CreateTemporaryFile;
}  // namespace safe_file_seam

bool MayWriteExistingFile(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT;
}

TReplacingFile::TReplacingFile(std::string path) : FPath(std::move(path)) {
  if (FPath.empty() || FPath.back() == '/') throw EFCreateError(FPath);
  FTarget = FollowLinks(FPath);
  struct stat existing {};
  bool exists = ::stat(FTarget.c_str(), &existing) == 0;
  if (exists && (S_ISDIR(existing.st_mode) || !MayWriteExistingFile(FTarget)))
    throw EFCreateError(FPath);
  if (exists && MustKeepItsIdentity(existing)) {
    FRegular = S_ISREG(existing.st_mode);
    OpenInPlace();
    return;
  }
  FHandle = safe_file_seam::CreateTemporary(FolderOf(FTarget), FTemporary);
  if (FHandle >= 0) {
    if (exists) ::fchmod(FHandle, existing.st_mode & 07777);
    return;
  }
  if (exists && RefusedByFolder(errno)) {
    OpenInPlace();
    return;
  }
  throw EFCreateError(FPath);
}

// The old content stays until the first byte is written.
void TReplacingFile::OpenInPlace() {
  FHandle = ::open(FTarget.c_str(), O_WRONLY | O_CLOEXEC);
  if (FHandle < 0) throw EFCreateError(FPath);
  FInPlace = true;
}

TReplacingFile::~TReplacingFile() {
  Discard();
}

void TReplacingFile::Discard() noexcept {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
  if (!FCommitted && !FTemporary.empty()) ::unlink(FTemporary.c_str());
  FTemporary.clear();
}

void TReplacingFile::Write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t written = ::write(FHandle, bytes + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw EWriteError();
    done += static_cast<std::size_t>(written);
  }
  FWritten += size;
}

// An unnamed file gets its name only now, complete and on disk.
void TReplacingFile::NameTemporary() {
  std::string self = "/proc/self/fd/" + std::to_string(FHandle);
  std::string folder = FolderOf(FTarget);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TemporaryName(folder);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
        ::linkat(FHandle, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) {
      FTemporary = name;
      return;
    }
    if (errno != EEXIST) break;
  }
  throw EWriteError();
}

void TReplacingFile::CommitInPlace() {
  // What is left of a longer old content goes; devices and pipes have no length.
  bool stored = !FRegular ||
                (::ftruncate(FHandle, static_cast<off_t>(FWritten)) == 0 && ::fsync(FHandle) == 0);
  bool closed = ::close(FHandle) == 0;
  FHandle = -1;
  if (!stored || !closed) throw EWriteError();
}

void TReplacingFile::Commit() {
  if (FInPlace) {
    CommitInPlace();
    FCommitted = true;
    return;
  }
  // The content reaches the disk before it takes the old file's name, so a crash leaves
  // one whole file or the other.
  if (::fsync(FHandle) != 0) throw EWriteError();
  if (FTemporary.empty()) NameTemporary();
  bool closed = ::close(FHandle) == 0;
  FHandle = -1;
  if (!closed || ::rename(FTemporary.c_str(), FTarget.c_str()) != 0) throw EWriteError();
  FCommitted = true;
  FTemporary.clear();
}

}  // namespace korbenit
