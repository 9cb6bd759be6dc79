#pragma once
// What every benchmark program does around its figures: a scratch folder, running the figures
// through Google Benchmark once per repetition, and the median of the repetitions.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qvbench {

using FigureFn = void (*)(benchmark::State&);

// A new folder under TMPDIR (or /tmp); empty when none can be made.
std::string makeScratchFolder();

// A flag of the program's own: "--name=value", or "--name" alone for a switch. take gets the
// text after '='.
struct Flag {
    std::string name;
    std::function<void(const std::string&)> take;
    bool isSwitch = false;
};
Flag textFlag(const char* name, std::string* out);
Flag countFlag(const char* name, uint32_t* out);
// A number kept at least min.
Flag numberFlag(const char* name, long* out, long min);
Flag numberFlag(const char* name, int* out, int min);
Flag switchFlag(const char* name, bool* out);
// Takes the program's own flags out of the command line; the rest (the program's name first,
// then Google Benchmark's flags) is returned for runFigures.
std::vector<char*> takeFlags(int argc, char** argv, const std::vector<Flag>& flags);

// The folder a run keeps its databases in: the one given (made when missing, and kept), else a
// scratch folder removed with this object. ok() is false when none could be made.
class BenchFolder {
  public:
    explicit BenchFolder(const std::string& given);
    ~BenchFolder();
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    bool own_ = false;
};

// Databases built once in a kept folder are used again while the folder's stamp file holds the
// same description of what was built (the options that made them). A folder holding several
// such sets names a stamp file for each.
bool builtAlready(const std::string& folder, const std::string& description,
                  const std::string& stampName = "stamp");
void noteBuilt(const std::string& folder, const std::string& description,
               const std::string& stampName = "stamp");
// Removes the files of a database of ours at base (without extension) and of SQLite's at
// base + ".sqlite", where present.
void removeDatabaseFiles(const std::string& base);

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
