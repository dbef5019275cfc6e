#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace korbenit::testing {

// Whether the file writer's temporary has no name until it is committed (Linux's unnamed
// files); on Windows it is a named file beside the target.
#ifdef _WIN32
inline constexpr bool UnnamedTemporaries = false;
#else
inline constexpr bool UnnamedTemporaries = true;
#endif

// A fresh folder for one test, removed with everything in it afterwards.
class TTempFolder {
 public:
  TTempFolder() {
    static int counter = 0;
    FPath = std::filesystem::temp_directory_path() /
            ("korbenit-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  ~TTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }

  std::string operator/(const std::string& name) const { return (FPath / name).string(); }
  const std::filesystem::path& Path() const { return FPath; }
  // Every entry of the folder, to see that nothing was left behind.
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(FPath),
                                                  std::filesystem::directory_iterator()));
  }

 private:
  std::filesystem::path FPath;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace korbenit::testing
