#include "benchrun.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace qvbench {

namespace fs = std::filesystem;

std::string makeScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qvbenchXXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

Flag textFlag(const char* name, std::string* out) {
    return {name, [out](const std::string& v) { *out = v; }};
}

Flag countFlag(const char* name, uint32_t* out) {
    return {name, [out](const std::string& v) { *out = uint32_t(std::stoul(v)); }};
}

Flag numberFlag(const char* name, long* out, long min) {
    return {name, [out, min](const std::string& v) { *out = std::max(min, std::stol(v)); }};
}

Flag numberFlag(const char* name, int* out, int min) {
    return {name, [out, min](const std::string& v) { *out = std::max(min, std::stoi(v)); }};
}

Flag switchFlag(const char* name, bool* out) {
    return {name, [out](const std::string&) { *out = true; }, true};
}

std::vector<char*> takeFlags(int argc, char** argv, const std::vector<Flag>& flags) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const Flag* match = nullptr;
        for (const Flag& flag : flags) {
            const bool hit = flag.isSwitch ? arg == flag.name : arg.rfind(flag.name + "=", 0) == 0;
            if (i > 0 && hit) match = &flag;
        }
        if (match)
            match->take(match->isSwitch ? std::string() : arg.substr(match->name.size() + 1));
        else
            rest.push_back(argv[i]);
    }
    return rest;
}

BenchFolder::BenchFolder(const std::string& given) {
    own_ = given.empty();
    path_ = own_ ? makeScratchFolder() : given;
    std::error_code ec;
    if (!path_.empty()) fs::create_directories(path_, ec);
    if (ec) path_.clear();
}

BenchFolder::~BenchFolder() {
    std::error_code ec;
    if (own_ && !path_.empty()) fs::remove_all(path_, ec);
}

bool builtAlready(const std::string& folder, const std::string& description,
                  const std::string& stampName) {
    std::string have;
    std::getline(std::ifstream(folder + "/" + stampName), have);
    return have == description;
}

void noteBuilt(const std::string& folder, const std::string& description,
               const std::string& stampName) {
    std::ofstream(folder + "/" + stampName) << description << "\n";
}

void removeDatabaseFiles(const std::string& base) {
    std::error_code ec;
    for (const char* ext :
         {".ZT", ".IX", ".ZT2", ".IX2", ".ZTJ", ".ZTS", ".sqlite", ".sqlite-wal", ".sqlite-shm",
          ".sqlite-journal"})
        fs::remove(base + ext, ec);
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
        // Three significant digits: a ratio far below 1 still shows its size.
        std::printf("%-*s %16.0f %16.0f %8.3g\n", width, figure, a, b, a / b);
    }
}

}  // namespace qvbench
