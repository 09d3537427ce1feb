// Linux file-system services the tool relies on: folder enumeration (every entry, hidden ones
// included, in the file system's order), name patterns, file times as UTC file times (100 ns since
// 1601-01-01) with their conversion to local time, existence checks and path expansion.
// Paths are UTF-16 inside the program and bytes towards the system (FromFileName / ToFileName, so
// a name that is not UTF-8 reaches the system unchanged); the separator is '/'.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace ab {

// What a folder entry is, symbolic links followed.
enum class TEntryKind { File, Directory, Fifo, Socket, CharDevice, BlockDevice, Dangling, Other };

struct TDirEntry {
    std::u16string Name;
    TEntryKind Kind = TEntryKind::File;
    bool IsLink = false;     // the entry itself is a symbolic link
    std::uint64_t Size = 0;  // of a file (links followed)

    // A symbolic link counts as what it points to.
    bool IsDirectory() const { return Kind == TEntryKind::Directory; }
};

// A folder's entries in readdir order, "." and ".." included, and the system's error number when
// the folder could not be opened or its reading stopped early (0 when every entry was read).
struct TDirListing {
    std::vector<TDirEntry> Entries;
    int Error = 0;
};
// The folder to list: one already open (`Fd`, left open; `Path` then only names it) or, without a
// descriptor, the folder at `Path`.
struct TDirRef {
    TDirRef(std::u16string_view path) : Path(path) {}
    TDirRef(const std::u16string& path) : Path(path) {}
    TDirRef(const char16_t* path) : Path(path) {}
    TDirRef(int fd, std::u16string_view path) : Fd(fd), Path(path) {}
    int Fd = -1;
    std::u16string_view Path;
};
TDirListing ListDirectory(const TDirRef& directory);
// The entries alone: empty when the folder cannot be opened.
std::vector<TDirEntry> ReadDirectory(std::u16string_view directory);

// The system's text for an error number.
std::u16string SystemErrorText(int error);

// The absolute path with every symbolic link resolved; nullopt when some part does not exist.
std::optional<std::u16string> RealPath(std::u16string_view path);

// Name pattern with '*' (any run) and '?' (one character), ASCII letters compared without case;
// "*.*" matches every name, with or without a dot.
bool MatchesMask(std::u16string_view name, std::u16string_view mask);

// File times as UTC file times: 100-nanosecond units since 1601-01-01 00:00 UTC.
struct TFileTimes {
    std::int64_t Creation = 0;    // birth time where the file system records it, else status change
    std::int64_t LastWrite = 0;   // mtime
    std::int64_t LastAccess = 0;  // atime
};

// Times of a path (symbolic links followed); nullopt when it does not exist or cannot be read.
std::optional<TFileTimes> GetFileTimes(std::u16string_view path);
// Times of a path that exists and is not a folder (links followed), in one system call: what
// FileExists and then the times of that same path tell.
std::optional<TFileTimes> GetFileTimesIfFile(std::u16string_view path);

// The first entry matching a path whose last component may hold '*' or '?' (the others name the
// folder), with its times; nullopt when nothing matches. An entry named exactly as the last
// component is that match, wildcards and all (they are legal in Linux names); otherwise the
// first entry in folder order that the pattern matches. "." and ".." are never a match.
struct TFoundFile {
    std::u16string Name;
    bool IsDirectory = false;
    TFileTimes Times;
};
std::optional<TFoundFile> FindFirstFile(std::u16string_view pattern);

// Identity of a file or folder (device and inode, links followed); nullopt when it does not exist.
struct TFileId {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    friend bool operator==(const TFileId&, const TFileId&) = default;
};
std::optional<TFileId> GetFileId(std::u16string_view path);

// A folder held open, so that what lies below it is reached from it rather than along a path that
// may change meanwhile. Closed when destroyed.
class TOpenDir {
  public:
    // The folder at `path`, links along the path followed.
    explicit TOpenDir(std::u16string_view path);
    // The entry `name` of `parent`, which must be a folder itself: a symbolic link is never
    // followed, even one put in the folder's place after `parent` was listed (Error() is ELOOP).
    TOpenDir(const TOpenDir& parent, std::u16string_view name);
    ~TOpenDir();
    TOpenDir(const TOpenDir&) = delete;
    TOpenDir& operator=(const TOpenDir&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // The system's error number when it could not be opened.
    int Error() const { return error_; }
    // Device and inode of the open folder.
    TFileId Id() const { return id_; }

  private:
    void Adopt(int fd);

    int fd_ = -1;
    int error_ = 0;
    TFileId id_;
};

bool FileExists(std::u16string_view path);       // exists and is not a folder
bool DirectoryExists(std::u16string_view path);  // exists and is a folder
// Size of a file in bytes (links followed); nullopt when it does not exist or is a folder.
std::optional<std::uint64_t> FileSize(std::u16string_view path);

// Absolute, lexically normalised form of a path (relative paths against the working folder).
std::u16string ExpandFileName(std::u16string_view path);

// UTC file time -> local file time, applying the offset from UTC in force now (not the one in
// force at the stamped moment), as the tool always did; servers hold stamps made this way.
std::int64_t FileTimeToLocalFileTime(std::int64_t utcFileTime);
// File time -> calendar fields (milliseconds truncated).
TDateTimeParts FileTimeToParts(std::int64_t fileTime);
// Unix seconds and nanoseconds -> file time.
std::int64_t UnixTimeToFileTime(std::int64_t seconds, std::uint32_t nanoseconds);

}  // namespace ab
