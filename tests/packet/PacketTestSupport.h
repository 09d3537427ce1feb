// Helpers for the packet tests: hex golden bytes and a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Text.h"

namespace ab::testing {

// "96 19 E0 BD ..." -> bytes (white space ignored).
inline std::vector<std::uint8_t> Hex(std::string_view text) {
    std::vector<std::uint8_t> out;
    int hi = -1;
    for (char c : text) {
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
        if (v < 0)
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

inline std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

class TempFolder {
  public:
    TempFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "ab-packet-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("mkdtemp");
        root_ = tmpl;
    }
    ~TempFolder() { std::filesystem::remove_all(root_); }
    std::u16string Write(const std::string& name, const std::string& content) const {
        std::ofstream(root_ / name, std::ios::binary) << content;
        return Path(name);
    }
    std::u16string Path(const std::string& name) const { return FromUtf8((root_ / name).string()); }
    const std::filesystem::path& Root() const { return root_; }

  private:
    std::filesystem::path root_;
};

}  // namespace ab::testing
