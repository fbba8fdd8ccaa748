// Shared pieces of the benchmarks: arguments, scratch files, timing and the report lines.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/status.h"

namespace tabulon::bench {

// argv[index] as a row count, or `fallback` when absent.
inline long long RowsArgument(int argc, char** argv, int index, long long fallback = 1000000) {
  return argc > index ? std::atoll(argv[index]) : fallback;
}

// A file in /tmp named after the benchmark and the process; any old one (and its journal) is
// removed.
inline std::string ScratchPath(const std::string& stem) {
  const std::string path = "/tmp/" + stem + "_" + std::to_string(::getpid()) + ".mdb";
  ::unlink(path.c_str());
  ::unlink((path + "-journal").c_str());
  return path;
}

// The process's peak resident memory so far.
inline double PeakRssMegabytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

class Stopwatch {
 public:
  double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// User and system CPU time of the process so far: on a busy machine a truer measure of the
// work than the wall clock.
inline double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The lines every benchmark prints: rows, seconds, rows/s and peak RSS.
inline void PrintRate(long long rows, double seconds) {
  std::printf("rows: %lld\nseconds: %.3f\nrows/s: %.0f\npeak RSS: %.1f MB\n", rows, seconds,
              static_cast<double>(rows) / seconds, PeakRssMegabytes());
}

// Rows per CPU second between two CpuSeconds() readings.
inline void PrintCpuRate(long long rows, double cpu_seconds) {
  std::printf("rows per CPU second: %.0f\n", static_cast<double>(rows) / cpu_seconds);
}

// Prints a failed status and gives the exit code 1.
inline int Fail(const Status& status) {
  std::fprintf(stderr, "%s\n", status.ToString().c_str());
  return 1;
}

}  // namespace tabulon::bench
