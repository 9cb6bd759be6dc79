#include "benchrun.h"

#include <stdlib.h>

#include <algorithm>

namespace qvbench {

std::string makeScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qvbenchXXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
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

}  // namespace qvbench
