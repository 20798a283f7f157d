// The process's own figures from /proc/self/status, for the benchmarks that
// print memory.
#pragma once

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

// A field of /proc/self/status in kilobytes (VmRSS, VmHWM); 0 when absent.
inline long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
      return std::atol(line.c_str() + length + 1);
    }
  }
  return 0;
}
