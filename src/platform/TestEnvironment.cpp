// Test-mode environment check and the production server names.
#include "platform/TestEnvironment.h"

#include <algorithm>
#include <system_error>

#include "platform/Text.h"

namespace ab {

TestEnvironment::TestEnvironment(std::filesystem::path root) : root_(std::move(root)) {}

std::filesystem::path TestEnvironment::ZvIniPath() const {
    return root_ / "etc" / "zv.ini";
}

std::filesystem::path TestEnvironment::NetworkFolder() const {
    return root_ / "mnt" / "zv-rede" / "Sistemas" / "Testes";
}

bool TestEnvironment::IsPresent() const {
    // Unreadable or missing paths simply count as absent.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(ZvIniPath(), ec))
        return false;
    return std::filesystem::is_directory(NetworkFolder(), ec);
}

bool IsProductionServer(std::u16string_view address) {
    const std::u16string name = AsciiUpper(Trim(address));
    return std::ranges::find(kProductionServers, name) != kProductionServers.end();
}

}  // namespace ab
