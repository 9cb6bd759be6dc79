#pragma once
// Test helper: a fresh folder under TMPDIR (or /tmp), removed with its files.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base ? base : "/tmp") + "/qvtestXXXXXX";
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempDir() {
        for (const std::string& name : entries()) unlink(file(name).c_str());
        rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> entries() const {
        std::vector<std::string> out;
        if (DIR* d = opendir(path_.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") out.push_back(n);
            }
            closedir(d);
        }
        return out;
    }

  private:
    std::string path_;
};

inline std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeWhole(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
