// The real program run without a window against the bundled server program, both as separate
// processes on loopback, with no display in the environment: what it prints, what the store holds
// and every exit status, each brought about by the server's fault injection. One test runs the
// terminal front end in this process, to pass in an installed program's path. The window is
// opened here only to see which libraries the program loads, and when.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "app/TConfiguracao.h"
#include "cli/Ajuda.h"
#include "cli/TTerminalView.h"
#include "cli/TerminalProgram.h"
#include "dbx/TJSONValue.h"
#include "platform/CommandLine.h"
#include "platform/Text.h"
#include "support/ArvoreLinux.h"
#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace ab::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A package folder holding a copy of the program, a store, the bundled server program and a
// private settings folder (the user's own never interferes).
class SemJanela : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Pacote());
        fs::copy_file(AB_PROGRAM_EXE, Programa());
        fs::create_directories(dir_.Path() / "config");
    }

    fs::path Pacote() const { return dir_.Path() / "pacote"; }
    fs::path Programa() const { return Pacote() / "AtualizadorBrevant"; }
    fs::path Armazem() const { return dir_.Path() / "armazem"; }
    fs::path Ini() const {
        return dir_.Path() / "config" / "atualizador-brevant" / "atualizador.ini";
    }

    // Starts the server program; its port is the first line it prints.
    void Servidor(std::vector<std::string> options = {}) {
        options.insert(options.end(),
                       {"--porta", "0", "--endereco", "127.0.0.1", "--raiz", Armazem().string()});
        server_.emplace(AB_SERVER_EXE, options, std::map<std::string, std::string>{},
                        dir_.Path() / "servidor.out", dir_.Path() / "servidor.err");
        ASSERT_TRUE(server_->Started());
        for (int i = 0; i < 500 && porta_.empty(); ++i) {
            const std::string out = server_->Out();
            if (const auto nl = out.find('\n'); nl != std::string::npos)
                porta_ = out.substr(0, nl);
            else
                std::this_thread::sleep_for(10ms);
        }
        ASSERT_FALSE(porta_.empty()) << server_->Err();
    }
    void PararServidor() {
        server_->Signal(SIGTERM);
        EXPECT_EQ(server_->Wait(10s), 0);
    }

    struct Resultado {
        int status;
        std::string out, err;
    };
    // The program with no display; `ambiente_` adds to or overrides its environment.
    ChildProcess& Iniciar(std::vector<std::string> args) {
        static int n = 0;
        ++n;
        std::map<std::string, std::string> env = {
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""},
            {"QT_QPA_PLATFORM", ""},
            {"XDG_CONFIG_HOME", (dir_.Path() / "config").string()},
            {"XDG_STATE_HOME", (dir_.Path() / "estado").string()}};
        for (const auto& [k, v] : ambiente_)
            env[k] = v;
        client_.emplace(programa_.value_or(Programa()), std::move(args), env,
                        dir_.Path() / ("cliente" + std::to_string(n) + ".out"),
                        dir_.Path() / ("cliente" + std::to_string(n) + ".err"));
        return *client_;
    }
    // The six positional arguments for this server, then `options`.
    std::vector<std::string> Argumentos(std::vector<std::string> options,
                                        const std::string& codigo = "Vr@ndoxT",
                                        const std::string& modo = "PRODUCAO") const {
        std::vector<std::string> args = {"-platform", "127.0.0.1", porta_, "01", modo, codigo};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }
    Resultado Rodar(std::vector<std::string> options, const std::string& codigo = "Vr@ndoxT",
                    const std::string& modo = "PRODUCAO") {
        ChildProcess& p = Iniciar(Argumentos(std::move(options), codigo, modo));
        const int status = p.Wait(60s);
        return {status, p.Out(), p.Err()};
    }

    TempDir dir_{"cli"};
    std::map<std::string, std::string> ambiente_;
    std::optional<fs::path> programa_;  // another copy of the program to start
    std::optional<ChildProcess> server_;
    std::optional<ChildProcess> client_;
    std::string porta_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

void EscreverArvore(const fs::path& pacote) {
    WriteText(pacote / "LeiaMe.txt", "leia");
    WriteFile(pacote / "grande.bin", Pattern(3'000'000, 1));
    WriteText(pacote / "Scripts" / "Carga.sql", "select 1;");
    WriteText(pacote / "Scripts" / "EM_TESTE.SQL", "marker");
    WriteText(pacote / "Sub" / "A\xC3\xA7\xC3\xA3o" / "\xC3\xA9.txt", "acento");
}

// A history of publications, each line parsed (a line that is not JSON
// fails the test).
std::vector<TJSONValue> Historico(const fs::path& arquivo) {
    std::vector<TJSONValue> execucoes;
    std::ifstream in(arquivo, std::ios::binary);
    for (std::string linha; std::getline(in, linha);) {
        auto valor = TJSONValue::Parse(std::vector<std::uint8_t>(linha.begin(), linha.end()));
        EXPECT_TRUE(valor && valor->IsObject()) << linha;
        if (valor)
            execucoes.push_back(std::move(*valor));
    }
    return execucoes;
}

std::string Membro(const TJSONValue& objeto, std::u16string_view nome) {
    const TJSONValue* valor = objeto.Get(nome);
    if (!valor)
        return "";
    if (valor->GetKind() == TJSONValue::Kind::True || valor->GetKind() == TJSONValue::Kind::False)
        return valor->GetKind() == TJSONValue::Kind::True ? "true" : "false";
    return ToUtf8(valor->Text());
}

// A folder as Linux holds it: every file published under its readable name, what cannot be
// published reported once with its reason, the link to nothing failed, and the question readable.
TEST_F(SemJanela, PublishesTheTreeAsLinuxHoldsIt) {
    Servidor();
    ArvoreLinux::Escrever(Pacote(), dir_.Path() / "fora");
    const Resultado r = Rodar({"--sem-janela", "--continuar-em-falha"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_EQ(ArvoreLinux::Armazenados(Armazem()), ArvoreLinux::Guardados());

    std::map<std::string, std::string> acoes;  // destination -> the rest of its line
    for (const std::string& line : Lines(r.out)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const auto tab2 = line.find('\t', tab + 1);
        acoes[line.substr(tab + 1, tab2 - tab - 1)] = line.substr(0, tab) + line.substr(tab2);
    }
    EXPECT_EQ(acoes.size(), static_cast<std::size_t>(ArvoreLinux::kLinhas)) << r.out;
    EXPECT_EQ(acoes["S01\\Relat\xC3\xB3rios\\r.txt"], "enviado\t9");
    EXPECT_EQ(acoes["S01\\n\xC3\xA3o.txt"], "enviado\t3");
    EXPECT_EQ(acoes["S01\\fifo"], "ignorado\t0\tn\xC3\xA3o \xC3\xA9 um arquivo comum (FIFO)");
    EXPECT_EQ(acoes["S01\\raiz\\"],
              "ignorado\t0\tliga\xC3\xA7\xC3\xA3o para uma pasta fora da pasta publicada: /");
    EXPECT_TRUE(acoes["S01\\quebrado"].starts_with("falhou\t0\tCannot open file")) << r.out;
    EXPECT_EQ(acoes["S01\\dentro\\"],
              "ignorado\t0\tliga\xC3\xA7\xC3\xA3o para uma pasta publicada pelo seu "
              "pr\xC3\xB3prio caminho: " +
                  fs::canonical(Pacote() / "Scripts").string());
    const std::string resumo = "resumo: verificados " +
                               std::to_string(ArvoreLinux::kEnviados + ArvoreLinux::kFalhas) +
                               ", enviados " + std::to_string(ArvoreLinux::kEnviados) +
                               ", removidos 0, falhas " + std::to_string(ArvoreLinux::kFalhas) +
                               ", ignorados " + std::to_string(ArvoreLinux::kIgnorados) + ",";
    EXPECT_NE(r.out.find(resumo), std::string::npos) << r.out;
    // The question on one readable line.
    EXPECT_NE(r.err.find("pergunta: N\xC3\xA3o foi poss\xC3\xADvel enviar o Arquivo: " +
                         (Pacote() / "quebrado").string() + " Continuar?\n"),
              std::string::npos)
        << r.err;
}

TEST_F(SemJanela, PublishesWithoutADisplayThenFindsEverythingCurrent) {
    Servidor();
    EscreverArvore(Pacote());
    const Resultado r = Rodar({"--sem-janela"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines.front(), "publicando " + Pacote().string() + " em 127.0.0.1:" + porta_);
    const std::set<std::string> set(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(set,
              (std::set<std::string>{
                  "enviado\tS01\\LeiaMe.txt\t4", "enviado\tS01\\grande.bin\t3000000",
                  "enviado\tScripts\\S01\\Carga.sql\t9", "removido\tScripts\\S01\\EM_TESTE.SQL\t6",
                  "enviado\tS01\\Sub\\A\xC3\xA7\xC3\xA3o\\\xC3\xA9.txt\t6"}));
    EXPECT_EQ(lines.back().rfind("resumo: verificados 5, enviados 4, removidos 1, falhas 0, ", 0),
              0u)
        << lines.back();
    EXPECT_EQ(ReadBytes(Armazem() / "S01" / "grande.bin"), ReadBytes(Pacote() / "grande.bin"));
    EXPECT_EQ(MTime(Armazem() / "S01" / "grande.bin"), MTime(Pacote() / "grande.bin"));
    EXPECT_TRUE(fs::exists(Armazem() / "S01" / "Sub" / U8Path("A\xC3\xA7\xC3\xA3o") /
                           U8Path("\xC3\xA9.txt")));

    const Resultado again = Rodar({"--sem-janela"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("atual\tS01\\grande.bin\t3000000\n"), std::string::npos);
    EXPECT_NE(again.out.find("enviados 0, removidos 1, falhas 0"), std::string::npos);
}

// Every line is one JSON object; the summary's counts are what the store holds.
TEST_F(SemJanela, JsonLinesParseAndTheSummaryMatchesTheStore) {
    Servidor();
    EscreverArvore(Pacote());
    const Resultado r = Rodar({"--sem-janela", "--json", "--conexoes=2"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, int> eventos;
    std::optional<TJSONValue> resumo;
    for (const std::string& line : Lines(r.out)) {
        auto value = TJSONValue::Parse(std::vector<std::uint8_t>(line.begin(), line.end()));
        ASSERT_TRUE(value && value->IsObject()) << line;
        const TJSONValue* evento = value->Get(u"evento");
        ASSERT_TRUE(evento) << line;
        ++eventos[ToUtf8(evento->Text())];
        if (evento->Text() == u"resumo")
            resumo = std::move(*value);
    }
    EXPECT_EQ(eventos["inicio"], 1);
    EXPECT_EQ(eventos["veredito"], 5);
    EXPECT_EQ(eventos["arquivo"], 5);
    ASSERT_TRUE(resumo);
    int stored = 0;
    for (const auto& e : fs::recursive_directory_iterator(Armazem()))
        stored += e.is_regular_file() && e.path().filename().string()[0] != '.';
    EXPECT_EQ(resumo->Get(u"enviados")->Text(), IntToStr(stored));
    EXPECT_EQ(resumo->Get(u"removidos")->Text(), IntToStr(1));
    EXPECT_EQ(resumo->Get(u"falhas")->Text(), IntToStr(0));
    EXPECT_EQ(resumo->Get(u"codigo_saida")->Text(), IntToStr(0));
    EXPECT_EQ(resumo->Get(u"bytes")->Text(), IntToStr(3'000'000 + 4 + 9 + 6));
}

// The dry run asks and lists; the bytes the server received hold no send, removal or alert.
TEST_F(SemJanela, DryRunSendsNothing) {
    const fs::path recebidos = Armazem().parent_path() / "recebidos";
    fs::create_directories(recebidos);
    Servidor({"--gravar-recebidos", recebidos.string()});
    EscreverArvore(Pacote());
    const Resultado r = Rodar({"--sem-janela", "--simular"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("enviaria\tS01\\grande.bin\t3000000\n"), std::string::npos);
    EXPECT_NE(r.out.find("removeria\tScripts\\S01\\EM_TESTE.SQL\t6\n"), std::string::npos);
    EXPECT_NE(r.out.find("resumo (simula\xC3\xA7\xC3\xA3o): verificados 5, enviaria 4, "
                         "removeria 1, atuais 0"),
              std::string::npos)
        << r.out;
    PararServidor();
    std::string all;
    for (const auto& e : fs::directory_iterator(recebidos)) {
        const Bytes b = ReadBytes(e.path());
        all.append(b.begin(), b.end());
    }
    EXPECT_NE(all.find("PropertsFile"), std::string::npos);
    for (const char* method : {"SendFile", "RemoveFile", "AlertarZvClientes"})
        EXPECT_EQ(all.find(method), std::string::npos) << method;
    EXPECT_FALSE(fs::exists(Armazem() / "S01"));
}

// The exit statuses that do not need a signal, each from a real run.
TEST_F(SemJanela, ExitStatuses) {
    struct Case {
        const char* name;
        std::vector<std::string> server;
        std::vector<std::string> options;
        std::string codigo = "Vr@ndoxT";
        std::string modo = "PRODUCAO";
        int status;
        std::vector<std::string> err;  // texts the error output holds
    };
    const std::vector<Case> cases = {
        {"access code",
         {},
         {"--sem-janela"},
         "errado",
         "PRODUCAO",
         1,
         {"n\xC3\xA3o tem autoriza\xC3\xA7\xC3\xA3o"}},
        {"test build outside its environment",
         {},
         {"--sem-janela"},
         "Vr@ndoxT",
         "teste",
         1,
         {"vers\xC3\xA3o para Testes"}},
        {"bad option",
         {},
         {"--sem-janela", "--conexoes", "0"},
         "Vr@ndoxT",
         "PRODUCAO",
         1,
         {"--conexoes", "\"0\""}},
        // The two-argument form also keeps a refusal off the window (there is no display).
        {"bad option after --sem-janela sim",
         {},
         {"--sem-janela", "sim", "--tempo-leitura", "0.0004"},
         "Vr@ndoxT",
         "PRODUCAO",
         1,
         {"tempo-leitura", "\"0.0004\""}},
        {"refused login",
         {"--recusar-login"},
         {"--sem-janela"},
         "Vr@ndoxT",
         "PRODUCAO",
         2,
         {"O Servidor n\xC3\xA3o \xC3\xA9 valido!"}},
        {"silent server",
         {"--mudo"},
         {"--sem-janela", "--tempo-conexao", "0.3"},
         "Vr@ndoxT",
         "PRODUCAO",
         2,
         {"O Servidor n\xC3\xA3o \xC3\xA9 valido!", "O servidor 127.0.0.1:",
          "n\xC3\xA3o respondeu em 300 ms (aguardando a conex\xC3\xA3o e o login)"}},
        // One request at a time, so that the failing calls are the first file's two attempts and
        // the message counted is the one named.
        {"a file fails twice",
         {"--sendfile-falso", "2"},
         {"--sem-janela", "--conservador"},
         "Vr@ndoxT",
         "PRODUCAO",
         3,
         {"Continuar?", "falhou: "}},
        // Message 10 is the first file's PropertsFile execute: its error escapes the walk.
        {"an error escapes the walk",
         {"--erro-na-mensagem", "10"},
         {"--sem-janela", "--conservador"},
         "Vr@ndoxT",
         "PRODUCAO",
         5,
         {"erro: Falha injetada na mensagem 10."}},
        // Silent from that message on: the read deadline ends the wait, naming what it was.
        {"the server stops answering",
         {"--mudo-na-mensagem", "10"},
         {"--sem-janela", "--conservador", "--tempo-leitura", "0.5"},
         "Vr@ndoxT",
         "PRODUCAO",
         5,
         {"erro: O servidor 127.0.0.1:",
          "n\xC3\xA3o respondeu em 500 ms (aguardando a resposta de PropertsFile)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Armazem());
        Servidor(c.server);
        WriteText(Pacote() / "a.txt", "a");
        WriteText(Pacote() / "b.txt", "b");
        const auto start = std::chrono::steady_clock::now();
        const Resultado r = Rodar(c.options, c.codigo, c.modo);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
        for (const std::string& text : c.err)
            EXPECT_NE(r.err.find(text), std::string::npos) << r.err << " lacks " << text;
        server_.reset();
        porta_.clear();
    }
}

// A failed file with continuar-em-falha: the walk goes on, the failure is listed and counted.
TEST_F(SemJanela, ContinuesAfterAFailureWhenToldTo) {
    Servidor({"--sendfile-falso", "2"});
    WriteText(Pacote() / "a.txt", "a");
    WriteText(Pacote() / "Sub" / "b.txt", "b");
    // One request at a time: the failing calls are the first file's two attempts.
    const Resultado r = Rodar({"--sem-janela", "--continuar-em-falha", "--pedidos-em-curso", "1"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.out.find("falhou\tS01\\a.txt\t1\to servidor recusou o arquivo\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("enviado\tS01\\Sub\\b.txt\t1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("falhas 1"), std::string::npos);
    EXPECT_NE(r.err.find("falhou: " + (Pacote() / "a.txt").string()), std::string::npos) << r.err;
}

// A bad settings file is refused before anything reaches the server, naming file, key and value.
TEST_F(SemJanela, BadSettingsFileSendsNothing) {
    Servidor();
    WriteText(Pacote() / "a.txt", "a");
    WriteText(Ini(), "buffer-kb = muito\n");
    const Resultado r = Rodar({"--sem-janela"});
    EXPECT_EQ(r.status, 1);
    for (const std::string& text :
         {Ini().string(), std::string("buffer-kb"), std::string("\"muito\"")})
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err << " lacks " << text;
    EXPECT_FALSE(fs::exists(Armazem() / "S01"));
}

// Patterns from the settings file, a list and an option: the dry run lists each entry left out
// with its pattern, and the marker a pattern matched is still removed, said once; the publish then
// stores everything else, counts what was left out in its summary and JSON, and ends 0.
TEST_F(SemJanela, LeavesOutWhatThePatternsSayAndTheDryRunListsThem) {
    Servidor();
    EscreverArvore(Pacote());
    WriteText(Pacote() / "App.pdb", "pdb");
    WriteText(Pacote() / "obj" / "x.o", "o");
    WriteText(Pacote() / "Sub" / "Thumbs.db", "th");
    const fs::path lista = dir_.Path() / "publicar.excluir";
    WriteText(lista, "# sobras\nobj/\n\nThumbs.db\n");
    WriteText(Ini(), "excluir = *.pdb\n");
    const std::vector<std::string> padroes = {"--excluir-de", lista.string(), "--excluir", "*.SQL"};
    const auto com = [&](std::vector<std::string> opcoes) {
        opcoes.insert(opcoes.end(), padroes.begin(), padroes.end());
        return opcoes;
    };

    const Resultado simulada = Rodar(com({"--sem-janela", "--simular"}));
    ASSERT_EQ(simulada.status, 0) << simulada.out << simulada.err;
    const std::vector<std::string> linhas = Lines(simulada.out);
    const std::set<std::string> excluidos(linhas.begin(), linhas.end());
    for (const char* linha : {"excluido\tS01\\App.pdb\t3\t*.pdb", "excluido\tS01\\obj\\\t0\tobj/",
                              "excluido\tS01\\Sub\\Thumbs.db\t2\tThumbs.db",
                              "removeria\tScripts\\S01\\EM_TESTE.SQL\t6"})
        EXPECT_TRUE(excluidos.count(linha)) << simulada.out << " lacks " << linha;
    EXPECT_NE(simulada.out.find("resumo (simula\xC3\xA7\xC3\xA3o): verificados 5, enviaria 4, "
                                "removeria 1, atuais 0, exclu\xC3\xAD"
                                "dos 3,"),
              std::string::npos)
        << simulada.out;
    const std::string aviso =
        "aviso: O padr\xC3\xA3o de exclus\xC3\xA3o \"*.SQL\" se aplica a Scripts/EM_TESTE.SQL, o "
        "marcador de teste, que nunca \xC3\xA9 exclu\xC3\xAD"
        "do";
    EXPECT_NE(simulada.err.find(aviso), std::string::npos) << simulada.err;
    EXPECT_EQ(simulada.err.find("aviso:"), simulada.err.rfind("aviso:")) << simulada.err;

    const Resultado r = Rodar(com({"--sem-janela", "--json"}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> acoes;  // destination -> acao and motivo
    std::optional<TJSONValue> resumo;
    for (const std::string& line : Lines(r.out)) {
        auto value = TJSONValue::Parse(std::vector<std::uint8_t>(line.begin(), line.end()));
        ASSERT_TRUE(value && value->IsObject()) << line;
        const std::u16string evento = value->Get(u"evento")->Text();
        if (evento == u"arquivo") {
            const TJSONValue* motivo = value->Get(u"motivo");
            acoes[ToUtf8(value->Get(u"destino")->Text())] =
                ToUtf8(value->Get(u"acao")->Text()) + (motivo ? " " + ToUtf8(motivo->Text()) : "");
        } else if (evento == u"resumo") {
            resumo = std::move(*value);
        }
    }
    EXPECT_EQ(acoes["S01\\App.pdb"], "excluido *.pdb");
    EXPECT_EQ(acoes["S01\\obj\\"], "excluido obj/");
    EXPECT_EQ(acoes["S01\\Sub\\Thumbs.db"], "excluido Thumbs.db");
    EXPECT_EQ(acoes["Scripts\\S01\\EM_TESTE.SQL"], "removido");
    ASSERT_TRUE(resumo);
    EXPECT_EQ(resumo->Get(u"excluidos")->Text(), u"3");
    EXPECT_EQ(resumo->Get(u"enviados")->Text(), u"4");
    std::set<std::string> armazenados;
    for (const auto& e : fs::recursive_directory_iterator(Armazem())) {
        // The server's own files start with a dot.
        if (e.is_regular_file() && e.path().filename().string()[0] != '.')
            armazenados.insert(fs::relative(e.path(), Armazem()).string());
    }
    EXPECT_EQ(armazenados,
              (std::set<std::string>{"S01/LeiaMe.txt", "S01/grande.bin", "Scripts/S01/Carga.sql",
                                     "S01/Sub/A\xC3\xA7\xC3\xA3o/\xC3\xA9.txt"}));
}

// What each form of output shows of an entry left out: a line with its pattern in a log or a pipe
// and in a dry run on a terminal; on a terminal otherwise only the count; a JSON event always.
TEST(TerminalView, AnEntryLeftOutIsShownWhereItIsAsked) {
    struct Case {
        TTerminalView::Formato formato;
        bool simulacao;
        const char* esperado;  // nullptr: the entry is not shown
    };
    const Case cases[] = {
        {TTerminalView::Formato::Linhas, false, "excluido\tS01\\a.pdb\t3\t*.pdb\n"},
        {TTerminalView::Formato::Linhas, true, "excluido\tS01\\a.pdb\t3\t*.pdb\n"},
        {TTerminalView::Formato::Progresso, true, "excluido\tS01\\a.pdb\t3\t*.pdb\n"},
        {TTerminalView::Formato::Progresso, false, nullptr},
        {TTerminalView::Formato::Json, false,
         "\"destino\":\"S01\\\\a.pdb\",\"tamanho\":3,\"acao\":\"excluido\",\"motivo\":\"*.pdb\"}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.formato) * 2 + c.simulacao);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ASSERT_TRUE(out && err);
        {
            TTerminalView view(out, err, c.formato, u"127.0.0.1", 211, u"/srv/v/", false);
            view.Anunciar(c.simulacao);
            view.RunStarted(1, 0);
            TArquivoEvento a;
            a.Row = 0;
            a.Local = u"/srv/v/a.pdb";
            a.Destino = u"S01\\a.pdb";
            a.Tamanho = 3;
            a.Motivo = u"*.pdb";
            view.FileDone(a, TDesfecho::Excluido);
            TResumo resumo;
            resumo.Simulada = c.simulacao;
            resumo.Arquivos = 1;
            resumo.Excluidos = 1;
            view.RunEnded(resumo);
        }
        std::string texto(1 << 16, '\0');
        std::rewind(out);
        texto.resize(std::fread(texto.data(), 1, texto.size(), out));
        std::fclose(out);
        std::fclose(err);
        if (c.esperado) {
            EXPECT_NE(texto.find(c.esperado), std::string::npos) << texto;
        } else {
            EXPECT_EQ(texto.find("excluido\t"), std::string::npos) << texto;
        }
        if (c.formato == TTerminalView::Formato::Json) {
            EXPECT_NE(texto.find("\"excluidos\":1,"), std::string::npos) << texto;
        } else {
            EXPECT_NE(texto.find(", exclu\xC3\xAD"
                                 "dos 1, "),
                      std::string::npos)
                << texto;
        }
        // The terminal's progress line counts it.
        if (c.formato == TTerminalView::Formato::Progresso) {
            EXPECT_NE(texto.find("1 exclu\xC3\xAD"
                                 "do"),
                      std::string::npos)
                << texto;
        }
    }
}

// SIGTERM while a large file travels: that file is finished and stored whole, nothing new is
// written (though the questions about the files after it were answered with requests in flight),
// and the status says the run was interrupted. The server asks for each block slowly, so the
// signal lands while the file is on its way.
TEST_F(SemJanela, SignalFinishesTheFileInHandThenStops) {
    for (const char* emCurso : {"1", "8"}) {
        SCOPED_TRACE(emCurso);
        fs::remove_all(Armazem());
        Servidor({"--pausa-por-bloco", "10"});
        // 4 MB: about 130 blocks of 32 KB, each asked for 10 ms apart.
        WriteFile(Pacote() / "grande.bin", Pattern(4 << 20, 5));
        for (int i = 0; i < 30; ++i)
            WriteText(Pacote() / "Sub" / ("f" + std::to_string(i)), "x");
        ChildProcess& p = Iniciar(Argumentos(
            {"--sem-janela", "--json", "--buffer-kb", "32", "--pedidos-em-curso", emCurso}));
        ASSERT_TRUE(p.WaitForOutput(R"("evento":"progresso")", 30s)) << p.Err();
        const auto sinal = std::chrono::steady_clock::now();
        p.Signal(SIGTERM);
        ASSERT_EQ(p.Wait(60s), 4) << p.Out() << p.Err();
        // The file in transfer was the only thing left to finish.
        EXPECT_LT(std::chrono::steady_clock::now() - sinal, 10s);
        EXPECT_EQ(ReadBytes(Armazem() / "S01" / "grande.bin"), ReadBytes(Pacote() / "grande.bin"));
        int sent = 0;
        for (int i = 0; i < 30; ++i)
            sent += fs::exists(Armazem() / "S01" / "Sub" / ("f" + std::to_string(i)));
        EXPECT_EQ(sent, 0);
        EXPECT_NE(p.Out().find(R"("fim":"interrompida")"), std::string::npos);
        PararServidor();
        porta_.clear();
    }
}

// A server that stops reading in the middle of a large file while keeping the connection up: a
// 16 MB block cannot get through the socket buffers, so each attempt ends by the read deadline's
// bound on the write (or on the answer after it); both attempts fail, nobody answers "Continuar?",
// and the run ends with the file failed instead of hanging.
TEST_F(SemJanela, AServerThatStopsReadingFailsTheFileInsteadOfHanging) {
    Servidor({"--parar-de-ler-no-bloco", "1", "--log"});
    const Bytes mega = Pattern(1 << 20, 6);
    Bytes grande;
    for (int i = 0; i < 40; ++i)
        grande.insert(grande.end(), mega.begin(), mega.end());
    WriteFile(Pacote() / "grande.bin", grande);
    const auto start = std::chrono::steady_clock::now();
    const Resultado r = Rodar({"--sem-janela", "--buffer-kb", "16384", "--tempo-leitura", "2"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_LT(elapsed, 20s);
    EXPECT_NE(r.err.find("falhou: " + (Pacote() / "grande.bin").string()), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(Armazem() / "S01" / "grande.bin"));
    // Two connections, each stopped at its first block.
    PararServidor();
    const std::string log = server_->Err();
    std::size_t stops = 0;
    for (std::size_t at = 0; (at = log.find("reading nothing more", at)) != std::string::npos; ++at)
        ++stops;
    EXPECT_EQ(stops, 2u) << log;
}

// A silent server and no deadlines: the first SIGTERM can only ask for a stop after the call in
// hand, which never ends; the second one ends the connection and the program.
TEST_F(SemJanela, SecondSignalEndsARunWaitingOnASilentServer) {
    Servidor({"--mudo", "--log"});
    WriteText(Pacote() / "a.txt", "a");
    ChildProcess& p =
        Iniciar(Argumentos({"--sem-janela", "--tempo-conexao=0", "--tempo-leitura=0"}));
    // Connected: the program is past its start and listens for signals.
    ASSERT_TRUE(server_->WaitForError("conexao 1: accepted", 30s)) << server_->Err();
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(500ms), -1) << "ended on the first signal";
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(5s), 4) << p.Out() << p.Err();
}

// The bandwidth cap from the settings file: 400,000 bytes at 200 KB/s take 2 s at the cap, at
// least 1 s with the one second's worth a run may have saved up (uncapped: a few hundredths).
// Then a file that would take 100 s at the cap: the first signal lets the file in transfer finish
// (at the cap's pace), the second ends the wait for the cap at once. About 3 s.
TEST_F(SemJanela, TheBandwidthCapHoldsTheRunBackAndTheSecondSignalEndsItsWait) {
    Servidor();
    WriteFile(Pacote() / "a.bin", Pattern(400'000, 8));
    WriteText(Ini(), "limite-banda = 200\n");
    const auto inicio = std::chrono::steady_clock::now();
    const Resultado r = Rodar({"--sem-janela"});
    EXPECT_GE(std::chrono::steady_clock::now() - inicio, 1s);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadBytes(Armazem() / "S01" / "a.bin"), ReadBytes(Pacote() / "a.bin"));

    WriteFile(Pacote() / "b.bin", Pattern(10'000'000, 9));
    ChildProcess& p = Iniciar(Argumentos({"--sem-janela", "--json", "--limite-banda", "100"}));
    ASSERT_TRUE(p.WaitForOutput(R"("evento":"progresso")", 30s)) << p.Err();
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(500ms), -1) << "the file in transfer did not finish";
    const auto sinal = std::chrono::steady_clock::now();
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(10s), 4) << p.Out() << p.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - sinal, 2s);
    EXPECT_FALSE(fs::exists(Armazem() / "S01" / "b.bin"));
}

// --pasta: a release folder away from the program is published with every rule, and named in
// the first line, in a dry run's and in the JSON inicio event; what lies beside the program is
// not published. The program's own folder named with --pasta skips the program inside it.
TEST_F(SemJanela, PublishesTheFolderTheOptionNames) {
    Servidor();
    const fs::path versao = dir_.Path() / "versao";
    EscreverArvore(versao);
    WriteText(versao / "Logo.jpg", "the top logo stays home");
    WriteText(Pacote() / "ao-lado.txt", "beside the program");
    const std::string pasta = fs::canonical(versao).string();

    const Resultado simulada =
        Rodar({"--sem-janela", "--simular", "--pasta", versao.string() + "/"});
    ASSERT_EQ(simulada.status, 0) << simulada.err;
    EXPECT_EQ(Lines(simulada.out).front(),
              "simulando a publica\xC3\xA7\xC3\xA3o de " + pasta + " em 127.0.0.1:" + porta_);
    EXPECT_FALSE(fs::exists(Armazem() / "S01"));

    const Resultado r = Rodar({"--sem-janela", "--json", "--pasta=" + versao.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    auto inicio = TJSONValue::Parse(
        std::vector<std::uint8_t>(r.out.begin(), r.out.begin() + r.out.find('\n')));
    ASSERT_TRUE(inicio && inicio->Get(u"pasta")) << r.out;
    EXPECT_EQ(inicio->Get(u"evento")->Text(), u"inicio");
    EXPECT_EQ(ToUtf8(inicio->Get(u"pasta")->Text()), pasta);
    EXPECT_EQ(inicio->Get(u"arquivos")->Text(), u"5");
    for (const char* stored : {"S01/LeiaMe.txt", "S01/grande.bin", "Scripts/S01/Carga.sql"})
        EXPECT_TRUE(fs::is_regular_file(Armazem() / stored)) << stored;
    EXPECT_EQ(ReadBytes(Armazem() / "S01" / "grande.bin"), ReadBytes(versao / "grande.bin"));
    for (const char* kept :
         {"S01/Logo.jpg", "S01/ao-lado.txt", "S01/AtualizadorBrevant", "Scripts/S01/EM_TESTE.SQL"})
        EXPECT_FALSE(fs::exists(Armazem() / kept)) << kept;

    // The program's own folder given with --pasta: the program inside it stays home.
    const Resultado propria = Rodar({"--sem-janela", "--pasta", Pacote().string()});
    ASSERT_EQ(propria.status, 0) << propria.err;
    EXPECT_EQ(Lines(propria.out).front(),
              "publicando " + Pacote().string() + " em 127.0.0.1:" + porta_);
    EXPECT_TRUE(fs::exists(Armazem() / "S01" / "ao-lado.txt"));
    EXPECT_FALSE(fs::exists(Armazem() / "S01" / "AtualizadorBrevant"));
}

// A folder whose name is not UTF-8 (as unzip leaves one from a Windows archive), named with
// --pasta and as the folder of a copy of the program placed in it: published, and named in the
// first line as people read it.
TEST_F(SemJanela, PublishesAFolderWhoseNameIsNotUtf8) {
    Servidor();
    const fs::path versao = dir_.Path() / "Vers\xE3o";
    WriteText(versao / "a.txt", "a");
    const std::string legivel = dir_.Path().string() + "/Vers\xC3\xA3o";

    const Resultado opcao = Rodar({"--sem-janela", "--pasta", versao.string()});
    ASSERT_EQ(opcao.status, 0) << opcao.out << opcao.err;
    EXPECT_EQ(Lines(opcao.out).front(), "publicando " + legivel + " em 127.0.0.1:" + porta_);
    EXPECT_TRUE(fs::exists(Armazem() / "S01" / "a.txt"));

    programa_ = versao / "AtualizadorBrevant";
    fs::copy_file(Programa(), *programa_);
    WriteText(versao / "b.txt", "b");
    const Resultado propria = Rodar({"--sem-janela"});
    ASSERT_EQ(propria.status, 0) << propria.out << propria.err;
    EXPECT_EQ(Lines(propria.out).front(), "publicando " + legivel + " em 127.0.0.1:" + porta_);
    EXPECT_TRUE(fs::exists(Armazem() / "S01" / "b.txt"));
    EXPECT_FALSE(fs::exists(Armazem() / "S01" / "AtualizadorBrevant"));
}

// The folders no release lives in, given with --pasta, and a folder that cannot be used: status
// 1 with a line naming it, and the server never sees a connection.
TEST_F(SemJanela, RefusedFoldersConnectNothing) {
    Servidor({"--log"});
    const fs::path casa = dir_.Path() / "casa";
    fs::create_directories(casa / "versao");
    WriteText(dir_.Path() / "arquivo", "not a folder");
    ambiente_["HOME"] = casa.string();
    const std::string dica = "indique a pasta da vers\xC3\xA3o com --pasta PASTA";
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> err;
    } cases[] = {
        {{"--pasta", "/"}, {"\"/\"", "a raiz do sistema", dica}},
        {{"--pasta", "/usr/bin/"}, {"\"/usr/bin\"", "uma pasta do sistema", dica}},
        {{"--pasta", "/etc/ssl"}, {"\"/etc/ssl\"", "uma pasta do sistema", dica}},
        {{"--pasta", "/tmp"}, {"\"/tmp\"", "uma pasta do sistema", dica}},
        {{"--pasta", dir_.Path().string()},
         {dir_.Path().string(), "uma pasta acima da pasta pessoal", dica}},
        {{"--pasta", casa.string()}, {casa.string(), "a pasta pessoal", dica}},
        {{"--pasta=~"}, {"\"~\"", "a pasta pessoal", dica}},
        {{"--pasta", (dir_.Path() / "nada").string()}, {"nada\" (--pasta) n\xC3\xA3o existe."}},
        {{"--pasta", (dir_.Path() / "arquivo").string()}, {"n\xC3\xA3o \xC3\xA9 uma pasta."}},
        {{"--pasta="}, {"pasta = \"\" (esperado uma pasta)"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options = c.options;
        options.insert(options.begin(), "--sem-janela");
        SCOPED_TRACE(c.options.back());
        const Resultado r = Rodar(options);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        for (const std::string& text : c.err)
            EXPECT_NE(r.err.find(text), std::string::npos) << r.err << " lacks " << text;
    }
    // Below the home folder is fine.
    const Resultado r = Rodar({"--sem-janela", "--simular", "--pasta", "~/versao"});
    EXPECT_EQ(r.status, 0) << r.err;
    // That last run's is the only connection the server saw.
    PararServidor();
    const std::string log = server_->Err();
    ASSERT_NE(log.find(": accepted"), std::string::npos) << log;
    EXPECT_EQ(log.find(": accepted"), log.rfind(": accepted")) << log;
}

// An installed program (argument 0 in /usr/bin, passed in as the running program's path would be)
// publishes nothing of its own folder: refused before connecting. With --pasta it publishes.
TEST_F(SemJanela, InstalledProgramNeedsTheFolderOption) {
    Servidor({"--log"});
    WriteText(dir_.Path() / "versao" / "a.txt", "a");
    const std::vector<std::u16string> args = {u"Instalado", u"127.0.0.1", FromUtf8(porta_),
                                              u"01",        u"PRODUCAO",  u"Vr@ndoxT"};
    const CommandLine instalado(u"AtualizadorBrevant " + CommandLine::Join(args),
                                u"/usr/bin/AtualizadorBrevant");
    TConfiguracao configuracao;
    configuracao.SemJanela = true;
    // Run in this process: its history goes to this test's folder, never the user's.
    const fs::path historico = dir_.Path() / "historico.jsonl";
    configuracao.Registro = FromUtf8(historico.string());

    const fs::path erros = dir_.Path() / "stderr";
    int status = -1;
    {
        // Its line goes to this process's standard error, captured here.
        std::fflush(stderr);
        const int copia = ::dup(STDERR_FILENO);
        const int arquivo = ::open(erros.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(arquivo, 0);
        ::dup2(arquivo, STDERR_FILENO);
        ::close(arquivo);
        status = RunTerminalProgram(instalado, configuracao);
        std::fflush(stderr);
        ::dup2(copia, STDERR_FILENO);
        ::close(copia);
    }
    EXPECT_EQ(status, 1);
    const Bytes err = ReadBytes(erros);
    EXPECT_EQ(
        std::string(err.begin(), err.end()),
        "erro: A pasta do programa, \"/usr/bin\", \xC3\xA9 uma pasta do sistema e "
        "n\xC3\xA3o pode ser publicada; indique a pasta da vers\xC3\xA3o com --pasta PASTA.\n");
    EXPECT_FALSE(server_->WaitForError(": accepted", 200ms)) << server_->Err();
    EXPECT_FALSE(fs::exists(historico));

    configuracao.Pasta = FromUtf8((dir_.Path() / "versao").string());
    EXPECT_EQ(RunTerminalProgram(instalado, configuracao), 0);
    EXPECT_TRUE(fs::exists(Armazem() / "S01" / "a.txt"));
    EXPECT_EQ(Historico(historico).size(), 1u);
}

// A start that would open a window where there is none ends with a line suggesting --sem-janela
// and status 1, never the window library's abort; asked for no window, a bad setting gives only
// its own line.
TEST_F(SemJanela, NoDisplayGivesALineAndStatus1) {
    const std::string semTela = "n\xC3\xA3o h\xC3\xA1 tela para a janela";
    const std::string sugestao = "use --sem-janela";
    struct Case {
        const char* what;
        const char* ini;  // the settings file, or nullptr
        std::vector<std::string> options;
        std::map<std::string, std::string> ambiente;
        std::vector<std::string> err;
        std::vector<std::string> errLacks;
    } cases[] = {
        {"the window", nullptr, {}, {}, {semTela, sugestao}, {}},
        {"a bad option", nullptr, {"--conexoes=0"}, {}, {"--conexoes=0", semTela}, {}},
        {"sem-janela in the file and a bad key",
         "sem-janela = sim\nchave-errada = 1\n",
         {},
         {},
         {"chave desconhecida \"chave-errada\""},
         {semTela, "abrir"}},
        {"--sem-janela=1 and a bad option",
         nullptr,
         {"--sem-janela=1", "--conexoes=0"},
         {},
         {"--conexoes=0"},
         {semTela, "abrir"}},
        {"a display naming no server",
         nullptr,
         {},
         {{"DISPLAY", ":4077"}},
         {"a janela n\xC3\xA3o p\xC3\xB4"
          "de abrir",
          sugestao},
         {}},
        {"a refused folder", nullptr, {"--pasta", "/"}, {}, {semTela}, {}},
    };
    porta_ = "1";  // no server: none of these starts connects
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(Ini());
        if (c.ini)
            WriteText(Ini(), c.ini);
        ambiente_ = c.ambiente;
        const Resultado r = Rodar(c.options, "Vr@ndoxT");
        EXPECT_EQ(r.status, 1) << r.err;
        for (const std::string& text : c.err)
            EXPECT_NE(r.err.find(text), std::string::npos) << r.err << " lacks " << text;
        for (const std::string& text : c.errLacks)
            EXPECT_EQ(r.err.find(text), std::string::npos) << r.err << " holds " << text;
    }
    // An empty environment: no HOME, no display, no settings folder.
    fs::remove(Ini());
    ChildProcess vazio("/usr/bin/env",
                       {"-i", Programa().string(), "C", "h", "1", "01", "P", "Vr@ndoxT"}, {},
                       dir_.Path() / "vazio.out", dir_.Path() / "vazio.err");
    EXPECT_EQ(vazio.Wait(30s), 1) << vazio.Err();
    EXPECT_NE(vazio.Err().find(semTela), std::string::npos) << vazio.Err();
}

// Each run of the program leaves one JSON line, whatever its end: also a dry run and one that
// could not log in. A start refused before any run (the access code) leaves none.
TEST_F(SemJanela, EachRunLeavesOneLineInTheHistory) {
    const fs::path historico = dir_.Path() / "estado" / "atualizador-brevant" / "historico.jsonl";
    struct Caso {
        const char* nome;
        std::vector<std::string> servidor;
        std::vector<std::string> opcoes;
        std::string codigo;
        int status;
        std::map<std::u16string, std::string> esperado;  // nothing: no line
    } casos[] = {
        {"published",
         {},
         {"--sem-janela"},
         "Vr@ndoxT",
         0,
         {{u"enviados", "2"},
          {u"falhas", "0"},
          {u"simulacao", "false"},
          {u"tipo_servidor", "pai"}}},
        // One request at a time, so that the failing calls are the first file's two attempts.
        {"a file failed",
         {"--sendfile-falso", "2", "--tipo", "cliente"},
         {"--sem-janela", "--continuar-em-falha", "--conservador", "--json"},
         "Vr@ndoxT",
         3,
         {{u"enviados", "1"}, {u"falhas", "1"}, {u"tipo_servidor", "cliente"}}},
        {"a dry run",
         {},
         {"--sem-janela", "--simular"},
         "Vr@ndoxT",
         0,
         {{u"simulacao", "true"}, {u"enviados", "0"}, {u"enviaria", "2"}}},
        {"the login refused",
         {"--recusar-login"},
         {"--sem-janela"},
         "Vr@ndoxT",
         2,
         {{u"tipo_servidor", "desconhecido"}, {u"enviados", "0"}}},
        {"a wrong access code", {}, {"--sem-janela"}, "errado", 1, {}},
    };
    std::size_t linhas = 0;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        fs::remove_all(Armazem());
        Servidor(c.servidor);
        WriteText(Pacote() / "a.txt", "a");
        WriteText(Pacote() / "b.txt", "b");
        const Resultado r = Rodar(c.opcoes, c.codigo);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        const std::vector<TJSONValue> execucoes = Historico(historico);
        if (!c.esperado.empty())
            ++linhas;
        ASSERT_EQ(execucoes.size(), linhas);
        if (c.esperado.empty())
            continue;
        const TJSONValue& ultima = execucoes.back();
        for (const auto& [nome, valor] : c.esperado)
            EXPECT_EQ(Membro(ultima, nome), valor) << ToUtf8(nome);
        EXPECT_EQ(Membro(ultima, u"codigo_saida"), std::to_string(c.status));
        EXPECT_EQ(Membro(ultima, u"pasta"), Pacote().string());
        EXPECT_EQ(Membro(ultima, u"servidor"), "127.0.0.1");
        EXPECT_EQ(Membro(ultima, u"porta"), porta_);
        EXPECT_EQ("AtualizadorBrevant " + Membro(ultima, u"versao") + "\n",
                  ToUtf8(TextoDeVersao()));
        server_.reset();
        porta_.clear();
    }
}

// SIGKILL in the middle of a run (a large file travelling slowly) leaves the history as it was:
// whole lines only, and the next run's line stands on its own.
TEST_F(SemJanela, SigkillInTheMiddleOfARunLeavesTheHistoryWhole) {
    const fs::path historico = dir_.Path() / "estado" / "atualizador-brevant" / "historico.jsonl";
    Servidor({"--pausa-por-bloco", "10"});
    WriteText(Pacote() / "a.txt", "a");
    ASSERT_EQ(Rodar({"--sem-janela"}).status, 0);
    ASSERT_EQ(Historico(historico).size(), 1u);

    // 2 MB: about 64 blocks of 32 KB, each asked for 10 ms apart.
    WriteFile(Pacote() / "grande.bin", Pattern(2 << 20, 7));
    ChildProcess& p = Iniciar(Argumentos({"--sem-janela", "--json", "--buffer-kb", "32"}));
    ASSERT_TRUE(p.WaitForOutput(R"("evento":"progresso")", 30s)) << p.Err();
    p.Signal(SIGKILL);
    EXPECT_EQ(p.Wait(10s), 128 + SIGKILL);
    ASSERT_EQ(Historico(historico).size(), 1u);

    const Resultado r = Rodar({"--sem-janela"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<TJSONValue> execucoes = Historico(historico);
    ASSERT_EQ(execucoes.size(), 2u);
    EXPECT_EQ(Membro(execucoes[1], u"enviados"), "1");
    EXPECT_EQ(Membro(execucoes[1], u"bytes"), std::to_string(2 << 20));
}

// --historico N prints the last N runs as a table, oldest first: when, folder, server, sent,
// failed and how each ended; 20 when N is not given.
TEST_F(SemJanela, HistoricoPrintsTheLastRuns) {
    Servidor();
    WriteText(Pacote() / "a.txt", "a");
    ASSERT_EQ(Rodar({"--sem-janela"}).status, 0);
    ASSERT_EQ(Rodar({"--sem-janela", "--simular"}).status, 0);
    const std::string servidor = "127.0.0.1:" + porta_;
    PararServidor();
    ASSERT_EQ(Rodar({"--sem-janela", "--tempo-conexao", "2"}).status, 2);

    // The table's cells: columns are set apart by two spaces or more.
    auto tabela = [](const std::string& texto) {
        std::vector<std::vector<std::string>> linhas;
        for (const std::string& linha : Lines(texto)) {
            std::vector<std::string> celulas;
            for (std::size_t i = linha.find_first_not_of(' '); i != std::string::npos;) {
                const std::size_t fim = linha.find("  ", i);
                celulas.push_back(linha.substr(i, fim - i));
                i = fim == std::string::npos ? fim : linha.find_first_not_of(' ', fim);
            }
            linhas.push_back(celulas);
        }
        return linhas;
    };
    const std::string pasta = Pacote().string();
    const std::vector<std::vector<std::string>> esperado = {
        {"quando", "pasta", "servidor", "enviados", "falhas", "situa\xC3\xA7\xC3\xA3o"},
        {"", pasta, servidor, "1", "0", "0 atualizada"},
        {"", pasta, servidor, "0", "0", "0 simulada"},
        {"", pasta, servidor, "0", "0", "2 servidor inv\xC3\xA1lido"},
    };
    for (const auto& [n, primeira] : {std::pair{"2", 2}, std::pair{"", 1}}) {
        SCOPED_TRACE(n);
        ChildProcess& p = Iniciar(*n ? std::vector<std::string>{"--historico", n}
                                     : std::vector<std::string>{"--historico"});
        ASSERT_EQ(p.Wait(10s), 0) << p.Err();
        auto linhas = tabela(p.Out());
        for (std::size_t i = 1; i < linhas.size(); ++i) {
            // DD/MM/AAAA HH:MM:SS, local time.
            EXPECT_EQ(linhas[i][0].size(), 19u) << p.Out();
            EXPECT_EQ(linhas[i][0].substr(2, 1) + linhas[i][0].substr(5, 1), "//") << p.Out();
            linhas[i][0].clear();
        }
        std::vector<std::vector<std::string>> ultimas = {esperado[0]};
        ultimas.insert(ultimas.end(), esperado.begin() + primeira, esperado.end());
        EXPECT_EQ(linhas, ultimas) << p.Out();
    }

    for (const std::vector<std::string>& errado : std::vector<std::vector<std::string>>{
             {"--historico", "0"}, {"--historico", "x"}, {"--historico", "2", "--json"}}) {
        ChildProcess& p = Iniciar(errado);
        EXPECT_EQ(p.Wait(10s), 1) << errado.back();
        EXPECT_TRUE(p.Err().starts_with("erro: ")) << p.Err();
    }
    ChildProcess& outro = Iniciar({"--historico", "--registro", "nenhum.jsonl"});
    ASSERT_EQ(outro.Wait(10s), 0) << outro.Err();
    EXPECT_TRUE(outro.Out().starts_with("nenhuma publica\xC3\xA7\xC3\xA3o registrada em /"))
        << outro.Out();
}

// A history that cannot be written (its folder is a file) is one notice, also as a JSON event
// before the summary; the publish succeeds.
TEST_F(SemJanela, AnUnwritableHistoryIsOneNoticeAndThePublishSucceeds) {
    Servidor();
    WriteText(dir_.Path() / "estado-arquivo", "not a folder");
    ambiente_["XDG_STATE_HOME"] = (dir_.Path() / "estado-arquivo").string();
    const std::string arquivo =
        (dir_.Path() / "estado-arquivo").string() + "/atualizador-brevant/historico.jsonl";
    const std::string aviso = "N\xC3\xA3o foi poss\xC3\xADvel gravar o hist\xC3\xB3rico ";
    WriteText(Pacote() / "a.txt", "a");
    const Resultado r = Rodar({"--sem-janela"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.starts_with("aviso: " + aviso + "\"" + arquivo + "\": ")) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_TRUE(fs::exists(Armazem() / "S01" / "a.txt"));

    WriteText(Pacote() / "b.txt", "b");
    const Resultado json = Rodar({"--sem-janela", "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    const std::vector<std::string> eventos = Lines(json.out);
    ASSERT_GE(eventos.size(), 2u);
    EXPECT_TRUE(eventos[eventos.size() - 2].starts_with(R"({"evento":"aviso","mensagem":")" +
                                                        aviso + "\\\"" + arquivo + "\\\": "))
        << json.out;
    EXPECT_TRUE(eventos.back().starts_with(R"({"evento":"resumo")")) << json.out;
}

// historico = nao writes nothing; --registro writes to the file it names instead ("~/" the home
// folder).
TEST_F(SemJanela, TheSettingsTurnTheHistoryOffOrSendItElsewhere) {
    Servidor();
    WriteText(Pacote() / "a.txt", "a");
    const fs::path padrao = dir_.Path() / "estado" / "atualizador-brevant" / "historico.jsonl";
    WriteText(Ini(), "historico = nao\n");
    ASSERT_EQ(Rodar({"--sem-janela"}).status, 0);
    EXPECT_FALSE(fs::exists(padrao));

    ambiente_["HOME"] = (dir_.Path() / "casa").string();
    ASSERT_EQ(Rodar({"--sem-janela", "--historico", "--registro", "~/logs/h.jsonl"}).status, 0);
    EXPECT_FALSE(fs::exists(padrao));
    EXPECT_EQ(Historico(dir_.Path() / "casa" / "logs" / "h.jsonl").size(), 1u);
}

// What a running program has mapped (/proc/PID/maps): one line per mapping, with its file.
std::string Mapeados(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

constexpr const char* kModuloDaJanela = "/memfd:AtualizadorBrevant-janela";

// A run without a window loads no window library, also where a window could open: held on a
// silent server, the program has mapped neither Qt nor libjpeg nor the window module.
TEST_F(SemJanela, ARunWithoutAWindowMapsNoWindowLibrary) {
    Servidor({"--mudo", "--log"});
    WriteText(Pacote() / "a.txt", "a");
    ambiente_["QT_QPA_PLATFORM"] = "offscreen";
    ChildProcess& p =
        Iniciar(Argumentos({"--sem-janela", "--tempo-conexao=0", "--tempo-leitura=0"}));
    ASSERT_TRUE(server_->WaitForError("conexao 1: accepted", 30s)) << server_->Err();
    const std::string mapas = Mapeados(p.Pid());
    ASSERT_NE(mapas.find(Programa().string()), std::string::npos) << mapas;
    for (const char* biblioteca : {"libQt6", "libjpeg", kModuloDaJanela})
        EXPECT_EQ(mapas.find(biblioteca), std::string::npos) << biblioteca << " in\n" << mapas;
    p.Signal(SIGKILL);
}

// The program copied alone into a folder opens its window: the window module comes out of the
// program's own bytes into memory with Qt behind it, its descriptor is closed once it is loaded,
// and nothing is written beside the program. SIGTERM closes the window (no run: status 0).
TEST_F(SemJanela, ACopyAloneOpensItsWindowFromMemory) {
    Servidor();
    ambiente_["QT_QPA_PLATFORM"] = "offscreen";
    ChildProcess& p = Iniciar(Argumentos({}));
    // The platform plug-in is loaded as the application is made, after the signals are taken.
    std::string mapas;
    const auto limite = std::chrono::steady_clock::now() + 60s;
    while ((mapas = Mapeados(p.Pid())).find("libqoffscreen") == std::string::npos) {
        ASSERT_EQ(p.Wait(0ms), -1) << "ended early: " << p.Err();
        ASSERT_LT(std::chrono::steady_clock::now(), limite) << p.Err();
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(mapas.find(kModuloDaJanela), std::string::npos) << mapas;
    EXPECT_NE(mapas.find("libQt6Widgets"), std::string::npos) << mapas;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(p.Pid()) + "/fd")) {
        std::error_code erro;
        const std::string alvo = fs::read_symlink(fd.path(), erro).string();
        EXPECT_EQ(alvo.find(kModuloDaJanela), std::string::npos) << fd.path() << " -> " << alvo;
    }
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(30s), 0) << p.Err();
    std::vector<std::string> aoLado;
    for (const auto& entrada : fs::directory_iterator(Pacote()))
        aoLado.push_back(entrada.path().filename().string());
    EXPECT_EQ(aoLado, std::vector<std::string>{"AtualizadorBrevant"});
}

// A window library that cannot be loaded (a damaged Qt first on the library path): the window's
// start and the box of bad settings each end with a line giving the loader's reason and status
// 1, never a crash; a run without a window needs no window library and publishes.
TEST_F(SemJanela, AWindowLibraryThatCannotLoadGivesALine) {
    Servidor();
    WriteText(Pacote() / "a.txt", "a");
    const fs::path bibliotecas = dir_.Path() / "bibliotecas";
    WriteText(bibliotecas / "libQt6Widgets.so.6", "not a library");
    ambiente_ = {{"QT_QPA_PLATFORM", "offscreen"}, {"LD_LIBRARY_PATH", bibliotecas.string()}};
    const std::string naoCarregada =
        "erro: a janela n\xC3\xA3o p\xC3\xB4"
        "de ser carregada (";
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::vector<std::string> err;
    } cases[] = {
        {"the window", {}, {naoCarregada, "libQt6Widgets.so.6", "use --sem-janela"}},
        {"the box of a bad option", {"--conexoes=0"}, {"--conexoes=0", naoCarregada}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Resultado r = Rodar(c.options);
        EXPECT_EQ(r.status, 1) << r.err;
        for (const std::string& text : c.err)
            EXPECT_NE(r.err.find(text), std::string::npos) << r.err << " lacks " << text;
    }
    const Resultado r = Rodar({"--sem-janela"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadBytes(Armazem() / "S01" / "a.txt"), ReadBytes(Pacote() / "a.txt"));
}

TEST_F(SemJanela, HelpAndVersionNeedNoArguments) {
    for (const char* first : {"--help", "--version"}) {
        ChildProcess& p = Iniciar({first});
        ASSERT_EQ(p.Wait(10s), 0) << p.Err();
        EXPECT_NE(p.Out().find("AtualizadorBrevant"), std::string::npos);
    }
    const std::string help = client_->Out();
    ChildProcess& h = Iniciar({"--help"});
    ASSERT_EQ(h.Wait(10s), 0);
    for (const char* text :
         {"--sem-janela", "--simular", "--json", "--conexoes", "--continuar-em-falha",
          "--buffer-kb", "--tempo-leitura", "  0  ", "  1  ", "  2  ", "  3  ", "  4  ", "  5  "})
        EXPECT_NE(h.Out().find(text), std::string::npos) << text;
}

}  // namespace
}  // namespace ab::testing
