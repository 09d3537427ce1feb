// A client-instance and a server-instance filter list set up the way the filter handshake does,
// without a channel: public keys in clear, the other parameters sealed with RSA, then frames
// passed through both lists in each direction.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include "filters/FilterTestBytes.h"
#include "platform/Text.h"
#include "transport/filters/TRSAFilter.h"
#include "transport/filters/TTransportCompressionFilter.h"
#include "transport/filters/TTransportCypherFilter.h"

namespace ab {
namespace {

using test::Bytes;

std::unique_ptr<TTransportFilter> Create(const std::u16string& id) {
    if (id == u"ZLibCompression") {
        return std::make_unique<TTransportCompressionFilter>();
    }
    if (id == u"PC1") {
        return std::make_unique<TTransportCypherFilter>();
    }
    if (id == u"RSA") {
        return std::make_unique<TRSAFilter>();
    }
    return nullptr;
}

struct Member {
    std::u16string id;
    std::vector<std::pair<std::u16string, std::u16string>> parameters;
};
using Block = std::vector<Member>;

// One side's ordered filter list.
struct Side {
    std::vector<std::unique_ptr<TTransportFilter>> filters;

    TTransportFilter* Find(const std::u16string& id) {
        for (auto& f : filters) {
            if (f->Id() == id) {
                return f.get();
            }
        }
        return nullptr;
    }
    TTransportFilter& PublicKeyFilter() {
        for (auto& f : filters) {
            if (f->IsPublicKeyCryptograph()) {
                return *f;
            }
        }
        throw std::logic_error("no public-key filter");
    }

    Block MakeBlock(bool publicKeyFilters) {
        Block block;
        for (auto& f : filters) {
            if (f->IsPublicKeyCryptograph() != publicKeyFilters) {
                continue;
            }
            Member m{f->Id(), {}};
            for (const auto& name : f->GetParameters()) {
                m.parameters.emplace_back(name, f->GetParameterValue(name));
            }
            block.push_back(std::move(m));
        }
        return block;
    }

    // Members from the last to the first, each offered parameter by parameter; a filter made for
    // a member is appended. A refusal throws, as the filter channel fails the handshake.
    void Apply(const Block& block) {
        for (auto it = block.rbegin(); it != block.rend(); ++it) {
            TTransportFilter* filter = Find(it->id);
            std::unique_ptr<TTransportFilter> created;
            if (filter == nullptr) {
                created = Create(it->id);
                if (!created) {
                    throw std::runtime_error("not registered: " + ToUtf8(it->id));
                }
                filter = created.get();
            }
            filter->StartHandshake();
            for (const auto& [name, value] : it->parameters) {
                if (!filter->SetConfederateParameter(name, value)) {
                    throw std::runtime_error(ToUtf8(it->id) + " refused " + ToUtf8(name));
                }
            }
            if (created) {
                filters.push_back(std::move(created));
            }
        }
    }

    Bytes Send(Bytes frame) {
        for (auto& f : filters) {
            if (!f->IsPublicKeyCryptograph()) {
                frame = f->ProcessInput(frame);
            }
        }
        return frame;
    }
    Bytes Receive(Bytes frame) {
        for (auto& f : filters) {
            if (!f->IsPublicKeyCryptograph()) {
                frame = f->ProcessOutput(frame);
            }
        }
        return frame;
    }
};

// The block as text, so it can travel through the public-key filter as bytes.
Bytes Serialize(const Block& block) {
    std::u16string text;
    for (const auto& m : block) {
        for (const auto& [name, value] : m.parameters) {
            text += m.id + u'\t' + name + u'\t' + value + u'\n';
        }
    }
    std::string utf8 = ToUtf8(text);
    return Bytes(utf8.begin(), utf8.end());
}

Block Deserialize(const Bytes& bytes) {
    std::u16string text = FromUtf8(std::string(bytes.begin(), bytes.end()));
    Block block;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(u'\n', pos);
        std::u16string line = text.substr(pos, end - pos);
        pos = end + 1;
        std::size_t t1 = line.find(u'\t'), t2 = line.find(u'\t', t1 + 1);
        std::u16string id = line.substr(0, t1);
        if (block.empty() || block.back().id != id) {
            block.push_back(Member{id, {}});
        }
        block.back().parameters.emplace_back(line.substr(t1 + 1, t2 - t1 - 1), line.substr(t2 + 1));
    }
    return block;
}

Side MakeServer() {
    Side server;
    for (auto id : {u"RSA", u"PC1", u"ZLibCompression"}) {
        server.filters.push_back(Create(id));
        server.filters.back()->SetServerInstance(true);
    }
    EXPECT_TRUE(server.Find(u"ZLibCompression")->SetParameterValue(u"CompressMoreThan", u"100"));
    return server;
}

// The client adopts what the server announces; `tamper` may alter the server's sealed block.
void Negotiate(Side& server, Side& client, const std::function<void(Block&)>& tamper = {}) {
    for (auto& f : server.filters) {
        f->StartHandshake();
    }
    client.Apply(server.MakeBlock(true));
    server.Apply(client.MakeBlock(true));
    Block serverBlock = server.MakeBlock(false);
    if (tamper) {
        tamper(serverBlock);
    }
    Bytes sealed = server.PublicKeyFilter().ProcessInput(Serialize(serverBlock));
    client.Apply(Deserialize(client.PublicKeyFilter().ProcessOutput(sealed)));
    Bytes answer = client.PublicKeyFilter().ProcessInput(Serialize(client.MakeBlock(false)));
    server.Apply(Deserialize(server.PublicKeyFilter().ProcessOutput(answer)));
}

TEST(FilterPair, HandshakeThenFramesBothWays) {
    Side server = MakeServer();
    Side client;
    Negotiate(server, client);
    ASSERT_EQ(client.filters.size(), 3u);
    // Adopted from the last member to the first: the server's order reversed.
    EXPECT_EQ(client.filters[1]->Id(), u"ZLibCompression");
    EXPECT_EQ(client.filters[2]->Id(), u"PC1");
    for (auto* side : {&server, &client}) {
        for (auto& f : side->filters) {
            EXPECT_TRUE(f->HandshakeComplete());
            EXPECT_EQ(f->IsServerInstance(), side == &server);
        }
    }
    EXPECT_EQ(client.Find(u"ZLibCompression")->GetParameterValue(u"CompressMoreThan"), u"100");
    EXPECT_NE(client.Find(u"PC1")->GetParameterValue(u"Key"),
              server.Find(u"PC1")->GetParameterValue(u"Key"));

    for (std::size_t size : {0u, 1u, 100u, 101u, 5000u}) {
        SCOPED_TRACE(size);
        Bytes message = test::Pattern(size, static_cast<std::uint32_t>(size) + 7);
        Bytes up = client.Send(message);
        EXPECT_EQ(server.Receive(up), message);
        Bytes down = server.Send(message);
        EXPECT_EQ(client.Receive(down), message);
    }
    // Each side enciphers with its own key: a frame does not decode on the side that sent it.
    // Deciphered with the wrong key it is noise, which a later filter may also refuse outright
    // (the keys are random, so either can happen).
    Bytes message = test::Pattern(50);
    EXPECT_NE(client.Receive(server.Send(message)), Bytes{});
    Bytes own = server.Send(message);
    try {
        EXPECT_NE(server.Receive(own), message);
    } catch (const std::exception&) {
    }
}

TEST(FilterPair, CheckBlockOfAnotherKeyIsRefused) {
    Side server = MakeServer();
    Side client;
    try {
        Negotiate(server, client, [](Block& block) {
            for (auto& m : block) {
                for (auto& [name, value] : m.parameters) {
                    if (name == u"CODE") {
                        value = TTransportCypherFilter::CheckBlock(u"some other key");
                    }
                }
            }
        });
        FAIL() << "the handshake went through";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "PC1 refused CODE");
    }
}

}  // namespace
}  // namespace ab
