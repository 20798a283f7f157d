// How every benchmark reports: one figure a line on standard output, as a JSON
// object, which tools/bench.sh reads for its table and its before-and-after
// comparison (tools/bench_report.py; bench/support/figures.py is the same
// writer for the Python benchmarks). For example:
//
//   {"name": "TMemo: time per added line, 1,000,000 / 0 lines", "value": 1.04,
//    "unit": "", "target": "<= 1.2", "better": "lower", "platform": "Linux"}
//
// value is a number; true or false for a check that holds or not; null for a
// figure that could not be taken. target is text for the reader ("< 50 ms",
// "about 1") and may be empty. better is "lower" or "higher", or absent where
// neither is (a count shown for information): only figures with a direction
// are compared. platform is "Linux", "Windows", or "under Wine" for the
// Windows build run by Wine. A figure's name is whole on its own line: the
// same name on the same platform is the same figure in every run.
//
// Anything else a benchmark prints for a person goes to standard error. Safe
// to call from one thread at a time.
#pragma once

#include <string>

enum class Better { kNeither, kLower, kHigher };

// Writes the figure as one JSON line and flushes, so that a benchmark that
// dies later has still reported what it measured. A value that is not finite
// is written as null.
void WriteFigure(const std::string& name, double value, const std::string& unit,
                 const std::string& target = "", Better better = Better::kNeither);

// A check that a figure depends on, e.g. "the history holds the newest
// lines": written with the value true or false.
void WriteCheck(const std::string& name, bool holds, const std::string& target = "yes");

// A figure that could not be taken, with the reason for a person.
void WriteMissing(const std::string& name, const std::string& why, const std::string& target = "");

// n with its thousands grouped, as figures' names give sizes: "1,000,000".
std::string Grouped(long n);
