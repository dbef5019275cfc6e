#include "SafeFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "RuntimeErrors.h"
#include "TempFolder.h"
#include "Unprivileged.h"

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

TEST(ReplacingFile, ANameThatCanHoldNoFileFailsBeforeAnythingIsWritten) {
  TTempFolder folder;
  fs::create_directory(folder / "pictures");
  for (std::string path :
       {std::string(), folder / "pictures", folder / "pictures/", folder / "missing/picture.bmp"}) {
    try {
      TReplacingFile file(path);
      ADD_FAILURE() << "made a file at '" << path << "'";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht erstellt werden");
    }
  }
  EXPECT_EQ(folder.EntryCount(), 1u);
  EXPECT_TRUE(fs::is_empty(folder / "pictures"));
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
