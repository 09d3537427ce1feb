// One file being received into the store (see the header).
#include "server/TStoreWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/Text.h"
#include "server/TFileStore.h"

namespace ab::server {

namespace {

[[noreturn]] void Failure(const std::string& what, const std::string& name, int err) {
    throw EStoreFailure(FromUtf8(what + " " + name + ": " + std::strerror(err)));
}

}  // namespace

TStoreWriter::TStoreWriter(TFileStore& store, int folder, int file, std::string tempName,
                           std::string finalName, std::string displayName)
    : store_(store),
      folder_(folder),
      file_(file),
      tempName_(std::move(tempName)),
      finalName_(std::move(finalName)),
      displayName_(std::move(displayName)) {}

TStoreWriter::~TStoreWriter() {
    if (!done_)
        Discard();
    if (file_ >= 0)
        ::close(file_);
    ::close(folder_);
}

void TStoreWriter::Discard() {
    ::unlinkat(folder_, tempName_.c_str(), 0);
    done_ = true;
}

void TStoreWriter::Write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Failure("cannot write", displayName_, n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    written_ += bytes.size();
}

bool TStoreWriter::Commit(const TStampFields& stamp, bool checkNewer) {
    std::tm tm{};
    tm.tm_year = stamp.year - 1900;
    tm.tm_mon = stamp.month - 1;
    tm.tm_mday = stamp.day;
    tm.tm_hour = stamp.hour;
    tm.tm_min = stamp.minute;
    tm.tm_sec = stamp.second;
    tm.tm_isdst = -1;
    const timespec when{std::mktime(&tm), static_cast<long>(stamp.millisecond) * 1000000L};
    const timespec times[2] = {when, when};
    if (::futimens(file_, times) != 0)
        Failure("cannot set the time of", displayName_, errno);
    if (::close(file_) != 0) {
        file_ = -1;
        Failure("cannot write", displayName_, errno);
    }
    file_ = -1;

    std::lock_guard lock(store_.mutex_);
    if (checkNewer) {
        struct stat st {};
        if (::fstatat(folder_, finalName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) &&
            TFileStore::StampOfTime(st.st_mtim) > TFileStore::FormatStamp(stamp)) {
            Discard();
            return false;
        }
    }
    if (::renameat(folder_, tempName_.c_str(), folder_, finalName_.c_str()) != 0)
        Failure("cannot store", displayName_, errno);
    done_ = true;
    return true;
}

}  // namespace ab::server
