// Fuzz target: a whole server session fed arbitrary client bytes (handshake, connect, requests,
// rows, segment answers) over an in-memory channel, storing into a scratch folder.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "server/TFileStore.h"
#include "server/TServerContext.h"
#include "server/TServerSession.h"
#include "support/MemoryChannel.h"

namespace {

ab::server::TServerContext& Context() {
    static const std::filesystem::path root =
        std::filesystem::temp_directory_path() / "ab-fuzz-server-session";
    static ab::server::TFileStore store(root);
    static ab::server::TServerContext context(
        [] {
            ab::server::TServerOptions o;
            o.root = root;
            o.maxValueBytes = 1 << 20;
            return o;
        }(),
        store);
    return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ab::test::BufferChannel channel(std::vector<std::uint8_t>(data, data + size), 7);
    ab::server::TServerSession session(channel, Context(), 1, true);
    session.Run();
    return 0;
}
