// Receives SendFile's Dados argument as it arrives, segment by segment: the byte-array variant
// prefix (03 and the 8-byte count), the packet head checked strictly as soon as it is complete,
// and the content written straight into the store, so a large file never sits in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "server/TDataPacketDecoder.h"
#include "server/TFileStore.h"

namespace ab::server {

// The argument is larger than the server accepts.
class EValueTooLarge : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EValueTooLarge"; }
};

class TSendFileReceiver {
  public:
    TSendFileReceiver(TFileStore& store, std::uint64_t maxValueBytes);

    // The next bytes of the argument. EPacketError, EStoreRefused, EStoreFailure or
    // EValueTooLarge as soon as the bytes so far show the argument cannot be stored.
    void Append(std::span<const std::uint8_t> bytes);

    // After the last byte: EPacketError unless the argument was complete; then the file is
    // committed (true), kept out by a newer stored copy (false).
    bool Finish(bool checkNewer);

    // The head, once it was read.
    const std::optional<TPacketHead>& Head() const { return head_; }
    std::uint64_t Received() const { return received_; }

  private:
    static constexpr std::size_t kPrefix = 9;  // 03 and the 8-byte count

    TFileStore& store_;
    const std::uint64_t maxValueBytes_;
    std::vector<std::uint8_t> start_;  // the prefix and the head, until the head is complete
    std::optional<TPacketHead> head_;
    std::uint64_t total_ = 0;  // the whole argument's length, known with the head
    std::uint64_t received_ = 0;
    std::unique_ptr<TStoreWriter> writer_;
};

}  // namespace ab::server
