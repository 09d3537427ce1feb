// A local file opened for reading whole. Linux has no share-deny open, so a file that changes
// size or last-write time while it is read is refused instead of handed over torn.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ab {

class TLocalFile {
  public:
    // Opens the file for reading; raises EFOpenError "Cannot open file "%s". %s" with the expanded
    // path and the system's message (a folder is refused the same way).
    explicit TLocalFile(std::u16string_view path);
    ~TLocalFile();
    TLocalFile(const TLocalFile&) = delete;
    TLocalFile& operator=(const TLocalFile&) = delete;

    // Size and last-write time (UTC file time) when the file was opened.
    std::uint64_t Size() const noexcept { return size_; }
    std::int64_t LastWrite() const noexcept { return lastWrite_; }
    const std::u16string& FullPath() const noexcept { return fullPath_; }

    // Reads the whole file into `into`, replacing its content (one allocation of Size() bytes).
    // Raises EFOpenError when the file's size or last-write time changed while it was read or a
    // read fails, and EOutOfMemory when the buffer cannot be allocated; `into` is then empty.
    void ReadAll(std::vector<std::uint8_t>& into);

  private:
    [[noreturn]] void Fail(const std::u16string& reason) const;

    int fd_ = -1;
    std::u16string fullPath_;
    std::uint64_t size_ = 0;
    std::int64_t lastWrite_ = 0;
    std::int64_t lastWriteNs_ = 0;  // full resolution, for the change check
};

// Opens and reads a whole file (TLocalFile and ReadAll).
std::vector<std::uint8_t> ReadWholeFile(std::u16string_view path);

}  // namespace ab
