// TDBXFileByteSource: a byte-array tail read from an open local file while it is sent, so a large
// file never sits in memory. Its readers copy the prefix, then read the file with pread straight
// into the destination they are given (the row, or the writer's buffer for a segment answer).
//
// Before a reader hands out the file's last bytes it checks the open file again (size, last-write
// and status-change times): a file that changed since it was opened, or that ends early, raises
// EReadError "File "%s" changed while it was being sent" with the file's full path, so a torn copy
// never completes.
#pragma once

#include <memory>

#include "dbx/TDBXByteSource.h"

namespace ab {

class TLocalFile;

class TDBXFileByteSource : public TDBXByteSource {
  public:
    // The content is the file's first file->Size() bytes, as they were when it was opened.
    explicit TDBXFileByteSource(std::shared_ptr<const TLocalFile> file);

    std::uint64_t Size() const override;
    std::unique_ptr<TDBXStreamReader> OpenReader(std::vector<std::uint8_t> prefix) const override;

  private:
    std::shared_ptr<const TLocalFile> file_;
};

}  // namespace ab
