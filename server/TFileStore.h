// The update server's file store: received files under one root folder at their destination
// names (backslashes become folders), each written to a temporary name and renamed into place
// with the packet's time stamp as its modification time; removal; the alerts log.
#pragma once

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

class TFileStore {
  public:
    // Creates the root folder when it does not exist.
    explicit TFileStore(std::filesystem::path root);

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

  private:
    friend class TStoreWriter;
    std::filesystem::path root_;
    mutable std::mutex mutex_;  // rename-versus-check and the alerts log
    std::vector<std::u16string> alerts_;
};

}  // namespace ab::server
