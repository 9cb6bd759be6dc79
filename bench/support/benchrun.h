#pragma once
// What every benchmark program does around its figures: a scratch folder, running the figures
// through Google Benchmark once per repetition, and the median of the repetitions.
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qvbench {

using FigureFn = void (*)(benchmark::State&);

// A new folder under TMPDIR (or /tmp); empty when none can be made.
std::string makeScratchFolder();
// The folder a benchmark keeps its databases in: dir (made when missing) when given, else a new
// scratch folder, which *scratch then says the caller removes at the end. Empty when none.
std::string benchFolder(const std::string& dir, bool* scratch);
// The text after the flag ("--name=") when arg is that flag.
bool flagValue(const std::string& arg, const char* flag, std::string* value);

// Registers each (name, function) with one iteration per repetition and reps repetitions, in
// real time, and runs those the command line (Google Benchmark's own flags in args) selects.
void runFigures(std::vector<char*> args, const std::vector<std::pair<const char*, FigureFn>>& runs,
                int reps);

double median(std::vector<double> values);

// Operations per second of each run, by "figure/engine".
using Rates = std::map<std::string, std::vector<double>>;

// Adds the rate of operations since t0 under name, and shows it as the run's counter.
void noteRate(benchmark::State& state, Rates* rates, const std::string& name, long operations,
              std::chrono::steady_clock::time_point t0);

// A line per figure: the medians of figure/quorvane and figure/sqlite and their ratio (ours over
// SQLite's); figures missing either side are left out.
void printRatios(const Rates& rates, const std::vector<const char*>& figures, int width);

}  // namespace qvbench
