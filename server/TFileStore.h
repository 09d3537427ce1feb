// The update server's file store: received files under one root folder at their destination
// names (backslashes become folders), each written to a temporary name and renamed into place
// with the packet's time stamp as its modification time; removal; the alerts log.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "server/TDataPacketDecoder.h"
#include "server/TStoreWriter.h"

namespace ab::server {

// A destination name the store refuses (it would leave the root, or is not a file name).
class EStoreRefused : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EStoreRefused"; }
};

// The file system failed while storing or removing.
class EStoreFailure : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EStoreFailure"; }
};

// How paths under the root are resolved. Both refuse a link anywhere on the path and a name that
// would leave the root; OneCall lets the kernel resolve a whole path at once (openat2) and falls
// back to the walk where the kernel or a seccomp filter refuses it; Walk opens each folder in turn
// (the fallback, chosen by tests to cover it).
enum class TStoreLookup { OneCall, Walk };

class TFileStore {
  public:
    // Creates the root folder when it does not exist, and keeps it open for the store's life.
    explicit TFileStore(std::filesystem::path root, TStoreLookup lookup = TStoreLookup::OneCall);
    ~TFileStore();
    TFileStore(const TFileStore&) = delete;
    TFileStore& operator=(const TFileStore&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path AlertsLog() const { return root_ / ".alertas.log"; }

    // The folder and file names a destination name stands for, UTF-8; EStoreRefused when the
    // name is empty, has an empty, "." or ".." part, or otherwise cannot be a path under the root.
    static std::vector<std::string> SplitName(std::u16string_view name);

    // The stored copy's time stamp as yyyymmddhhnnss (local time), or nullopt when there is none.
    std::optional<std::string> StampOf(std::u16string_view name) const;

    // Starts receiving a file for the name: its folders are created and a temporary file opened.
    std::unique_ptr<TStoreWriter> BeginStore(std::u16string_view name);

    // Stores content at the name with the time stamp. With checkNewer, a stored copy whose time
    // stamp is later than the packet's is kept and false returned.
    bool Store(std::u16string_view name, std::span<const std::uint8_t> content,
               const TStampFields& stamp, bool checkNewer);

    // true when a file was removed, false when there was none.
    bool Remove(std::u16string_view name);

    void AppendAlert(std::u16string_view text);
    std::vector<std::u16string> Alerts() const;

    // yyyymmddhhnnss of the fields.
    static std::string FormatStamp(const TStampFields& f);
    // A file time as the stamp above, in local time.
    static std::string StampOfTime(const timespec& t);

    // false once the store resolves component by component (chosen, or the kernel refused openat2).
    bool ResolvesInOneCall() const { return oneCall_.load(std::memory_order_relaxed); }

  private:
    friend class TStoreWriter;
    class Dir;
    // The folder holding the last part (the root itself for a single part). create: missing
    // folders are made; otherwise a missing folder gives an empty Dir.
    Dir OpenParent(const std::vector<std::string>& parts, bool create) const;
    Dir WalkParent(const std::vector<std::string>& parts, bool create) const;
    // openat2 beneath the root, no link followed anywhere; -1 with errno on failure. Turns the
    // one-call lookup off for good when the kernel (or a filter) does not offer it.
    int OpenBeneath(const std::string& path, int flags) const;

    std::filesystem::path root_;
    int rootFd_ = -1;
    mutable std::atomic<bool> oneCall_;
    mutable std::mutex mutex_;  // rename-versus-check and the alerts log
    std::vector<std::u16string> alerts_;
};

}  // namespace ab::server
