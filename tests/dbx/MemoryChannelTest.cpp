// The in-memory channel pair the codec tests stand on: a gather write reaches a waiting reader
// whole and in order, and one whose reader comes back late does too, without holding the writer.
// (Where reads end is a matter of timing and not asserted.)
#include <atomic>
#include <chrono>
#include <thread>

#include "DbxTestSupport.h"
#include "support/MemoryChannel.h"

namespace ab::test {
namespace {

Bytes Pattern(std::size_t n, std::uint8_t seed) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
    return bytes;
}

TEST(MemoryChannel, GatherWritesReachWaitingAndLateReadersWholeAndInOrder) {
    const Bytes head = Pattern(19, 1), body = Pattern(40000, 2), tail = Pattern(2, 3);
    const Bytes next = Pattern(10, 4);
    for (const bool late : {false, true}) {
        SCOPED_TRACE(late ? "reader comes back late" : "reader waits");
        auto [a, b] = MakeChannelPair();
        std::vector<int> reads;
        Bytes got;
        std::atomic<bool> writeReturned{false};
        bool writerWaitedForLateReader = false;
        std::thread reader([&, end = b.get()] {
            Bytes buffer(65536);
            for (int n; (n = end->Read(buffer)) > 0;) {
                reads.push_back(n);
                got.insert(got.end(), buffer.begin(), buffer.begin() + n);
                if (late && reads.size() == 1) {
                    // Come back only once the write has returned (or give up after 10 s).
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                    while (!writeReturned && std::chrono::steady_clock::now() < until)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    writerWaitedForLateReader = !writeReturned;
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // let the reader wait
        const std::span<const std::uint8_t> parts[] = {head, body, tail};
        EXPECT_EQ(a->WriteParts(parts), 40021);
        writeReturned = true;
        a->Write(next);
        a->Close();
        reader.join();
        Bytes expected = head;
        for (const Bytes* p : {&body, &tail, &next})
            expected.insert(expected.end(), p->begin(), p->end());
        EXPECT_FALSE(writerWaitedForLateReader);
        EXPECT_EQ(got, expected);
        EXPECT_EQ(a->writeSizes, (std::vector<std::size_t>{40021, 10}));
    }
}

}  // namespace
}  // namespace ab::test
