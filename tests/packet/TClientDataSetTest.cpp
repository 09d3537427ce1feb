// The send-file record set: its packet byte for byte, conversions, states and errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <span>

#include "PacketTestSupport.h"
#include "packet/EDBClient.h"
#include "packet/PacketConstants.h"
#include "packet/SendFileDataSet.h"
#include "packet/TDSDataPacketReader.h"
#include "platform/EFOpenError.h"
#include "platform/TLocalFile.h"

namespace ab {
namespace {

using testing::Bytes;
using testing::Hex;
using testing::kWorkedPacket;

class SendFileSet : public ::testing::Test {
  protected:
    SendFileSet() : fields_(AddSendFileFields(cds_)) { cds_.CreateDataSet(); }

    // The publishing run's fill: empty, append, the three columns, post.
    void Fill(std::u16string_view nome, TDateTime dataHora, const std::u16string& path,
              bool deferred = false) {
        cds_.EmptyDataSet();
        cds_.Append();
        cds_.FieldByName(u"Nome").SetAsString(nome);
        cds_.FieldByName(u"DataHora").SetAsDateTime(dataHora);
        if (deferred)
            cds_.FieldByName(u"Arquivo").LoadFromFileDeferred(path);
        else
            cds_.FieldByName(u"Arquivo").LoadFromFile(path);
        cds_.Post();
    }
    static std::u16string MessageOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const Exception& e) {
            return e.Message();
        }
        return u"(no error)";
    }

    testing::TempFolder tmp_;
    TClientDataSet cds_{std::u16string(kSendFileDataSetName)};
    TSendFileFields fields_;
};

TEST_F(SendFileSet, WorkedExampleIsByteExactAndRepeatable) {
    const auto path = tmp_.Write("a.txt", "ABCDE");
    Fill(u"S01\\a.txt", 42349.4375, path);
    EXPECT_EQ(cds_.Data(), kWorkedPacket);
    EXPECT_EQ(cds_.Data(), kWorkedPacket);  // reading changes nothing
    Fill(u"S01\\a.txt", 42349.4375, path);  // the second attempt is record 1 again
    EXPECT_EQ(cds_.Data(), kWorkedPacket);
    EXPECT_EQ(cds_.RecordCount(), 1);
    EXPECT_EQ(cds_.ChangeCount(), 1);
}

// The zero-copy form: the bytes before the content, and the stored content itself.
TEST_F(SendFileSet, PartsAreThePacketWithoutCopyingTheContent) {
    Fill(u"S01\\a.txt", 42349.4375, tmp_.Write("a.txt", "ABCDE"));
    auto parts = cds_.DataParts();
    ASSERT_TRUE(parts.Content);
    EXPECT_EQ(parts.Content, fields_.Arquivo.Content());  // the store's own bytes
    EXPECT_EQ(parts.Head,
              std::vector<std::uint8_t>(kWorkedPacket.begin(), kWorkedPacket.end() - 5));
    EXPECT_EQ(parts.Size(), kWorkedPacket.size());

    Fill(u"S01\\a.txt", 42349.4375, tmp_.Write("empty", ""));
    parts = cds_.DataParts();
    EXPECT_FALSE(parts.Content);
    EXPECT_EQ(parts.Head, cds_.Data());
}

// A deferred load leaves the content in its file: the head followed by the file's bytes is, byte
// for byte, the packet of the content loaded whole, and so is Data() of the deferred set.
TEST_F(SendFileSet, DeferredContentMakesTheSamePacket) {
    for (std::size_t size : {0u, 5u, 70'000u}) {
        SCOPED_TRACE(size);
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>('A' + i % 26 + i / 4099);
        const auto path = tmp_.Write("f" + std::to_string(size), content);
        Fill(u"S01\\a.txt", 42349.4375, path);
        const auto whole = cds_.Data();
        if (size == 5) {
            ASSERT_EQ(whole, kWorkedPacket);
        }

        Fill(u"S01\\a.txt", 42349.4375, path, true);
        const auto parts = cds_.DataParts();
        EXPECT_FALSE(parts.Content);
        ASSERT_EQ(parts.File != nullptr, size > 0);
        std::vector<std::uint8_t> joined = parts.Head;
        if (parts.File) {
            joined.resize(parts.Head.size() + parts.File->Size());
            EXPECT_EQ(parts.File->ReadAt(0, std::span(joined).subspan(parts.Head.size())), size);
        }
        EXPECT_EQ(joined, whole);
        EXPECT_EQ(parts.Size(), whole.size());
        EXPECT_EQ(cds_.Data(), whole);
        EXPECT_EQ(fields_.Arquivo.IsNull(), size == 0);
        EXPECT_FALSE(fields_.Arquivo.Content());
    }
}

// A file that changes after a deferred load is refused when the packet is taken whole; the file
// handed over by DataParts tells it too. Opening fails as for a whole load.
TEST_F(SendFileSet, DeferredContentThatChangedIsRefused) {
    const auto path = tmp_.Write("f", "ABCDE");
    Fill(u"S01\\a.txt", 42349.4375, path, true);
    std::ofstream(tmp_.Root() / "f", std::ios::app) << "F";
    EXPECT_EQ(MessageOf([&] { cds_.Data(); }),
              u"Cannot open file \"" + path + u"\". The file changed while it was being read");
    const auto parts = cds_.DataParts();
    ASSERT_TRUE(parts.File);
    EXPECT_EQ(parts.File->Size(), 5u);
    EXPECT_FALSE(parts.File->Unchanged());

    cds_.EmptyDataSet();
    cds_.Append();
    const auto missing = tmp_.Path("missing.bin");
    EXPECT_EQ(MessageOf([&] { fields_.Arquivo.LoadFromFileDeferred(missing); }),
              u"Cannot open file \"" + missing + u"\". No such file or directory");
}

TEST_F(SendFileSet, EmptyFileIsANullColumn) {
    Fill(u"S01\\a.txt", 42349.4375, tmp_.Write("empty", ""));
    auto expected = std::vector<std::uint8_t>(kWorkedPacket.begin(), kWorkedPacket.begin() + 156);
    expected[0x89] = 0x10;
    EXPECT_EQ(cds_.Data(), expected);
    EXPECT_TRUE(fields_.Arquivo.IsNull());
}

TEST_F(SendFileSet, LargeFileKeepsRowOffsetAndContent) {
    std::string content(70'000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 251);
    Fill(u"S01\\a.txt", 42349.4375, tmp_.Write("big", content));
    const auto packet = cds_.Data();
    ASSERT_EQ(packet.size(), 70'160u);
    EXPECT_TRUE(std::equal(kWorkedPacket.begin(), kWorkedPacket.begin() + 0x9C, packet.begin()));
    EXPECT_EQ(packet[0x9C] | packet[0x9D] << 8 | packet[0x9E] << 16 | packet[0x9F] << 24, 70'000);
    EXPECT_TRUE(
        std::equal(content.begin(), content.end(), packet.begin() + 0xA0,
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    // The store hands out the content it read, not a copy.
    EXPECT_EQ(fields_.Arquivo.Content()->size(), 70'000u);
}

// Nome: ANSI bytes, cut at 200 bytes, trailing spaces dropped; DataHora: the millisecond count.
TEST_F(SendFileSet, ColumnConversions) {
    const auto path = tmp_.Write("a.txt", "x");
    struct Case {
        std::u16string nome;
        std::string stored;
    } cases[] = {
        {u"", ""},
        {std::u16string(200, u'n'), std::string(200, 'n')},
        {std::u16string(201, u'n'), std::string(200, 'n')},
        {std::u16string(199, u'n') + u"\u00E7x", std::string(199, 'n') + "\xE7"},
        {u"a b  ", "a b"},
        {u"a\t ", "a\t"},
        {std::u16string(199, u'n') + u" x", std::string(199, 'n')},  // cut, then trimmed
        {u"S01\\a\u00E7\u00E3o.txt", "S01\\a\xE7\xE3o.txt"},
        {u"\u20AC\u0100\u4E2D\U0001F600", "\x80???"},
        {std::u16string(u"ab\0cd", 5), "ab"},
    };
    for (const auto& c : cases) {
        Fill(c.nome, 0.0, path);
        const auto bytes = cds_.Data();
        const auto packet = ReadDataPacket(bytes);
        ASSERT_EQ(packet.Rows.size(), 1u);
        const auto value = *packet.Rows[0].Values[0];
        // An empty name travels as its single zero byte.
        const std::string wire = c.stored.empty() ? std::string(1, '\0') : c.stored;
        EXPECT_EQ(std::string(value.begin(), value.end()), wire) << ToUtf8(c.nome);
        EXPECT_EQ(fields_.Nome.AsString(), FromAnsi(c.stored));
    }
    struct Stamp {
        TDateTime value;
        const char* bytes;
    } stamps[] = {
        {0.0, "\x00\x00\x2C\x84\x5D\x40\xCB\x42"},
        {42349.4375, "\x00\x20\x26\xF5\x53\xEA\xCC\x42"},
        {EncodeDateTime({2015, 12, 11, 10, 30, 0, 250}), "\x00\x9D\x26\xF5\x53\xEA\xCC\x42"},
    };
    for (const auto& s : stamps) {
        Fill(u"n", s.value, path);
        const auto bytes = cds_.Data();
        const auto value = *ReadDataPacket(bytes).Rows[0].Values[1];
        EXPECT_EQ(std::string(value.begin(), value.end()), std::string(s.bytes, 8));
    }
    EXPECT_EQ(fields_.DataHora.AsMSecs(), 63'585'513'000'250.0);
    Fill(u"n", 0.0, path);
    EXPECT_EQ(fields_.DataHora.AsMSecs(), 59'926'521'600'000.0);
}

// A pending row is posted by Data and EmptyDataSet when touched, cancelled when untouched.
TEST_F(SendFileSet, PendingRowsAreSettled) {
    cds_.Append();
    fields_.Nome.SetAsString(u"x");
    auto packet = ReadDataPacket(cds_.Data());
    ASSERT_EQ(packet.Rows.size(), 1u);
    EXPECT_EQ(packet.Rows[0].Status, dsRecNew);
    EXPECT_EQ(packet.Rows[0].Marks, (std::vector<std::uint8_t>{0, 2, 2}));
    EXPECT_EQ(cds_.State(), TDataSetState::dsBrowse);

    cds_.EmptyDataSet();
    cds_.Append();
    packet = ReadDataPacket(cds_.Data());  // untouched: cancelled
    EXPECT_TRUE(packet.Rows.empty());
    EXPECT_EQ(packet.FindProperty("CHANGE_LOG"), nullptr);
    EXPECT_EQ(cds_.Data().size(), 0x69u);
}

// A failed load leaves the row pending; the next EmptyDataSet posts and discards it.
TEST_F(SendFileSet, FailedLoadNeverReachesAPacket) {
    cds_.EmptyDataSet();
    cds_.Append();
    fields_.Nome.SetAsString(u"S01\\x");
    fields_.DataHora.SetAsDateTime(1.0);
    const auto missing = tmp_.Path("missing.bin");
    EXPECT_EQ(MessageOf([&] { fields_.Arquivo.LoadFromFile(missing); }),
              u"Cannot open file \"" + missing + u"\". No such file or directory");
    EXPECT_THROW(fields_.Arquivo.LoadFromFile(missing), EFOpenError);
    EXPECT_EQ(cds_.State(), TDataSetState::dsInsert);
    Fill(u"S01\\a.txt", 42349.4375, tmp_.Write("a.txt", "ABCDE"));
    EXPECT_EQ(cds_.Data(), kWorkedPacket);
}

// A file of 2 GiB or more would go out with a negative length and no bytes: refused unread.
TEST_F(SendFileSet, FileOfTwoGibibytesIsRefused) {
    const auto path = tmp_.Write("huge", "");
    std::filesystem::resize_file(tmp_.Root() / "huge", 0x80000000ull);  // sparse
    cds_.Append();
    fields_.Nome.SetAsString(u"x");
    EXPECT_EQ(MessageOf([&] { fields_.Arquivo.LoadFromFile(path); }),
              u"cdsSendFile: File \"" + path +
                  u"\" has 2147483648 bytes; a file of 2 GiB (2147483648 bytes) or more cannot "
                  u"be sent");
    EXPECT_TRUE(fields_.Arquivo.IsNull());
    EXPECT_EQ(ReadDataPacket(cds_.Data()).Rows[0].Marks[2], BLANK_NOTCHANGED);
}

TEST(SendFileSetStates, ErrorsNameTheComponent) {
    TClientDataSet cds(u"cdsSendFile");
    auto f = AddSendFileFields(cds);
    auto message = [](const std::function<void()>& op) -> std::u16string {
        try {
            op();
        } catch (const EDBClient& e) {
            return u"EDBClient " + e.Message();
        } catch (const EDatabaseError& e) {
            return e.Message();
        }
        return u"(no error)";
    };
    const std::u16string closed = u"cdsSendFile: Cannot perform this operation on a closed dataset";
    const std::u16string notEditing = u"cdsSendFile: Dataset not in edit or insert mode";
    EXPECT_EQ(message([&] { cds.EmptyDataSet(); }), closed);
    EXPECT_EQ(message([&] { cds.Append(); }), closed);
    EXPECT_EQ(message([&] { cds.Post(); }), notEditing);
    EXPECT_EQ(message([&] { f.Nome.SetAsString(u"x"); }), notEditing);
    EXPECT_TRUE(cds.Data().empty());  // never opened: no saved packet

    cds.CreateDataSet();
    EXPECT_EQ(message([&] { cds.CreateDataSet(); }),
              u"cdsSendFile: Cannot perform this operation on an open dataset");
    EXPECT_EQ(message([&] { f.DataHora.SetAsDateTime(0); }), notEditing);
    EXPECT_EQ(message([&] { cds.Post(); }), notEditing);
    EXPECT_EQ(message([&] { cds.FieldByName(u"Tamanho"); }),
              u"cdsSendFile: Field 'Tamanho' not found");
    EXPECT_EQ(&cds.FieldByName(u"nome"), &f.Nome);
    cds.Append();
    EXPECT_EQ(message([&] { f.Nome.SetAsDateTime(0); }),
              u"Field 'Nome' cannot be assigned as DateTime");

    // The close handler: empty, close; the saved packet holds the columns and no row.
    cds.EmptyDataSet();
    const auto emptyPacket = cds.Data();
    cds.Close();
    EXPECT_FALSE(cds.Active());
    EXPECT_EQ(cds.Data(), emptyPacket);
    EXPECT_EQ(message([&] { cds.Append(); }), closed);

    TClientDataSet bare(u"cdsSendFile");
    EXPECT_EQ(message([&] { bare.CreateDataSet(); }), u"No fields defined.  Cannot create dataset");
}

}  // namespace
}  // namespace ab
