// Folder enumeration, name patterns, file times and path helpers over POSIX and statx.
#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/Text.h"

namespace ab {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochSeconds = 11'644'473'600;
constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kTicksPerMSec = 10'000;
// Day number of 1601-01-01 when day 1 is 0001-01-01.
constexpr std::int64_t kFileTimeEpochDay = 584'389;

bool StatPath(const std::string& path, struct statx& stx) {
    constexpr unsigned mask =
        STATX_TYPE | STATX_MTIME | STATX_ATIME | STATX_CTIME | STATX_BTIME | STATX_INO;
    if (statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, mask, &stx) == 0)
        return true;
    // A dangling symbolic link still is an entry: report the link itself.
    return statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW, mask, &stx) ==
           0;
}

std::int64_t ToFileTime(const struct statx_timestamp& t) {
    return UnixTimeToFileTime(t.tv_sec, t.tv_nsec);
}

TFileTimes TimesOf(const struct statx& stx) {
    TFileTimes times;
    times.LastWrite = ToFileTime(stx.stx_mtime);
    times.LastAccess = ToFileTime(stx.stx_atime);
    times.Creation = ToFileTime((stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_ctime);
    return times;
}

TEntryKind KindOfType(unsigned char dType) {
    switch (dType) {
        case DT_REG:
            return TEntryKind::File;
        case DT_DIR:
            return TEntryKind::Directory;
        case DT_FIFO:
            return TEntryKind::Fifo;
        case DT_SOCK:
            return TEntryKind::Socket;
        case DT_CHR:
            return TEntryKind::CharDevice;
        case DT_BLK:
            return TEntryKind::BlockDevice;
        default:
            return TEntryKind::Other;
    }
}

TEntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return TEntryKind::File;
    if (S_ISDIR(mode))
        return TEntryKind::Directory;
    if (S_ISFIFO(mode))
        return TEntryKind::Fifo;
    if (S_ISSOCK(mode))
        return TEntryKind::Socket;
    if (S_ISCHR(mode))
        return TEntryKind::CharDevice;
    if (S_ISBLK(mode))
        return TEntryKind::BlockDevice;
    return TEntryKind::Other;
}

bool IsWildcard(char16_t c) {
    return c == u'*' || c == u'?';
}

char16_t FoldAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c;
}

}  // namespace

TDirListing ListDirectory(const TDirRef& directory) {
    TDirListing listing;
    // An open folder is read through a descriptor of its own, so the caller's stays open and
    // untouched; "." is that same folder, whatever has been put at its path since.
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    const int fd = directory.Fd >= 0 ? openat(directory.Fd, ".", flags)
                                     : open(ToFileName(directory.Path).c_str(), flags);
    if (fd < 0) {
        listing.Error = errno;
        return listing;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        listing.Error = errno;
        close(fd);
        return listing;
    }
    const int dirFd = dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir);
        if (e == nullptr) {
            listing.Error = errno;
            break;
        }
        TDirEntry entry{FromFileName(e->d_name)};
        entry.Kind = KindOfType(e->d_type);
        entry.IsLink = e->d_type == DT_LNK;
        // A file's size is read beside its folder, without walking the whole path again.
        if (e->d_type == DT_REG) {
            struct stat st {};
            if (fstatat(dirFd, e->d_name, &st, 0) == 0)
                entry.Size = static_cast<std::uint64_t>(st.st_size);
        } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            if (fstatat(dirFd, e->d_name, &st, 0) == 0) {
                entry.Kind = KindOfMode(st.st_mode);
                if (S_ISREG(st.st_mode))
                    entry.Size = static_cast<std::uint64_t>(st.st_size);
                if (e->d_type == DT_UNKNOWN)
                    entry.IsLink = fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                   S_ISLNK(st.st_mode);
            } else if (fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISLNK(st.st_mode)) {
                entry.Kind = TEntryKind::Dangling;
                entry.IsLink = true;
            } else {
                entry.Kind = TEntryKind::Dangling;  // vanished since it was read
            }
        }
        listing.Entries.push_back(std::move(entry));
    }
    closedir(dir);
    return listing;
}

std::vector<TDirEntry> ReadDirectory(std::u16string_view directory) {
    return ListDirectory(directory).Entries;
}

std::u16string SystemErrorText(int error) {
    char buf[256];
    return FromUtf8(strerror_r(error, buf, sizeof buf));
}

std::optional<std::u16string> RealPath(std::u16string_view path) {
    char* resolved = realpath(ToFileName(path).c_str(), nullptr);
    if (resolved == nullptr)
        return std::nullopt;
    std::u16string result = FromFileName(resolved);
    free(resolved);
    return result;
}

bool MatchesMask(std::u16string_view name, std::u16string_view mask) {
    if (mask == u"*.*")
        return true;
    // Greedy match with one backtrack point for the last '*'.
    std::size_t n = 0, m = 0, starM = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == u'*') {
            starM = m++;
            starN = n;
        } else if (m < mask.size() &&
                   (mask[m] == u'?' || FoldAscii(mask[m]) == FoldAscii(name[n]))) {
            ++m;
            ++n;
        } else if (starM != std::u16string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == u'*')
        ++m;
    return m == mask.size();
}

std::optional<TFileTimes> GetFileTimes(std::u16string_view path) {
    struct statx stx {};
    if (path.empty() || !StatPath(ToFileName(path), stx))
        return std::nullopt;
    return TimesOf(stx);
}

std::optional<TFileTimes> GetFileTimesIfFile(std::u16string_view path) {
    struct statx stx {};
    constexpr unsigned mask = STATX_TYPE | STATX_MTIME | STATX_ATIME | STATX_CTIME | STATX_BTIME;
    if (path.empty() ||
        statx(AT_FDCWD, ToFileName(path).c_str(), AT_STATX_SYNC_AS_STAT, mask, &stx) != 0 ||
        S_ISDIR(stx.stx_mode))
        return std::nullopt;
    return TimesOf(stx);
}

std::optional<TFoundFile> FindFirstFile(std::u16string_view pattern) {
    const std::size_t slash = pattern.rfind(u'/');
    const std::u16string_view last =
        slash == std::u16string_view::npos ? pattern : pattern.substr(slash + 1);
    if (last.empty() || last == u"." || last == u"..")
        return std::nullopt;
    struct statx stx {};
    // '*' and '?' are legal in Linux names: an entry named exactly so is the one meant.
    if (StatPath(ToFileName(pattern), stx))
        return TFoundFile{std::u16string(last), S_ISDIR(stx.stx_mode), TimesOf(stx)};
    if (std::find_if(last.begin(), last.end(), IsWildcard) == last.end())
        return std::nullopt;
    const std::u16string folder = slash == std::u16string_view::npos ? std::u16string(u".")
                                  : slash == 0                       ? std::u16string(u"/")
                                               : std::u16string(pattern.substr(0, slash));
    for (const TDirEntry& e : ReadDirectory(folder)) {
        if (e.Name == u"." || e.Name == u".." || !MatchesMask(e.Name, last))
            continue;
        std::u16string full = folder;
        if (full.back() != u'/')
            full += u'/';
        full += e.Name;
        if (!StatPath(ToFileName(full), stx))
            continue;  // vanished since it was listed
        return TFoundFile{e.Name, e.IsDirectory(), TimesOf(stx)};
    }
    return std::nullopt;
}

std::optional<TFileId> GetFileId(std::u16string_view path) {
    struct stat st {};
    if (path.empty() || stat(ToFileName(path).c_str(), &st) != 0)
        return std::nullopt;
    return TFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

TOpenDir::TOpenDir(std::u16string_view path) {
    Adopt(open(ToFileName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

TOpenDir::TOpenDir(const TOpenDir& parent, std::u16string_view name) {
    const std::string entry = ToFileName(name);
    Adopt(openat(parent.fd_, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // With O_DIRECTORY a link is refused as "not a directory"; say what it really is.
    struct stat st {};
    if ((error_ == ENOTDIR || error_ == ELOOP) &&
        fstatat(parent.fd_, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        error_ = ELOOP;
}

TOpenDir::~TOpenDir() {
    if (fd_ >= 0)
        close(fd_);
}

void TOpenDir::Adopt(int fd) {
    struct stat st {};
    if (fd < 0) {
        error_ = errno;
    } else if (fstat(fd, &st) != 0) {
        error_ = errno;
        close(fd);
    } else {
        fd_ = fd;
        id_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    }
}

bool FileExists(std::u16string_view path) {
    struct stat st {};
    return !path.empty() && stat(ToFileName(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::u16string_view path) {
    struct stat st {};
    return !path.empty() && stat(ToFileName(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::uint64_t> FileSize(std::u16string_view path) {
    struct stat st {};
    if (path.empty() || stat(ToFileName(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::u16string ExpandFileName(std::u16string_view path) {
    std::error_code ec;
    std::filesystem::path p =
        std::filesystem::absolute(std::filesystem::path(ToFileName(path)), ec);
    if (ec)
        return std::u16string(path);
    return FromFileName(p.lexically_normal().string());
}

std::int64_t FileTimeToLocalFileTime(std::int64_t utcFileTime) {
    const time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr)
        return utcFileTime;
    return utcFileTime + static_cast<std::int64_t>(local.tm_gmtoff) * kTicksPerSecond;
}

TDateTimeParts FileTimeToParts(std::int64_t fileTime) {
    std::int64_t ms = fileTime / kTicksPerMSec;
    if (fileTime % kTicksPerMSec < 0)
        --ms;  // floor
    return MSecsToDateTimeParts(static_cast<double>(kFileTimeEpochDay * MSecsPerDay + ms));
}

std::int64_t UnixTimeToFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    return (seconds + kUnixEpochSeconds) * kTicksPerSecond + nanoseconds / 100;
}

}  // namespace ab
