// Folder enumeration, patterns, file times and whole-file reads on a real temporary tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/EFOpenError.h"
#include "platform/FileSystem.h"
#include "platform/TLocalFile.h"
#include "platform/Text.h"

namespace ab {
namespace {

namespace fs = std::filesystem;

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "ab-fs-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { fs::remove_all(root_); }
    std::u16string Path(const std::string& rel) const { return FromUtf8((root_ / rel).string()); }
    void Write(const std::string& rel, const std::string& content) const {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel, std::ios::binary) << content;
    }
    fs::path root_;
};

TEST(MatchesMask, Patterns) {
    struct Case {
        const char16_t* name;
        const char16_t* mask;
        bool match;
    } cases[] = {
        {u"a.txt", u"*.*", true},    {u"noext", u"*.*", true},
        {u".hidden", u"*", true},    {u"a.txt", u"*.TXT", true},
        {u"a.txt", u"*.doc", false}, {u"ab", u"a?", true},
        {u"a", u"a?", false},        {u"abcabc", u"*bc*c", true},
        {u"abc", u"*x*", false},     {u"\u00E7.txt", u"\u00E7*", true},
        {u"A", u"a", true},          {u"", u"*", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << ToUtf8(c.name) << " " << ToUtf8(c.mask);
}

TEST_F(TempDir, ReadDirectoryListsHiddenEntriesAndKinds) {
    Write("f", "x");
    Write(".hidden", "x");
    Write("sub/g", "x");
    fs::create_directory_symlink(root_ / "sub", root_ / "link");
    auto entries = ReadDirectory(Path(""));
    auto kind = [&](const char16_t* name) {
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const TDirEntry& e) { return e.Name == name; });
        return it == entries.end() ? -1 : int(it->IsDirectory());
    };
    EXPECT_EQ(kind(u"f"), 0);
    EXPECT_EQ(kind(u".hidden"), 0);
    EXPECT_EQ(kind(u"sub"), 1);
    EXPECT_EQ(kind(u"link"), 1);
    EXPECT_EQ(kind(u"."), 1);
    EXPECT_TRUE(ReadDirectory(Path("missing")).empty());
}

// What each entry is, links followed, and why a folder could not be listed.
TEST_F(TempDir, ListDirectoryTellsKindsLinksAndErrors) {
    Write("f", "x");
    Write("sub/g", "x");
    ASSERT_EQ(mkfifo((root_ / "fifo").c_str(), 0600), 0);
    fs::create_directory_symlink(root_ / "sub", root_ / "dirlink");
    fs::create_symlink(root_ / "f", root_ / "filelink");
    fs::create_symlink(root_ / "nowhere", root_ / "dangling");
    const TDirListing listing = ListDirectory(Path(""));
    EXPECT_EQ(listing.Error, 0);
    auto find = [&](const char16_t* name) -> const TDirEntry& {
        static const TDirEntry none{u"?", TEntryKind::Other, false, 0};
        for (const TDirEntry& e : listing.Entries)
            if (e.Name == name)
                return e;
        return none;
    };
    struct Case {
        const char16_t* name;
        TEntryKind kind;
        bool link;
    } cases[] = {
        {u"f", TEntryKind::File, false},       {u"sub", TEntryKind::Directory, false},
        {u"fifo", TEntryKind::Fifo, false},    {u"dirlink", TEntryKind::Directory, true},
        {u"filelink", TEntryKind::File, true}, {u"dangling", TEntryKind::Dangling, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.name));
        const TDirEntry& e = find(c.name);
        EXPECT_EQ(e.Kind, c.kind);
        EXPECT_EQ(e.IsLink, c.link);
        EXPECT_EQ(e.IsDirectory(), c.kind == TEntryKind::Directory);
    }
    EXPECT_EQ(find(u"f").Size, 1u);
    EXPECT_EQ(find(u"filelink").Size, 1u);
    EXPECT_EQ(ListDirectory(Path("missing")).Error, ENOENT);
    EXPECT_EQ(ListDirectory(Path("f")).Error, ENOTDIR);
    EXPECT_EQ(SystemErrorText(ENOENT), u"No such file or directory");
    EXPECT_EQ(RealPath(Path("dirlink")), Path("sub"));
    EXPECT_EQ(RealPath(Path("dangling")), std::nullopt);
}

// A folder held open is read and descended from its descriptor, whatever is put at its path
// afterwards, and an entry that is a link is never opened as a folder.
TEST_F(TempDir, AnOpenFolderIsReadFromItsDescriptor) {
    Write("pasta/f", "x");
    Write("pasta/sub/g", "x");
    Write("outra/h", "x");
    fs::create_directory_symlink(root_ / "outra", root_ / "pasta" / "ligada");
    const TOpenDir pasta(Path("pasta"));
    ASSERT_TRUE(pasta.IsOpen()) << pasta.Error();
    EXPECT_EQ(pasta.Id(), GetFileId(Path("pasta")));
    fs::rename(root_ / "pasta", root_ / "movida");
    fs::create_directory_symlink(root_ / "outra", root_ / "pasta");

    auto nomes = [](const TDirListing& listing) {
        std::vector<std::u16string> names;
        for (const TDirEntry& e : listing.Entries)
            if (e.Name != u"." && e.Name != u"..")
                names.push_back(e.Name);
        std::sort(names.begin(), names.end());
        return names;
    };
    const TDirListing listing = ListDirectory(TDirRef(pasta.Fd(), Path("pasta")));
    EXPECT_EQ(listing.Error, 0);
    EXPECT_EQ(nomes(listing), (std::vector<std::u16string>{u"f", u"ligada", u"sub"}));
    // Listing it twice reads it whole twice, and leaves its descriptor open.
    EXPECT_EQ(nomes(ListDirectory(TDirRef(pasta.Fd(), u"x"))), nomes(listing));
    EXPECT_NE(fcntl(pasta.Fd(), F_GETFD), -1);

    struct Case {
        const char16_t* name;
        int error;
    } cases[] = {{u"sub", 0}, {u"ligada", ELOOP}, {u"f", ENOTDIR}, {u"nada", ENOENT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.name));
        const TOpenDir sub(pasta, c.name);
        EXPECT_EQ(sub.IsOpen(), c.error == 0);
        EXPECT_EQ(sub.Error(), c.error);
    }
    const TOpenDir sub(pasta, u"sub");
    EXPECT_EQ(nomes(ListDirectory(TDirRef(sub.Fd(), u"sub"))), std::vector<std::u16string>{u"g"});
    EXPECT_EQ(TOpenDir(Path("missing")).Error(), ENOENT);
    EXPECT_EQ(TOpenDir(Path("movida/f")).Error(), ENOTDIR);
}

// A name that is not UTF-8 is listed, opened and timed under its own bytes.
TEST_F(TempDir, NamesThatAreNotUtf8ReachTheSystemUnchanged) {
    const std::string latin1 = "n\xE3o.txt";
    Write(latin1, "abc");
    Write("Relat\xF3rios/r.txt", "x");
    const TDirListing listing = ListDirectory(Path(""));
    std::vector<std::u16string> names;
    for (const TDirEntry& e : listing.Entries)
        names.push_back(e.Name);
    EXPECT_NE(std::find(names.begin(), names.end(), FromFileName("n\xE3o.txt")), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), FromFileName("Relat\xF3rios")), names.end());
    const std::u16string file = Path("") + u"/" + FromFileName("n\xE3o.txt");
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(FileSize(file), 3u);
    EXPECT_TRUE(GetFileTimes(file));
    EXPECT_EQ(ReadWholeFile(file), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    EXPECT_TRUE(DirectoryExists(Path("") + u"/" + FromFileName("Relat\xF3rios")));
    EXPECT_EQ(ReadDirectory(Path("") + u"/" + FromFileName("Relat\xF3rios")).size(), 3u);
}

TEST_F(TempDir, FileTimesAndFindFirst) {
    Write("a.txt", "x");
    const timespec times[2] = {{1'451'703'845, 678'000'000}, {1'449'829'800, 250'000'000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "a.txt").c_str(), times, 0), 0);
    auto t = GetFileTimes(Path("a.txt"));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->LastWrite, UnixTimeToFileTime(1'449'829'800, 250'000'000));
    EXPECT_EQ(t->LastAccess, UnixTimeToFileTime(1'451'703'845, 678'000'000));
    EXPECT_GT(t->Creation, t->LastAccess);  // made now (birth or status change)
    EXPECT_EQ(FileTimeToParts(t->LastWrite), (TDateTimeParts{2015, 12, 11, 10, 30, 0, 250}));

    auto found = FindFirstFile(Path("*.TXT"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Name, u"a.txt");
    EXPECT_EQ(found->Times.LastWrite, t->LastWrite);
    EXPECT_TRUE(FindFirstFile(Path("a.txt")));
    EXPECT_FALSE(FindFirstFile(Path("*.doc")));
    EXPECT_FALSE(FindFirstFile(Path("missing")));
    EXPECT_FALSE(GetFileTimes(Path("missing")));
}

TEST(FileTime, EpochsAndLocalOffset) {
    EXPECT_EQ(FileTimeToParts(0), (TDateTimeParts{1601, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(UnixTimeToFileTime(0, 0), 116'444'736'000'000'000);
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(FileTimeToLocalFileTime(1000), 1000 + local.tm_gmtoff * 10'000'000LL);
}

TEST_F(TempDir, ReadsWholeFile) {
    Write("data.bin", std::string("\0\1\2abc", 6));
    EXPECT_EQ(ReadWholeFile(Path("data.bin")), (std::vector<std::uint8_t>{0, 1, 2, 'a', 'b', 'c'}));
    Write("empty", "");
    EXPECT_TRUE(ReadWholeFile(Path("empty")).empty());
}

TEST_F(TempDir, OpenErrorsNameTheFullPathAndTheReason) {
    const std::u16string cwd = FromUtf8(fs::current_path().string());
    struct Case {
        std::u16string path;
        std::u16string message;
    } cases[] = {
        {Path("missing"),
         u"Cannot open file \"" + Path("missing") + u"\". No such file or directory"},
        {u"rel/../missing.txt",
         u"Cannot open file \"" + cwd + u"/missing.txt\". No such file or directory"},
        {Path(""), u"Cannot open file \"" + Path("") + u"\". Is a directory"},
    };
    for (const auto& c : cases) {
        try {
            TLocalFile f(c.path);
            ADD_FAILURE() << "opened " << ToUtf8(c.path);
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
    ASSERT_EQ(mkfifo((root_ / "fifo").c_str(), 0600), 0);
    EXPECT_THROW(TLocalFile(Path("fifo")), EFOpenError);  // refused, not blocking
}

// A refused open gives its descriptor back.
TEST_F(TempDir, RefusedOpensLeaveNoDescriptorOpen) {
    ASSERT_EQ(mkfifo((root_ / "fifo").c_str(), 0600), 0);
    Write("sub/f", "x");
    auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    const auto before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        for (const char* name : {"fifo", "sub", "missing"})
            EXPECT_THROW(TLocalFile(Path(name)), EFOpenError) << name;
    }
    EXPECT_EQ(openDescriptors(), before);
}

// The file changes between open and the end of the read: grown, shrunk, rewritten in place.
TEST_F(TempDir, ChangeWhileReadingIsRefused) {
    enum Change { Grow, Shrink, Rewrite };
    for (Change change : {Grow, Shrink, Rewrite}) {
        Write("f", "0123456789");
        const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "f").c_str(), old, 0), 0);
        TLocalFile file(Path("f"));
        switch (change) {
            case Grow:
                std::ofstream(root_ / "f", std::ios::app) << "more";
                break;
            case Shrink:
                fs::resize_file(root_ / "f", 4);
                break;
            case Rewrite: {
                std::fstream(root_ / "f", std::ios::in | std::ios::out) << "ABCDE";
                break;
            }
        }
        std::vector<std::uint8_t> bytes{1, 2, 3};
        try {
            file.ReadAll(bytes);
            ADD_FAILURE() << "change " << change << " not seen";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message(), u"Cannot open file \"" + Path("f") +
                                       u"\". The file changed while it was being read");
        }
        EXPECT_TRUE(bytes.empty());
    }
}

// Pieces read at any offset are the file's bytes and stop short only at its end. Every change made
// after the open shows, a same-size rewrite whose last-write time is set back included: only the
// status-change time tells that one.
TEST_F(TempDir, PiecewiseReadsAndTheChangeCheck) {
    Write("f", "0123456789");
    {
        TLocalFile file(Path("f"));
        std::vector<std::uint8_t> piece(4);
        EXPECT_EQ(file.ReadAt(0, piece), 4u);
        EXPECT_EQ(std::string(piece.begin(), piece.end()), "0123");
        EXPECT_EQ(file.ReadAt(8, piece), 2u);
        EXPECT_EQ(std::string(piece.begin(), piece.begin() + 2), "89");
        EXPECT_EQ(file.ReadAt(10, piece), 0u);
        EXPECT_TRUE(file.Unchanged());
    }
    enum Change { Grow, Shrink, Rewrite, RewriteTimeSetBack };
    for (Change change : {Grow, Shrink, Rewrite, RewriteTimeSetBack}) {
        SCOPED_TRACE(change);
        Write("f", "0123456789");
        const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "f").c_str(), old, 0), 0);
        TLocalFile file(Path("f"));
        EXPECT_TRUE(file.Unchanged());
        // File times move in clock ticks of a few milliseconds: the change must come in a later
        // tick than the open for the status-change time to differ.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        switch (change) {
            case Grow:
                std::ofstream(root_ / "f", std::ios::app) << "more";
                break;
            case Shrink:
                fs::resize_file(root_ / "f", 4);
                break;
            case Rewrite:
            case RewriteTimeSetBack:
                std::fstream(root_ / "f", std::ios::in | std::ios::out) << "ABCDE";
                if (change == RewriteTimeSetBack) {
                    ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "f").c_str(), old, 0), 0);
                }
                break;
        }
        EXPECT_FALSE(file.Unchanged());
        std::vector<std::uint8_t> bytes;
        EXPECT_THROW(file.ReadAll(bytes), EFOpenError);
    }
}

}  // namespace
}  // namespace ab
