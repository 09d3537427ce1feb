// Filter channel: the five-byte handshake and its answers, pass-through, framing with leftover
// bytes, parameter blocks, negotiation with filters in both directions, the three handshake
// errors and the refusal of oversized frames.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "FakeFilters.h"
#include "dbx/TDBXError.h"
#include "platform/Text.h"
#include "support/MemoryChannel.h"
#include "transport/TDBXFilterSocketChannel.h"
#include "transport/TDBXProperties.h"
#include "transport/filters/TTransportCypherFilter.h"

namespace ab {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::BufferChannel;

Bytes B(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Frame(std::uint8_t kind, const Bytes& payload) {
    const auto n = static_cast<std::uint32_t>(payload.size());
    return Cat({{kind, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                 static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)},
                payload});
}
const Bytes kQuery{5, 5, 5, 5, 5};
const Bytes kNoFilter{6, 0, 0, 0, 0};

// A client channel over fixed server bytes; `Peer()` shows what the client wrote.
struct ClientOver {
    ClientOver(Bytes serverBytes, std::size_t maxPerRead = 0, std::u16string filters = u"{}",
               std::uint32_t maxFrame = 1 << 20)
        : channel(std::make_unique<BufferChannel>(std::move(serverBytes), maxPerRead), factory,
                  maxFrame) {
        test::RegisterFakeFilters(factory);
        props.Add(u"Filters", filters);
        channel.SetDBXProperties(&props);
    }
    BufferChannel& Peer() { return static_cast<BufferChannel&>(*channel.GetChannel()); }
    TTransportFilterFactory factory;
    TDBXProperties props;
    TDBXFilterSocketChannel channel;
};

void ExpectDBXError(const std::function<void()>& f, const std::u16string& message) {
    try {
        f();
        ADD_FAILURE() << "no error";
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_EQ(e.Message(), message);
    }
}

TEST(TDBXFilterSocketChannel, NoFilterHandshakeThenPassThrough) {
    // Split the server's bytes at every size to exercise partial header reads.
    for (std::size_t perRead : {0, 1, 2, 3}) {
        ClientOver c(Cat({kNoFilter, B("{\"result\":[]}")}), perRead);
        EXPECT_EQ(c.channel.GetFlag(), TDBXFilterSocketChannel::Pendant);
        EXPECT_EQ(c.channel.Write({}), 0);  // an empty write sends nothing, not even the query
        EXPECT_TRUE(c.Peer().written.empty());
        const Bytes msg = B("{\"method\":\"connect\"}");
        EXPECT_EQ(c.channel.Write(msg), static_cast<int>(msg.size()));
        EXPECT_EQ(c.channel.GetFlag(), TDBXFilterSocketChannel::Regular);
        EXPECT_EQ(c.channel.Write(B("x")), 1);  // no second query
        EXPECT_EQ(c.Peer().written, Cat({kQuery, msg, B("x")}));
        Bytes buf(64);
        std::string got;
        while (got.size() < 13) {
            const int n = c.channel.Read(buf);
            ASSERT_GT(n, 0);
            got.append(buf.begin(), buf.begin() + n);
        }
        EXPECT_EQ(got, "{\"result\":[]}");
    }
}

TEST(TDBXFilterSocketChannel, BadAnswersBreakTheChannel) {
    for (const Bytes& answer : {Bytes{1, 2, 3, 4, 5}, Bytes{6, 0, 0, 0, 1}, Bytes{6, 0}}) {
        ClientOver c(answer);
        EXPECT_EQ(c.channel.Write(B("m")), -1);
        Bytes buf(8);
        EXPECT_EQ(c.channel.Read(buf), -1);
        EXPECT_EQ(c.channel.Write(B("m")), -1);
    }
}

TEST(TDBXFilterSocketChannel, FilteredReadHandsOutLeftoverAcrossReads) {
    // The server announces XOR with key "A" (0x41); the frame decodes to ten bytes.
    const Bytes block = B(R"({"XOR":{"Key":"A","Note":null}})");
    Bytes payload = B("0123456789");
    for (auto& b : payload)
        b ^= 0x41;
    ClientOver c(Cat({Frame(0x0D, block), Frame(0x0D, {}), Frame(0x0D, payload)}), 3);
    ASSERT_EQ(c.channel.Write(B("hi")), 2);
    EXPECT_EQ(c.channel.GetFlag(), TDBXFilterSocketChannel::Filtered);
    // What the client sent: the query, its own block (null for empty values), one framed message.
    Bytes hi = B("hi");
    for (auto& b : hi)
        b ^= 0x41;
    EXPECT_EQ(c.Peer().written, Cat({kQuery, Frame(0x0D, block), Frame(0x0D, hi)}));
    Bytes four(4);
    std::string got;
    for (int expected : {4, 4, 2}) {
        ASSERT_EQ(c.channel.Read(four), expected);  // the empty frame is skipped
        got.append(four.begin(), four.begin() + expected);
    }
    EXPECT_EQ(got, "0123456789");
    EXPECT_EQ(c.channel.Read(four), -1);
}

TEST(TDBXFilterSocketChannel, ParameterBlockEscapes) {
    TTransportFilterFactory factory;
    test::RegisterFakeFilters(factory);
    TTransportFilterCollection list;
    auto f = factory.CreateFilter(u"XOR");
    f->SetParameterValue(u"Key", u"a/b\"c\\\u00e9\u20ac\x01\n");
    list.AddFilter(std::move(f));
    list.AddFilter(factory.CreateFilter(u"RSA"));
    EXPECT_EQ(list.ParameterBlock(false),
              R"({"XOR":{"Key":"a\/b\"c\\\u00E9\u20AC\u0001\n","Note":null}})");
    EXPECT_EQ(list.ParameterBlock(true), R"({"RSA":{"Key":null,"Note":null}})");
    EXPECT_EQ(list.ToJSON(),
              R"({"XOR":{"Key":"a\/b\"c\\\u00E9\u20AC\u0001\n"},"RSA":{"Key":null}})");
    auto back = TTransportFilterCollection::FromJSON(FromLatin1(list.ToJSON()), factory);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Count(), 2);
    EXPECT_EQ(back->GetFilter(0)->GetParameterValue(u"Key"), u"a/b\"c\\\u00e9\u20ac\x01\n");
    EXPECT_EQ(back->GetFilter(1)->Id(), u"RSA");
    EXPECT_EQ(TTransportFilterCollection::FromJSON(u"{", factory), nullptr);
}

TEST(TDBXFilterSocketChannel, HandshakeErrors) {
    // The server announces a filter that is not registered.
    {
        ClientOver c(Frame(0x0D, B(R"({"ZLibCompression":{"CompressMoreThan":"1024"}})")));
        ExpectDBXError([&] { c.channel.Write(B("m")); },
                       u"Communication filter ZLibCompression is not registered. Filter class "
                       u"needs to be registered in order to communicate with the server.");
        Bytes buf(4);
        EXPECT_EQ(c.channel.Read(buf), -1);
    }
    // A filter refuses a parameter.
    {
        ClientOver c(Frame(0x0D, B(R"({"XOR":{"Key":"bad"}})")));
        ExpectDBXError([&] { c.channel.Write(B("m")); },
                       u"Filter XOR rejected setup parameter Key given value bad. At this point "
                       u"the server communication is not possible due to this incompatibility.");
    }
    // The real cipher: a check block made with another key than the one announced.
    {
        const std::u16string otherCode = TTransportCypherFilter::CheckBlock(u"abd");
        ClientOver c(
            Frame(0x0D, B("{\"PC1\":{\"Key\":\"abc\",\"CODE\":\"" + ToUtf8(otherCode) + "\"}}")));
        c.factory.RegisterBuiltInFilters();
        ExpectDBXError([&] { c.channel.Write(B("m")); },
                       u"Filter PC1 rejected setup parameter CODE given value " + otherCode +
                           u". At this point the server communication is not possible due to "
                           u"this incompatibility.");
    }
    // Our list has a public-key filter and the server answers without one.
    for (const Bytes& answer : {kNoFilter, Frame(0x0D, B(R"({"XOR":{}})"))}) {
        ClientOver c(answer, 0, uR"({"XOR":{},"RSA":{"Key":"k"}})");
        ExpectDBXError([&] { c.channel.Write(B("m")); }, u"The Server has no matching RSA filter.");
    }
    // A parameter block that does not parse.
    {
        ClientOver c(Frame(0x0D, B("{not json")));
        EXPECT_EQ(c.channel.Write(B("m")), -1);
    }
    // A filter that does not complete its handshake.
    {
        ClientOver c(Frame(0x0D, B(R"({"XOR":{}})")), 0, uR"({"XOR":{}})");
        static_cast<test::FakeFilter*>(c.channel.GetFilterList()->GetFilter(0))->incomplete = true;
        EXPECT_EQ(c.channel.Write(B("m")), -1);
    }
}

// A frame that could not be read leaves the stream out of step: the channel is lost for good.
void ExpectBroken(TDBXFilterSocketChannel& channel) {
    EXPECT_TRUE(channel.IsConnectionLost());
    EXPECT_EQ(channel.Write(B("m")), -1);
}

TEST(TDBXFilterSocketChannel, OversizedFramesAreRefusedBeforeAllocation) {
    const Bytes huge{0x0D, 0x7F, 0xFF, 0xFF, 0xFF};
    {
        ClientOver c(huge, 0, u"{}", 1024);
        EXPECT_EQ(c.channel.Write(B("m")), -1);  // as a parameter block
    }
    {
        ClientOver c(Cat({Frame(0x0D, B(R"({"XOR":{"Key":"A"}})")), huge}), 0, u"{}", 1024);
        ASSERT_EQ(c.channel.Write(B("m")), 1);
        Bytes buf(8);
        EXPECT_EQ(c.channel.Read(buf), -1);  // as a message frame
        ExpectBroken(c.channel);
    }
    {
        // A frame that announces more than arrives ends in -1, not a hang or a crash.
        ClientOver c(Cat({Frame(0x0D, B(R"({"XOR":{"Key":"A"}})")), Bytes{0x0D, 0, 0, 1, 0, 'x'}}));
        ASSERT_EQ(c.channel.Write(B("m")), 1);
        Bytes buf(8);
        EXPECT_EQ(c.channel.Read(buf), -1);
        ExpectBroken(c.channel);
    }
    {
        // A frame header of another kind.
        ClientOver c(Cat({Frame(0x0D, B(R"({"XOR":{"Key":"A"}})")), Bytes{0x06, 0, 0, 0, 0}}));
        ASSERT_EQ(c.channel.Write(B("m")), 1);
        Bytes buf(8);
        EXPECT_EQ(c.channel.Read(buf), -1);
        ExpectBroken(c.channel);
    }
}

// Both sides over an in-memory pair: the client writes first, the server answers from its first
// read. Returns the client's filter ids in list order.
struct Pair {
    explicit Pair(std::u16string serverFilters, std::u16string clientFilters = u"{}") {
        test::RegisterFakeFilters(factory);
        auto [a, b] = test::MakeChannelPair();
        client = std::make_unique<TDBXFilterSocketChannel>(std::move(a), factory);
        server = std::make_unique<TDBXFilterSocketChannel>(std::move(b), factory);
        clientProps.Add(u"Filters", clientFilters);
        serverProps.Add(u"Filters", serverFilters);
        client->SetDBXProperties(&clientProps);
        server->SetDBXProperties(&serverProps);
    }
    // One request and one answer; both must arrive intact.
    void RoundTrip(const std::string& request, const std::string& answer) {
        auto serverSide = std::async(std::launch::async, [&] {
            std::string got;
            Bytes buf(7);
            while (got.size() < request.size()) {
                const int n = server->Read(buf);
                if (n <= 0)
                    return got;
                got.append(buf.begin(), buf.begin() + n);
            }
            server->Write(B(answer));
            return got;
        });
        ASSERT_EQ(client->Write(B(request)) >= 0, true);
        std::string got;
        Bytes buf(5);
        while (got.size() < answer.size()) {
            const int n = client->Read(buf);
            ASSERT_GT(n, 0);
            got.append(buf.begin(), buf.begin() + n);
        }
        EXPECT_EQ(serverSide.get(), request);
        EXPECT_EQ(got, answer);
    }
    std::vector<std::u16string> ClientIds() {
        std::vector<std::u16string> ids;
        for (const auto& f : *client->GetFilterList())
            ids.push_back(f->Id());
        return ids;
    }
    TTransportFilterFactory factory;
    TDBXProperties clientProps, serverProps;
    std::unique_ptr<TDBXFilterSocketChannel> client, server;
};

TEST(TDBXFilterSocketChannel, NegotiationBothSides) {
    {
        Pair p(u"{}");
        p.RoundTrip("{\"method\":\"connect\"}", "{\"result\":[1,\"S\"]}");
        EXPECT_EQ(p.client->GetFlag(), TDBXFilterSocketChannel::Regular);
        EXPECT_EQ(p.server->GetFlag(), TDBXFilterSocketChannel::Regular);
        p.RoundTrip("second", "answer");
    }
    {
        // Non-commuting filters: adopted filters stand in reverse order on the client, which
        // makes both directions decode.
        Pair p(uR"({"XOR":{"Key":"k"},"ADD":{"Key":"\u0007"}})");
        p.RoundTrip(std::string(40000, 'q') + "end", "reply");
        EXPECT_EQ(p.client->GetFlag(), TDBXFilterSocketChannel::Filtered);
        EXPECT_EQ(p.ClientIds(), (std::vector<std::u16string>{u"ADD", u"XOR"}));
        EXPECT_EQ(p.client->GetFilterList()->GetFilter(u"XOR")->GetParameterValue(u"Key"), u"k");
        EXPECT_TRUE(p.client->GetFilterList()->GetFilter(0)->IsClientInstance());
        EXPECT_TRUE(p.server->GetFilterList()->GetFilter(0)->IsServerInstance());
        p.RoundTrip("again", "and again");
    }
    {
        // A public-key filter: its block travels plain under 07, the others sealed by it.
        Pair p(uR"({"RSA":{"Key":"server"},"XOR":{"Key":"z"}})");
        p.RoundTrip("hello", "world");
        EXPECT_EQ(p.ClientIds(), (std::vector<std::u16string>{u"RSA", u"XOR"}));
        auto* rsa = static_cast<test::FakeFilter*>(p.client->GetFilterList()->GetFilter(u"RSA"));
        EXPECT_EQ(rsa->confederateKey_, u"server");
        EXPECT_EQ(p.client->GetFilterList()->GetFilter(u"XOR")->GetParameterValue(u"Key"), u"z");
    }
}

TEST(TDBXFilterSocketChannel, AnsweringSideTakesNonQueryBytesAsData) {
    TTransportFilterFactory factory;
    TDBXFilterSocketChannel server(std::make_unique<BufferChannel>(B("{\"method\":1}"), 2),
                                   factory);
    Bytes buf(3);
    std::string got;
    for (;;) {
        const int n = server.Read(buf);
        if (n <= 0)
            break;
        got.append(buf.begin(), buf.begin() + n);
    }
    EXPECT_EQ(got, "{\"method\":1}");
    EXPECT_EQ(server.GetFlag(), TDBXFilterSocketChannel::Regular);
    // With filters the same bytes are refused.
    TDBXProperties props;
    props.Add(u"Filters", uR"({"XOR":{}})");
    test::RegisterFakeFilters(factory);
    TDBXFilterSocketChannel filtered(std::make_unique<BufferChannel>(B("{\"method\":1}")), factory);
    filtered.SetDBXProperties(&props);
    EXPECT_EQ(filtered.Read(buf), -1);
}

}  // namespace
}  // namespace ab
