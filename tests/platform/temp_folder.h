#pragma once
// Test helper: a fresh folder under /tmp, removed with everything in it at the end.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = "/tmp/qvplatformXXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern + "/";
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, with a trailing '/'.
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

  private:
    std::string path_;
};

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
