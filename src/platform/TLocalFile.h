// A local file opened for reading, whole or piece by piece. Linux has no share-deny open, so the
// file's identity (size, last-write and status-change times) is taken when it is opened and
// checked again after reading: a file that changed is refused instead of handed over torn.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ab {

// What a change to a file's content moves: any write changes the size or the last-write time,
// and the status-change time too (which, unlike the last-write time, cannot be set back).
struct TFileIdentity {
    std::uint64_t Size = 0;
    std::int64_t LastWriteNs = 0;     // nanoseconds since the Unix epoch
    std::int64_t StatusChangeNs = 0;  // nanoseconds since the Unix epoch
    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

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
    // Raises EFOpenError when the file changed since it was opened or a read fails, and
    // EOutOfMemory when the buffer cannot be allocated; `into` is then empty.
    void ReadAll(std::vector<std::uint8_t>& into) const;

    // Reads into dest from `offset`, stopping short only at the end of the file; returns the
    // count read. EReadError "Cannot read file "%s". %s" when the system refuses a read.
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) const;

    // The open file still has the identity it had when it was opened (false when that cannot be
    // told).
    bool Unchanged() const;

  private:
    [[noreturn]] void Fail(const std::u16string& reason) const;

    int fd_ = -1;
    std::u16string fullPath_;
    std::uint64_t size_ = 0;
    std::int64_t lastWrite_ = 0;
    TFileIdentity identity_;
};

// Opens and reads a whole file (TLocalFile and ReadAll).
std::vector<std::uint8_t> ReadWholeFile(std::u16string_view path);

}  // namespace ab
