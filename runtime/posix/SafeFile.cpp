// Replacing files on Linux: the new content goes to an unnamed file (O_TMPFILE) in the
// target's folder, which is given a short name and renamed over the target only once it
// is complete, so a writer that is killed leaves nothing behind. File systems without
// unnamed files get a short named temporary instead, which a later write removes if its
// writer was killed. Files are created with mode 0666 and the kernel applies the umask.
#include "../SafeFile.h"
#include "../RuntimePlatform.h"
#include "SafeFileSeam.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "../RuntimeErrors.h"

namespace korbenit {
namespace {

constexpr int MaxLinkHops = 40;
// ".kb-" + 12 lowercase hexadecimal digits + ".tmp": a pattern no name a person gives a
// file is likely to have, since only names of exactly that pattern are ever swept.
constexpr char TemporaryPrefix[] = ".kb-";
constexpr char TemporarySuffix[] = ".tmp";
constexpr char TemporaryLetters[] = "0123456789abcdef";
constexpr std::size_t TemporaryLength = 12;
// A temporary this old has no live writer: a write takes well under a second.
constexpr time_t StaleAfterSeconds = 60;

// A descriptor of our own, closed with its owner unless released.
class TDescriptor {
 public:
  explicit TDescriptor(int fd) : FFd(fd) {}
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  TDescriptor(TDescriptor&& other) noexcept : FFd(other.Release()) {}
  TDescriptor& operator=(TDescriptor&& other) noexcept {
    if (this != &other) {
      if (FFd >= 0) ::close(FFd);
      FFd = other.Release();
    }
    return *this;
  }
  ~TDescriptor() {
    if (FFd >= 0) ::close(FFd);
  }
  int Get() const { return FFd; }
  int Release() { return std::exchange(FFd, -1); }

 private:
  int FFd;
};

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Short and independent of the target's name, so even a 255-byte name can be replaced.
std::string TemporaryName(const std::string& folder) {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::string name = folder + "/" + TemporaryPrefix;
  for (std::size_t i = 0; i < TemporaryLength; ++i)
    name += TemporaryLetters[random() % (sizeof TemporaryLetters - 1)];
  return name + TemporarySuffix;
}

int CreateTemporaryFile(const std::string& folder, std::string& name) {
  name.clear();
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) return fd;
  bool unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
  return unsupported ? safe_file_seam::CreateNamedTemporary(folder, name) : -1;
}

// The kernel follows a link in a sticky folder that anybody may write only for the
// link's owner or the folder's owner; we follow links by hand, so we keep that rule.
bool MayFollowLink(const std::string& link, const struct stat& info) {
  struct stat folder {};
  if (::stat(FolderOf(link).c_str(), &folder) != 0) return false;
  bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || info.st_uid == ::geteuid() || info.st_uid == folder.st_uid;
}

// The same rule for every folder on the way: each one that is a link must be one the
// rule lets us follow.
bool FoldersMayBeFollowed(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string prefix = folder.substr(0, slash);
    struct stat info {};
    if (::lstat(prefix.c_str(), &info) == 0 && S_ISLNK(info.st_mode) &&
        !MayFollowLink(prefix, info))
      return false;
    if (slash == std::string::npos) return true;
  }
}

// The file a chain of symbolic links ends at (which need not exist yet); nothing for a
// loop or a link that may not be followed.
std::optional<std::string> FollowLinks(std::string path) {
  for (int hop = 0; hop < MaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    if (!MayFollowLink(path, info)) return std::nullopt;
    char target[PATH_MAX];
    ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || length == static_cast<ssize_t>(sizeof target)) return std::nullopt;
    std::string next(target, static_cast<std::size_t>(length));
    path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
  }
  return std::nullopt;
}

bool IsTemporaryName(std::string_view name) {
  std::string_view prefix = TemporaryPrefix, suffix = TemporarySuffix;
  if (name.size() != prefix.size() + TemporaryLength + suffix.size() ||
      name.substr(0, prefix.size()) != prefix || name.substr(name.size() - suffix.size()) != suffix)
    return false;
  std::string_view letters = name.substr(prefix.size(), TemporaryLength);
  return letters.find_first_not_of(TemporaryLetters) == std::string_view::npos;
}

bool IsOurStaleTemporary(int folder, const char* name, time_t now) {
  if (!IsTemporaryName(name)) return false;
  struct stat info {};
  return ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
         info.st_uid == ::geteuid() && now - info.st_mtime > StaleAfterSeconds;
}

// What a killed writer left: our prefix, our user, older than any live write.
void RemoveStaleTemporaries(const std::string& path) {
  std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), ::closedir);
  if (!folder) return;
  time_t now = ::time(nullptr);
  int fd = ::dirfd(folder.get());
  while (dirent* entry = ::readdir(folder.get()))
    if (IsOurStaleTemporary(fd, entry->d_name, now)) ::unlinkat(fd, entry->d_name, 0);
}

bool RefusedByFolder(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

// Replacing such a file would change its owner or cut its other names.
bool MustKeepItsIdentity(const struct stat& file) {
  return file.st_uid != ::geteuid() || file.st_nlink > 1;
}

// The names of a file's extended attributes; nothing when it cannot have any.
std::optional<std::vector<std::string>> AttributeNames(int fd) {
  ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size < 0)
    return errno == ENOTSUP ? std::make_optional(std::vector<std::string>{}) : std::nullopt;
  std::vector<char> list(static_cast<std::size_t>(size));
  size = ::flistxattr(fd, list.data(), list.size());
  if (size < 0) return std::nullopt;
  std::vector<std::string> names;
  for (std::size_t at = 0; at < static_cast<std::size_t>(size); at += names.back().size() + 1)
    names.emplace_back(list.data() + at);
  return names;
}

// Extended attributes, POSIX ACLs among them, exactly as the old file had them: what the
// new file took from its folder (a default access list) and the old did not have goes.
// False when one cannot be carried over or taken away.
bool CopyAttributes(int from, int to) {
  auto names = AttributeNames(from), inherited = AttributeNames(to);
  if (!names || !inherited) return false;
  for (const std::string& name : *inherited)
    if (std::find(names->begin(), names->end(), name) == names->end() &&
        ::fremovexattr(to, name.c_str()) != 0)
      return false;
  for (const std::string& attribute : *names) {
    const char* name = attribute.c_str();
    ssize_t length = ::fgetxattr(from, name, nullptr, 0);
    std::vector<char> value(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    if (length < 0 || ::fgetxattr(from, name, value.data(), value.size()) != length ||
        ::fsetxattr(to, name, value.data(), value.size(), 0) != 0)
      return false;
  }
  return true;
}

// Room for the whole content before the first old byte goes. Where the file system
// cannot reserve, the free space is checked instead.
bool ReserveSpace(int fd, std::size_t total) {
  if (total == 0 || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(total)) == 0)
    return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
  struct stat info {};
  struct statvfs space {};
  if (::fstat(fd, &info) != 0 || ::fstatvfs(fd, &space) != 0) return false;
  auto present = static_cast<std::size_t>(info.st_size);
  std::size_t needed = total > present ? total - present : 0;
  return needed <= static_cast<std::size_t>(space.f_bavail) * space.f_frsize;
}

bool WriteAllAt(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// The journal of an in-place write: the old content of one file, kept beside it while the
// file is rewritten where it stands. It is ".kb-journal-" + a hash of the file's device
// and inode, so a write through any of the file's names in that folder finds it, and
// holds "KBJ1", the file's identity (device, inode), the content and a checksum of all of
// it; it takes its name only once it is whole and on disk.
constexpr char JournalMagic[] = "KBJ1";

uint64_t Fnv1a(std::string_view bytes, uint64_t hash = 14695981039346656037ull) {
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// A file's identity as the journal records it; empty for no file.
std::string IdentityOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

void AppendNumber(std::string& bytes, uint64_t number) {
  bytes.append(reinterpret_cast<const char*>(&number), sizeof number);
}

bool TakeNumber(std::string_view& bytes, uint64_t& number) {
  if (bytes.size() < sizeof number) return false;
  std::copy_n(bytes.data(), sizeof number, reinterpret_cast<char*>(&number));
  bytes.remove_prefix(sizeof number);
  return true;
}

std::string EncodeJournal(const std::string& identity, const std::string& content) {
  std::string bytes = JournalMagic;
  AppendNumber(bytes, identity.size());
  bytes += identity;
  AppendNumber(bytes, content.size());
  bytes += content;
  AppendNumber(bytes, Fnv1a(bytes));
  return bytes;
}

// The file's identity and old content, when bytes are a whole journal.
std::optional<std::pair<std::string, std::string>> DecodeJournal(std::string_view bytes) {
  constexpr std::size_t Magic = sizeof JournalMagic - 1;
  uint64_t checksum = 0, identitySize = 0, contentSize = 0;
  if (bytes.size() < Magic + sizeof checksum || bytes.substr(0, Magic) != JournalMagic)
    return std::nullopt;
  std::string_view body = bytes.substr(0, bytes.size() - sizeof checksum);
  std::string_view tail = bytes.substr(body.size());
  if (!TakeNumber(tail, checksum) || checksum != Fnv1a(body)) return std::nullopt;
  body.remove_prefix(Magic);
  if (!TakeNumber(body, identitySize) || body.size() < identitySize) return std::nullopt;
  std::string identity(body.substr(0, identitySize));
  body.remove_prefix(identitySize);
  if (!TakeNumber(body, contentSize) || body.size() != contentSize) return std::nullopt;
  return std::make_pair(std::move(identity), std::string(body));
}

std::optional<std::string> ReadAll(int fd) {
  std::string text;
  char block[65536];
  for (;;) {
    ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return text;
    text.append(block, static_cast<std::size_t>(got));
  }
}

void SyncFolder(const std::string& folder) {
  TDescriptor handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle.Get() >= 0) ::fsync(handle.Get());
}

// content in place of what fd holds, on disk when it returns true; the space for all of it
// is reserved before the first old byte is overwritten.
bool StoreInPlace(int fd, const std::string& content) {
  return ReserveSpace(fd, content.size()) && WriteAllAt(fd, content) &&
         ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 && ::fsync(fd) == 0;
}

// Writes the journal of target's old content: whole and on disk under its name, or not
// there at all.
bool WriteJournal(const std::string& target, const std::string& old) {
  std::string folder = FolderOf(target), temporary;
  TDescriptor file(safe_file_seam::CreateNamedTemporary(folder, temporary));
  if (file.Get() < 0) return false;
  std::string bytes = EncodeJournal(IdentityOf(target), old);
  bool stored = WriteAllAt(file.Get(), bytes) && ::fsync(file.Get()) == 0 &&
                ::rename(temporary.c_str(), JournalPath(target).c_str()) == 0;
  if (!stored) ::unlink(temporary.c_str());
  if (stored) SyncFolder(folder);
  return stored;
}

// An in-place write that a kill interrupted is rolled back: the old content goes back in
// whole and its journal goes. False when that could not be done (the journal stays).
bool RollBackInterruptedWrite(const std::string& target) {
  std::string journal = JournalPath(target);
  TDescriptor file(::open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.Get() < 0) return errno == ENOENT;
  auto bytes = ReadAll(file.Get());
  auto kept = bytes ? DecodeJournal(*bytes) : std::nullopt;
  if (kept && kept->first != IdentityOf(target)) return true;  // another file's, by chance
  if (kept) {
    TDescriptor old(::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (old.Get() < 0 || !StoreInPlace(old.Get(), kept->second)) return false;
  }
  ::unlink(journal.c_str());
  SyncFolder(FolderOf(target));
  return true;
}

}  // namespace

std::string JournalPath(const std::string& target) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx",
                static_cast<unsigned long long>(Fnv1a(IdentityOf(target))));
  return FolderOf(target) + "/.kb-journal-" + hash;
}

std::optional<std::string> JournalledContent(const std::string& target) {
  TDescriptor file(::open(JournalPath(target).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  auto bytes = file.Get() >= 0 ? ReadAll(file.Get()) : std::nullopt;
  auto kept = bytes ? DecodeJournal(*bytes) : std::nullopt;
  if (!kept || kept->first != IdentityOf(target)) return std::nullopt;
  return kept->second;
}

namespace safe_file_seam {
TCreateTemporary CreateTemporary = CreateTemporaryFile;
TAfterJournal AfterJournal = nullptr;

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
}  // namespace safe_file_seam

bool MayWriteExistingFile(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT;
}

namespace {

// The failures of the writer, with the kind the system's error number gives them.
[[noreturn]] void ThrowCreateError(const std::string& path, int error = errno) {
  throw EFCreateError(path, FileFailureKind(error, TFailureKind::CannotCreate), error);
}

[[noreturn]] void ThrowWriteError(int error = errno) {
  throw EWriteError(FileFailureKind(error, TFailureKind::WriteFailed), error);
}

}  // namespace

struct TReplacingFile::TPlatform {
  explicit TPlatform(std::string path);
  TPlatform(const TPlatform&) = delete;
  TPlatform& operator=(const TPlatform&) = delete;
  ~TPlatform();

  void TakePermissionsOf(const std::string& source);
  void Write(const void* data, std::size_t size);
  void PatchAt(std::size_t offset, const void* data, std::size_t size);
  void Commit();
  void UseInPlace(int handle);
  bool TakeOverIdentity(int old);
  void CommitInPlace();
  void NameTemporary();
  void Discard() noexcept;

  std::string FPath;       // the name given, for messages
  std::string FTarget;     // the file that is replaced: the end of any link chain
  std::string FTemporary;  // the temporary's name; empty while it has none
  int FHandle = -1;
  std::string FHeld;  // the content of an in-place write, until Commit
  bool FInPlace = false;
  bool FCommitted = false;
};

TReplacingFile::TReplacingFile(std::string path)
    : FPlatform(std::make_unique<TPlatform>(std::move(path))) {}

TReplacingFile::~TReplacingFile() = default;

void TReplacingFile::TakePermissionsOf(const std::string& source) {
  FPlatform->TakePermissionsOf(source);
}

void TReplacingFile::Write(const void* data, std::size_t size) {
  FPlatform->Write(data, size);
}

// Held content of an in-place write finds its room at Commit.
bool TReplacingFile::ReserveAhead(std::size_t bytes) noexcept {
  auto& p = *FPlatform;
  if (p.FInPlace) return true;
  struct stat info {};
  return ::fstat(p.FHandle, &info) == 0 &&
         ReserveSpace(p.FHandle, static_cast<std::size_t>(info.st_size) + bytes);
}

void TReplacingFile::PatchAt(std::size_t offset, const void* data, std::size_t size) {
  FPlatform->PatchAt(offset, data, size);
}

void TReplacingFile::Commit() {
  FPlatform->Commit();
}

// The target is opened before anything else, without following a last link and without
// waiting on a pipe: the kernel's own checks decide whether it may be written at all.
TReplacingFile::TPlatform::TPlatform(std::string path) : FPath(std::move(path)) {
  if (FPath.empty() || FPath.back() == '/') throw EFCreateError(FPath);
  if (NameTooLongForFiles(FPath)) throw EFCreateError(FPath, TFailureKind::NameTooLong);
  auto target = FollowLinks(FPath);
  if (!target) ThrowCreateError(FPath);
  FTarget = *target;
  if (!FoldersMayBeFollowed(FolderOf(FTarget))) throw EFCreateError(FPath);
  if (!RollBackInterruptedWrite(FTarget)) ThrowCreateError(FPath);
  RemoveStaleTemporaries(FolderOf(FTarget));
  TDescriptor old(
      ::open(FTarget.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (old.Get() < 0 && errno != ENOENT) ThrowCreateError(FPath);
  struct stat existing {};
  bool exists = old.Get() >= 0;
  if (exists && (::fstat(old.Get(), &existing) != 0 || !S_ISREG(existing.st_mode)))
    ThrowCreateError(FPath);
  if (exists && (existing.st_mode & 0222) == 0) throw EFCreateError(FPath, TFailureKind::ReadOnly);
  if (exists && MustKeepItsIdentity(existing)) {
    UseInPlace(old.Release());
    return;
  }
  FHandle = safe_file_seam::CreateTemporary(FolderOf(FTarget), FTemporary);
  if (FHandle < 0) {
    if (!exists || !RefusedByFolder(errno)) ThrowCreateError(FPath);
    UseInPlace(old.Release());
    return;
  }
  if (exists && !TakeOverIdentity(old.Get())) {
    Discard();
    UseInPlace(old.Release());
  }
}

// The old file's group, mode and attributes; false when the new file cannot take them.
bool TReplacingFile::TPlatform::TakeOverIdentity(int old) {
  struct stat existing {
  }, fresh{};
  if (::fstat(old, &existing) != 0 || ::fstat(FHandle, &fresh) != 0) return false;
  if (existing.st_gid != fresh.st_gid &&
      ::fchown(FHandle, static_cast<uid_t>(-1), existing.st_gid) != 0)
    return false;
  // The mode last: set over the access list it was copied with, it leaves that list whole.
  return CopyAttributes(old, FHandle) && ::fchmod(FHandle, existing.st_mode & 07777) == 0;
}

// The old content stays until Commit.
void TReplacingFile::TPlatform::UseInPlace(int handle) {
  FHandle = handle;
  FInPlace = true;
}

void TReplacingFile::TPlatform::TakePermissionsOf(const std::string& source) {
  struct stat info {};
  if (::stat(source.c_str(), &info) != 0 || ::fchmod(FHandle, info.st_mode & 07777) != 0)
    ThrowWriteError();
}

TReplacingFile::TPlatform::~TPlatform() {
  Discard();
}

void TReplacingFile::TPlatform::Discard() noexcept {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
  if (!FCommitted && !FTemporary.empty()) ::unlink(FTemporary.c_str());
  FTemporary.clear();
}

void TReplacingFile::TPlatform::Write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  if (FInPlace) {
    WithRuntimeMemoryError([&] { FHeld.append(bytes, size); });
    return;
  }
  std::size_t done = 0;
  while (done < size) {
    ssize_t written = ::write(FHandle, bytes + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) ThrowWriteError();
    done += static_cast<std::size_t>(written);
  }
}

void TReplacingFile::TPlatform::PatchAt(std::size_t offset, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  if (FInPlace) {
    if (offset + size > FHeld.size()) throw EWriteError();
    std::copy_n(bytes, size, FHeld.begin() + static_cast<std::ptrdiff_t>(offset));
    return;
  }
  if (::pwrite(FHandle, bytes, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size))
    ThrowWriteError();
}

// An unnamed file gets its name only now, complete and on disk.
void TReplacingFile::TPlatform::NameTemporary() {
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
  ThrowWriteError();
}

// The old content is kept in a journal beside the file until the new one is on disk, so
// a kill in the middle leaves one whole content: in the file, or in the journal, which the
// next write of that name puts back. A folder that takes no new file gets no journal.
void TReplacingFile::TPlatform::CommitInPlace() {
  bool journalled = false;
  {
    TDescriptor reading(::open(FTarget.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    auto old = reading.Get() >= 0 ? ReadAll(reading.Get()) : std::nullopt;
    journalled = old && WriteJournal(FTarget, *old);
  }
  if (journalled && safe_file_seam::AfterJournal) safe_file_seam::AfterJournal(FTarget);
  bool stored = StoreInPlace(FHandle, FHeld);
  int error = stored ? 0 : errno;
  bool closed = ::close(FHandle) == 0;
  FHandle = -1;
  if (journalled && stored) ::unlink(JournalPath(FTarget).c_str());
  if (journalled && !stored) RollBackInterruptedWrite(FTarget);
  if (!stored || !closed) ThrowWriteError(stored ? errno : error);
}

void TReplacingFile::TPlatform::Commit() {
  if (FInPlace) {
    CommitInPlace();
    FCommitted = true;
    return;
  }
  // The content reaches the disk before it takes the old file's name, so a crash leaves
  // one whole file or the other.
  if (::fsync(FHandle) != 0) ThrowWriteError();
  if (FTemporary.empty()) NameTemporary();
  bool closed = ::close(FHandle) == 0;
  FHandle = -1;
  if (!closed || ::rename(FTemporary.c_str(), FTarget.c_str()) != 0) ThrowWriteError();
  FCommitted = true;
  FTemporary.clear();
}

std::optional<std::string> ReadRegularFile(const std::string& path) {
  TDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0) return std::nullopt;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return std::nullopt;
  }
  return ReadAll(file.Get());
}

struct TFileLock::TPlatform {
  TDescriptor Folder{-1};
  TDescriptor File{-1};
  bool Held = false;
};

namespace {

// flock without blocking, tried until the deadline: a lock never waited for forever.
bool LockUntil(int fd, int operation, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool SameFile(int fd, const std::string& path) {
  struct stat locked {
  }, now{};
  return ::fstat(fd, &locked) == 0 && ::stat(path.c_str(), &now) == 0 &&
         locked.st_dev == now.st_dev && locked.st_ino == now.st_ino;
}

}  // namespace

// Every writer of the file takes the folder's lock first, so the file is never replaced
// while we wait for its own lock; only another name of it, elsewhere, may hold it.
TFileLock::TFileLock(const std::string& path, bool exclusive, std::chrono::milliseconds timeout)
    : FPlatform(std::make_unique<TPlatform>()) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  int operation = exclusive ? LOCK_EX : LOCK_SH;
  auto& p = *FPlatform;
  p.Folder =
      TDescriptor(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC));
  if (p.Folder.Get() < 0 || !LockUntil(p.Folder.Get(), operation, deadline)) return;
  do {
    TDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) {
      p.Held = errno == ENOENT;
      return;
    }
    if (!LockUntil(file.Get(), operation, deadline)) return;
    if (SameFile(file.Get(), path)) {
      p.File = std::move(file);
      p.Held = true;
      return;
    }
  } while (std::chrono::steady_clock::now() < deadline);
}

bool TFileLock::Held() const {
  return FPlatform->Held;
}

TFileLock::~TFileLock() = default;

}  // namespace korbenit
