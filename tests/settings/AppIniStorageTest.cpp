#include "AppIniStorage.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "FileSizeLimit.h"
#include "RuntimeErrors.h"
#include "SafeFile.h"
#include "posix/SafeFileSeam.h"
#include "TempFolder.h"
#include "Unprivileged.h"

namespace korbenit {
namespace {

using testing::ReadBytes;
using testing::TTempFolder;
using testing::WriteBytes;

struct TIniRig {
  TTempFolder Folder;
  std::string File = Folder / "Vantor_Screenshot.ini";
  std::unique_ptr<TAppIniFileStorage> Storage = std::make_unique<TAppIniFileStorage>();
  explicit TIniRig(const char* content = nullptr) {
    if (content) WriteBytes(File, content);
    Storage->SetFileName(File);
    Storage->SetDefaultSection("CONFIG");
  }
};

TEST(StoragePath, ResolvesSectionAndKey) {
  struct Case {
    const char *defaultSection, *path, *section, *key;
  };
  TAppIniFileStorage storage;
  for (auto c : {Case{"CONFIG", "COMPORT", "CONFIG", "COMPORT"},
                 Case{"CONFIG", "Main\\ShowCmd", "Main", "ShowCmd"},
                 Case{"CONFIG", "Main\\\\ShowCmd", "Main", "ShowCmd"},
                 Case{"CONFIG", "\\\\Main\\ShowCmd\\\\", "Main", "ShowCmd"},
                 Case{"CONFIG", "A\\B\\Key", "A\\B", "Key"},
                 Case{"CONFIG", ".Sub\\Key", "CONFIG.Sub", "Key"},
                 Case{"", "Main\\FormVersion", "Main", "FormVersion"}}) {
    storage.SetDefaultSection(c.defaultSection);
    EXPECT_EQ(storage.ResolvePath(c.path), (TStoragePath{c.section, c.key})) << c.path;
  }
  for (auto c : {Case{"", "COMPORT", "", ""}, Case{"", ".Sub\\Key", "", ""},
                 Case{".Odd", "Key", "", ""}}) {
    storage.SetDefaultSection(c.defaultSection);
    try {
      storage.ResolvePath(c.path);
      ADD_FAILURE() << c.path;
    } catch (const EAppStorageError& e) {
      EXPECT_STREQ(e.what(), "TAppIniFileStorage.ReadValue: Section undefined");
    }
  }
}

TEST(StrToInt, AcceptsDecimalAndHexadecimalOnly) {
  struct Good {
    const char* text;
    int32_t value;
  };
  for (auto c : {Good{"0", 0}, Good{"2", 2}, Good{"-17", -17}, Good{"+5", 5}, Good{"  42", 42},
                 Good{"$1F", 31}, Good{"x1f", 31}, Good{"0X10", 16}, Good{"-$10", -16},
                 Good{"2147483647", INT32_MAX}, Good{"-2147483648", INT32_MIN},
                 Good{"$FFFFFFFF", -1}, Good{"007", 7}})
    EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
  for (const char* bad : {"2x", "12 ", "", " ", "-", "$", "0x", "1.5", "2147483648",
                          "-2147483649", "$100000000", "abc", "1e3"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' ist kein gültiger Integerwert");
    }
  }
}

TEST(IniFile, ReadsWithoutAFileGiveDefaultsAndCreateNothing) {
  TIniRig rig;
  EXPECT_EQ(rig.Storage->ReadStr("COMPORT", ""), "");
  EXPECT_EQ(rig.Storage->ReadInt("FILEFORMAT", 1), 1);
  EXPECT_FALSE(rig.Storage->HasValue("Main\\ShowCmd"));
  EXPECT_FALSE(std::filesystem::exists(rig.File));
}

TEST(IniFile, FirstWriteCreatesTheExactBytes) {
  TIniRig rig;
  rig.Storage->WriteStr("COMPORT", "COM3");
  EXPECT_EQ(ReadBytes(rig.File), "[CONFIG]\r\nCOMPORT=COM3\r\n\r\n");
  rig.Storage->WriteInt("FILEFORMAT", -2);
  rig.Storage->WriteStr("Main\\\\NormPos", "1,2,3,4");
  rig.Storage->WriteStr("COMPORT", "ttyACM0");
  EXPECT_EQ(ReadBytes(rig.File),
            "[CONFIG]\r\nCOMPORT=ttyACM0\r\nFILEFORMAT=-2\r\n\r\n[Main]\r\nNormPos=1,2,3,4\r\n\r\n");
}

// Existing content, one write of COMPORT=COM3 in CONFIG, and the bytes afterwards.
TEST(IniFile, WritesKeepTheFileLayoutRules) {
  struct Case {
    const char *name, *before, *after;
  };
  for (auto c : {
           Case{"header in other case", "[config]\r\ncomport=COM1\r\n",
                "[config]\r\nCOMPORT=COM3\r\n\r\n"},
           Case{"blanks around =", "[CONFIG]\r\nCOMPORT = COM1\r\n",
                "[CONFIG]\r\nCOMPORT = COM1\r\nCOMPORT=COM3\r\n\r\n"},
           Case{"comments and stray lines", "stray\r\n;note\r\n[CONFIG]\r\n;x\r\n\r\nA=1\r\n",
                "[CONFIG]\r\nA=1\r\nCOMPORT=COM3\r\n\r\n"},
           Case{"two CONFIG sections", "[CONFIG]\nA=1\n[Main]\nB=2\n[CONFIG]\nCOMPORT=COM9\n",
                "[CONFIG]\r\nA=1\r\nCOMPORT=COM3\r\n\r\n[Main]\r\nB=2\r\n\r\n[CONFIG]\r\n"
                "COMPORT=COM9\r\n\r\n"},
           Case{"lone CR and LF", "[Main]\rX=1\n[CONFIG]\r\n",
                "[Main]\r\nX=1\r\n\r\n[CONFIG]\r\nCOMPORT=COM3\r\n\r\n"},
           Case{"line without =", "[CONFIG]\r\nCOMPORT\r\n",
                "[CONFIG]\r\nCOMPORT\r\nCOMPORT=COM3\r\n\r\n"},
           Case{"NUL ends the text", "[CONFIG]\r\nA=1\r\n\0B=2\r\n",
                "[CONFIG]\r\nA=1\r\nCOMPORT=COM3\r\n\r\n"},
           Case{"byte-order mark hides the header", "\xEF\xBB\xBF[CONFIG]\r\nA=1\r\n[Main]\r\nB=2\r\n",
                "[Main]\r\nB=2\r\n\r\n[CONFIG]\r\nCOMPORT=COM3\r\n\r\n"},
       }) {
    SCOPED_TRACE(c.name);
    TIniRig rig(c.before);
    rig.Storage->WriteStr("COMPORT", "COM3");
    EXPECT_EQ(ReadBytes(rig.File), c.after);
  }
}

TEST(IniFile, ValuesReadBackVerbatim) {
  TIniRig rig("[CONFIG]\r\nFILEDIR= /home/a=b/ \r\nFILEFORMAT=\r\nBAD=2x\r\nEMPTY\r\n");
  EXPECT_EQ(rig.Storage->ReadStr("FILEDIR", "x"), " /home/a=b/ ");
  EXPECT_EQ(rig.Storage->ReadInt("FILEFORMAT", 1), 0);
  EXPECT_EQ(rig.Storage->ReadStr("EMPTY", "default"), "default");
  try {
    rig.Storage->ReadInt("BAD", 1);
    FAIL() << "converted 2x";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'2x' ist kein gültiger Integerwert");
  }
  rig.Storage->WriteStr("V", "  a = b  ");
  EXPECT_EQ(rig.Storage->ReadStr("v", ""), "  a = b  ");
}

TEST(IniFile, TruthValuesAsWords) {
  TIniRig rig("[CONFIG]\r\nA=yes\r\nB=n\r\nC=2\r\nD=0\r\nE=maybe\r\n");
  EXPECT_TRUE(rig.Storage->ReadBool("A", false));
  EXPECT_FALSE(rig.Storage->ReadBool("B", true));
  EXPECT_TRUE(rig.Storage->ReadBool("C", false));
  EXPECT_FALSE(rig.Storage->ReadBool("D", true));
  EXPECT_THROW(rig.Storage->ReadBool("E", true), EConvertError);
  rig.Storage->WriteBool("F", true);
  rig.Storage->WriteBool("G", false);
  EXPECT_EQ(rig.Storage->ReadStr("F", ""), "TRUE");
  EXPECT_EQ(rig.Storage->ReadStr("G", ""), "FALSE");
}

TEST(IniFile, AnotherProgramsChangeIsSeenAtTheNextAccess) {
  TIniRig rig("[CONFIG]\r\nCOMPORT=COM1\r\n");
  EXPECT_EQ(rig.Storage->ReadStr("COMPORT", ""), "COM1");
  WriteBytes(rig.File, "[CONFIG]\r\nCOMPORT=COM7\r\n");
  EXPECT_EQ(rig.Storage->ReadStr("COMPORT", ""), "COM7");
}

TEST(IniFile, AReadOnlyFileStaysByteForByte) {
  const char* original = "; mine\r\n[CONFIG]\r\nCOMPORT=COM1\r\n";
  TIniRig rig(original);
  ::chmod(rig.File.c_str(), 0444);
  rig.Storage->Reload();
  rig.Storage->WriteStr("COMPORT", "COM3");
  rig.Storage->WriteInt("FILEFORMAT", 2);
  rig.Storage.reset();
  EXPECT_EQ(ReadBytes(rig.File), original);
}

TEST(IniFile, TheReadOnlyPropertyStopsWrites) {
  TIniRig rig;
  rig.Storage->SetReadOnly(true);
  rig.Storage->WriteStr("COMPORT", "COM3");
  rig.Storage.reset();
  EXPECT_FALSE(std::filesystem::exists(rig.File));
}

// A pipe is there but is no file that can be read, and reading it must not wait for a
// writer; a folder of that name is no settings file at all, as a missing file is not.
TEST(IniFile, AnUnreadableFileRaisesToTheCallerAndAFolderIsNoFile) {
  TTempFolder folder;
  std::string pipe = folder / "pipe.ini";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  TAppIniFileStorage storage;
  storage.FlushOnDestroy = false;
  try {
    storage.SetFileName(pipe);
    FAIL() << "read a pipe as a file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Datei " + pipe + " kann nicht geöffnet werden");
  }
  std::string named = folder / "settings.ini";
  std::filesystem::create_directory(named);
  TAppIniFileStorage defaults;
  ASSERT_NO_THROW(defaults.SetFileName(named));
  EXPECT_EQ(defaults.ReadStr("CONFIG\\COMPORT", "COM1"), "COM1");
  defaults.WriteStr("CONFIG\\COMPORT", "COM3");  // fails quietly
  EXPECT_TRUE(std::filesystem::is_directory(named));
}

// As another user: a file we cannot read is never overwritten with the empty document
// of the failed load, and someone else's file we may not write is left alone.
TEST(IniFile, AFileThisUserMayNotReadOrWriteStaysAsItWas) {
  struct Case {
    mode_t mode;
    int result;  // 1: the load raised EFOpenError
  };
  for (auto c : {Case{0200, 1}, Case{0644, 0}}) {
    SCOPED_TRACE(c.mode);
    TTempFolder folder;
    std::filesystem::permissions(folder.Path(), std::filesystem::perms(0777));
    std::string path = folder / "Vantor_Screenshot.ini";
    WriteBytes(path, "[CONFIG]\r\nA=1\r\n");
    ::chmod(path.c_str(), c.mode);
    int result = testing::RunAsNobody([&] {
      TAppIniFileStorage storage;
      try {
        storage.SetFileName(path);
      } catch (const EFOpenError&) {
        return 1;
      }
      storage.SetDefaultSection("CONFIG");
      storage.WriteStr("COMPORT", "COM3");
      return 0;  // the storage's destructor flushes as the child ends
    });
    if (result < 0) GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(result, c.result);
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(ReadBytes(path), "[CONFIG]\r\nA=1\r\n");
    struct stat info {};
    ::stat(path.c_str(), &info);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(folder.EntryCount(), 1u);
  }
}

TEST(IniFile, AFailedWriteIsSilentOrGoesToOnError) {
  TTempFolder folder;
  testing::WriteBytes(folder / "blocker", "");
  std::string path = folder / "blocker/sub/settings.ini";  // a file stands where a folder must
  TAppIniFileStorage storage;
  std::vector<std::string> errors;
  storage.SetFileName(path);
  storage.SetDefaultSection("CONFIG");
  storage.WriteStr("COMPORT", "COM3");  // silent
  storage.OnError = [&](const std::string& message) { errors.push_back(message); };
  storage.WriteStr("COMPORT", "COM3");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Datei " + path + " kann nicht erstellt werden");
  EXPECT_EQ(storage.ReadStr("COMPORT", "gone"), "gone");
  storage.OnError = nullptr;
}

// A writer waits for another program's lock a bounded time, then fails as a write fails,
// silently or to OnError, and never writes without it.
TEST(IniFile, AWriteThatCannotHaveTheLockFailsAndWritesNothing) {
  TIniRig rig("[CONFIG]\r\nCOMPORT=COM1\r\n");
  int held = ::open(rig.Folder.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::vector<std::string> errors;
  rig.Storage->OnError = [&](const std::string& message) { errors.push_back(message); };
  rig.Storage->WriteStr("COMPORT", "COM3");
  EXPECT_EQ(errors, std::vector<std::string>{"Datei " + rig.File + " kann nicht erstellt werden"});
  EXPECT_EQ(ReadBytes(rig.File), "[CONFIG]\r\nCOMPORT=COM1\r\n");
  ::close(held);
  rig.Storage->WriteStr("FILEFORMAT", "2");
  EXPECT_EQ(ReadBytes(rig.File), "[CONFIG]\r\nCOMPORT=COM3\r\nFILEFORMAT=2\r\n\r\n")
      << "the change that could not be written is written with the next";
}

TEST(IniFile, AFullDiskLeavesTheOldFileWhole) {
  std::string original = "[CONFIG]\r\nCOMPORT=COM1\r\nFILEDIR=/home/user/pictures/\r\n";
  TIniRig rig(original.c_str());
  std::vector<std::string> errors;
  rig.Storage->OnError = [&](const std::string& message) { errors.push_back(message); };
  {
    testing::TFileSizeLimit limit(16);
    rig.Storage->WriteStr("COMPORT", "COM3");
  }
  EXPECT_EQ(errors, std::vector<std::string>{"Stream-Write-Fehler"});
  EXPECT_EQ(ReadBytes(rig.File), original);
  EXPECT_EQ(rig.Folder.EntryCount(), 1u) << "no temporary file is left behind";
}

TEST(IniFile, RewritingKeepsThePermissionBits) {
  TIniRig rig("[CONFIG]\r\n");
  ::chmod(rig.File.c_str(), 0640);
  rig.Storage->WriteStr("COMPORT", "COM3");
  struct stat info {};
  ::stat(rig.File.c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(rig.Folder.EntryCount(), 1u);
}

TEST(IniFile, AFolderThatRefusesNewFilesGetsTheFileRewrittenInPlace) {
  TIniRig rig("[CONFIG]\r\nA=1\r\n");
  auto saved = safe_file_seam::CreateTemporary;
  safe_file_seam::CreateTemporary = [](const std::string&, std::string&) {
    errno = EACCES;
    return -1;
  };
  struct stat before {}, after {};
  ::stat(rig.File.c_str(), &before);
  rig.Storage->WriteStr("COMPORT", "COM3");
  safe_file_seam::CreateTemporary = saved;
  EXPECT_EQ(ReadBytes(rig.File), "[CONFIG]\r\nA=1\r\nCOMPORT=COM3\r\n\r\n");
  ::stat(rig.File.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the same file, rewritten where it stands";
}

// Two programs write one file through its two hard-linked names (rewritten in place):
// each read-modify-write waits for the other's, so no key is lost and no bytes mix.
TEST(IniFile, TwoWritersOfAHardLinkedFileTakeTurns) {
  TTempFolder folder;
  std::string names[] = {folder / "a.ini", folder / "b.ini"};
  WriteBytes(names[0], "[CONFIG]\r\n");
  std::filesystem::create_hard_link(names[0], names[1]);
  constexpr int Keys = 60;
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = ::fork();
    if (writers[w] == 0) {
      TAppIniFileStorage storage;
      storage.SetFileName(names[w]);
      for (int i = 0; i < Keys; ++i)
        storage.WriteStr("CONFIG\\W" + std::to_string(w) + "_" + std::to_string(i), std::string(40, 'v'));
      ::_exit(0);
    }
  }
  for (pid_t writer : writers) ::waitpid(writer, nullptr, 0);
  std::string text = ReadBytes(names[0]);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  TAppIniFileStorage result;
  result.SetFileName(names[1]);
  int found = 0;
  for (int w = 0; w < 2; ++w)
    for (int i = 0; i < Keys; ++i)
      found += result.ReadStr("CONFIG\\W" + std::to_string(w) + "_" + std::to_string(i), "") ==
               std::string(40, 'v');
  EXPECT_EQ(found, 2 * Keys);
}

// A change not yet written goes to the old file; a file only read stays as it was.
TEST(IniFile, ChangingTheFileFlushesTheOldAndLoadsTheNew) {
  for (bool changed : {false, true}) {
    TIniRig rig("[CONFIG]\r\nCOMPORT=COM1\r\n");
    std::string other = rig.Folder / "other.ini";
    WriteBytes(other, "[CONFIG]\r\nCOMPORT=COM8\r\n");
    rig.Storage->AutoFlush = false;
    if (changed) rig.Storage->WriteStr("FILEFORMAT", "2");
    EXPECT_EQ(rig.Storage->ReadStr("COMPORT", ""), "COM1");
    rig.Storage->SetFileName(other);
    EXPECT_EQ(ReadBytes(rig.File), changed ? "[CONFIG]\r\nCOMPORT=COM1\r\nFILEFORMAT=2\r\n\r\n"
                                           : "[CONFIG]\r\nCOMPORT=COM1\r\n");
    EXPECT_EQ(rig.Storage->ReadStr("COMPORT", ""), "COM8");
  }
}

// A run that only read leaves the file byte for byte as it was, whatever it holds; the
// first write is what drops what the format does not keep.
TEST(IniFile, ARunThatOnlyReadLeavesTheFileAsItWas) {
  std::string junk(1 << 20, '\0');
  std::mt19937 random(3);
  for (auto& c : junk) c = static_cast<char>(random());
  const std::string contents[] = {
      "; a comment\r\n[CONFIG]\r\nCOMPORT=ttyUSB0\r\n", "before=any\n[CONFIG]\nCOMPORT=ttyUSB0\n",
      std::string("[CONFIG]\r\nCOMPORT=ttyUSB0\r\n\0[Main]\r\nTop=5\r\n", 41), junk};
  for (const std::string& content : contents) {
    TIniRig rig;
    WriteBytes(rig.File, content);
    rig.Storage->ReadStr("COMPORT", "");
    rig.Storage->ReadInt("Main\\Top", 0);
    rig.Storage.reset();
    EXPECT_TRUE(ReadBytes(rig.File) == content) << content.substr(0, 40);
  }
}

// One program read the settings long ago, another wrote since: the first one's end does
// not write its old copy back.
TEST(IniFile, AnotherProgramsWriteIsNotUndone) {
  TIniRig rig("[CONFIG]\r\nCOMPORT=ttyUSB0\r\n");
  EXPECT_EQ(rig.Storage->ReadStr("COMPORT", ""), "ttyUSB0");
  {
    TAppIniFileStorage other;
    other.SetFileName(rig.File);
    other.SetDefaultSection("CONFIG");
    other.WriteStr("COMPORT", "ttyACM1");
  }
  rig.Storage.reset();
  EXPECT_EQ(ReadBytes(rig.File), "[CONFIG]\r\nCOMPORT=ttyACM1\r\n\r\n");
}

// Processes writing keys of their own into one file at once lose none of them, also when
// the file is not there yet. KORBENIT_WRITER_TRIALS sets the number of trials.
TEST(IniFile, ConcurrentWritersLoseNoKey) {
  constexpr int Writers = 4, Keys = 150;
  const char* trials = std::getenv("KORBENIT_WRITER_TRIALS");
  int count = trials ? std::atoi(trials) : 2;
  auto key = [](int writer, int number) {
    return "W" + std::to_string(writer) + "\\K" + std::to_string(number);
  };
  for (int trial = 0; trial < count; ++trial) {
    TTempFolder folder;
    std::string file = folder / "Vantor_Screenshot.ini";
    if (trial % 2) WriteBytes(file, "[CONFIG]\r\nCOMPORT=ttyUSB0\r\n");
    std::vector<pid_t> children;
    for (int writer = 0; writer < Writers; ++writer) {
      pid_t child = ::fork();
      if (child == 0) {
        TAppIniFileStorage storage;
        storage.SetFileName(file);
        for (int number = 0; number < Keys; ++number) storage.WriteInt(key(writer, number), number);
        ::_exit(0);
      }
      children.push_back(child);
    }
    for (pid_t child : children) ::waitpid(child, nullptr, 0);
    TAppIniFileStorage storage;
    storage.SetFileName(file);
    int lost = 0;
    for (int writer = 0; writer < Writers; ++writer)
      for (int number = 0; number < Keys; ++number)
        lost += storage.ReadInt(key(writer, number), -1) != number;
    EXPECT_EQ(lost, 0) << "trial " << trial;
  }
}

// A file of millions of short lines is read in memory in proportion to its size (the
// machine's RSS of a child that reads it twice), not tens of times that.
TEST(IniFile, AHugeFileIsReadInMemoryInProportionToItsSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine";
#endif
  TTempFolder folder;
  std::string file = folder / "Vantor_Screenshot.ini";
  std::string text = "[CONFIG]\n";
  for (int line = 0; line < 4'000'000; ++line) text += "a\n";
  WriteBytes(file, text);
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  pid_t child = ::fork();
  if (child == 0) {
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    TAppIniFileStorage storage;
    storage.SetFileName(file);
    storage.ReadStr("CONFIG\\COMPORT", "");
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    long grown = after.ru_maxrss - before.ru_maxrss;  // kilobytes
    [[maybe_unused]] auto sent = ::write(pipe[1], &grown, sizeof grown);
    ::_exit(0);
  }
  long grownKb = -1;
  EXPECT_EQ(::read(pipe[0], &grownKb, sizeof grownKb), static_cast<ssize_t>(sizeof grownKb));
  ::waitpid(child, nullptr, 0);
  ::close(pipe[0]);
  ::close(pipe[1]);
  EXPECT_LT(grownKb * 1024, 6 * static_cast<long>(text.size())) << grownKb << " KB";
}

// Malformed files parse without a crash (the sanitizer build checks memory use).
TEST(IniDocument, MalformedInputParses) {
  std::mt19937 random(12345);
  std::vector<std::string> corpus = {
      "[", "]", "[]", "[[]]", "[unclosed\r\nA=1", "=\r\n==\r\n", "\r\r\n\n\r",
      std::string(65536, 'k') + "=v", "[" + std::string(70000, 's') + "]\r\nA=1",
      std::string("\0\0\0", 3), "[S]\r\n" + std::string(1000, '=')};
  std::string junk(4096, '\0');
  for (int round = 0; round < 20; ++round) {
    for (auto& c : junk) c = static_cast<char>(random());
    corpus.push_back(junk);
  }
  for (const auto& text : corpus) {
    TIniDocument document;
    document.Parse(text);
    document.WriteValue("CONFIG", "COMPORT", "COM3");
    TIniDocument again;
    again.Parse(document.Serialize());
    EXPECT_EQ(again.FindValue("CONFIG", "COMPORT").value_or(""), "COM3");
  }
}

}  // namespace
}  // namespace korbenit
