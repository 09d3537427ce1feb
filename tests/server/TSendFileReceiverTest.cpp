// Receiving SendFile's argument piece by piece: every split of the worked value stores the same
// file; refusals come as soon as the bytes show them, and leave no file behind.
#include "server/TSendFileReceiver.h"

#include <gtest/gtest.h>

#include <fstream>

#include "ServerTestSupport.h"

namespace ab::server {
namespace {

namespace fs = std::filesystem;
using test::Ascii;
using test::Bytes;

using test::kExampleStamp;

using test::ReadFile;

bool OnlyFolders(const fs::path& root) {
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (!e.is_directory())
            return false;
    return true;
}

TEST(TSendFileReceiverTest, EverySplitStoresTheSameFile) {
    const Bytes value = test::VariantBytes(test::WorkedPacket());
    for (std::size_t a = 0; a <= value.size(); a += 7) {
        for (std::size_t b = a; b <= value.size(); b += 13) {
            test::TempDir dir;
            TFileStore store(dir.Path());
            TSendFileReceiver r(store, 1 << 20);
            r.Append(std::span(value).first(a));
            r.Append(std::span(value).subspan(a, b - a));
            r.Append(std::span(value).subspan(b));
            ASSERT_TRUE(r.Finish(true)) << a << " " << b;
            EXPECT_EQ(ReadFile(dir.Path() / "S01" / "a.txt"), Ascii("ABCDE"));
            EXPECT_EQ(store.StampOf(u"S01\\a.txt"), "20151211103000");
        }
    }
}

TEST(TSendFileReceiverTest, EmptyFile) {
    test::TempDir dir;
    TFileStore store(dir.Path());
    TSendFileReceiver r(store, 1 << 20);
    r.Append(test::VariantBytes(test::MakePacket("S01\\vazio", kExampleStamp, {})));
    ASSERT_TRUE(r.Finish(true));
    EXPECT_EQ(fs::file_size(dir.Path() / "S01" / "vazio"), 0u);
}

TEST(TSendFileReceiverTest, RefusalsLeaveNoFile) {
    const Bytes value = test::VariantBytes(test::WorkedPacket());
    struct Case {
        const char* what;
        Bytes bytes;
        bool atFinish;  // refused only when the end is reached
    };
    Bytes generic = value;
    generic[0] = 0x02;
    Bytes countTooBig = value;
    countTooBig[1] += 1;
    Bytes badHead = value;
    badHead[9 + 0x88] = 8;  // row status
    Bytes extra = value;
    extra.push_back(0);
    Bytes escape = test::VariantBytes(test::MakePacket("..\\fora", kExampleStamp, {1, 2}));
    const Case cases[] = {
        {"generic variant", generic, false},
        {"count past the packet", countTooBig, false},
        {"bad head", badHead, false},
        {"byte past the packet", extra, false},
        {"name leaving the root", escape, false},
        {"cut short", Bytes(value.begin(), value.end() - 1), true},
        {"only the prefix", Bytes(value.begin(), value.begin() + 9), true},
        {"nothing", Bytes{}, true},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        TFileStore store(dir.Path() / "root");
        {
            TSendFileReceiver r(store, 1 << 20);
            if (c.atFinish) {
                r.Append(c.bytes);
                EXPECT_THROW(r.Finish(true), EPacketError) << c.what;
            } else {
                EXPECT_ANY_THROW(r.Append(c.bytes)) << c.what;
            }
        }
        EXPECT_TRUE(OnlyFolders(dir.Path())) << c.what;
    }
}

TEST(TSendFileReceiverTest, AnnouncedSizeOverTheLimitIsRefusedAtOnce) {
    test::TempDir dir;
    TFileStore store(dir.Path());
    const Bytes value = test::VariantBytes(test::MakePacket("S01\\a", kExampleStamp, Bytes(1000)));
    TSendFileReceiver small(store, 1000);
    EXPECT_THROW(small.Append(std::span(value).first(9)), EValueTooLarge);
    TSendFileReceiver exact(store, value.size());
    exact.Append(value);
    EXPECT_TRUE(exact.Finish(false));
}

}  // namespace
}  // namespace ab::server
