#pragma once
// What every benchmark program does around its figures: a scratch folder, running the figures
// through Google Benchmark once per repetition, and the median of the repetitions.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

namespace qvbench {

using FigureFn = void (*)(benchmark::State&);

// A new folder under TMPDIR (or /tmp); empty when none can be made.
std::string makeScratchFolder();

// Registers each (name, function) with one iteration per repetition and reps repetitions, in
// real time, and runs those the command line (Google Benchmark's own flags in args) selects.
void runFigures(std::vector<char*> args, const std::vector<std::pair<const char*, FigureFn>>& runs,
                int reps);

double median(std::vector<double> values);

}  // namespace qvbench
