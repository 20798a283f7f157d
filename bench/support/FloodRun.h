// What one flood of the chat window gave: datagrams sent, lines delivered into
// the history, and the time from the first send to the last delivery.
#pragma once

struct Run {
  long sent = 0;
  long delivered = 0;
  double seconds = 0;  // first send to last delivery
  double PerSecond() const { return seconds > 0 ? static_cast<double>(delivered) / seconds : 0; }
  double LossPercent() const {
    return sent > 0 ? 100.0 * static_cast<double>(sent - delivered) / static_cast<double>(sent) : 0;
  }
};
