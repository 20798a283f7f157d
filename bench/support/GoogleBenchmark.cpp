#include "bench/support/GoogleBenchmark.h"

#include <cmath>
#include <iostream>
#include <limits>

#include "bench/support/Figures.h"

namespace {

const char* UnitName(benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond:
      return "ns";
    case benchmark::kMicrosecond:
      return "us";
    case benchmark::kMillisecond:
      return "ms";
    case benchmark::kSecond:
      return "s";
  }
  return "";
}

double NanosecondsPer(benchmark::TimeUnit unit) {
  switch (unit) {
    case benchmark::kNanosecond:
      return 1;
    case benchmark::kMicrosecond:
      return 1e3;
    case benchmark::kMillisecond:
      return 1e6;
    case benchmark::kSecond:
      return 1e9;
  }
  return 1;
}

}  // namespace

FigureReporter::FigureReporter(std::map<std::string, std::string> targets)
    : ConsoleReporter(OO_Tabular), targets_(std::move(targets)) {
  SetOutputStream(&std::cerr);
  SetErrorStream(&std::cerr);
}

void FigureReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    const bool repeated = run.repetitions > 1;
    const bool counts = repeated
                            ? run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"
                            : run.run_type == Run::RT_Iteration;
    if (!counts) continue;
    const std::string& name = run.run_name.function_name;
    const auto target = targets_.find(name);
    const std::string target_text = target == targets_.end() ? "" : target->second;
    if (run.error_occurred) {
      WriteMissing(name, run.error_message, target_text);
      continue;
    }
    // The clock the benchmark chose: real time where it said so (a hand-over
    // between threads), else its thread's processor time.
    const double value = run.run_name.time_type == "real_time" ? run.GetAdjustedRealTime()
                                                               : run.GetAdjustedCPUTime();
    nanoseconds_[name] = value * NanosecondsPer(run.time_unit);
    WriteFigure(name, value, UnitName(run.time_unit), target_text, Better::kLower);
  }
}

double FigureReporter::Nanoseconds(const std::string& name) const {
  const auto found = nanoseconds_.find(name);
  return found == nanoseconds_.end() ? std::numeric_limits<double>::quiet_NaN() : found->second;
}

void RunGoogleBenchmarks(int& argc, char** argv, FigureReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
