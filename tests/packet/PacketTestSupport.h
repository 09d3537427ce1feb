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

// The worked example's packet: one file "S01\\a.txt" of five bytes "ABCDE".
inline const std::vector<std::uint8_t> kWorkedPacket = Hex(R"(
    96 19 E0 BD 01 00 00 00 18 00 00 00 03 00 01 00
    00 00 03 00 00 00 88 00 04 4E 6F 6D 65 01 00 49
    00 00 00 01 00 05 57 49 44 54 48 02 00 02 00 C8
    00 08 44 61 74 61 48 6F 72 61 08 00 08 00 00 00
    00 00 07 41 72 71 75 69 76 6F 04 00 4B 00 00 00
    01 00 07 53 55 42 54 59 50 45 02 00 49 00 07 00
    42 69 6E 61 72 79 00 01 00 0A 43 48 41 4E 47 45
    5F 4C 4F 47 04 00 82 00 03 00 00 00 01 00 00 00
    00 00 00 00 04 00 00 00 04 00 09 53 30 31 5C 61
    2E 74 78 74 00 20 26 F5 53 EA CC 42 05 00 00 00
    41 42 43 44 45)");

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
