#pragma once

// What the benchmarks measure of their own process.
#include <time.h>
#include <unistd.h>

#include <fstream>

namespace korbenit {

// CPU time of the whole process, every thread counted.
inline double CpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Resident memory now.
inline double RssMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1048576.0;
}

}  // namespace korbenit
