// Kill probe for the file writer: a child replaces one file again and again and is
// killed at a random moment; afterwards the file must hold one whole content, or (written
// in place) its journal must; once the next write has run, every name of the file must
// hold that write's content and nothing of ours may be left beside it. Prints key=value
// lines: torn (the file itself was torn at the kill), lost (no whole content anywhere),
// wrong_after_next_write, left_at_kill, left_after_next_write.
//   korbenit-file-probe normal|in-place|named FOLDER [ROUNDS]
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "SafeFile.h"
#include "posix/SafeFileSeam.h"

namespace {

namespace fs = std::filesystem;

// Two contents of a picture's size that differ in every byte, so a mix shows.
std::string Content(int which) {
  return std::string(230454, which ? 'b' : 'a');
}

void Replace(const std::string& path, const std::string& content) {
  korbenit::TReplacingFile file(path);
  file.Write(content.data(), content.size());
  file.Commit();
}

std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A minute passes for the leftovers, as it would before a user's next save.
void AgeLeftovers(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind(".kb-", 0) == 0)
      fs::last_write_time(entry.path(),
                          fs::last_write_time(entry.path()) - std::chrono::minutes(2));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: korbenit-file-probe normal|in-place|named FOLDER [ROUNDS]\n");
    return 2;
  }
  std::string mode = argv[1];
  fs::path folder = argv[2];
  int rounds = argc > 3 ? std::stoi(argv[3]) : 500;
  if (mode == "named")
    korbenit::safe_file_seam::CreateTemporary = korbenit::safe_file_seam::CreateNamedTemporary;
  fs::create_directories(folder);
  std::string target = (folder / "shot.bmp").string();
  Replace(target, Content(0));
  if (mode == "in-place") fs::create_hard_link(target, folder / "second-name.bmp");
  std::size_t expectedEntries = mode == "in-place" ? 2 : 1;
  std::mt19937 random{std::random_device{}()};
  int torn = 0, lost = 0, wrongAfterNextWrite = 0, leftAtKill = 0, leftAfterNextWrite = 0;
  auto whole = [](const std::string& content) {
    return content == Content(0) || content == Content(1);
  };
  std::vector<std::string> names = {target};
  if (mode == "in-place") names.push_back((folder / "second-name.bmp").string());
  for (int round = 0; round < rounds; ++round) {
    pid_t writer = ::fork();
    if (writer == 0) {
      for (int i = 0;; ++i) Replace(target, Content(i % 2));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    bool tornNow = false;
    for (const auto& name : names) tornNow |= !whole(Read(name));
    torn += tornNow;
    auto journalled = korbenit::JournalledContent(target);
    lost += tornNow && !(journalled && whole(*journalled));
    auto entries = [&] {
      return static_cast<std::size_t>(
          std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    };
    leftAtKill += entries() > expectedEntries;
    AgeLeftovers(folder);
    Replace(target, Content(0));
    for (const auto& name : names) wrongAfterNextWrite += Read(name) != Content(0);
    leftAfterNextWrite += entries() > expectedEntries;
  }
  std::printf("mode=%s\nrounds=%d\ntorn=%d\nlost=%d\nwrong_after_next_write=%d\n", mode.c_str(),
              rounds, torn, lost, wrongAfterNextWrite);
  std::printf("left_at_kill=%d\nleft_after_next_write=%d\n", leftAtKill, leftAfterNextWrite);
  // A file rewritten in place may be torn at the kill while its journal holds it whole.
  bool failed = (mode == "in-place" ? lost : torn) || wrongAfterNextWrite || leftAfterNextWrite;
  return failed ? 1 : 0;
}
