// TDBXFileByteSource: a file read in place as it is sent, refused if it changes meanwhile.
#include "dbx/TDBXFileByteSource.h"

#include <algorithm>
#include <cstring>

#include "dbx/TDBXStreamReader.h"
#include "platform/EReadError.h"
#include "platform/TLocalFile.h"

namespace ab {

namespace {

class TFileStreamReader : public TDBXStreamReader {
  public:
    TFileStreamReader(std::vector<std::uint8_t> prefix, std::shared_ptr<const TLocalFile> file)
        : prefix_(std::move(prefix)), file_(std::move(file)) {}

    std::size_t Read(std::span<std::uint8_t> dest) override {
        std::size_t done = std::min(dest.size(), prefix_.size() - prefixPos_);
        if (done > 0) {
            std::memcpy(dest.data(), prefix_.data() + prefixPos_, done);
            prefixPos_ += done;
        }
        const std::uint64_t size = file_->Size();
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(dest.size() - done, size - filePos_));
        if (want == 0)
            return done;
        if (file_->ReadAt(filePos_, dest.subspan(done, want)) < want)
            Changed();  // it ends early: shrunk since it was opened
        // The last bytes leave only if nothing changed since the file was opened, so the bytes
        // sent before them are the file's as well.
        if (filePos_ + want == size && !file_->Unchanged())
            Changed();
        filePos_ += want;
        return done + want;
    }
    bool IsEos() override { return prefixPos_ == prefix_.size() && filePos_ == file_->Size(); }
    std::int64_t Size() const override {
        return static_cast<std::int64_t>(prefix_.size() + file_->Size());
    }

  private:
    [[noreturn]] void Changed() const {
        throw EReadError(u"File \"" + file_->FullPath() + u"\" changed while it was being sent");
    }

    std::vector<std::uint8_t> prefix_;
    std::size_t prefixPos_ = 0;
    std::shared_ptr<const TLocalFile> file_;
    std::uint64_t filePos_ = 0;
};

}  // namespace

TDBXFileByteSource::TDBXFileByteSource(std::shared_ptr<const TLocalFile> file)
    : file_(std::move(file)) {}

std::uint64_t TDBXFileByteSource::Size() const {
    return file_->Size();
}

std::unique_ptr<TDBXStreamReader> TDBXFileByteSource::OpenReader(
    std::vector<std::uint8_t> prefix) const {
    return std::make_unique<TFileStreamReader>(std::move(prefix), file_);
}

}  // namespace ab
