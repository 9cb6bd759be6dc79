#include "benchrun.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace qvbench {

std::string makeScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qvbenchXXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

std::string benchFolder(const std::string& dir, bool* scratch) {
    *scratch = dir.empty();
    if (*scratch) return makeScratchFolder();
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    return error ? std::string() : dir;
}

bool flagValue(const std::string& arg, const char* flag, std::string* value) {
    if (arg.rfind(flag, 0) != 0) return false;
    *value = arg.substr(std::strlen(flag));
    return true;
}

void runFigures(std::vector<char*> args, const std::vector<std::pair<const char*, FigureFn>>& runs,
                int reps) {
    int argc = int(args.size());
    benchmark::Initialize(&argc, args.data());
    for (const auto& [name, fn] : runs)
        benchmark::RegisterBenchmark(name, fn)->Iterations(1)->Repetitions(reps)->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

void noteRate(benchmark::State& state, Rates* rates, const std::string& name, long operations,
              std::chrono::steady_clock::time_point t0) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    (*rates)[name].push_back(double(operations) / seconds);
    state.counters["ops_per_s"] = double(operations) / seconds;
}

void printRatios(const Rates& rates, const std::vector<const char*>& figures, int width) {
    std::printf("\n%-*s %16s %16s %8s\n", width, "figure", "quorvane ops/s", "sqlite ops/s",
                "ratio");
    for (const char* figure : figures) {
        auto mine = rates.find(std::string(figure) + "/quorvane");
        auto theirs = rates.find(std::string(figure) + "/sqlite");
        if (mine == rates.end() || theirs == rates.end()) continue;
        const double a = median(mine->second), b = median(theirs->second);
        std::printf("%-*s %16.0f %16.0f %8.2f\n", width, figure, a, b, a / b);
    }
}

}  // namespace qvbench
