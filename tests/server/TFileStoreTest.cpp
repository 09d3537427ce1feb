// The file store: destination names and the ones refused, atomic stores with their time stamps,
// the newer-copy check, removal, and the alerts log.
#include "server/TFileStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "ServerTestSupport.h"

namespace ab::server {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::TempDir;

using test::ReadFile;

TStampFields Stamp(int y, int mo, int d, int h, int mi, int s) {
    TStampFields f;
    f.year = y, f.month = mo, f.day = d, f.hour = h, f.minute = mi, f.second = s;
    return f;
}

TEST(TFileStoreTest, SplitName) {
    EXPECT_EQ(TFileStore::SplitName(u"S01\\Sistema.exe"),
              (std::vector<std::string>{"S01", "Sistema.exe"}));
    EXPECT_EQ(TFileStore::SplitName(u"Scripts\\S01\\Carga.sql"),
              (std::vector<std::string>{"Scripts", "S01", "Carga.sql"}));
    EXPECT_EQ(TFileStore::SplitName(u"Arquivos/S01/a\u00E7\u00E3o.rpt"),
              (std::vector<std::string>{"Arquivos", "S01", "a\xC3\xA7\xC3\xA3o.rpt"}));
    for (const char16_t* bad :
         {u"", u"\\", u"\\etc\\passwd", u"..\\x", u"S01\\..\\..\\x", u"S01\\.\\x", u"S01\\\\x",
          u"S01\\", u"/tmp/x", u"S01\\a\u0001b", u"S01\\.atualizador-tmp-1", u".alertas.log"})
        EXPECT_THROW(TFileStore::SplitName(bad), EStoreRefused);
}

TEST(TFileStoreTest, StoresAtTheNameWithTheStamp) {
    TempDir dir;
    TFileStore store(dir.Path() / "root");
    EXPECT_EQ(store.StampOf(u"S01\\a.txt"), std::nullopt);
    const Bytes content = test::RandomBytes(70000, 1);
    EXPECT_TRUE(store.Store(u"S01\\sub\\a.txt", content, Stamp(2015, 12, 11, 10, 30, 0), true));
    const fs::path stored = dir.Path() / "root" / "S01" / "sub" / "a.txt";
    EXPECT_EQ(ReadFile(stored), content);
    EXPECT_EQ(store.StampOf(u"S01\\sub\\a.txt"), "20151211103000");
    // Nothing but the file is left in its folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(stored.parent_path()), {}), 1);
    // An empty file.
    EXPECT_TRUE(store.Store(u"S01\\vazio", {}, Stamp(2001, 2, 3, 4, 5, 6), true));
    EXPECT_EQ(fs::file_size(dir.Path() / "root" / "S01" / "vazio"), 0u);
    EXPECT_EQ(store.StampOf(u"S01\\vazio"), "20010203040506");
}

TEST(TFileStoreTest, CheckNewerKeepsALaterCopy) {
    TempDir dir;
    TFileStore store(dir.Path());
    ASSERT_TRUE(store.Store(u"S01\\a", Bytes{1}, Stamp(2020, 1, 1, 0, 0, 1), true));
    EXPECT_FALSE(store.Store(u"S01\\a", Bytes{2}, Stamp(2020, 1, 1, 0, 0, 0), true));
    EXPECT_EQ(ReadFile(dir.Path() / "S01" / "a"), Bytes{1});
    EXPECT_TRUE(store.Store(u"S01\\a", Bytes{3}, Stamp(2020, 1, 1, 0, 0, 1), true));  // equal
    EXPECT_TRUE(store.Store(u"S01\\a", Bytes{4}, Stamp(2019, 1, 1, 0, 0, 0), false));
    EXPECT_EQ(ReadFile(dir.Path() / "S01" / "a"), Bytes{4});
    EXPECT_EQ(store.StampOf(u"S01\\a"), "20190101000000");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "S01"), {}), 1);
}

TEST(TFileStoreTest, NamesThatEscapeOrCrossLinksAreRefused) {
    TempDir dir;
    const fs::path root = dir.Path() / "root";
    TFileStore store(root);
    fs::create_directories(dir.Path() / "outside");
    fs::create_directory_symlink(dir.Path() / "outside", root / "link");
    EXPECT_THROW(store.Store(u"..\\escaped", Bytes{1}, Stamp(2020, 1, 1, 0, 0, 0), true),
                 EStoreRefused);
    EXPECT_THROW(store.Store(u"link\\escaped", Bytes{1}, Stamp(2020, 1, 1, 0, 0, 0), true),
                 EStoreRefused);
    EXPECT_THROW(store.Remove(u"S01\\..\\..\\x"), EStoreRefused);
    EXPECT_TRUE(fs::is_empty(dir.Path() / "outside"));
    EXPECT_FALSE(fs::exists(dir.Path() / "escaped"));
}

TEST(TFileStoreTest, RemoveAndAlerts) {
    TempDir dir;
    TFileStore store(dir.Path());
    EXPECT_FALSE(store.Remove(u"Scripts\\S01\\EM_TESTE.SQL"));
    ASSERT_TRUE(
        store.Store(u"Scripts\\S01\\EM_TESTE.SQL", Bytes{1}, Stamp(2020, 1, 1, 0, 0, 0), true));
    EXPECT_TRUE(store.Remove(u"Scripts\\S01\\EM_TESTE.SQL"));
    EXPECT_EQ(store.StampOf(u"Scripts\\S01\\EM_TESTE.SQL"), std::nullopt);
    EXPECT_THROW(store.Remove(u"Scripts\\S01"), EStoreRefused);  // a folder

    store.AppendAlert(u"Atualizacao");
    store.AppendAlert(u"Atualiza\u00E7\u00E3o");
    EXPECT_EQ(store.Alerts(),
              (std::vector<std::u16string>{u"Atualizacao", u"Atualiza\u00E7\u00E3o"}));
    std::ifstream log(store.AlertsLog());
    std::string l1, l2;
    std::getline(log, l1);
    std::getline(log, l2);
    EXPECT_TRUE(l1.ends_with(" Atualizacao")) << l1;
    EXPECT_TRUE(l2.ends_with(" Atualiza\xC3\xA7\xC3\xA3o")) << l2;
}

}  // namespace
}  // namespace ab::server
