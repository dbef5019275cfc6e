#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <string>

#include "TempFolder.h"

namespace korbenit::testing {

// A small file system of its own (tmpfs, mounted as root), so that it can be filled.
class TSmallFileSystem {
 public:
  explicit TSmallFileSystem(const TTempFolder& folder, const char* size = "256k")
      : FPath(folder / "small") {
    std::filesystem::create_directory(FPath);
    FMounted =
        ::mount("tmpfs", FPath.c_str(), "tmpfs", 0, ("size=" + std::string(size)).c_str()) == 0;
  }
  TSmallFileSystem(const TSmallFileSystem&) = delete;
  TSmallFileSystem& operator=(const TSmallFileSystem&) = delete;
  ~TSmallFileSystem() {
    if (FMounted) ::umount(FPath.c_str());
  }
  bool Mounted() const { return FMounted; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
  bool FMounted = false;
};

}  // namespace korbenit::testing
