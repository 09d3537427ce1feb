// Files and folders for tests: a temporary folder removed afterwards, file contents, writing files
// with a chosen last-write time, reading them back.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace ab::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    explicit TempDir(const std::string& tag = "app") {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("ab-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

inline fs::path U8Path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

inline Bytes Pattern(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

inline Bytes ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Last-write time in whole seconds since the Unix epoch.
inline std::int64_t MTime(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

inline void SetMTime(const fs::path& p, std::int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    ::utimensat(AT_FDCWD, p.c_str(), times, 0);
}

// A fixed moment with whole seconds: 2023-05-04 10:20:30 UTC.
inline constexpr std::int64_t kStamp = 1683195630;

inline void WriteFile(const fs::path& p, const Bytes& content, std::int64_t mtime = kStamp) {
    fs::create_directories(p.parent_path());
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
    }
    SetMTime(p, mtime);
}

inline void WriteText(const fs::path& p, std::string_view text, std::int64_t mtime = kStamp) {
    WriteFile(p, Bytes(text.begin(), text.end()), mtime);
}

}  // namespace ab::testing
