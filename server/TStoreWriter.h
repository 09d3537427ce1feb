// One file being received into the store: written to a temporary name in its destination folder
// as its bytes arrive, then given its time stamp and renamed into place by Commit. A writer that
// is destroyed without Commit removes the temporary file, so a broken transfer leaves nothing.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "server/TDataPacketDecoder.h"

namespace ab::server {

class TFileStore;

class TStoreWriter {
  public:
    // Takes ownership of the folder and file descriptors.
    TStoreWriter(TFileStore& store, int folder, int file, std::string tempName,
                 std::string finalName, std::string displayName);
    ~TStoreWriter();
    TStoreWriter(const TStoreWriter&) = delete;
    TStoreWriter& operator=(const TStoreWriter&) = delete;

    // EStoreFailure when the file system refuses.
    void Write(std::span<const std::uint8_t> bytes);
    std::uint64_t Written() const { return written_; }
    // Sets the time stamp and renames into place; with checkNewer, a stored copy with a later
    // time stamp is kept and false returned.
    bool Commit(const TStampFields& stamp, bool checkNewer);

  private:
    void Discard();

    TFileStore& store_;
    int folder_;
    int file_;
    std::string tempName_;
    std::string finalName_;
    std::string displayName_;
    std::uint64_t written_ = 0;
    bool done_ = false;
};

}  // namespace ab::server
