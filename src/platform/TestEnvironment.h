// Where a test build of the tool may run: the maker's machines carry a system-wide zv.ini and have
// the maker's internal network share mounted. Also the production servers a test build must refuse.
//
// On Linux the system-wide file is /etc/zv.ini and the share (\\server\share\folder on the
// maker's network) is expected mounted at /mnt/zv-rede/Sistemas/Testes.
#pragma once

#include <array>
#include <filesystem>
#include <string_view>

namespace ab {

class TestEnvironment {
  public:
    // `root` stands for the file system root; tests pass a temporary folder.
    explicit TestEnvironment(std::filesystem::path root = "/");

    std::filesystem::path ZvIniPath() const;      // <root>/etc/zv.ini
    std::filesystem::path NetworkFolder() const;  // <root>/mnt/zv-rede/Sistemas/Testes

    // True when the file and the share folder both exist (the file as a regular file, following
    // links; the share as a folder).
    bool IsPresent() const;

  private:
    std::filesystem::path root_;
};

// The maker's production servers, which a test build refuses to publish to. Written as the
// address field reads after trimming and upper-casing (ASCII a to z), the form they are compared
// in. Documentation-only addresses and names, reserved so they can never reach a real machine.
inline constexpr std::array<std::u16string_view, 3> kProductionServers = {
    u"192.0.2.10",
    u"198.51.100.10",
    u"ATUALIZACAO.EXAMPLE.COM",
};

// True when `address`, trimmed of codes 0..32 and upper-cased in ASCII, is a production server.
bool IsProductionServer(std::u16string_view address);

}  // namespace ab
