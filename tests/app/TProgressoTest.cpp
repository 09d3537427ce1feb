// Where a run stands, on a clock the test moves: the one-line text after scripted event sequences
// (which projection of the time left wins, what a failed or retried file does to the bytes sent,
// nothing shown before a second), a file's percent while it travels, and the number forms.
#include "app/TProgresso.h"

#include <gtest/gtest.h>

#include <variant>
#include <vector>

#include "platform/Text.h"
#include "support/ManualClock.h"

namespace ab {
namespace {

using test::ManualClock;

using namespace std::chrono_literals;

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;

struct Start {
    int arquivos;
    std::uint64_t bytes;
};
struct Progress {
    int row;
    std::uint64_t tamanho;
    std::uint64_t enviados;
};
struct Done {
    int row;
    std::uint64_t tamanho;
    TDesfecho desfecho = TDesfecho::Enviado;
};
struct Step {
    std::chrono::milliseconds at;  // since the run started
    std::variant<Start, Progress, Done> event;
};

void Play(TProgresso& p, ManualClock& clock, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        clock.Set(s.at);
        if (const auto* e = std::get_if<Start>(&s.event)) {
            p.RunStarted(e->arquivos, e->bytes);
        } else if (const auto* e = std::get_if<Progress>(&s.event)) {
            p.FileProgress({e->row, u"", u"", e->tamanho, {}}, e->enviados);
        } else if (const auto* e = std::get_if<Done>(&s.event)) {
            p.FileDone({e->row, u"", u"", e->tamanho, {}}, e->desfecho);
        }
    }
}

TEST(Progresso, TextAfterEventSequences) {
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::chrono::milliseconds readAt;
        const char16_t* text;
    } cases[] = {
        {"just started",
         {{0ms, Start{10000, 10 * MiB}}},
         500ms,
         u"0 de 10.000 arquivos \u00B7 0 bytes enviados"},
        {"one file in all", {{0ms, Start{1, 10}}}, 0ms, u"0 de 1 arquivo \u00B7 0 bytes enviados"},
        {"under a second: no rate, no time left",
         {{0ms, Start{4, 4 * MiB}}, {900ms, Done{0, MiB}}},
         900ms,
         u"1 de 4 arquivos \u00B7 1,0 MB enviados"},
        {"files and bytes agree",
         {{0ms, Start{4, 4 * MiB}}, {2000ms, Done{0, MiB}}},
         2000ms,
         u"1 de 4 arquivos \u00B7 1,0 MB enviados \u00B7 512 KB/s \u00B7 faltam 0:06"},
        // Two tiny files done quickly say 1 s; the large one in hand says 4 s.
        {"bytes left weigh more",
         {{0ms, Start{3, 3 * MiB + 2}},
          {100ms, Done{0, 1}},
          {200ms, Done{1, 1}},
          {300ms, Progress{2, 3 * MiB, 0}},
          {2000ms, Progress{2, 3 * MiB, MiB}}},
         2000ms,
         u"2 de 3 arquivos \u00B7 1,0 MB enviados \u00B7 512 KB/s \u00B7 faltam 0:04"},
        // The large files went first; ninety one-byte files are left, each a server call.
        {"files left weigh more",
         {{0ms, Start{100, 1000}},
          {1000ms, Done{0, 182}},
          {2000ms, Done{1, 182}},
          {4000ms, Done{2, 182}},
          {6000ms, Done{3, 182}},
          {10000ms, Done{4, 182}},
          {10000ms, Done{5, 0, TDesfecho::Atual}},
          {10000ms, Done{6, 0, TDesfecho::Atual}},
          {10000ms, Done{7, 0, TDesfecho::Atual}},
          {10000ms, Done{8, 0, TDesfecho::Atual}},
          {10000ms, Done{9, 0, TDesfecho::Atual}}},
         10000ms,
         u"10 de 100 arquivos \u00B7 910 bytes enviados \u00B7 91 bytes/s \u00B7 faltam 1:30"},
        {"every file current: nothing sent, time left by files",
         {{0ms, Start{10, 0}},
          {2000ms, Done{0, 0, TDesfecho::Atual}},
          {2000ms, Done{1, 0, TDesfecho::Atual}},
          {2000ms, Done{2, 0, TDesfecho::Atual}},
          {2000ms, Done{3, 0, TDesfecho::Atual}},
          {2000ms, Done{4, 0, TDesfecho::Atual}}},
         2000ms,
         u"5 de 10 arquivos \u00B7 0 bytes enviados \u00B7 faltam 0:02"},
        {"a failed file takes back the bytes it had on their way",
         {{0ms, Start{2, 2 * MiB}},
          {0ms, Progress{0, MiB, 0}},
          {1500ms, Progress{0, MiB, 512 * KiB}},
          {3000ms, Done{0, MiB, TDesfecho::Falhou}}},
         4000ms,
         u"1 de 2 arquivos \u00B7 0 bytes enviados \u00B7 faltam 0:04"},
        {"a second attempt starts again from zero",
         {{0ms, Start{1, 1000 * KiB}},
          {0ms, Progress{0, 1000 * KiB, 0}},
          {1000ms, Progress{0, 1000 * KiB, 600 * KiB}},
          {2000ms, Progress{0, 1000 * KiB, 0}},
          {4000ms, Progress{0, 1000 * KiB, 300 * KiB}}},
         4000ms,
         u"0 de 1 arquivo \u00B7 300 KB enviados \u00B7 75,0 KB/s \u00B7 faltam 0:09"},
        {"two files in hand at once",
         {{0ms, Start{2, 4 * MiB}},
          {0ms, Progress{0, 2 * MiB, 0}},
          {0ms, Progress{1, 2 * MiB, 0}},
          {2000ms, Progress{0, 2 * MiB, MiB}},
          {2000ms, Progress{1, 2 * MiB, MiB}}},
         2000ms,
         u"0 de 2 arquivos \u00B7 2,0 MB enviados \u00B7 1,0 MB/s \u00B7 faltam 0:02"},
        {"all done: no time left shown",
         {{0ms, Start{2, 2 * MiB}}, {1000ms, Done{0, MiB}}, {2000ms, Done{1, MiB}}},
         4000ms,
         u"2 de 2 arquivos \u00B7 2,0 MB enviados \u00B7 512 KB/s"},
        // What was left out is done at once and counted, and its size is no part of the bytes:
        // counted, it would have the 1 MB left look done, and the time left by files win.
        {"entries left out",
         {{0ms, Start{3, MiB}},
          {0ms, Done{0, 50 * MiB, TDesfecho::Excluido}},
          {0ms, Done{1, 7 * MiB, TDesfecho::Excluido}},
          {0ms, Progress{2, MiB, 0}},
          {2000ms, Progress{2, MiB, 512 * KiB}}},
         2000ms,
         u"2 de 3 arquivos \u00B7 512 KB enviados \u00B7 256 KB/s \u00B7 faltam 0:02 \u00B7 2 "
         u"exclu\u00EDdos"},
        {"one entry left out",
         {{0ms, Start{2, 0}}, {0ms, Done{0, 0, TDesfecho::Excluido}}},
         0ms,
         u"1 de 2 arquivos \u00B7 0 bytes enviados \u00B7 1 exclu\u00EDdo"},
        {"a new run starts afresh",
         {{0ms, Start{2, 2 * MiB}},
          {1000ms, Done{0, MiB}},
          {1000ms, Done{1, 0, TDesfecho::Excluido}},
          {5000ms, Start{3, 30}}},
         5000ms,
         u"0 de 3 arquivos \u00B7 0 bytes enviados"},
        {"an hour and more",
         {{0ms, Start{2, 2 * MiB}}, {3723000ms, Done{0, MiB}}},
         3723000ms,
         u"1 de 2 arquivos \u00B7 1,0 MB enviados \u00B7 282 bytes/s \u00B7 faltam 1:02:03"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ManualClock clock;
        TProgresso p(clock.Relogio());
        Play(p, clock, c.steps);
        clock.Set(c.readAt);
        EXPECT_EQ(ToUtf8(p.Texto()), ToUtf8(c.text));
    }
}

TEST(Progresso, CountsBehindTheText) {
    ManualClock clock;
    TProgresso p(clock.Relogio());
    EXPECT_EQ(p.Restante(), 0s);  // nothing to do
    Play(p, clock,
         {{0ms, Start{3, 3000}},
          {500ms, Done{0, 1000}},
          {500ms, Done{1, 1000, TDesfecho::Atual}},
          {500ms, Progress{2, 1000, 250}}});
    EXPECT_EQ(p.Feitos(), 2);
    EXPECT_EQ(p.Total(), 3);
    EXPECT_EQ(p.BytesEnviados(), 1250u);
    EXPECT_EQ(p.Taxa(), std::nullopt);
    EXPECT_EQ(p.Restante(), std::nullopt);
    clock.Set(2500ms);
    ASSERT_TRUE(p.Taxa().has_value());
    EXPECT_DOUBLE_EQ(*p.Taxa(), 500.0);
    EXPECT_EQ(p.Restante(), 1s);  // by files 1.25 s, more than by bytes (0.8 s)
    clock.Set(3000ms);
    p.FileDone({2, u"", u"", 1000, {}}, TDesfecho::Enviado);
    EXPECT_EQ(p.BytesEnviados(), 2000u);
    EXPECT_EQ(p.Restante(), 0s);
}

TEST(Progresso, PercentOnceAFileHasTravelledASecond) {
    ManualClock clock;
    TProgresso p(clock.Relogio());
    Play(p, clock,
         {{0ms, Start{3, 3000}}, {100ms, Progress{1, 1000, 100}}, {100ms, Progress{2, 0, 0}}});
    EXPECT_EQ(p.Percentual(1), std::nullopt);
    clock.Set(1099ms);
    EXPECT_EQ(p.Percentual(1), std::nullopt);
    clock.Set(1100ms);
    EXPECT_EQ(p.Percentual(1), 10);
    p.FileProgress({1, u"", u"", 1000, {}}, 999);
    EXPECT_EQ(p.Percentual(1), 99);
    p.FileProgress({1, u"", u"", 1000, {}}, 1000);
    EXPECT_EQ(p.Percentual(1), 100);
    EXPECT_EQ(p.Percentual(2), std::nullopt);  // empty file
    EXPECT_EQ(p.Percentual(0), std::nullopt);  // not on its way
    p.FileDone({1, u"", u"", 1000, {}}, TDesfecho::Enviado);
    EXPECT_EQ(p.Percentual(1), std::nullopt);
}

TEST(Progresso, NumberForms) {
    const std::pair<std::uint64_t, const char16_t*> inteiros[] = {
        {0, u"0"}, {999, u"999"}, {1000, u"1.000"}, {10000, u"10.000"}, {1234567, u"1.234.567"}};
    for (const auto& [n, text] : inteiros)
        EXPECT_EQ(ToUtf8(TProgresso::Inteiro(n)), ToUtf8(text)) << n;

    const std::pair<std::uint64_t, const char16_t*> tamanhos[] = {
        {0, u"0 bytes"},
        {1, u"1 byte"},
        {999, u"999 bytes"},
        {1000, u"1,0 KB"},
        {1536, u"1,5 KB"},
        {99 * KiB + 1000, u"100,0 KB"},
        {512 * KiB, u"512 KB"},
        {1000 * KiB, u"1,0 MB"},
        {3355443, u"3,2 MB"},
        {5 * 1024 * MiB / 2, u"2,5 GB"},
        {3000ULL * 1024 * MiB, u"2,9 TB"},
    };
    for (const auto& [n, text] : tamanhos)
        EXPECT_EQ(ToUtf8(TProgresso::Tamanho(n)), ToUtf8(text)) << n;

    const std::pair<std::chrono::seconds, const char16_t*> duracoes[] = {
        {0s, u"0:00"},       {42s, u"0:42"},      {605s, u"10:05"},
        {3600s, u"1:00:00"}, {3723s, u"1:02:03"}, {-5s, u"0:00"},
    };
    for (const auto& [s, text] : duracoes)
        EXPECT_EQ(ToUtf8(TProgresso::Duracao(s)), ToUtf8(text)) << s.count();
}

}  // namespace
}  // namespace ab
