// The utilities: listing order on a real tree, file times, upper-casing, fields, Base64, MD5.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/UFuncoes.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace ab {
namespace {

namespace fs = std::filesystem;

class Tree : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "ab-tree-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { fs::remove_all(root_); }
    void Write(const std::string& rel) const {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel) << rel;
    }
    std::u16string Root() const { return FromUtf8(root_.string()); }
    // The folder's entries other than "." and ".." in the file system's own order.
    std::vector<TDirEntry> Entries(const std::u16string& folder) const {
        auto all = ReadDirectory(folder);
        std::erase_if(all, [](const TDirEntry& e) { return e.Name == u"." || e.Name == u".."; });
        return all;
    }
    // What the listing must give, derived from the file system's order alone.
    void Expected(const std::u16string& folder, std::vector<std::u16string>& out) const {
        for (const auto& e : Entries(folder))
            if (!e.IsDirectory())
                out.push_back(folder + u"/" + e.Name);
        for (const auto& e : Entries(folder))
            if (e.IsDirectory())
                Expected(folder + u"/" + e.Name, out);
    }
    fs::path root_;
};

TEST_F(Tree, ListsRootFilesFirstThenEachSubfolderDepthFirst) {
    for (const char* f : {"a.txt", ".hidden", "b.exe", "s1/c.txt", "s1/deep/d.txt", "s1/e.txt",
                          "s2/f.txt", "s2/.g", "s3/empty/.keep"})
        Write(f);
    std::vector<std::u16string> lista{u"(kept)"};
    ListagemArquivos(lista, Root(), u"*.*", true, false, true);
    std::vector<std::u16string> expected{u"(kept)"};
    Expected(Root(), expected);
    EXPECT_EQ(lista, expected);
    EXPECT_EQ(lista.size(), 10u);
    EXPECT_NE(std::find(lista.begin(), lista.end(), Root() + u"/.hidden"), lista.end());
    EXPECT_NE(std::find(lista.begin(), lista.end(), Root() + u"/s3/empty/.keep"), lista.end());

    // A pattern filters names but every subfolder is still descended into.
    std::vector<std::u16string> txt;
    ListagemArquivos(txt, Root(), u"*.txt", true, false, true);
    std::vector<std::u16string> expectedTxt;
    std::copy_if(expected.begin() + 1, expected.end(), std::back_inserter(expectedTxt),
                 [](const std::u16string& p) { return p.ends_with(u".txt"); });
    EXPECT_EQ(txt, expectedTxt);

    // Folders only; this folder only.
    std::vector<std::u16string> folders;
    ListagemArquivos(folders, Root(), u"*.*", false, true, false);
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders,
              (std::vector<std::u16string>{Root() + u"/s1", Root() + u"/s2", Root() + u"/s3"}));
    std::vector<std::u16string> none;
    ListagemArquivos(none, Root() + u"/missing", u"*.*", true, true, true);
    ListagemArquivos(none, Root(), u"*.doc", true, false, true);
    EXPECT_TRUE(none.empty());
}

TEST_F(Tree, SeparatorsAreNormalised) {
    Write("s/x.txt");
    const std::u16string root = Root();
    const std::u16string expected = root + u"/s/x.txt";
    for (const std::u16string& start :
         {root + u"/s", root + u"/s/", root + u"//s", root + u"/s//", u"/" + root + u"/s"}) {
        std::vector<std::u16string> lista;
        ListaArquivos(lista, start, u"*.*", true, true);
        // A leading "//" is kept like a network path.
        const std::u16string want = start.starts_with(u"//") ? u"/" + expected : expected;
        EXPECT_EQ(lista, std::vector<std::u16string>{want}) << ToUtf8(start);
    }
}

TEST_F(Tree, SymbolicLinkCycleIsNotFollowedRound) {
    Write("s/x.txt");
    fs::create_directory_symlink(root_, root_ / "s" / "up");
    fs::create_directory_symlink(root_ / "s", root_ / "alias");
    std::vector<std::u16string> lista;
    ListagemArquivos(lista, Root(), u"*.*", true, false, true);
    std::sort(lista.begin(), lista.end());
    // The folder reached by its alias is listed once more, the way back up is not taken.
    EXPECT_EQ(lista, (std::vector<std::u16string>{Root() + u"/alias/x.txt", Root() + u"/s/x.txt"}));
}

// Runs with a fixed zone three hours behind UTC, restoring the caller's zone afterwards.
class FixedZone {
  public:
    FixedZone() {
        if (const char* tz = getenv("TZ"))
            saved_ = tz;
        setenv("TZ", "<-03>3", 1);
        tzset();
    }
    ~FixedZone() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    std::optional<std::string> saved_;
};

TEST_F(Tree, FileTimesInLocalTime) {
    FixedZone zone;
    Write("f.txt");
    // Access 2016-01-02 03:04:05.678 UTC, write 2015-12-11 10:30:00.250 UTC.
    const timespec times[2] = {{1'451'703'845, 678'000'000}, {1'449'829'800, 250'000'000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "f.txt").c_str(), times, 0), 0);
    const std::u16string path = Root() + u"/f.txt";
    const TDateTime write = GetDateFile(path, TTipoDateFile::TdfModificao);
    const TDateTime access = GetDateFile(path, TTipoDateFile::TdfAcesso);
    const TDateTime creation = GetDateFile(path, TTipoDateFile::TdfCriacao);
    EXPECT_EQ(write, EncodeDateTime({2015, 12, 11, 7, 30, 0, 250}));
    EXPECT_EQ(access, EncodeDateTime({2016, 1, 2, 0, 4, 5, 678}));
    EXPECT_GT(creation, access);  // made now
    EXPECT_EQ(GetDateFile(Root() + u"/*.txt", TTipoDateFile::TdfModificao), write);
    EXPECT_EQ(GetDateFile(Root() + u"/missing", TTipoDateFile::TdfModificao), 0.0);
    EXPECT_EQ(FileTimeToDTime(0), EncodeDateTime({1600, 12, 31, 21, 0, 0, 0}));
}

// '*' and '?' are legal in Linux names: a file named with them gets its own stamp, even where the
// folder lists a file its name matches as a pattern first. A name no file has is still searched.
TEST_F(Tree, NamesWithWildcardsGetTheirOwnStamp) {
    FixedZone zone;
    struct Case {
        std::string named;                // the file asked about
        std::vector<std::string> others;  // files its name matches as a pattern
    } cases[] = {{"a?b.txt", {}}, {"c*.txt", {}}};
    auto stamp = [&](const std::string& rel, std::int64_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (root_ / rel).c_str(), times, 0), 0);
    };
    auto position = [&](const std::string& rel) {
        const auto all = Entries(Root());
        return std::find_if(all.begin(), all.end(),
                            [&](const TDirEntry& e) { return e.Name == FromUtf8(rel); }) -
               all.begin();
    };
    std::int64_t seconds = 1'449'829'800;
    for (Case& c : cases) {
        Write(c.named);
        stamp(c.named, seconds);
        // Matching files are added until the folder lists one before the named file, so reading
        // the name as a pattern would find another file's stamp.
        const std::string stem = c.named.substr(0, 1);
        for (char x = '0'; x <= 'z'; ++x) {
            if (!std::isalnum(static_cast<unsigned char>(x)))
                continue;
            const std::string other =
                c.named[1] == '?' ? stem + x + c.named.substr(2) : stem + x + ".txt";
            Write(other);
            stamp(other, seconds + 3600 * static_cast<std::int64_t>(c.others.size() + 1));
            c.others.push_back(other);
            if (position(other) < position(c.named))
                break;
        }
        ASSERT_LT(position(c.others.back()), position(c.named)) << c.named;
        seconds += 86400;
    }
    seconds = 1'449'829'800;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        const std::u16string named = Root() + u"/" + FromUtf8(c.named);
        EXPECT_EQ(GetDateFile(named, TTipoDateFile::TdfModificao),
                  FileTimeToDTime(UnixTimeToFileTime(seconds, 0)));
        for (std::size_t i = 0; i < c.others.size(); ++i)
            EXPECT_EQ(
                GetDateFile(Root() + u"/" + FromUtf8(c.others[i]), TTipoDateFile::TdfModificao),
                FileTimeToDTime(
                    UnixTimeToFileTime(seconds + 3600 * static_cast<std::int64_t>(i + 1), 0)));
        EXPECT_TRUE(FileExists(named));
        seconds += 86400;
    }
    // No file is named "z?.txt": the pattern finds one.
    Write("zq.txt");
    EXPECT_GT(GetDateFile(Root() + u"/z?.txt", TTipoDateFile::TdfModificao), 0.0);
    EXPECT_FALSE(FileExists(Root() + u"/z?.txt"));
}

TEST(UpperCaseMesmo, AccentTable) {
    struct Case {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"a\u00E7\u00E3o \u00E9xito \u00FF", u"A\u00C7\u00C3O \u00C9XITO Y"},
        {u"\u00E7\u00E1\u00E0\u00E3\u00E2\u00E4\u00E9\u00E8\u00EA\u00EB\u00ED\u00EC\u00EE\u00EF"
         u"\u00F3\u00F2\u00F4\u00F5\u00F6\u00FA\u00F9\u00FB\u00FC\u00F1\u00FD\u00FF",
         u"\u00C7\u00C1\u00C0\u00C3\u00C2\u00C4\u00C9\u00C8\u00CA\u00CB\u00CD\u00CC\u00CE\u00CF"
         u"\u00D3\u00D2\u00D4\u00D5\u00D6\u00DA\u00D9\u00DB\u00DC\u00D1\u00DDY"},
        {u"\u00E5\u00E6\u00F8\u00DF\u03B1\u0434 s01\\x.exe",
         u"\u00E5\u00E6\u00F8\u00DF\u03B1\u0434 S01\\X.EXE"},
        {u"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UpperCaseMesmo(c.in), c.out) << ToUtf8(c.in);
}

TEST(SubString, Fields) {
    struct Case {
        const char16_t* text;
        const char16_t* sep;
        int n;
        const char16_t* out;
    } cases[] = {
        {u"a;b;c", u";", 0, u"a"},     {u"a;b;c", u";", 2, u"c"},
        {u"a;b;c", u";", 3, u""},      {u"a;b;c", u";", -1, u""},
        {u";b", u";", 0, u""},         {u";b", u";", 1, u"b"},
        {u"abc", u";", 0, u"abc"},     {u"a;;c", u";", 1, u""},
        {u" a ; b ", u";", 1, u" b "}, {u"a;b", u"", 0, u"a;b"},
        {u"a;b", u";;", 0, u"a;b"},    {u"20151211103000;x", u";", 0, u"20151211103000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SubString(c.text, c.sep, c.n), c.out) << ToUtf8(c.text) << " " << c.n;
}

TEST(Codings, Base64AndMd5ByteMappings) {
    EXPECT_EQ(EncoderBase64(u""), u"");
    EXPECT_EQ(EncoderBase64(u"\u00E7"), u"5w==");      // byte E7
    EXPECT_EQ(EncoderBase64(u"\u20AC"), u"Pw==");      // byte 3F
    EXPECT_EQ(EncoderBase64(u"\U0001F600"), u"Pz8=");  // two units, two question marks
    EXPECT_EQ(EncoderBase64(u"S01\\a.txt.hxf"), u"UzAxXGEudHh0Lmh4Zg==");
    EXPECT_EQ(EncoderBase64(std::u16string(100, u'a')).find(u'\n'), std::u16string::npos);
    EXPECT_EQ(Md5(u""), u"D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(Md5(u"abc"), u"900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Md5(u"\u00E7"), Md5(u"?"));
    EXPECT_EQ(Md5(u"\u00E7"), u"D1457B72C3FB323A2671125AEF3EAB5D");
}

}  // namespace
}  // namespace ab
