// What one flood of the chat window gave: datagrams sent, lines delivered into
// the history, and the time from the first send to the last delivery; and the
// rows in which the flood benchmarks print their figures.
#pragma once

#include <cstdio>
#include <string>

struct Run {
  long sent = 0;
  long delivered = 0;
  double seconds = 0;  // first send to last delivery
  double PerSecond() const { return seconds > 0 ? static_cast<double>(delivered) / seconds : 0; }
  double LossPercent() const {
    return sent > 0 ? 100.0 * static_cast<double>(sent - delivered) / static_cast<double>(sent) : 0;
  }
};

// One figure: its name, its value and the target it is read against.
inline void Row(const char* figure, const std::string& value, const char* target) {
  std::printf("  %-58s %16s   %s\n", figure, value.c_str(), target);
  std::fflush(stdout);
}

inline std::string Fixed(double value, int decimals, const char* unit = "") {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f%s", decimals, value, unit);
  return text;
}
