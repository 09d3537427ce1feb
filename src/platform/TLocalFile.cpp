// Whole-file and piecewise reads with the change check.
#include "platform/TLocalFile.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <stdexcept>

#include "platform/EFOpenError.h"
#include "platform/EOutOfMemory.h"
#include "platform/EReadError.h"
#include "platform/FileSystem.h"
#include "platform/MemoryAdvice.h"
#include "platform/Text.h"

namespace ab {
namespace {

std::u16string SystemMessage(int error) {
    return SystemErrorText(error);
}

std::int64_t Ns(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

TFileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_size), Ns(st.st_mtim), Ns(st.st_ctim)};
}

constexpr std::u16string_view kChanged = u"The file changed while it was being read";

}  // namespace

TLocalFile::TLocalFile(std::u16string_view path) : fullPath_(ExpandFileName(path)) {
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are read.
    fd_ = open(ToFileName(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0)
        Fail(SystemMessage(errno));
    // The destructor does not run for a constructor that throws: the descriptor goes here.
    auto refuse = [&](const std::u16string& reason) {
        close(fd_);
        fd_ = -1;
        Fail(reason);
    };
    struct stat st {};
    if (fstat(fd_, &st) != 0)
        refuse(SystemMessage(errno));
    if (S_ISDIR(st.st_mode))
        refuse(SystemMessage(EISDIR));
    if (!S_ISREG(st.st_mode))
        refuse(u"Not a regular file");
    size_ = static_cast<std::uint64_t>(st.st_size);
    lastWrite_ = UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    identity_ = IdentityOf(st);
}

TLocalFile::~TLocalFile() {
    if (fd_ >= 0)
        close(fd_);
}

void TLocalFile::Fail(const std::u16string& reason) const {
    throw EFOpenError(u"Cannot open file \"" + fullPath_ + u"\". " + reason);
}

void TLocalFile::ReadAll(std::vector<std::uint8_t>& into) const {
    into.clear();
    try {
        into.reserve(size_);
        AdviseLargeBuffer(into.data(), size_);
        into.resize(size_);
    } catch (const std::bad_alloc&) {
        std::vector<std::uint8_t>().swap(into);
        throw EOutOfMemory();
    } catch (const std::length_error&) {
        throw EOutOfMemory();
    }
    auto failWith = [&](const std::u16string& reason) {
        std::vector<std::uint8_t>().swap(into);
        Fail(reason);
    };
    std::uint64_t done = 0;
    while (done < size_) {
        const ssize_t n = pread(fd_, into.data() + done, size_ - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failWith(SystemMessage(errno));
        }
        if (n == 0)
            failWith(std::u16string(kChanged));  // shrank
        done += static_cast<std::uint64_t>(n);
    }
    std::uint8_t extra;
    ssize_t n;
    do {
        n = pread(fd_, &extra, 1, static_cast<off_t>(size_));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        failWith(SystemMessage(errno));
    if (n > 0 || !Unchanged())
        failWith(std::u16string(kChanged));
}

std::size_t TLocalFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) const {
    std::size_t done = 0;
    while (done < dest.size()) {
        const ssize_t n =
            pread(fd_, dest.data() + done, dest.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw EReadError(u"Cannot read file \"" + fullPath_ + u"\". " + SystemMessage(errno));
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool TLocalFile::Unchanged() const {
    struct stat st {};
    return fstat(fd_, &st) == 0 && IdentityOf(st) == identity_;
}

std::vector<std::uint8_t> ReadWholeFile(std::u16string_view path) {
    TLocalFile file(path);
    std::vector<std::uint8_t> bytes;
    file.ReadAll(bytes);
    return bytes;
}

}  // namespace ab
