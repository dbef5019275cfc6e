#include "PortList.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>

#include "AsciiCase.h"
#include "SerialError.h"
#include "posix/VirtualPorts.h"

namespace korbenit {
namespace {

namespace fs = std::filesystem;

TEST(NaturalCompare, OrdersLikeThePortListNeeds) {
  struct Case {
    const char *a, *b;
    int result;
  };
  for (auto c : {Case{"COM2", "COM10", -1}, Case{"COM10", "COM9", +1}, Case{"com3", "COM3", 0},
                 Case{"COM 5", "COM5", 0}, Case{"COM01", "COM1", -1}, Case{"COM007", "COM7", -1},
                 Case{"COM10", "COM010", +1}, Case{"x12", "x13", -1}, Case{"COM1A", "COM1", +1},
                 Case{"a", "B", -1}, Case{"", "", 0}, Case{"", "!", -1}, Case{"", " ", 0},
                 // White space ends a digit run: "1 2" is the run "1", shorter than "12".
                 Case{"C O M 1 2", "COM12", -1}, Case{"COM1 2", "COM12", -1},
                 Case{"v 12", "v 9", +1}, Case{"x\0yz", "x", 0}, Case{"\xE4", "a", +1},
                 Case{"file2b", "file2a", +1}, Case{"0.5", "0.45", -1}}) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(NaturalCompare(c.a, c.b, false), c.result);
    EXPECT_EQ(NaturalCompare(c.b, c.a, false), -c.result);
  }
}

TEST(NaturalCompare, FoldsAsciiLettersAloneWhateverTheLocale) {
  std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "tr_TR.UTF-8")) GTEST_SKIP() << "no Turkish locale installed";
  EXPECT_EQ(NaturalCompare("ttyi0", "TTYI0", false), 0);
  EXPECT_FALSE(LessIgnoringCase("ttyi0", "TTYI0"));
  EXPECT_FALSE(LessIgnoringCase("TTYI0", "ttyi0"));
  EXPECT_TRUE(SameTextIgnoringCase("ttyi0", "TTYI0"));
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(NaturalCompare, CaseSensitiveComparesRawBytes) {
  EXPECT_EQ(NaturalCompare("a", "B", true), +1);
  EXPECT_EQ(NaturalCompare("com3", "COM3", true), +1);
  EXPECT_EQ(NaturalCompare("COM3", "COM3", true), 0);
}

TEST(NaturalCompare, NulEndsATextAnywhere) {
  std::string withNul("COM1\0junk", 9);
  EXPECT_EQ(NaturalCompare(withNul, "COM1", false), 0);
  EXPECT_EQ(NaturalCompare(std::string("COM\0"
                                       "9",
                                       5),
                           "COM", false),
            0);
}

TEST(NaturalSort, PutsPortsInNaturalOrder) {
  TStringList list = {"COM10", "COM2", "COM1", "COM11", "COM3", "CNCA0", "COM20"};
  CustomSort(list, NaturalSortCompare);
  TStringList expected = {"CNCA0", "COM1", "COM2", "COM3", "COM10", "COM11", "COM20"};
  EXPECT_EQ(list, expected);
  TStringList linux = {"ttyUSB10", "ttyACM0", "ttyUSB2", "ttyS1", "ttyusb1"};
  CustomSort(linux, NaturalSortCompare);
  EXPECT_EQ(linux, (TStringList{"ttyACM0", "ttyS1", "ttyusb1", "ttyUSB2", "ttyUSB10"}));
}

// A fake /sys/class/tty and virtual-ports folder.
class FakeMachine : public ::testing::Test {
 protected:
  fs::path Root =
      fs::temp_directory_path() / ("korbenit-ports-" + std::to_string(::getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::path Class = Root / "class-tty";
  fs::path Virtual = Root / "virtual";
  fs::path Devices = Root / "devices";

  void SetUp() override {
    fs::remove_all(Root);
    fs::create_directories(Class);
    fs::create_directories(Devices);
  }
  void TearDown() override { fs::remove_all(Root); }

  void AddTty(const std::string& name, bool withDevice, const char* type = nullptr) {
    fs::create_directories(Class / name);
    if (withDevice) {
      fs::create_directories(Devices / name);
      fs::create_directory_symlink(Devices / name, Class / name / "device");
    }
    if (type) std::ofstream(Class / name / "type") << type << "\n";
  }
  void AddVirtual(const std::string& name, bool alive) {
    fs::create_directories(Virtual);
    fs::path target = Devices / ("pts-" + name);
    if (alive) std::ofstream(target) << "";
    fs::create_symlink(target, Virtual / name);
  }
  TStringList List(TStringList target = {}) {
    ListSerialPorts(target, {Class.string(), Virtual.string()});
    return target;
  }
};

TEST_F(FakeMachine, ListsPortsWithADeviceAndFittedUarts) {
  AddTty("ttyUSB0", true);
  AddTty("ttyACM1", true);
  AddTty("ttyS0", true, "4");
  AddTty("ttyS1", true, "0");
  AddTty("ttyS2", true);
  AddTty("tty0", false);
  AddTty("console", false);
  EXPECT_EQ(List(), (TStringList{"ttyACM1", "ttyS0", "ttyUSB0"}));
}

TEST_F(FakeMachine, ListsLiveVirtualPortsOnly) {
  AddTty("ttyUSB0", true);
  AddVirtual("korbenit-sim", true);
  AddVirtual("Bridge", true);
  AddVirtual("ended-sim", false);
  AddVirtual("null", true);        // opens /dev/null, so it is no virtual port
  AddVirtual("with blank", true);  // not a port's name
  std::ofstream(Virtual / "not-a-link") << "";
  EXPECT_EQ(List(), (TStringList{"Bridge", "korbenit-sim", "ttyUSB0"}));
}

TEST_F(FakeMachine, AMissingVirtualFolderIsNoError) {
  AddTty("ttyACM0", true);
  EXPECT_EQ(List(), TStringList{"ttyACM0"});
}

TEST_F(FakeMachine, AnEmptyMachineGivesAnEmptyList) {
  EXPECT_EQ(List({"old"}), TStringList{});
}

TEST_F(FakeMachine, AnUnreadableClassFolderRaisesAndKeepsTheOldList) {
  struct Case {
    const char* name;
    fs::path folder;
    int system;
  };
  fs::path regularFile = Root / "plain-file";
  std::ofstream(regularFile) << "";
  for (const auto& c :
       {Case{"missing", Root / "nowhere", ENOENT}, Case{"a file", regularFile, ENOTDIR}}) {
    SCOPED_TRACE(c.name);
    TStringList target = {"COM1", "COM2"};
    try {
      ListSerialPorts(target, {c.folder.string(), Virtual.string()});
      FAIL() << "listed an unreadable folder";
    } catch (const ESerialPort& e) {
      EXPECT_EQ(e.ErrorCode(), 23);
      EXPECT_EQ(e.SystemErrorCode(), c.system);
      if (c.system == ENOENT) {
        EXPECT_STREQ(e.what(), "Registry error (win error code: 2)");
      }
    }
    EXPECT_EQ(target, (TStringList{"COM1", "COM2"}));
  }
}

// A publisher's lock file beside its link, held for as long as the object lives.
struct TPublisherLock {
  int Fd;
  explicit TPublisherLock(const fs::path& lock, bool held)
      : Fd(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (held) ::flock(Fd, LOCK_EX);
  }
  ~TPublisherLock() { ::close(Fd); }
};

TEST_F(FakeMachine, VirtualPortsCountOnlyInOurOwnFolderAndWhileTheirPublisherLives) {
  AddVirtual("plain", true);
  AddVirtual("running", true);
  AddVirtual("killed", true);
  TPublisherLock running(Virtual / "running.lock", true);
  TPublisherLock killed(Virtual / "killed.lock", false);
  struct Case {
    const char* name;
    fs::perms mode;
    uid_t owner;
    TStringList listed;
  };
  for (const auto& c : {Case{"ours", fs::perms(0700), 0, {"plain", "running"}},
                        Case{"ours, readable", fs::perms(0755), 0, {"plain", "running"}},
                        Case{"group may write", fs::perms(0770), 0, {}},
                        Case{"others may write", fs::perms(01777), 0, {}},
                        Case{"someone else's", fs::perms(0700), 65534, {}}}) {
    SCOPED_TRACE(c.name);
    fs::permissions(Virtual, c.mode);
    ASSERT_EQ(::chown(Virtual.c_str(), c.owner, 0), 0);
    EXPECT_EQ(List(), c.listed);
  }
}

// The group named in a hint must be one whose members may open the port.
TEST_F(FakeMachine, APortsGroupIsNamedOnlyWhenItGivesAccess) {
  std::string node = (Devices / "ttyFAKE0").string();
  std::ofstream(node) << "";
  struct TRow {
    gid_t Group;
    mode_t Mode;
    const char* Named;
  };
  for (const TRow& row : {TRow{65534, 0660, "nogroup"}, TRow{65534, 0600, ""},
                          TRow{65534, 0640, ""}, TRow{0, 0660, ""}}) {
    ASSERT_EQ(::chown(node.c_str(), 0, row.Group), 0);
    ::chmod(node.c_str(), row.Mode);
    EXPECT_EQ(PortGroup(node), row.Named) << row.Group << " " << row.Mode;
  }
  EXPECT_EQ(PortGroup("/dev/no-such-korbenit-port"), "");
}

TEST_F(FakeMachine, APlainNameOpensUnderDevFirstThenAsALiveVirtualPort) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  std::string restore = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", Root.c_str(), 1);
  Virtual = Root / "korbenit-ports";
  AddVirtual("sim", true);
  AddVirtual("null", true);
  AddVirtual("gone", true);
  TPublisherLock gone(Virtual / "gone.lock", false);
  std::string folder = Virtual.string();
  struct Case {
    std::string name, path;
  };
  for (const auto& c :
       {Case{"sim", folder + "/sim"}, Case{"null", "/dev/null"}, Case{"gone", "/dev/gone"},
        Case{"ttyNOSUCH9", "/dev/ttyNOSUCH9"}, Case{"/dev/ttyACM0", "/dev/ttyACM0"}})
    EXPECT_EQ(DevicePath(c.name), c.path) << c.name;
  fs::permissions(Virtual, fs::perms(0777));
  EXPECT_EQ(DevicePath("sim"), "/dev/sim") << "an untrusted folder names no port";
  saved ? ::setenv("XDG_RUNTIME_DIR", restore.c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
}

// A published name is one harmless path component that /dev does not have: anything
// else would place (and later remove) the link outside the folder, or never be opened.
TEST_F(FakeMachine, OnlyAPortsNameIsPublished) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  std::string restore = saved ? saved : "";
  fs::create_directories(Root / "run");
  ::setenv("XDG_RUNTIME_DIR", (Root / "run").c_str(), 1);
  std::ofstream(Root / "notes.txt") << "keep";
  std::string terminal = (Devices / "pts-x").string();
  for (const char* name :
       {"../../notes.txt", "a/b", ".", "..", "", "null", "with blank", "sim.lock"}) {
    EXPECT_THROW(TVirtualPortPublication(name, terminal), std::runtime_error) << name;
  }
  EXPECT_TRUE(fs::exists(Root / "notes.txt"));
  // "NAME.lock" is the lock of port NAME: publishing it would take that port's lock away.
  {
    TVirtualPortPublication held("sim", terminal);
    EXPECT_THROW(TVirtualPortPublication("sim.lock", terminal), std::runtime_error);
    EXPECT_TRUE(fs::is_regular_file(Root / "run/korbenit-ports/sim.lock")) << "sim keeps its lock";
  }
  { TVirtualPortPublication fine("sim-1_a.b", terminal); }
  saved ? ::setenv("XDG_RUNTIME_DIR", restore.c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace korbenit
