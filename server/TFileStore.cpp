// The update server's file store (see the header). Paths are walked component by component with
// openat and O_NOFOLLOW, so neither a crafted name nor a link inside the root leads outside it.
#include "server/TFileStore.h"

#include <fcntl.h>
#include <sys/stat.h>
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

std::string Joined(const std::vector<std::string>& parts) {
    std::string s;
    for (const auto& p : parts)
        s += (s.empty() ? "" : "/") + p;
    return s;
}

// Opens the folder that holds the last part. create: make missing folders on the way; otherwise a
// missing folder gives an invalid Fd.
Fd OpenParent(const std::filesystem::path& root, const std::vector<std::string>& parts,
              bool create) {
    Fd dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        Failure("cannot open root", root.string(), errno);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (create && ::mkdirat(dir.Get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST)
            Failure("cannot create folder", parts[i], errno);
        Fd next(
            ::openat(dir.Get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
            if (!create && errno == ENOENT)
                return Fd();
            if (errno == ENOTDIR || errno == ELOOP)
                throw EStoreRefused(u"Not a folder in the store: " + FromUtf8(parts[i]));
            Failure("cannot open folder", parts[i], errno);
        }
        dir = std::move(next);
    }
    return dir;
}

}  // namespace

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

TFileStore::TFileStore(std::filesystem::path root) : root_(std::move(root)) {
    std::error_code ec;
    std::filesystem::create_directories(root_, ec);
    if (!std::filesystem::is_directory(root_))
        throw EStoreFailure(u"Cannot create the store folder " + FromUtf8(root_.string()));
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
    Fd dir = OpenParent(root_, parts, false);
    if (!dir)
        return std::nullopt;
    struct stat st {};
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
    Fd dir = OpenParent(root_, parts, true);
    static std::atomic<unsigned> counter{0};
    const std::string temp = std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1));
    const int file = ::openat(dir.Get(), temp.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file < 0)
        Failure("cannot create", temp, errno);
    const int folder = dir.Release();
    return std::make_unique<TStoreWriter>(*this, folder, file, temp, parts.back(), Joined(parts));
}

bool TFileStore::Store(std::u16string_view name, std::span<const std::uint8_t> content,
                       const TStampFields& stamp, bool checkNewer) {
    auto writer = BeginStore(name);
    writer->Write(content);
    return writer->Commit(stamp, checkNewer);
}

bool TFileStore::Remove(std::u16string_view name) {
    const auto parts = SplitName(name);
    Fd dir = OpenParent(root_, parts, false);
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
