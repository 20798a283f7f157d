// Google Benchmark's results as figures (bench/support/Figures.h). Linux only:
// Debian has no MinGW build of the library, so the Windows build of a
// benchmark that uses it times its steps in a plain loop instead.
//
// Each benchmark's name is its figure's name. A benchmark with repetitions
// reports the median of them, one without its single run: the time per
// iteration (real time where the benchmark uses it, else processor time), in
// the benchmark's time unit, lower being better. The usual console table goes
// to standard error for a person.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class FigureReporter : public benchmark::ConsoleReporter {
 public:
  // targets: a benchmark's name to the target shown beside its figure.
  explicit FigureReporter(std::map<std::string, std::string> targets = {});

  void ReportRuns(const std::vector<Run>& runs) override;

  // The figure reported for the benchmark named name, in nanoseconds; NaN
  // when it has not run or failed.
  double Nanoseconds(const std::string& name) const;

 private:
  std::map<std::string, std::string> targets_;
  std::map<std::string, double> nanoseconds_;
};

// Runs the benchmarks registered so far with the command line's
// --benchmark_* options, reporting through reporter.
// REQUIRES: argc and argv as main got them.
void RunGoogleBenchmarks(int& argc, char** argv, FigureReporter& reporter);
