// The byte channel under the message stream. The JSON writer and reader, the filter channel and the
// socket channel all speak it; tests plug in an in-memory pair.
//
// Calling protocol: Open once, then any sequence of Read (dest never empty) and Write, then Close.
// Read places at most dest.size() bytes at the start of dest and returns how many (at least 1), or
// -1 when the channel can read no more; it never waits for more than the first byte. Write sends
// all of src and returns the count it put on its own delegate or socket, or -1 when it can no
// longer write. WriteParts is one Write of the parts' concatenation (same bytes, same single write
// as seen by a peer or a filter), for channels that can send pieces without joining them first.
// Other failures are raised as exceptions.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ab {

class TDBXProperties;  // the connection property list (transport layer)

class TDBXChannelInfo {
  public:
    explicit TDBXChannelInfo(int id) : id_(id) {}
    virtual ~TDBXChannelInfo() = default;
    int Id() const { return id_; }

  private:
    int id_;
};

class TDbxChannel {
  public:
    virtual ~TDbxChannel() = default;

    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual int Read(std::span<std::uint8_t> dest) = 0;
    virtual int Write(std::span<const std::uint8_t> src) = 0;
    virtual int WriteParts(std::span<const std::span<const std::uint8_t>> parts);
    // True once the link under the channel broke (closed by the peer, failed, ended from another
    // thread): nothing more can travel on it. Channels without a link of their own answer false.
    virtual bool IsConnectionLost() { return false; }
    virtual TDBXChannelInfo* GetChannelInfo() { return nullptr; }
    // The list belongs to the connection; the channel only refers to it.
    virtual TDBXProperties* GetDBXProperties() { return properties_; }
    virtual void SetDBXProperties(TDBXProperties* properties) { properties_ = properties; }

  protected:
    TDBXProperties* properties_ = nullptr;
};

// The parts joined, for channels and layers that have no gather write of their own.
std::vector<std::uint8_t> JoinParts(std::span<const std::span<const std::uint8_t>> parts);

// Calls write once with the parts' bytes: a single part as it is, several joined.
template <class Write>
int WriteJoined(std::span<const std::span<const std::uint8_t>> parts, Write&& write) {
    if (parts.size() == 1)
        return write(parts.front());
    const std::vector<std::uint8_t> joined = JoinParts(parts);
    return write(std::span<const std::uint8_t>(joined));
}

}  // namespace ab
