// Settings: the per-user file, the options that override it, the deadlines' defaults by front end,
// and the messages for bad input, which name where, the key and the value.
#include <gtest/gtest.h>

#include <cstdlib>

#include "RunFixture.h"
#include "app/TConfiguracao.h"

namespace ab::testing {
namespace {

std::vector<std::u16string> Args(std::initializer_list<const char*> args) {
    std::vector<std::u16string> out;
    for (const char* a : args)
        out.push_back(FromUtf8(a));
    return out;
}

// The message of the settings refused: the file `ini` holding `file`, then `options`.
std::string Recusa(const fs::path& ini, const char* file,
                   const std::vector<std::u16string>& options) {
    fs::remove(ini);
    if (file)
        WriteText(ini, file);
    try {
        LerConfiguracao(ini, options);
    } catch (const EConfiguracao& e) {
        return ToUtf8(e.Message());
    }
    ADD_FAILURE() << "accepted";
    return {};
}

TEST(TConfiguracao, MissingFileGivesTheDefaults) {
    TempDir dir;
    const TConfiguracao c = LerConfiguracao(dir.Path() / "nada.ini", {});
    const TOpcoesExecucao o = c.OpcoesDaExecucao();
    // Fast: connections chosen from the walk, requests written ahead, large blocks, probing.
    EXPECT_EQ(o.Conexoes, 0);
    EXPECT_EQ(o.PedidosEmCurso, 256);
    EXPECT_TRUE(o.ComandosEmCache);
    EXPECT_EQ(o.BufferKB, 2048);
    EXPECT_TRUE(o.Adiante);
    EXPECT_FALSE(o.PedidosFixos);
    EXPECT_FALSE(o.BufferFixo);
    EXPECT_FALSE(o.Simular);
    EXPECT_FALSE(c.SemJanela);
    // The window waits as long as it takes; a run without one is bounded.
    EXPECT_EQ(o.TempoConexaoMs, 0);
    EXPECT_EQ(o.TempoLeituraMs, 0);
    const TOpcoesExecucao sem =
        LerConfiguracao(dir.Path() / "nada.ini", Args({"--sem-janela"})).OpcoesDaExecucao();
    EXPECT_EQ(sem.TempoConexaoMs, 30'000);
    EXPECT_EQ(sem.TempoLeituraMs, 120'000);
}

// A folder written in the file with bytes that are not UTF-8 (a Latin-1 name) keeps them.
TEST(TConfiguracao, AFolderInTheFileKeepsItsBytes) {
    TempDir dir;
    const fs::path ini = dir.Path() / "atualizador.ini";
    WriteText(ini, "pasta = /srv/Relat\xf3rios/2.4\n");
    EXPECT_EQ(ToFileName(LerConfiguracao(ini, {}).Pasta), "/srv/Relat\xf3rios/2.4");
}

// The conservative choice gives the plain run's options, which the messages of the earlier
// versions come from; a value given still wins, and is fixed against what was remembered.
TEST(TConfiguracao, ConservativeChoice) {
    TempDir dir;
    const fs::path ini = dir.Path() / "atualizador.ini";
    auto memoria = std::make_shared<TMemoriaDosServidores>(dir.Path() / "servidores");
    const TOpcoesExecucao plano;
    for (const auto& [arquivo, opcoes] :
         std::vector<std::pair<std::string, std::vector<std::u16string>>>{
             {"conservador = sim\n", {}}, {"", Args({"--conservador"})}}) {
        WriteText(ini, arquivo);
        const TOpcoesExecucao o = LerConfiguracao(ini, opcoes).OpcoesDaExecucao(memoria);
        EXPECT_EQ(o.Conexoes, plano.Conexoes);
        EXPECT_EQ(o.PedidosEmCurso, plano.PedidosEmCurso);
        EXPECT_EQ(o.BufferKB, plano.BufferKB);
        EXPECT_EQ(o.ComandosEmCache, plano.ComandosEmCache);
        EXPECT_FALSE(o.Adiante);
        EXPECT_EQ(o.Memoria, nullptr);
    }
    WriteText(ini, "conservador = sim\n");
    const TOpcoesExecucao o =
        LerConfiguracao(ini, Args({"--pedidos-em-curso", "8"})).OpcoesDaExecucao(memoria);
    EXPECT_EQ(o.PedidosEmCurso, 8);
    EXPECT_EQ(o.BufferKB, 32);
    const TOpcoesExecucao rapido =
        LerConfiguracao(ini, Args({"--conservador=nao", "--buffer-kb", "64"}))
            .OpcoesDaExecucao(memoria);
    EXPECT_TRUE(rapido.Adiante);
    EXPECT_EQ(rapido.Memoria, memoria);
    EXPECT_TRUE(rapido.BufferFixo);
    EXPECT_FALSE(rapido.PedidosFixos);
    EXPECT_EQ(rapido.BufferKB, 64);
}

TEST(TConfiguracao, FileThenOptions) {
    TempDir dir;
    const fs::path ini = dir.Path() / "atualizador.ini";
    WriteText(ini,
              "# comment\n"
              "[atualizador]\n"
              "; another\n"
              "conexoes = 4\n"
              "pedidos-em-curso = 32\n"
              "buffer-kb=1024\n"
              "  comandos-em-cache =  nao  \n"
              "tempo-leitura = 0,5\n"
              "\n"
              "continuar-em-falha = sim\n");
    TConfiguracao c = LerConfiguracao(ini, {});
    EXPECT_EQ(c.Conexoes, 4);
    EXPECT_EQ(c.PedidosEmCurso, 32);
    EXPECT_EQ(c.BufferKB, 1024);
    EXPECT_FALSE(c.Execucao.ComandosEmCache);
    EXPECT_EQ(c.TempoLeituraMs, 500);
    EXPECT_TRUE(c.ContinuarEmFalha);

    c = LerConfiguracao(ini,
                        Args({"--conexoes", "2", "--pedidos-em-curso", "256", "--buffer-kb=64",
                              "--comandos-em-cache", "--tempo-leitura=0", "--simular", "--json",
                              "--continuar-em-falha=n\xC3\xA3o", "--tempo-conexao", "1.25"}));
    EXPECT_EQ(c.Conexoes, 2);
    EXPECT_EQ(c.PedidosEmCurso, 256);
    EXPECT_EQ(c.BufferKB, 64);
    EXPECT_TRUE(c.Execucao.ComandosEmCache);
    EXPECT_EQ(c.TempoLeituraMs, 0);
    EXPECT_EQ(c.TempoConexaoMs, 1250);
    EXPECT_TRUE(c.Execucao.Simular);
    EXPECT_TRUE(c.Json);
    EXPECT_FALSE(c.ContinuarEmFalha);
    // An explicit 0 stays 0 without a window: no limit was asked for.
    c.SemJanela = true;
    EXPECT_EQ(c.OpcoesDaExecucao().TempoLeituraMs, 0);
    EXPECT_EQ(c.OpcoesDaExecucao().TempoConexaoMs, 1250);
}

// A yes/no key takes the next argument only when it is a yes/no word; otherwise it means sim and
// the next argument stands on its own.
TEST(TConfiguracao, YesNoOptionTakesAFollowingYesNoWord) {
    TempDir dir;
    struct Case {
        std::vector<std::u16string> options;
        bool json;
        bool simular;
        int conexoes;
    };
    const Case cases[] = {
        {Args({"--json"}), true, false, 1},
        {Args({"--json", "nao"}), false, false, 1},
        {Args({"--json", "N\xC3\x83O"}), false, false, 1},
        {Args({"--json", "0"}), false, false, 1},
        {Args({"--json", "sim"}), true, false, 1},
        {Args({"--json", "nao", "--simular"}), false, true, 1},
        {Args({"--json", "--simular", "nao"}), true, false, 1},
        // A number is a value only for the key before it.
        {Args({"--json", "--conexoes", "1"}), true, false, 1},
        {Args({"--json", "0", "--conexoes", "2"}), false, false, 2},
        // The last word wins, as with the file.
        {Args({"--json", "--json", "nao"}), false, false, 1},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const auto& o : c.options)
            trace += ToUtf8(o) + " ";
        SCOPED_TRACE(trace);
        const TConfiguracao cfg = LerConfiguracao(dir.Path() / "nada.ini", c.options);
        EXPECT_EQ(cfg.Json, c.json);
        EXPECT_EQ(cfg.Execucao.Simular, c.simular);
        EXPECT_EQ(cfg.Conexoes.value_or(1), c.conexoes);
    }
}

TEST(TConfiguracao, ByteOrderMarkBeforeTheFirstKeyIsSkipped) {
    TempDir dir;
    const fs::path ini = dir.Path() / "atualizador.ini";
    WriteText(ini,
              "\xEF\xBB\xBF"
              "conexoes = 3\r\njson = sim\n");
    const TConfiguracao c = LerConfiguracao(ini, {});
    EXPECT_EQ(c.Conexoes, 3);
    EXPECT_TRUE(c.Json);
    // Only at the start of the file: elsewhere it stays part of the key, which is then unknown.
    WriteText(ini,
              "conexoes = 3\n\xEF\xBB\xBF"
              "json = sim\n");
    EXPECT_THROW(LerConfiguracao(ini, {}), EConfiguracao);
}

// Deadlines in milliseconds: the fraction is rounded, 0 is no limit, and a value that would round
// to 0 without being 0 is refused rather than taken as no limit.
TEST(TConfiguracao, DeadlinesRoundToMillisecondsAndNeverToNoLimit) {
    TempDir dir;
    struct Case {
        const char* value;
        std::optional<int> ms;  // nullopt: refused
    };
    const Case cases[] = {
        {"0", 0},       {"0.0", 0},     {"0.001", 1},       {"0,0015", 2},         {"0.0004", {}},
        {"0.0009", {}}, {"0,0001", {}}, {"0.00000001", {}}, {"86400", 86'400'000}, {"86400.1", {}},
        {"2", 2000},
    };
    for (const Case& c : cases) {
        for (const char* key : {"tempo-leitura", "tempo-conexao"}) {
            SCOPED_TRACE(std::string(key) + " " + c.value);
            const auto options = Args({(std::string("--") + key).c_str(), c.value});
            if (!c.ms) {
                try {
                    LerConfiguracao(dir.Path() / "nada.ini", options);
                    ADD_FAILURE() << "accepted";
                } catch (const EConfiguracao& e) {
                    const std::string message = ToUtf8(e.Message());
                    EXPECT_NE(message.find(std::string(key) + " = \"" + c.value + "\""),
                              std::string::npos)
                        << message;
                    EXPECT_NE(message.find("0 (sem limite)"), std::string::npos) << message;
                }
                continue;
            }
            const TConfiguracao cfg = LerConfiguracao(dir.Path() / "nada.ini", options);
            EXPECT_EQ(std::string(key) == "tempo-leitura" ? cfg.TempoLeituraMs : cfg.TempoConexaoMs,
                      c.ms);
        }
    }
}

// Every bad input is refused with a message that names where it came from, the key and the value.
TEST(TConfiguracao, BadInputNamesWhereTheKeyAndTheValue) {
    TempDir dir;
    const fs::path ini = dir.Path() / "atualizador.ini";
    struct Case {
        const char* file;  // nullptr: no file
        std::vector<std::u16string> options;
        std::vector<std::string> mentions;
    };
    const std::string path = ini.string();
    const Case cases[] = {
        {"conexoes = 0\n", {}, {path, "linha 1", "conexoes", "\"0\"", "1 a 16"}},
        {"\n\nconexoes = 17\n", {}, {path, "linha 3", "\"17\""}},
        {"pedidos-em-curso = 0\n", {}, {path, "pedidos-em-curso", "\"0\"", "1 a 256"}},
        {"pedidos-em-curso = 257\n", {}, {path, "pedidos-em-curso", "\"257\""}},
        {"buffer-kb = abc\n", {}, {path, "buffer-kb", "\"abc\""}},
        {"buffer-kb = -4\n", {}, {"buffer-kb", "\"-4\""}},
        {"comandos-em-cache = talvez\n", {}, {"comandos-em-cache", "\"talvez\"", "sim ou nao"}},
        {"tempo-leitura = 1e3\n", {}, {"tempo-leitura", "\"1e3\""}},
        {"tempo-conexao = -1\n", {}, {"tempo-conexao", "\"-1\""}},
        {"conexao = 2\n", {}, {path, "chave desconhecida", "\"conexao\""}},
        {"conexoes 2\n", {}, {path, "linha 1", "conexoes 2", "chave = valor"}},
        {nullptr, Args({"--conexoes", "x"}), {"--conexoes", "\"x\""}},
        {nullptr, Args({"--conexoes"}), {"--conexoes", "falta o valor"}},
        {nullptr, Args({"--simular=talvez"}), {"--simular=talvez", "simular", "\"talvez\""}},
        {nullptr, Args({"--janela"}), {"--janela", "chave desconhecida"}},
        {nullptr, Args({"extra"}), {"\"extra\"", "--chave"}},
        {nullptr, Args({"-x"}), {"\"-x\""}},
        // A word that is not yes/no after a yes/no key is not its value but a stray argument.
        {nullptr, Args({"--json", "talvez"}), {"\"talvez\"", "--chave"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file ? c.file : ToUtf8(c.options.front()));
        const std::string message = Recusa(ini, c.file, c.options);
        for (const std::string& m : c.mentions)
            EXPECT_NE(message.find(m), std::string::npos) << message << " lacks " << m;
    }
}

// Patterns add up, in order: the file's lines, the lists they name, then the options. A list holds
// one pattern a line, trimmed, with blank lines and '#' comments skipped, whatever its line ends
// or byte-order mark.
TEST(TConfiguracao, ExclusionsAddUpFromTheFileTheListsAndTheOptions) {
    TempDir dir;
    const fs::path ini = dir.Path() / "atualizador.ini";
    const fs::path lista = dir.Path() / "lista.txt";
    WriteText(lista,
              "\xEF\xBB\xBF# sobras da compila\xC3\xA7\xC3\xA3o\r\n"
              "*.bak\r\n"
              "\r\n"
              "   obj/   \r\n"
              "Relat\xF3rios/*.tmp\n"
              "  # indented comment\n"
              "/ultimo");
    WriteText(ini, "excluir = *.pdb\nexcluir-de = " + lista.string() + "\nexcluir = Thumbs.db\n");
    const TConfiguracao c = LerConfiguracao(ini, Args({"--excluir", ".git/", "--excluir=*.map",
                                                       "--excluir-de", lista.string().c_str()}));
    const TExclusoes& e = c.OpcoesDaExecucao().Exclusoes;
    struct Case {
        const char* caminho;
        bool pasta;
        const char16_t* padrao;  // nullptr: published
    };
    const Case cases[] = {
        {"a.pdb", false, u"*.pdb"},
        {"x/a.bak", false, u"*.bak"},
        {"x/obj", true, u"obj/"},
        {"x/obj", false, nullptr},
        {"Relat\xF3rios/a.tmp", false, u"Relat\xDCF3rios/*.tmp"},
        {"ultimo", false, u"/ultimo"},
        {"Thumbs.db", false, u"Thumbs.db"},
        {".git", true, u".git/"},
        {"a.map", false, u"*.map"},
        {"# sobras da compila\xC3\xA7\xC3\xA3o", false, nullptr},
        {"# indented comment", false, nullptr},
        {"a.txt", false, nullptr},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.caminho);
        const std::u16string* padrao = e.Padrao(k.caminho, k.pasta);
        ASSERT_EQ(padrao != nullptr, k.padrao != nullptr);
        if (padrao) {
            EXPECT_EQ(*padrao, k.padrao);
        }
    }
}

// A pattern that can match nothing, in the file, an option or a list, and a list that cannot be
// read, refuse the start naming where, the pattern and why.
TEST(TConfiguracao, ExclusionsThatCanMatchNothingAreRefused) {
    TempDir dir;
    const fs::path ini = dir.Path() / "atualizador.ini";
    const fs::path lista = dir.Path() / "lista.txt";
    WriteText(lista, "*.bak\n# ok\n\nSub//x\n");
    const std::string nada = (dir.Path() / "nada.txt").string();
    const std::string path = ini.string();
    struct Case {
        std::string file;
        std::vector<std::u16string> options;
        std::vector<std::string> mentions;
    };
    const Case cases[] = {
        {"excluir =\n", {}, {path, "linha 1", "excluir = \"\"", "nunca se aplica a nada", "vazio"}},
        {"", Args({"--excluir", "a//"}), {"--excluir", "\"a//\"", "nome vazio"}},
        {"", Args({"--excluir=/"}), {"--excluir=/", "s\xC3\xB3 barras"}},
        {"", Args({"--excluir", "[abc"}), {"\"[abc\"", "colchete"}},
        {"excluir-de = " + lista.string() + "\n",
         {},
         {lista.string(), "linha 4", "\"Sub//x\"", "nunca se aplica a nada"}},
        {"", Args({"--excluir-de", nada.c_str()}), {"--excluir-de", nada, "No such file"}},
        {"", Args({"--excluir-de", dir.Path().c_str()}), {"--excluir-de", "Is a directory"}},
        {"", Args({"--excluir-de"}), {"--excluir-de", "falta o valor"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.empty() ? ToUtf8(c.options.front()) : c.file);
        const std::string message = Recusa(ini, c.file.c_str(), c.options);
        for (const std::string& m : c.mentions)
            EXPECT_NE(message.find(m), std::string::npos) << message << " lacks " << m;
    }
}

TEST(TConfiguracao, FileLivesUnderTheUsersConfigFolder) {
    struct Env {
        const char* name;
        std::optional<std::string> old;
        explicit Env(const char* n) : name(n) {
            if (const char* v = std::getenv(n))
                old = v;
        }
        ~Env() {
            if (old)
                ::setenv(name, old->c_str(), 1);
            else
                ::unsetenv(name);
        }
    } xdg("XDG_CONFIG_HOME"), home("HOME");
    ::setenv("HOME", "/home/ana", 1);
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(ArquivoDeConfiguracao(), fs::path("/cfg/atualizador-brevant/atualizador.ini"));
    // Relative or empty XDG_CONFIG_HOME is ignored, as the XDG rules say.
    for (const char* v : {"", "rel/cfg"}) {
        ::setenv("XDG_CONFIG_HOME", v, 1);
        EXPECT_EQ(ArquivoDeConfiguracao(),
                  fs::path("/home/ana/.config/atualizador-brevant/atualizador.ini"));
    }
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ArquivoDeConfiguracao(),
              fs::path("/home/ana/.config/atualizador-brevant/atualizador.ini"));
}

}  // namespace
}  // namespace ab::testing
