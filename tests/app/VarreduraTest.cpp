// The walk over a folder as Linux holds it, and the run over it against the bundled server: names
// that are not UTF-8, special files, folder links inside and outside, a link to nothing, a folder
// that cannot be read, a file too large for the packet.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>

#include <map>

#include "RunFixture.h"
#include "app/UFuncoes.h"
#include "app/Varredura.h"
#include "support/ArvoreLinux.h"

namespace ab::testing {
namespace {

using namespace std::chrono_literals;
using TTipo = TEntradaVarredura::TTipo;

long DescritoresAbertos() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
}

// The walk: relative path (as bytes) -> what it is and why.
std::map<std::string, std::pair<TTipo, std::u16string>> Varredura(
    const fs::path& pasta, const TLeitorDePastas& leitor = ListDirectory) {
    const std::u16string raiz = FromFileName(pasta.string()) + u"/";
    std::map<std::string, std::pair<TTipo, std::u16string>> achados;
    for (const auto& e : Varrer(raiz, leitor)) {
        const std::string relativo = ToFileName(e.Caminho.substr(raiz.size()));
        EXPECT_TRUE(achados.emplace(relativo, std::make_pair(e.Tipo, e.Motivo)).second)
            << "listed twice: " << relativo;
    }
    return achados;
}

std::u16string Real(const fs::path& pasta) {
    return FromFileName(fs::canonical(pasta).string());
}

TEST(Varredura, ListsEveryFileAndSaysWhyTheRestIsNotPublished) {
    TempDir dir("walk");
    const fs::path pacote = dir.Path() / "pacote";
    const fs::path fora = dir.Path() / "fora";
    ArvoreLinux::Escrever(pacote, fora);
    const std::string real = fs::canonical(fora).string();

    const auto achados = Varredura(pacote);
    const std::map<std::string, std::pair<TTipo, std::u16string>> esperados = {
        {"LeiaMe.txt", {TTipo::Arquivo, u""}},
        {"Relat\xF3rios/r.txt", {TTipo::Arquivo, u""}},
        {"n\xE3o.txt", {TTipo::Arquivo, u""}},
        {"Scripts/c.sql", {TTipo::Arquivo, u""}},
        {"ligado.txt", {TTipo::Arquivo, u""}},
        {"quebrado", {TTipo::Arquivo, u""}},
        {"fifo", {TTipo::Ignorado, u"n\u00E3o \u00E9 um arquivo comum (FIFO)"}},
        {"socket", {TTipo::Ignorado, u"n\u00E3o \u00E9 um arquivo comum (socket)"}},
        {"fora/",
         {TTipo::Ignorado,
          u"liga\u00E7\u00E3o para uma pasta fora da pasta publicada: " + FromUtf8(real)}},
        {"raiz/",
         {TTipo::Ignorado, u"liga\u00E7\u00E3o para uma pasta fora da pasta publicada: /"}},
        {"Scripts/acima/",
         {TTipo::Ignorado, u"liga\u00E7\u00E3o para uma pasta acima dela: " +
                               FromUtf8(fs::canonical(pacote).string())}},
        // Scripts is published along its own path only, whichever of the two is listed first.
        {"dentro/",
         {TTipo::Ignorado,
          u"liga\u00E7\u00E3o para uma pasta publicada pelo seu pr\u00F3prio caminho: " +
              FromUtf8(fs::canonical(pacote / "Scripts").string())}},
    };
    EXPECT_EQ(achados, esperados);
}

// A folder's own entries come before its subfolders', and a subfolder's whole listing before the
// next subfolder's.
TEST(Varredura, KeepsTheListingOrder) {
    TempDir dir("walk");
    WriteText(dir.Path() / "a" / "x", "");
    WriteText(dir.Path() / "a" / "s" / "y", "");
    WriteText(dir.Path() / "b" / "z", "");
    WriteText(dir.Path() / "f", "");
    std::vector<std::string> ordem;
    const std::u16string raiz = FromUtf8(dir.Path().string()) + u"/";
    for (const auto& e : Varrer(raiz))
        ordem.push_back(ToUtf8(e.Caminho.substr(raiz.size())));
    ASSERT_EQ(ordem.size(), 4u);
    EXPECT_EQ(ordem[0], "f");
    const auto at = [&](const char* p) { return std::find(ordem.begin(), ordem.end(), p); };
    EXPECT_LT(at("a/x"), at("a/s/y"));
    EXPECT_TRUE(at("b/z") < at("a/x") || at("b/z") > at("a/s/y"));
}

// A folder that cannot be opened, or whose reading stops early, is a failure with the system's
// reason; what was read of it and every other folder is still walked.
TEST(Varredura, AFolderThatCannotBeReadIsAFailureAndTheWalkGoesOn) {
    TempDir dir("walk");
    WriteText(dir.Path() / "ok" / "a.txt", "a");
    WriteText(dir.Path() / "trancada" / "b.txt", "b");
    WriteText(dir.Path() / "cortada" / "c.txt", "c");
    const TLeitorDePastas leitor = [](const TDirRef& pasta) {
        TDirListing listagem = ListDirectory(pasta);
        if (pasta.Path.ends_with(u"/trancada/"))
            return TDirListing{{}, EACCES};
        if (pasta.Path.ends_with(u"/cortada/"))
            listagem.Error = EIO;
        return listagem;
    };
    const auto achados = Varredura(dir.Path(), leitor);
    EXPECT_EQ(achados.at("ok/a.txt").first, TTipo::Arquivo);
    EXPECT_EQ(
        achados.at("trancada/"),
        std::make_pair(TTipo::PastaFalhou,
                       std::u16string(u"a pasta n\u00E3o p\u00F4de ser lida: Permission denied")));
    EXPECT_FALSE(achados.count("trancada/b.txt"));
    EXPECT_EQ(
        achados.at("cortada/"),
        std::make_pair(TTipo::PastaFalhou,
                       std::u16string(u"a pasta n\u00E3o p\u00F4de ser lida: Input/output error")));
    EXPECT_EQ(achados.at("cortada/c.txt").first, TTipo::Arquivo);
}

// Folders that link to each other (half the links relative, half absolute): each folder is listed
// once, along its own path, whichever order the folders come in, and each link is a row naming
// the folder it leads to. Before, every path through the links was walked: 109,600 files listed
// for these 8, in about a minute.
TEST(Varredura, FoldersLinkedToEachOtherAreListedOnce) {
    TempDir dir("walk");
    constexpr int kPastas = 8;
    const auto pasta = [&](int i) { return dir.Path() / ("d" + std::to_string(i)); };
    std::map<std::string, std::pair<TTipo, std::u16string>> esperados;
    for (int i = 0; i < kPastas; ++i) {
        WriteText(pasta(i) / "f.txt", std::to_string(i));
        esperados["d" + std::to_string(i) + "/f.txt"] = {TTipo::Arquivo, u""};
    }
    for (int i = 0; i < kPastas; ++i) {
        for (int j = 0; j < kPastas; ++j) {
            if (i == j)
                continue;
            const std::string ligacao = "l" + std::to_string(j);
            fs::create_directory_symlink(
                j % 2 ? pasta(j) : fs::path("..") / ("d" + std::to_string(j)), pasta(i) / ligacao);
            esperados["d" + std::to_string(i) + "/" + ligacao + "/"] = {
                TTipo::Ignorado,
                u"liga\u00E7\u00E3o para uma pasta publicada pelo seu pr\u00F3prio caminho: " +
                    Real(pasta(j))};
        }
    }
    const auto inicio = std::chrono::steady_clock::now();
    const auto achados = Varredura(dir.Path());
    const auto duracao = std::chrono::steady_clock::now() - inicio;
    EXPECT_EQ(achados, esperados);
    EXPECT_LT(duracao, 1s);
}

// A folder's place taken by a link to a folder outside while the walk runs, at the moment that
// matters: after the parent's listing named it and before it is opened, or after the parent was
// opened. Nothing outside is ever listed, and no descriptor is left open.
TEST(Varredura, AFolderSwappedForALinkDuringTheWalkIsNeverWalked) {
    struct Case {
        const char* what;
        const char* trocada;  // swapped when rel/ has just been listed
        std::map<std::string, std::pair<TTipo, std::u16string>> esperados;
    } cases[] = {
        {"the folder about to be opened",
         "rel/zz",
         {{"rel/a.txt", {TTipo::Arquivo, u""}},
          {"rel/zz/",
           {TTipo::PastaFalhou,
            u"a pasta foi trocada por uma liga\u00E7\u00E3o durante a varredura"}}}},
        {"the folder being read: the walk goes on in the one it holds",
         "rel",
         {{"rel/a.txt", {TTipo::Arquivo, u""}},
          {"rel/zz/b.txt", {TTipo::Arquivo, u""}},
          {"rel/zz/sub/c.txt", {TTipo::Arquivo, u""}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir("walk");
        const fs::path pacote = dir.Path() / "pacote";
        const fs::path fora = dir.Path() / "fora";
        WriteText(pacote / "rel" / "a.txt", "a");
        WriteText(pacote / "rel" / "zz" / "b.txt", "b");
        WriteText(pacote / "rel" / "zz" / "sub" / "c.txt", "c");
        WriteText(fora / "shadow.txt", "secret");
        WriteText(fora / "sec" / "id_rsa", "secret");
        WriteText(fora / "zz" / "shadow.txt", "secret");
        const fs::path trocada = pacote / c.trocada;
        const TLeitorDePastas leitor = [&](const TDirRef& pasta) {
            TDirListing listagem = ListDirectory(pasta);
            if (pasta.Path.ends_with(u"/rel/")) {
                fs::rename(trocada, dir.Path() / "guardada");
                fs::create_directory_symlink(fora, trocada);
            }
            return listagem;
        };
        const long antes = DescritoresAbertos();
        EXPECT_EQ(Varredura(pacote, leitor), c.esperados);
        EXPECT_EQ(DescritoresAbertos(), antes);
    }
}

// The same folder along a second real path (the folder bind-mounted inside itself): listed once,
// the second path a row naming the first, and the walk ends.
TEST(Varredura, TheSameFolderMountedInsideItselfIsListedOnce) {
    TempDir dir("walk");
    const fs::path pacote = dir.Path() / "pacote";
    const fs::path espelho = pacote / "Arquivos" / "espelho";
    WriteText(pacote / "a.txt", "a");
    WriteText(pacote / "Arquivos" / "b.txt", "b");
    fs::create_directories(espelho);
    // In a mount namespace of its own, so the mount never shows outside this process.
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(pacote.c_str(), espelho.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    struct TDesmontar {
        const fs::path& pasta;
        ~TDesmontar() { ::umount2(pasta.c_str(), MNT_DETACH); }
    } desmontar{espelho};

    const std::map<std::string, std::pair<TTipo, std::u16string>> esperados = {
        {"a.txt", {TTipo::Arquivo, u""}},
        {"Arquivos/b.txt", {TTipo::Arquivo, u""}},
        {"Arquivos/espelho/",
         {TTipo::Ignorado,
          u"a mesma pasta j\u00E1 foi publicada como " + FromFileName(pacote.string())}},
    };
    EXPECT_EQ(Varredura(pacote), esperados);
}

// The whole tree against the bundled server: exactly the expected destinations stored (the folder
// that is not UTF-8 spelled in the server's code page), each entry's row and outcome, the counts,
// and no descriptor left open.
TEST(PublicacaoLinux, PublishesTheTreeAsLinuxHoldsIt) {
    ServerUnderTest s;
    const long antes = DescritoresAbertos();
    {
        RunUnderTest r(s.port);
        ArvoreLinux::Escrever(r.Pacote(), r.dir.Path() / "fora");

        EXPECT_EQ(r.Click(), std::nullopt);

        EXPECT_EQ(ArvoreLinux::Armazenados(s.Store()), ArvoreLinux::Guardados());
        const std::string received = s.AllReceived();
        // Asked about and sent under the Windows-1252 spelling.
        EXPECT_NE(received.find(B64(u"S01\\Relat\u00F3rios\\r.txt")), std::string::npos);
        EXPECT_NE(received.find("S01\\Relat\xF3rios\\r.txt"), std::string::npos);
        EXPECT_NE(received.find("S01\\n\xE3o.txt"), std::string::npos);
        EXPECT_EQ(received.find("segredo"), std::string::npos);

        const TResumo& resumo = *r.view.Ended;
        EXPECT_EQ(resumo.Enviados, ArvoreLinux::kEnviados);
        EXPECT_EQ(resumo.Falhas, ArvoreLinux::kFalhas);
        EXPECT_EQ(resumo.Ignorados, ArvoreLinux::kIgnorados);
        EXPECT_EQ(resumo.Verificados, ArvoreLinux::kEnviados + ArvoreLinux::kFalhas);
        EXPECT_EQ(resumo.Arquivos, ArvoreLinux::kLinhas);
        EXPECT_EQ(resumo.Falhados,
                  std::vector<std::u16string>{FromUtf8((r.Pacote() / "quebrado").string())});
        EXPECT_EQ(resumo.CodigoSaida(), 3);

        // One row per entry, readable names, the grey sign and the reason for what was passed
        // over; only the link to nothing was asked about with "Continuar?".
        std::map<std::u16string, int> icones;
        for (const auto& row : r.view.Rows)
            icones[row.Text] = row.Icon();
        EXPECT_EQ(r.view.Rows.size(), static_cast<std::size_t>(ArvoreLinux::kLinhas));
        EXPECT_EQ(icones.at(u"n\u00E3o.txt"), Check);
        EXPECT_EQ(icones.at(u"quebrado"), Cross);
        EXPECT_EQ(icones.at(u"fifo (n\u00E3o \u00E9 um arquivo comum (FIFO))"),
                  IMainView::IconIgnored);
        EXPECT_EQ(icones.at(u"raiz/ (liga\u00E7\u00E3o para uma pasta fora da pasta publicada: /)"),
                  IMainView::IconIgnored);
        ASSERT_EQ(r.view.Boxes.size(), 1u);
        EXPECT_EQ(r.view.Boxes[0].Kind, FakeView::BoxKind::Question);
        EXPECT_NE(r.view.Boxes[0].Text.find(u"quebrado"), std::u16string::npos);
        EXPECT_EQ(r.Pauses.size(), 2u);  // the link to nothing keeps its two attempts
        for (std::size_t i = 0; i < r.view.Done.size(); ++i) {
            if (r.view.Done[i].second == TDesfecho::Falhou) {
                EXPECT_NE(r.view.Reasons[i].find(u"No such file or directory"),
                          std::u16string::npos);
            }
        }

        // A second run finds everything current and sends nothing.
        const int envios = s.server->SendFileCalls();
        r.atualizador.reset();
        r.view = FakeView{};
        r.view.Porta = s.port;
        EXPECT_EQ(r.Click(), std::nullopt);
        EXPECT_EQ(s.server->SendFileCalls(), envios);  // the link to nothing never leaves
        EXPECT_EQ(r.view.Ended->Atuais, ArvoreLinux::kEnviados);
        r.atualizador.reset();
    }
    for (std::size_t i = 0; i < s.server->ConnectionCount(); ++i)
        ASSERT_TRUE(s.server->WaitConnectionClosed(i, 10s));
    EXPECT_EQ(DescritoresAbertos(), antes);
}

TEST(PublicacaoLinux, AFolderThatCannotBeReadFailsTheRun) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    WriteText(r.Pacote() / "trancada" / "b.txt", "b");
    WriteText(r.Pacote() / "z" / "c.txt", "c");
    r.atualizador = std::make_unique<TAtualizador>(
        r.view, r.cds, r.dados, [](std::chrono::milliseconds) {}, nullptr, r.opcoes,
        [](const TDirRef& pasta) {
            return pasta.Path.ends_with(u"/trancada/") ? TDirListing{{}, EACCES}
                                                       : ListDirectory(pasta);
        });

    EXPECT_EQ(r.Click(), std::nullopt);

    EXPECT_TRUE(fs::exists(s.Store() / "S01" / "a.txt"));
    EXPECT_TRUE(fs::exists(s.Store() / "S01" / "z" / "c.txt"));
    const TResumo& resumo = *r.view.Ended;
    EXPECT_EQ(resumo.Falhas, 1);
    EXPECT_EQ(resumo.Falhados,
              std::vector<std::u16string>{FromUtf8((r.Pacote() / "trancada").string()) + u"/"});
    EXPECT_EQ(resumo.CodigoSaida(), 3);
    const auto linha = std::find_if(r.view.Rows.begin(), r.view.Rows.end(), [](const auto& row) {
        return row.Text.starts_with(u"trancada/");
    });
    ASSERT_NE(linha, r.view.Rows.end());
    EXPECT_EQ(linha->Text, u"trancada/ (a pasta n\u00E3o p\u00F4de ser lida: Permission denied)");
    EXPECT_EQ(linha->Icon(), Cross);
    // Not a send that failed: nobody is asked whether to go on.
    EXPECT_TRUE(r.view.Boxes.empty());
}

// 2 GiB cannot be carried by the packet's 4-byte length: refused once, without a new connection.
TEST(PublicacaoLinux, AFileOf2GiBFailsOnceWithoutReconnecting) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    {
        const int fd = ::open((r.Pacote() / "imenso.bin").c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 31), 0);  // sparse
        ::close(fd);
    }

    EXPECT_EQ(r.Click(), std::nullopt);

    EXPECT_TRUE(r.Pauses.empty());
    EXPECT_EQ(s.server->ConnectionCount(), 1u);
    EXPECT_EQ(s.server->SendFileCalls(), 1);  // a.txt only
    const TResumo& resumo = *r.view.Ended;
    EXPECT_EQ(resumo.Falhas, 1);
    EXPECT_EQ(resumo.Enviados, 1);
    ASSERT_EQ(r.view.Boxes.size(), 1u);
    EXPECT_EQ(r.view.Boxes[0].Kind, FakeView::BoxKind::Question);
    const auto falhou = std::find_if(r.view.Done.begin(), r.view.Done.end(),
                                     [](const auto& d) { return d.second == TDesfecho::Falhou; });
    ASSERT_NE(falhou, r.view.Done.end());
    const std::u16string& motivo = r.view.Reasons[falhou - r.view.Done.begin()];
    EXPECT_NE(motivo.find(u"has 2147483648 bytes; a file of 2 GiB (2147483648 bytes) or more "
                          u"cannot be sent"),
              std::u16string::npos)
        << ToUtf8(motivo);
}

}  // namespace
}  // namespace ab::testing
