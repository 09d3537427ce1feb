// Leaving entries out of a publication: the patterns against paths, the patterns refused because
// they can match nothing, the walk that never opens a folder left out, and runs against the bundled
// server that publish everything else, never ask about what was left out, and keep the test
// marker.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "RunFixture.h"
#include "app/Exclusoes.h"
#include "app/Varredura.h"

namespace ab::testing {
namespace {

using TTipo = TEntradaVarredura::TTipo;

TExclusoes Padroes(std::initializer_list<const char*> padroes) {
    TExclusoes exclusoes;
    for (const char* p : padroes) {
        const std::u16string recusa = exclusoes.Adicionar(FromFileName(p));
        EXPECT_EQ(recusa, u"") << p;
    }
    return exclusoes;
}

TEST(Exclusoes, PatternsAgainstPaths) {
    struct Case {
        const char* padrao;
        const char* caminho;  // below the published folder, as bytes
        bool pasta;
        bool excluido;
    };
    const Case cases[] = {
        // A name at any depth, folders too; case-sensitive; `*` may match nothing.
        {"*.pdb", "App.pdb", false, true},
        {"*.pdb", "Sub/x/Lib.pdb", false, true},
        {"*.pdb", "Sub/x.pdb", true, true},
        {"*.pdb", ".pdb", false, true},
        {"*.pdb", "App.PDB", false, false},
        {"*.pdb", "App.pdb.txt", false, false},
        {"*.pdb", "x.pdb/a.txt", false, false},  // only the last name: the folder is its own entry
        {"Thumbs.db", "a/b/Thumbs.db", false, true},
        {"Thumbs.db", "a/thumbs.db", false, false},
        {"a*b", "a/x/b", false, false},  // `*` stays within one name
        // `?` and a set take one character: a UTF-8 sequence, or a byte that is not UTF-8.
        {"?.txt", "\xC3\xA7.txt", false, true},
        {"?.txt", "\xE7.txt", false, true},
        {"?.txt", "ab.txt", false, false},
        {"[\xC3\xA7\xC3\xA3]o", "\xC3\xA3o", false, true},
        {"[\xC3\xA7\xC3\xA3]o", "ao", false, false},
        {"[a-c]1.map", "b1.map", false, true},
        {"[a-c]1.map", "d1.map", false, false},
        {"[!a]x", "bx", false, true},
        {"[^a]x", "ax", false, false},
        {"[]]x", "]x", false, true},
        {"[a-]x", "-x", false, true},
        {"\\*.txt", "*.txt", false, true},
        {"\\*.txt", "a.txt", false, false},
        // With '/': the path's last names, whole names only; a leading '/' from the top.
        {"Rel/*.rpt", "Rel/x.rpt", false, true},
        {"Rel/*.rpt", "Arquivos/Rel/x.rpt", false, true},
        {"Rel/*.rpt", "Arquivos/XRel/x.rpt", false, false},
        {"Rel/*.rpt", "Rel/sub/x.rpt", false, false},
        {"/Rel/*.rpt", "Rel/x.rpt", false, true},
        {"/Rel/*.rpt", "Arquivos/Rel/x.rpt", false, false},
        {"/LeiaMe.txt", "LeiaMe.txt", false, true},
        {"/LeiaMe.txt", "Sub/LeiaMe.txt", false, false},
        // `**` crosses folders; as a whole name it may also stand for none.
        {"Arquivos/**/*.tmp", "Arquivos/a.tmp", false, true},
        {"Arquivos/**/*.tmp", "Arquivos/x/y/a.tmp", false, true},
        {"Arquivos/**/*.tmp", "X/Arquivos/a.tmp", false, true},
        {"Arquivos/**/*.tmp", "Outros/a.tmp", false, false},
        {"/Arquivos/**", "Arquivos/a", false, true},
        {"/Arquivos/**", "Arquivos/x/y", true, true},
        {"/Arquivos/**", "Arquivos", true, false},
        {"a**z", "a/b/z", false, true},
        {"a**z", "az", false, true},
        {"**/cache/", "a/b/cache", true, true},
        {"**/cache/", "cache", true, true},
        // A trailing '/': folders only.
        {".git/", ".git", true, true},
        {".git/", "Sub/.git", true, true},
        {".git/", "Sub/.git", false, false},
        {"log*/", "x/logs", true, true},
        {"log*/", "logs", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.padrao) + " ~ " + c.caminho + (c.pasta ? " (pasta)" : ""));
        const TExclusoes exclusoes = Padroes({c.padrao});
        const std::u16string* padrao = exclusoes.Padrao(c.caminho, c.pasta);
        EXPECT_EQ(padrao != nullptr, c.excluido);
        if (padrao) {
            EXPECT_EQ(ToFileName(*padrao), c.padrao);
        }
    }
}

// The first of several patterns that matches is the one reported.
TEST(Exclusoes, TheFirstMatchingPatternIsReported) {
    const TExclusoes exclusoes = Padroes({"*.txt", "/a/", "a*"});
    EXPECT_EQ(*exclusoes.Padrao("a.txt", false), u"*.txt");
    EXPECT_EQ(*exclusoes.Padrao("a", true), u"/a/");
    EXPECT_EQ(*exclusoes.Padrao("a", false), u"a*");
    EXPECT_EQ(exclusoes.Padrao("b.bin", false), nullptr);
}

TEST(Exclusoes, APatternThatCanMatchNothingIsRefused) {
    struct Case {
        const char* padrao;
        std::u16string_view motivo;
    };
    const std::u16string_view vazio = u"o padr\u00E3o est\u00E1 vazio";
    const std::u16string_view soBarras = u"o padr\u00E3o n\u00E3o tem nenhum nome, s\u00F3 barras";
    const std::u16string_view nomeVazio =
        u"duas barras seguidas deixam um nome vazio entre elas, e nenhum nome \u00E9 vazio";
    const std::u16string_view pontos = u"os nomes . e .. n\u00E3o aparecem numa pasta";
    const std::u16string_view aberto = u"o colchete [ n\u00E3o se fecha";
    const std::u16string_view conjuntoVazio =
        u"um conjunto entre colchetes n\u00E3o aceita nenhum caractere de um nome";
    const Case cases[] = {
        {"", vazio},
        {"/", soBarras},
        {"//", soBarras},
        {"a//", nomeVazio},
        {"a//b", nomeVazio},
        {"//a", nomeVazio},
        {"**//a", nomeVazio},
        {".", pontos},
        {"..", pontos},
        {"a/../b", pontos},
        {"/./", pontos},
        {"[abc", aberto},
        {"x[!", aberto},
        {"[a\\", aberto},
        {"[/]", conjuntoVazio},
        {"[z-a]", conjuntoVazio},
        {"a\\", u"a barra invertida no fim n\u00E3o torna nenhum caractere comum"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.padrao);
        TExclusoes exclusoes;
        EXPECT_EQ(exclusoes.Adicionar(FromFileName(c.padrao)), c.motivo);
        EXPECT_TRUE(exclusoes.Vazia());
    }
    // Close to those, but each can match something.
    for (const char* aceito : {".*", "...", "[!/]", "**", "*/", "a/**", "\\[x", "[[]"}) {
        TExclusoes exclusoes;
        EXPECT_EQ(exclusoes.Adicionar(FromFileName(aceito)), u"") << aceito;
    }
}

// The walk, recording each folder it reads: what is left out is reported with its pattern, and a
// folder left out is never read, nor anything below it.
TEST(Exclusoes, TheWalkNeverReadsAFolderLeftOut) {
    TempDir dir("excl");
    WriteText(dir.Path() / "a.txt", "a");
    WriteText(dir.Path() / "a.pdb", "pdb");
    WriteText(dir.Path() / "obj" / "x.o", "o");
    WriteText(dir.Path() / "obj" / "fundo" / "y.o", "o");
    WriteText(dir.Path() / "Sub" / "b.txt", "b");
    WriteText(dir.Path() / "Sub" / "obj", "a file named like the folder");
    WriteText(dir.Path() / "Sub" / "EM_TESTE.SQL", "marker");
    fs::create_directory_symlink(dir.Path() / "Sub", dir.Path() / "atalho");
    const std::u16string raiz = FromFileName(dir.Path().string()) + u"/";
    std::set<std::string> lidas;
    const TLeitorDePastas leitor = [&](const TDirRef& pasta) {
        lidas.insert(ToFileName(pasta.Path.substr(raiz.size())));
        return ListDirectory(pasta);
    };

    std::map<std::string, std::pair<TTipo, std::u16string>> achados;
    std::map<std::string, std::u16string> ignorados;
    for (const auto& e : Varrer(raiz, leitor, Padroes({"*.pdb", "obj/", "atalho/", "*.SQL"}))) {
        const std::string relativo = ToFileName(e.Caminho.substr(raiz.size()));
        achados[relativo] = {e.Tipo, e.Motivo};
        if (!e.PadraoIgnorado.empty())
            ignorados[relativo] = e.PadraoIgnorado;
    }
    const std::map<std::string, std::pair<TTipo, std::u16string>> esperados = {
        {"a.txt", {TTipo::Arquivo, u""}},
        {"a.pdb", {TTipo::Excluido, u"*.pdb"}},
        {"obj/", {TTipo::Excluido, u"obj/"}},
        {"atalho/", {TTipo::Excluido, u"atalho/"}},
        {"Sub/b.txt", {TTipo::Arquivo, u""}},
        {"Sub/obj", {TTipo::Arquivo, u""}},
        {"Sub/EM_TESTE.SQL", {TTipo::Arquivo, u""}},
    };
    EXPECT_EQ(achados, esperados);
    EXPECT_EQ(lidas, (std::set<std::string>{"", "Sub/"}));
    // The marker is kept, with the pattern that would have left it out.
    EXPECT_EQ(ignorados, (std::map<std::string, std::u16string>{{"Sub/EM_TESTE.SQL", u"*.SQL"}}));
}

// Each file of a small tree, by its path below the published folder.
const char* const kArvore[] = {
    "LeiaMe.txt",
    "App.pdb",
    "Thumbs.db",
    "Sub/Thumbs.db",
    "Sub/Lib.pdb",
    "Sub/Lib.so",
    "Sub/em_teste.sql",
    "Sub/cache/x.tmp",
    "Sub/.git/HEAD",
    ".git/config",
    "Outro/.git",
    "Arquivos/Rel/Vendas.rpt",
    "Arquivos/Rel/Vendas.bak",
    "Rel/Topo.rpt",
    "Scripts/Carga.sql",
    "Scripts/EM_TESTE.SQL",
};

// Runs with patterns over the tree against the bundled server: every file published but what the
// patterns leave out, each entry left out reported with its pattern and never asked about, the
// markers always removed, and a pattern that matched a marker said once.
TEST(Exclusoes, PublishesEverythingButWhatThePatternsLeaveOut) {
    struct Case {
        const char* what;
        std::initializer_list<const char*> padroes;
        std::map<std::string, std::u16string> excluidos;  // path (a folder ends in '/') -> pattern
        const char* aviso;  // a piece of the one notice, or nullptr for none
    };
    const Case cases[] = {
        {"a name at any depth",
         {"Thumbs.db", "*.pdb"},
         {{"Thumbs.db", u"Thumbs.db"},
          {"Sub/Thumbs.db", u"Thumbs.db"},
          {"App.pdb", u"*.pdb"},
          {"Sub/Lib.pdb", u"*.pdb"}},
         nullptr},
        {"anchored",
         {"/Thumbs.db", "/Rel/*.rpt"},
         {{"Thumbs.db", u"/Thumbs.db"}, {"Rel/Topo.rpt", u"/Rel/*.rpt"}},
         nullptr},
        {"** across folders",
         {"Arquivos/**/*.bak", "**/cache/"},
         {{"Arquivos/Rel/Vendas.bak", u"Arquivos/**/*.bak"}, {"Sub/cache/", u"**/cache/"}},
         nullptr},
        {"folders only", {".git/"}, {{".git/", u".git/"}, {"Sub/.git/", u".git/"}}, nullptr},
        {"a set",
         {"*.[bp][ad][kb]"},
         {{"App.pdb", u"*.[bp][ad][kb]"},
          {"Sub/Lib.pdb", u"*.[bp][ad][kb]"},
          {"Arquivos/Rel/Vendas.bak", u"*.[bp][ad][kb]"}},
         nullptr},
        {"the markers kept, said once",
         {"*.sql", "*.SQL"},
         {{"Scripts/Carga.sql", u"*.sql"}},
         "o marcador de teste, que nunca \xC3\xA9 exclu\xC3\xAD"
         "do"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerUnderTest s;
        RunUnderTest r(s.port);
        for (const char* arquivo : kArvore)
            WriteText(r.Pacote() / arquivo, arquivo);
        r.opcoes.Exclusoes = Padroes(c.padroes);
        r.Run();
        std::map<std::string, TDesfecho> desfechos;
        std::map<std::string, std::u16string> excluidos;
        r.view.OnFileDone = [&](const TArquivoEvento& a, TDesfecho d) {
            const std::string relativo = ToFileName(a.Local.substr(r.dados.ProgramFolder.size()));
            desfechos[relativo] = d;
            if (d == TDesfecho::Excluido)
                excluidos[relativo] = a.Motivo;
        };

        EXPECT_EQ(r.Click(), std::nullopt);

        EXPECT_EQ(excluidos, c.excluidos);
        const std::string recebidos = s.AllReceived();
        int enviados = 0;
        for (const char* arquivo : kArvore) {
            const std::string caminho = arquivo;
            const bool marcador = MarcadorDeTeste(FromUtf8(fs::path(caminho).filename().string()));
            const bool excluido =
                std::any_of(c.excluidos.begin(), c.excluidos.end(), [&](const auto& e) {
                    return e.first.ends_with('/') ? caminho.starts_with(e.first)
                                                  : caminho == e.first;
                });
            SCOPED_TRACE(caminho);
            if (marcador) {
                EXPECT_EQ(desfechos[caminho], TDesfecho::Removido);
            } else if (excluido) {
                // Never asked about: its name never reached the server.
                std::u16string destino = FromUtf8(caminho);
                std::replace(destino.begin(), destino.end(), u'/', u'\\');
                destino = TAtualizador::ArquivoPastaDestino(destino, r.dados.Sistema);
                EXPECT_EQ(recebidos.find(B64(destino)), std::string::npos);
                EXPECT_EQ(recebidos.find(ToUtf8(destino)), std::string::npos);
                // Below a folder left out, not even listed.
                if (!c.excluidos.count(caminho)) {
                    EXPECT_FALSE(desfechos.count(caminho));
                }
            } else {
                EXPECT_EQ(desfechos[caminho], TDesfecho::Enviado);
                ++enviados;
            }
        }
        const TResumo& resumo = *r.view.Ended;
        EXPECT_EQ(resumo.Enviados, enviados);
        EXPECT_EQ(resumo.Excluidos, static_cast<int>(c.excluidos.size()));
        EXPECT_EQ(resumo.Removidos, 2);
        EXPECT_EQ(resumo.CodigoSaida(), 0);
        // The row of an entry left out carries its pattern, with the grey sign.
        for (const auto& row : r.view.Rows) {
            if (row.Text.find(u"exclu\u00EDdo por ") != std::u16string::npos) {
                EXPECT_EQ(row.Icon(), IMainView::IconIgnored);
            }
        }
        if (c.aviso) {
            ASSERT_EQ(r.view.Avisos.size(), 1u);
            EXPECT_NE(ToUtf8(r.view.Avisos[0]).find(c.aviso), std::string::npos)
                << ToUtf8(r.view.Avisos[0]);
        } else {
            EXPECT_TRUE(r.view.Avisos.empty());
        }
    }
}

// The dry run reports what it would leave out exactly as a publish does.
TEST(Exclusoes, ADryRunReportsTheEntriesLeftOut) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    WriteText(r.Pacote() / "b.pdb", "bb");
    WriteText(r.Pacote() / "obj" / "c.o", "c");
    r.opcoes.Simular = true;
    r.opcoes.Exclusoes = Padroes({"*.pdb", "obj/"});
    std::map<std::string, std::pair<TDesfecho, std::u16string>> desfechos;
    r.Run();
    r.view.OnFileDone = [&](const TArquivoEvento& a, TDesfecho d) {
        desfechos[ToFileName(a.Local.substr(r.dados.ProgramFolder.size()))] = {d, a.Motivo};
    };
    EXPECT_EQ(r.Click(), std::nullopt);
    EXPECT_EQ(desfechos, (std::map<std::string, std::pair<TDesfecho, std::u16string>>{
                             {"a.txt", {TDesfecho::Enviaria, u""}},
                             {"b.pdb", {TDesfecho::Excluido, u"*.pdb"}},
                             {"obj/", {TDesfecho::Excluido, u"obj/"}}}));
    EXPECT_EQ(r.view.Ended->Excluidos, 2);
    EXPECT_EQ(r.view.Ended->Enviaria, 1);
    // The bytes to go are the files' to publish only.
    EXPECT_EQ(r.view.StartedBytes, 1u);
}

// A folder left out with mode 000, walked by a user the system holds to permissions: the run ends
// 0, where without the pattern the same folder fails it. Run as root, the test drops to nobody in
// a child process (made while this process has no other thread) for both runs.
TEST(Exclusoes, AFolderLeftOutIsNeverOpenedByAUserWhoCannotReadIt) {
    const pid_t filho = ::fork();
    ASSERT_GE(filho, 0);
    if (filho == 0) {
        constexpr int kSemUsuario = 77;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
                                 ::setuid(65534) != 0 || ::setuid(0) == 0))
            ::_exit(kSemUsuario);
        int codigo = 0;
        {
            ServerUnderTest s;
            const auto publicar = [&](std::initializer_list<const char*> padroes) {
                RunUnderTest r(s.port);
                WriteText(r.Pacote() / "a.txt", "a");
                WriteText(r.Pacote() / "Segredos" / "chave.txt", "k");
                fs::permissions(r.Pacote() / "Segredos", fs::perms::none);
                r.opcoes.Exclusoes = Padroes(padroes);
                r.Click();
                fs::permissions(r.Pacote() / "Segredos", fs::perms::owner_all);
                std::fprintf(stderr, "padroes %zu: status %d, falhas %d, excluidos %d\n",
                             padroes.size(), r.view.Ended->CodigoSaida(), r.view.Ended->Falhas,
                             r.view.Ended->Excluidos);
                return r.view.Ended->CodigoSaida();
            };
            if (publicar({}) != 3)
                codigo = 2;  // the folder could be read: the test would prove nothing
            else if (publicar({"Segredos/"}) != 0)
                codigo = 1;
        }
        std::fflush(stderr);
        ::_exit(codigo);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(filho, &status, 0), filho);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot become the user nobody here";
    EXPECT_NE(WEXITSTATUS(status), 2) << "the folder of mode 000 could be read";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the run that left the folder out did not end 0";
}

}  // namespace
}  // namespace ab::testing
