#include "SafeFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "RuntimeErrors.h"
#include "SmallFileSystem.h"
#include "TempFolder.h"
#include "Unprivileged.h"
#include "posix/SafeFileSeam.h"

namespace korbenit {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TTempFolder;
using testing::WriteBytes;

void Replace(const std::string& path, const std::string& content) {
  TReplacingFile file(path);
  file.Write(content.data(), content.size());
  file.Commit();
}

struct stat StatOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info;
}

// Each is refused with the create error at once, without waiting on a pipe, and
// leaves the folder as it was.
TEST(ReplacingFile, ANameThatCanHoldNoFileFailsBeforeAnythingIsWritten) {
  TTempFolder folder;
  fs::create_directory(folder / "pictures");
  ASSERT_EQ(::mkfifo((folder / "fifo.png").c_str(), 0600), 0);
  fs::create_symlink("loop-b", folder / "loop-a.bmp");
  fs::create_symlink("loop-a.bmp", folder / "loop-b");
  WriteBytes(folder / "read-only.bmp", "old");  // nobody may write it, root neither
  ::chmod((folder / "read-only.bmp").c_str(), 0444);
  for (std::string path :
       {std::string(), folder / "pictures", folder / "pictures/", folder / "missing/picture.bmp",
        folder / "fifo.png", folder / "loop-a.bmp", folder / (std::string(252, 'n') + ".bmp"),
        folder / "read-only.bmp"}) {
    try {
      TReplacingFile file(path);
      ADD_FAILURE() << "made a file at '" << path << "'";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht erstellt werden");
    }
  }
  EXPECT_EQ(folder.EntryCount(), 5u);
  EXPECT_TRUE(fs::is_empty(folder / "pictures"));
  EXPECT_TRUE(fs::is_fifo(folder / "fifo.png"));
  EXPECT_EQ(ReadBytes(folder / "read-only.bmp"), "old");
}

// In a sticky folder that anybody may write, a link is followed only when its owner is
// the writer or the folder's owner, as the kernel does for its own walks: the file's own
// name, or a folder on the way to it.
TEST(ReplacingFile, ALinkPlantedByAnotherUserIsNotFollowed) {
  struct TRow {
    const char* Name;
    mode_t FolderMode;
    uid_t LinkOwner;
    bool Followed;
    bool FolderLink;
  };
  for (const TRow& row :
       {TRow{"planted in a shared folder", 01777, testing::Nobody, false, false},
        TRow{"ours in a shared folder", 01777, 0, true, false},
        TRow{"another's, folder not sticky", 0777, testing::Nobody, true, false},
        TRow{"a folder planted in a shared folder", 01777, testing::Nobody, false, true},
        TRow{"our folder in a shared folder", 01777, 0, true, true}}) {
    SCOPED_TRACE(row.Name);
    TTempFolder folder;
    fs::create_directory(folder / "shared");
    ::chmod((folder / "shared").c_str(), row.FolderMode);
    fs::create_directory(folder / "victims");
    WriteBytes(folder / "victims/shot.bmp", "precious");
    std::string link = row.FolderLink ? folder / "shared/pictures" : folder / "shared/shot.bmp";
    fs::create_symlink(row.FolderLink ? folder / "victims" : folder / "victims/shot.bmp", link);
    ASSERT_EQ(::lchown(link.c_str(), row.LinkOwner, 0), 0);
    bool replaced = true;
    try {
      Replace(row.FolderLink ? link + "/shot.bmp" : link, "picture");
    } catch (const EFCreateError&) {
      replaced = false;
    }
    EXPECT_EQ(replaced, row.Followed);
    EXPECT_EQ(ReadBytes(folder / "victims/shot.bmp"), row.Followed ? "picture" : "precious");
  }
}

// An access list in the kernel's form: owner rw, user 1000 rw, group r, mask rw, others r.
std::string SampleAccessList() {
  struct TEntry {
    uint16_t Tag, Perm;
    uint32_t Id;
  };
  const TEntry entries[] = {
      {0x01, 6, ~0u}, {0x02, 6, 1000}, {0x04, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 4, ~0u}};
  uint32_t version = 2;
  std::string bytes(reinterpret_cast<const char*>(&version), sizeof version);
  bytes.append(reinterpret_cast<const char*>(entries), sizeof entries);
  return bytes;
}

std::string Attribute(const std::string& path, const char* name) {
  char value[256];
  ssize_t length = ::getxattr(path.c_str(), name, value, sizeof value);
  return length < 0 ? std::string() : std::string(value, static_cast<std::size_t>(length));
}

TEST(ReplacingFile, AReplacedFileKeepsItsGroupModeAndAttributes) {
  TTempFolder folder;
  std::string path = folder / "Vantor_Screenshot.ini";
  WriteBytes(path, "old");
  ASSERT_EQ(::chown(path.c_str(), 0, 100), 0);
  ::chmod(path.c_str(), 0664);
  std::string acl = SampleAccessList();
  if (::setxattr(path.c_str(), "user.note", "kept", 4, 0) != 0 ||
      ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
    GTEST_SKIP() << "no extended attributes or access lists here";
  ino_t before = StatOf(path).st_ino;
  Replace(path, "new");
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_NE(StatOf(path).st_ino, before) << "replaced, not rewritten in place";
  EXPECT_EQ(StatOf(path).st_gid, 100u);
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0664u);
  EXPECT_EQ(Attribute(path, "user.note"), "kept");
  EXPECT_EQ(Attribute(path, "system.posix_acl_access"), acl);
}

// A folder whose default access list lets another user in gives it to new files; a file
// that had no such list keeps having none when it is replaced there.
TEST(ReplacingFile, AReplacedFileTakesNoAccessListItDidNotHave) {
  TTempFolder folder;
  std::string path = folder / "shot.bmp";
  WriteBytes(path, "old");
  ::chmod(path.c_str(), 0640);
  std::string inherited = SampleAccessList();
  if (::setxattr(folder.Path().c_str(), "system.posix_acl_default", inherited.data(),
                 inherited.size(), 0) != 0)
    GTEST_SKIP() << "no access lists here";
  Replace(path, "new");
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_EQ(Attribute(path, "system.posix_acl_access"), "");
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
}


// A file with two names is rewritten in place with its old content in a journal beside
// it: a write killed once the journal is on disk (before the file changed, or with the
// file half written) loses nothing, and the next write of that name puts the old content
// back first, then writes its own to both names and leaves nothing beside them.
TEST(ReplacingFile, InPlaceAKilledWriteLeavesTheOldContentInItsJournal) {
  struct TRow {
    const char* Name;
    safe_file_seam::TAfterJournal Kill;
  };
  const TRow rows[] = {{"killed before the file changed", [](const std::string&) { ::_exit(0); }},
                       {"killed with the file half written", [](const std::string& target) {
                          std::ofstream(target, std::ios::binary | std::ios::in | std::ios::out)
                              << "torn";
                          ::_exit(0);
                        }}};
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    TTempFolder folder;
    std::string old(5000, 'o');
    WriteBytes(folder / "shot.bmp", old);
    fs::create_hard_link(folder / "shot.bmp", folder / "copy.bmp");
    pid_t child = ::fork();
    if (child == 0) {
      safe_file_seam::AfterJournal = row.Kill;
      Replace(folder / "copy.bmp", std::string(8000, 'n'));
      ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write went past its journal";
    EXPECT_EQ(JournalledContent(folder / "shot.bmp"), std::optional<std::string>(old));
    Replace(folder / "shot.bmp", "new");
    EXPECT_EQ(ReadBytes(folder / "shot.bmp"), "new");
    EXPECT_EQ(ReadBytes(folder / "copy.bmp"), "new");
    EXPECT_EQ(folder.EntryCount(), 2u);
  }
}

// A file with two names is rewritten in place; on a disk too full for the new content,
// both names keep the old one whole.
TEST(ReplacingFile, InPlaceTheOldContentStaysUntilThereIsRoomForTheNew) {
  TTempFolder folder;
  testing::TSmallFileSystem disk(folder);
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a file system here";
  std::string old(20000, 'o');
  WriteBytes(disk / "shot.bmp", old);
  fs::create_hard_link(disk / "shot.bmp", disk / "copy.bmp");
  WriteBytes(disk / "filler", std::string(200000, 'f'));
  EXPECT_THROW(Replace(disk / "copy.bmp", std::string(80000, 'n')), EWriteError);
  EXPECT_EQ(ReadBytes(disk / "shot.bmp"), old);
  fs::remove(disk / "filler");
  Replace(disk / "copy.bmp", std::string(80000, 'n'));
  EXPECT_EQ(ReadBytes(disk / "shot.bmp"), std::string(80000, 'n'));
}

// What a killed writer left behind goes at the next write in that folder: only our own
// temporaries, and only once no live writer can own them.
TEST(ReplacingFile, StaleTemporariesOfOursGoAtTheNextWrite) {
  TTempFolder folder;
  struct TRow {
    const char* Name;
    int AgeSeconds;
    uid_t Owner;
    bool Removed;
  };
  const TRow rows[] = {{".kb-0123456789ab.tmp", 120, 0, true},
                       {".kb-123456789abc.tmp", 5, 0, false},
                       {".kb-23456789abcd.tmp", 120, testing::Nobody, false},
                       {".kb-longer-name", 120, 0, false},
                       // A person's files of a like name are never ours.
                       {".kb-settings", 120, 0, false},
                       {".kb-Notes.md", 120, 0, false},
                       {".kb-0123456789AB.tmp", 120, 0, false},
                       {".kb-0123456789ab.txt", 120, 0, false}};
  for (const TRow& row : rows) {
    std::string path = folder / row.Name;
    WriteBytes(path, "left");
    EXPECT_EQ(::chown(path.c_str(), row.Owner, 0), 0);
    timespec times[2] = {{::time(nullptr) - row.AgeSeconds, 0},
                         {::time(nullptr) - row.AgeSeconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  Replace(folder / "shot.bmp", "new");
  for (const TRow& row : rows) EXPECT_EQ(!fs::exists(folder / row.Name), row.Removed) << row.Name;
}

// A link is written through, several names keep sharing one file, and a name of any
// length can be replaced; nothing is left beside them.
TEST(ReplacingFile, LinksAndLongNamesKeepWhatTheyAre) {
  TTempFolder folder;
  fs::create_directory(folder / "real");
  WriteBytes(folder / "real/settings.ini", "old");
  fs::create_symlink("real/settings.ini", folder / "link.ini");
  Replace(folder / "link.ini", "through the link");
  EXPECT_TRUE(fs::is_symlink(folder / "link.ini"));
  EXPECT_EQ(ReadBytes(folder / "real/settings.ini"), "through the link");

  fs::create_hard_link(folder / "real/settings.ini", folder / "second.ini");
  Replace(folder / "second.ini", "both names");
  EXPECT_EQ(ReadBytes(folder / "real/settings.ini"), "both names");
  EXPECT_EQ(StatOf(folder / "second.ini").st_nlink, 2u);

  fs::create_symlink("nowhere.ini", folder / "dangling.ini");
  Replace(folder / "dangling.ini", "new");
  EXPECT_EQ(ReadBytes(folder / "nowhere.ini"), "new");

  std::string longName = folder / (std::string(251, 'k') + ".bmp");
  WriteBytes(longName, "old");
  Replace(longName, "replaced");
  EXPECT_EQ(ReadBytes(longName), "replaced");
  EXPECT_EQ(folder.EntryCount(), 6u);
  EXPECT_EQ(fs::directory_iterator(folder / "real")->path().filename(), "settings.ini");
}

TEST(ReplacingFile, AWriterThatDiesLeavesNothingBehind) {
  TTempFolder folder;
  WriteBytes(folder / "keep.bmp", "whole");
  pid_t child = ::fork();
  if (child == 0) {
    TReplacingFile file(folder / "keep.bmp");
    file.Write("half", 4);
    ::_exit(0);  // no destructor runs, as after SIGKILL
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(folder.EntryCount(), 1u);
  EXPECT_EQ(ReadBytes(folder / "keep.bmp"), "whole");
}

TEST(ReplacingFile, ANewFileTakesTheUmask) {
  TTempFolder folder;
  mode_t saved = ::umask(027);
  Replace(folder / "new.bmp", "x");
  ::umask(saved);
  EXPECT_EQ(StatOf(folder / "new.bmp").st_mode & 07777, 0640u);
}

// Someone else's file in a folder anybody may write: replaced only in place, and only
// when we may write it, so its owner stays.
TEST(ReplacingFile, AnotherUsersFileKeepsItsOwnerAndItsRefusal) {
  struct Case {
    mode_t mode;
    int result;
    const char* content;
  };
  for (auto c : {Case{0444, 1, "old"}, Case{0644, 1, "old"}, Case{0666, 0, "new"}}) {
    SCOPED_TRACE(c.mode);
    TTempFolder folder;
    fs::permissions(folder.Path(), fs::perms(0777));
    std::string path = folder / "owned-by-root";
    WriteBytes(path, "old");
    ::chmod(path.c_str(), c.mode);
    int result = testing::RunAsNobody([&] {
      try {
        Replace(path, "new");
        return 0;
      } catch (const EFCreateError&) {
        return 1;
      }
    });
    if (result < 0) GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(ReadBytes(path), c.content);
    EXPECT_EQ(StatOf(path).st_uid, 0u);
    EXPECT_EQ(folder.EntryCount(), 1u);
  }
}

}  // namespace
}  // namespace korbenit
