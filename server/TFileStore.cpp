// The update server's file store (see the header). No path under the root is followed through a
// link or out of the root: the kernel resolves a whole path with RESOLVE_BENEATH and
// RESOLVE_NO_SYMLINKS, or, where it cannot, each folder is opened in turn with O_NOFOLLOW. Any
// failure of the one-call lookup other than a missing name is handed to the walk, which names the
// part that is not a folder, so both lookups answer alike.
#include "server/TFileStore.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/Text.h"

namespace ab::server {

namespace {

constexpr std::string_view kTempPrefix = ".atualizador-tmp-";

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

[[noreturn]] void Failure(const std::string& what, const std::string& name, int err) {
    throw EStoreFailure(FromUtf8(what + " " + name + ": " + std::strerror(err)));
}

// The first count parts (all by default) as a relative path.
std::string Joined(const std::vector<std::string>& parts, std::size_t count = SIZE_MAX) {
    std::string s;
    for (std::size_t i = 0; i < parts.size() && i < count; ++i)
        s += (i == 0 ? "" : "/") + parts[i];
    return s;
}

}  // namespace

// A folder descriptor that is either the store's root (borrowed, never closed here) or one of its
// own.
class TFileStore::Dir {
  public:
    Dir() = default;
    static Dir Owned(int fd) { return Dir(fd, true); }
    static Dir Borrowed(int fd) { return Dir(fd, false); }
    ~Dir() {
        if (owned_ && fd_ >= 0)
            ::close(fd_);
    }
    Dir(Dir&& o) noexcept : fd_(std::exchange(o.fd_, -1)), owned_(o.owned_) {}
    Dir& operator=(Dir&& o) noexcept {
        std::swap(fd_, o.fd_);
        std::swap(owned_, o.owned_);
        return *this;
    }
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // A descriptor the caller closes: its own, or a duplicate of the root; -1 with errno when
    // none can be made.
    int Release() {
        if (!owned_)
            return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        return std::exchange(fd_, -1);
    }

  private:
    Dir(int fd, bool owned) : fd_(fd), owned_(owned) {}
    int fd_ = -1;
    bool owned_ = false;
};

int TFileStore::OpenBeneath(const std::string& path, int flags) const {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, rootFd_, path.c_str(), &how, sizeof how);
    if (fd >= 0)
        return static_cast<int>(fd);
    // No openat2 (ENOSYS), or a seccomp filter that refuses it (EPERM, EINVAL): walk from now on.
    if (errno == ENOSYS || errno == EPERM || errno == EINVAL)
        oneCall_.store(false, std::memory_order_relaxed);
    return -1;
}

TFileStore::Dir TFileStore::WalkParent(const std::vector<std::string>& parts, bool create) const {
    Dir dir = Dir::Borrowed(rootFd_);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (create && ::mkdirat(dir.Get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST)
            Failure("cannot create folder", parts[i], errno);
        const int next =
            ::openat(dir.Get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            if (!create && errno == ENOENT)
                return Dir();
            if (errno == ENOTDIR || errno == ELOOP)
                throw EStoreRefused(u"Not a folder in the store: " + FromUtf8(parts[i]));
            Failure("cannot open folder", parts[i], errno);
        }
        dir = Dir::Owned(next);
    }
    return dir;
}

TFileStore::Dir TFileStore::OpenParent(const std::vector<std::string>& parts, bool create) const {
    if (parts.size() == 1)
        return Dir::Borrowed(rootFd_);
    if (ResolvesInOneCall()) {
        // O_PATH: the folder is only a base for the *at calls, so it needs no read permission.
        const int fd =
            OpenBeneath(Joined(parts, parts.size() - 1), O_PATH | O_DIRECTORY | O_NOFOLLOW);
        if (fd >= 0)
            return Dir::Owned(fd);
        if (errno == ENOENT && !create)
            return Dir();
    }
    return WalkParent(parts, create);
}

std::string TFileStore::StampOfTime(const timespec& t) {
    std::tm tm{};
    const time_t secs = t.tv_sec;
    localtime_r(&secs, &tm);
    TStampFields f;
    f.year = tm.tm_year + 1900;
    f.month = tm.tm_mon + 1;
    f.day = tm.tm_mday;
    f.hour = tm.tm_hour;
    f.minute = tm.tm_min;
    f.second = tm.tm_sec;
    return TFileStore::FormatStamp(f);
}

TFileStore::TFileStore(std::filesystem::path root, TStoreLookup lookup)
    : root_(std::move(root)), oneCall_(lookup == TStoreLookup::OneCall) {
    std::error_code ec;
    std::filesystem::create_directories(root_, ec);
    if (!std::filesystem::is_directory(root_))
        throw EStoreFailure(u"Cannot create the store folder " + FromUtf8(root_.string()));
    rootFd_ = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ < 0)
        Failure("cannot open root", root_.string(), errno);
}

TFileStore::~TFileStore() {
    ::close(rootFd_);
}

std::string TFileStore::FormatStamp(const TStampFields& f) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", f.year, f.month, f.day, f.hour,
                  f.minute, f.second);
    return buf;
}

std::vector<std::string> TFileStore::SplitName(std::u16string_view name) {
    std::vector<std::string> parts;
    std::u16string part;
    auto refuse = [&](const char* why) -> void {
        throw EStoreRefused(u"Destination name refused (" + FromUtf8(why) + u"): " +
                            std::u16string(name));
    };
    if (name.size() > 1024)
        refuse("too long");
    for (std::size_t i = 0; i <= name.size(); ++i) {
        const bool end = i == name.size();
        const char16_t ch = end ? u'\\' : name[i];
        if (ch == u'\\' || ch == u'/') {
            if (part.empty())
                refuse("empty part");
            if (part == u"." || part == u"..")
                refuse("relative part");
            std::string utf8 = ToUtf8(part);
            if (utf8.size() > 255)
                refuse("part too long");
            if (utf8.starts_with(kTempPrefix))
                refuse("reserved name");
            parts.push_back(std::move(utf8));
            part.clear();
        } else {
            if (ch < 32)
                refuse("control character");
            part += ch;
        }
    }
    if (parts.size() == 1 && parts[0] == ".alertas.log")
        refuse("reserved name");
    return parts;
}

std::optional<std::string> TFileStore::StampOf(std::u16string_view name) const {
    const auto parts = SplitName(name);
    struct stat st {};
    if (ResolvesInOneCall()) {
        // The file itself (a link as the link): one open, one fstat, one close.
        const int fd = OpenBeneath(Joined(parts), O_PATH | O_NOFOLLOW);
        if (fd >= 0) {
            const int result = ::fstat(fd, &st);
            const int err = errno;
            ::close(fd);
            if (result != 0)
                Failure("cannot read", Joined(parts), err);
            if (!S_ISREG(st.st_mode))
                return std::nullopt;
            return StampOfTime(st.st_mtim);
        }
        if (errno == ENOENT)
            return std::nullopt;
    }
    Dir dir = WalkParent(parts, false);
    if (!dir)
        return std::nullopt;
    if (::fstatat(dir.Get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        Failure("cannot read", Joined(parts), errno);
    }
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    return StampOfTime(st.st_mtim);
}

std::unique_ptr<TStoreWriter> TFileStore::BeginStore(std::u16string_view name) {
    const auto parts = SplitName(name);
    Fd folder(OpenParent(parts, true).Release());
    if (!folder)
        Failure("cannot open folder of", Joined(parts), errno);
    static std::atomic<unsigned> counter{0};
    const std::string temp = std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1));
    Fd file(::openat(folder.Get(), temp.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file)
        Failure("cannot create", temp, errno);
    // The writer owns both descriptors once it exists; until then they close here.
    auto writer = std::make_unique<TStoreWriter>(*this, folder.Get(), file.Get(), temp,
                                                 parts.back(), Joined(parts));
    folder.Release();
    file.Release();
    return writer;
}

bool TFileStore::Store(std::u16string_view name, std::span<const std::uint8_t> content,
                       const TStampFields& stamp, bool checkNewer) {
    auto writer = BeginStore(name);
    writer->Write(content);
    return writer->Commit(stamp, checkNewer);
}

bool TFileStore::Remove(std::u16string_view name) {
    const auto parts = SplitName(name);
    const Dir dir = OpenParent(parts, false);
    if (!dir)
        return false;
    std::lock_guard lock(mutex_);
    struct stat st {};
    if (::fstatat(dir.Get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (S_ISDIR(st.st_mode))
        throw EStoreRefused(u"Not a file: " + std::u16string(name));
    if (::unlinkat(dir.Get(), parts.back().c_str(), 0) != 0) {
        if (errno == ENOENT)
            return false;
        Failure("cannot remove", Joined(parts), errno);
    }
    return true;
}

void TFileStore::AppendAlert(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    alerts_.emplace_back(text);
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::u16string flat(text);
    std::replace_if(
        flat.begin(), flat.end(), [](char16_t c) { return c < 32; }, u' ');
    std::string line = std::string(stamp) + " " + ToUtf8(flat) + "\n";
    Fd log(
        ::open(AlertsLog().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!log)
        Failure("cannot open", AlertsLog().string(), errno);
    if (::write(log.Get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        Failure("cannot write", AlertsLog().string(), errno);
}

std::vector<std::u16string> TFileStore::Alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
}

}  // namespace ab::server
