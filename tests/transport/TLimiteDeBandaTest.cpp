// The bandwidth cap: the token bucket on a manual clock, then socket writes under it over real
// loopback TCP (their pace, their bytes, an abort during a wait, the write deadline).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ScriptedPeer.h"
#include "platform/Text.h"
#include "support/ManualClock.h"
#include "transport/TDBXProperties.h"
#include "transport/TDBXSocketChannel.h"
#include "transport/TLimiteDeBanda.h"

namespace ab {
namespace {

using namespace std::chrono_literals;
using test::ManualClock;
using test::PeerConnection;
using test::ScriptedPeer;

// At 1,000,000 bytes per second a byte costs a microsecond.
TEST(TLimiteDeBanda, TakesWaitTheirTurnAndAPauseSavesUpOneSecondAtMost) {
    struct Passo {
        std::chrono::milliseconds relogio;  // the time of the step
        bool devolver;                      // give back instead of take
        std::size_t bytes;
        std::chrono::nanoseconds espera;  // the wait a take is told
    };
    struct Caso {
        const char* nome;
        std::uint64_t taxa;
        std::vector<Passo> passos;
    } casos[] = {
        {"it starts empty: the first bytes wait their own time",
         1'000'000,
         {{0ms, false, 1000, 1ms}}},
        {"takes queue behind each other, as several connections' do",
         1'000'000,
         {{0ms, false, 60'000, 60ms}, {0ms, false, 60'000, 120ms}, {10ms, false, 30'000, 140ms}}},
        {"an idle second saves up one second's worth, and ten idle seconds no more",
         1'000'000,
         {{10'000ms, false, 65'536, 0ns},
          {10'000ms, false, 934'464, 0ns},
          {10'000ms, false, 1, 1us}}},
        {"a pause shorter than the debt only pays part of it",
         1'000'000,
         {{0ms, false, 60'000, 60ms}, {40ms, false, 30'000, 50ms}}},
        {"bytes given back are for the next take",
         1'000'000,
         {{0ms, false, 60'000, 60ms}, {0ms, true, 60'000, 0ns}, {0ms, false, 60'000, 60ms}}},
        {"the wait is rounded up, never down", 3, {{0ms, false, 1, 333'333'334ns}}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nome);
        ManualClock relogio;
        TLimiteDeBanda limite(caso.taxa, relogio.Relogio());
        for (const Passo& passo : caso.passos) {
            relogio.Set(passo.relogio);
            if (passo.devolver) {
                limite.Devolver(passo.bytes);
                continue;
            }
            EXPECT_EQ(limite.Tomar(passo.bytes), passo.espera)
                << passo.bytes << " bytes at " << passo.relogio.count() << " ms";
        }
    }
}

// A slice never holds more than one second's worth, so even the first slice after a pause stays
// within the burst allowed.
TEST(TLimiteDeBanda, ASliceIsAtMostOneSecondsWorth) {
    EXPECT_EQ(TLimiteDeBanda(1000).Fatia(), 1000u);
    EXPECT_EQ(TLimiteDeBanda(65'536).Fatia(), 65'536u);
    EXPECT_EQ(TLimiteDeBanda(5'000'000).Fatia(), TLimiteDeBanda::kFatiaMaxima);
}

TDBXProperties PropsFor(int port, const char16_t* prazo = nullptr, const char16_t* ms = nullptr) {
    TDBXProperties p;
    p.Add(u"HostName", u"127.0.0.1");
    p.Add(u"Port", IntToStr(port));
    if (prazo)
        p.SetValue(prazo, ms);
    return p;
}

struct CanalLimitado {
    CanalLimitado(int port, std::shared_ptr<TLimiteDeBanda> limite, const char16_t* prazo = nullptr,
                  const char16_t* ms = nullptr)
        : properties(PropsFor(port, prazo, ms)) {
        channel.SetLimiteDeBanda({std::move(limite), [this](std::size_t n) {
                                      ++fatias;
                                      escritos += n;
                                      maior = std::max(maior, n);
                                  }});
        channel.SetDBXProperties(&properties);
        channel.Open();
    }
    TDBXProperties properties;
    TDBXSocketChannel channel;
    // What the writes told, on the writing thread.
    int fatias = 0;
    std::size_t escritos = 0;
    std::size_t maior = 0;
};

long long Milissegundos(std::chrono::steady_clock::time_point desde) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 desde)
        .count();
}

// Gathered parts of odd sizes, so slices end inside parts, at their ends and across empty ones;
// every byte arrives once, in order, and each connection is told of every byte it wrote, a slice
// at a time. Two connections on one cap share it: together they take as long as one writing both
// shares.
TEST(TLimiteDeBanda, WritesUnderTheCapTakeTheirTimeAndArriveWhole) {
    std::vector<std::string> partes;
    for (const std::size_t tamanho : {19u, 100'000u, 0u, 3u, 65'536u, 34'442u}) {
        std::string p(tamanho, '\0');
        for (std::size_t i = 0; i < tamanho; ++i)
            p[i] = static_cast<char>(i * 31 + partes.size());
        partes.push_back(std::move(p));
    }
    std::string esperado;
    for (const auto& p : partes)
        esperado += p;
    std::vector<std::span<const std::uint8_t>> spans;
    for (const auto& p : partes)
        spans.emplace_back(reinterpret_cast<const std::uint8_t*>(p.data()), p.size());

    for (const int conexoes : {1, 2}) {
        SCOPED_TRACE(std::to_string(conexoes) + " connection(s)");
        std::vector<std::string> recebido(conexoes);
        {
            ScriptedPeer peer(
                [&](PeerConnection& c, int i) { recebido[i] = c.Receive(esperado.size()); });
            // 1,000,000 bytes per second: each connection's 200,000 bytes take 0.2 s alone,
            // from the cap's making on (it starts empty).
            const auto inicio = std::chrono::steady_clock::now();
            auto limite = std::make_shared<TLimiteDeBanda>(1'000'000);
            std::vector<std::unique_ptr<CanalLimitado>> canais;
            for (int i = 0; i < conexoes; ++i)
                canais.push_back(std::make_unique<CanalLimitado>(peer.Port(), limite));
            std::vector<std::thread> escritores;
            for (auto& canal : canais)
                escritores.emplace_back([&, c = canal.get()] {
                    EXPECT_EQ(c->channel.WriteParts(spans), static_cast<int>(esperado.size()));
                });
            for (auto& e : escritores)
                e.join();
            EXPECT_GE(Milissegundos(inicio), 190 * conexoes);
            for (const auto& canal : canais) {
                EXPECT_EQ(canal->escritos, esperado.size());
                EXPECT_LE(canal->maior, TLimiteDeBanda::kFatiaMaxima);
                EXPECT_GE(canal->fatias, 4);
            }
        }  // the peer's scripts are joined: they have read everything
        for (const std::string& r : recebido)
            EXPECT_TRUE(r == esperado) << r.size() << " bytes received";
    }
}

// Terminate from another thread ends a wait for the cap at once, and the bytes the write took
// go back to the cap: at 1000 bytes per second, the wait ended after 0.2 s would still owe 0.8 s,
// and another 1000 bytes 1.8 s when nothing was given back.
TEST(TLimiteDeBanda, TerminateEndsAWaitForTheCapAndGivesItsBytesBack) {
    std::atomic<bool> fim{false};
    ScriptedPeer peer([&](PeerConnection& c, int) {
        while (!fim && !c.Receive(1, 100).empty()) {
        }
    });
    auto limite = std::make_shared<TLimiteDeBanda>(1000);
    CanalLimitado canal(peer.Port(), limite);
    const std::string bytes(10'000, 'x');
    int resultado = 0;
    std::atomic<bool> voltou{false};
    std::thread escritor([&] {
        resultado = canal.channel.Write(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        voltou = true;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(voltou) << "the write did not wait for the cap";
    const auto inicio = std::chrono::steady_clock::now();
    canal.channel.GetLayer()->Terminate();
    escritor.join();
    EXPECT_LT(Milissegundos(inicio), 500);
    EXPECT_EQ(resultado, -1);
    EXPECT_TRUE(canal.channel.IsConnectionLost());
    EXPECT_LT(limite->Tomar(1000), 1500ms);
    fim = true;
}

// Time spent waiting for the cap is no time the peer failed to take bytes: a 250 ms wait passes a
// 100 ms write deadline, before the first read and after it.
TEST(TLimiteDeBanda, TheWaitForTheCapIsNotCountedByTheWriteDeadline) {
    for (const bool depoisDaPrimeiraLeitura : {false, true}) {
        SCOPED_TRACE(depoisDaPrimeiraLeitura ? "CommunicationTimeout" : "ConnectTimeout");
        std::string recebido;
        {
            ScriptedPeer peer([&](PeerConnection& c, int) {
                if (depoisDaPrimeiraLeitura)
                    c.Send("a");
                recebido = c.Receive(2000);
            });
            // 8000 bytes per second: 2000 bytes leave a quarter of a second after the cap was
            // made (it starts empty), whatever the connect and the first read took.
            const auto inicio = std::chrono::steady_clock::now();
            CanalLimitado canal(
                peer.Port(), std::make_shared<TLimiteDeBanda>(8000),
                depoisDaPrimeiraLeitura ? u"CommunicationTimeout" : u"ConnectTimeout", u"100");
            std::vector<std::uint8_t> buf(2000, 'z');
            if (depoisDaPrimeiraLeitura) {
                std::uint8_t a = 0;
                ASSERT_EQ(canal.channel.Read(std::span(&a, 1)), 1);
            }
            EXPECT_EQ(canal.channel.Write(buf), 2000);
            EXPECT_GE(Milissegundos(inicio), 240);
            EXPECT_FALSE(canal.channel.IsConnectionLost());
        }
        EXPECT_EQ(recebido, std::string(2000, 'z'));
    }
}

}  // namespace
}  // namespace ab
