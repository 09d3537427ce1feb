// The settings file and the options that override it.
#include "app/TConfiguracao.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string_view>
#include <utility>

#include "app/AppConstants.h"
#include "app/PastaPublicada.h"
#include "platform/Convert.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace ab {
namespace {

constexpr int kMaxConexoes = 16;
// The fast defaults (see the README for the measurements behind them).
constexpr int kPadraoPedidosEmCurso = AppConstants::PadraoPedidosEmCurso;
constexpr int kPadraoBufferKB = AppConstants::PadraoBufferKB;
constexpr int kMaxPedidosEmCurso = 256;
constexpr int kMaxBufferKB = 16 * 1024;       // 16 MiB blocks: the bundled server's ceiling
constexpr double kMaxTempoSegundos = 86'400;  // a day

// The bandwidth cap's ceiling: 10 GB/s, far above any link.
constexpr int kMaxLimiteBandaKB = 10'000'000;

// A line of the settings file as text. Editors on other systems start a UTF-8 file with a
// byte-order mark; it is no part of the first key. Bytes that are not UTF-8 are kept, as in a file
// name: a `pasta` written so must reach the system unchanged.
std::u16string TextoDaLinha(std::string_view linha, bool primeira) {
    if (primeira && linha.starts_with("\xEF\xBB\xBF"))
        linha.remove_prefix(3);
    return Trim(FromFileName(linha));
}

// "chave = valor", both trimmed; nothing without '='.
std::optional<std::pair<std::u16string, std::u16string>> ChaveEValor(std::u16string_view texto) {
    const auto igual = texto.find(u'=');
    if (igual == std::u16string_view::npos)
        return std::nullopt;
    return std::pair{Trim(texto.substr(0, igual)), Trim(texto.substr(igual + 1))};
}

std::optional<int> Inteiro(std::u16string_view valor, int minimo, int maximo) {
    // Plain decimal digits only: no sign, hexadecimal or spaces in a setting.
    if (valor.empty() || valor.size() > 9)
        return std::nullopt;
    int n = 0;
    for (char16_t c : valor) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = n * 10 + (c - u'0');
    }
    if (n < minimo || n > maximo)
        return std::nullopt;
    return n;
}

// Seconds with an optional fraction ("30", "0.5", "0,5"), as milliseconds.
std::optional<int> Segundos(std::u16string_view valor) {
    std::string texto = ToUtf8(valor);
    for (char& c : texto) {
        if (c == ',')
            c = '.';
        else if (!(c >= '0' && c <= '9') && c != '.')
            return std::nullopt;
    }
    if (texto.empty() || texto.front() == '.' || texto.back() == '.')
        return std::nullopt;
    char* fim = nullptr;
    const double s = std::strtod(texto.c_str(), &fim);
    if (fim != texto.c_str() + texto.size() || !(s >= 0) || s > kMaxTempoSegundos)
        return std::nullopt;
    // Less than a millisecond would round to 0, which means no limit at all: the opposite of what
    // was asked for.
    if (s > 0 && s * 1000 < 1)
        return std::nullopt;
    return static_cast<int>(std::lround(s * 1000));
}

struct TChave {
    std::u16string_view Nome;
    bool SimNao;                    // "--nome" alone means sim
    std::u16string_view Esperado;   // what a good value looks like, for the error message
    std::u16string_view Descricao;  // for --help
    // false when the value does not fit.
    std::function<bool(TConfiguracao&, std::u16string_view)> Aplicar;
};

// A yes/no key stored in the field `campo` picks out of the settings.
template <class Campo>
std::function<bool(TConfiguracao&, std::u16string_view)> SimNao(Campo campo) {
    return [campo](TConfiguracao& c, std::u16string_view v) {
        const auto b = SimOuNao(v);
        if (b)
            campo(c) = *b;
        return b.has_value();
    };
}

// A whole-number key from `minimo` to `maximo`, stored in the field `campo` picks out.
template <class Campo>
std::function<bool(TConfiguracao&, std::u16string_view)> Numero(Campo campo, int minimo,
                                                                int maximo) {
    return [=](TConfiguracao& c, std::u16string_view v) {
        const auto n = Inteiro(v, minimo, maximo);
        if (n)
            campo(c) = *n;
        return n.has_value();
    };
}

std::function<bool(TConfiguracao&, std::u16string_view)> Tempo(
    std::optional<int> TConfiguracao::*campo) {
    return [campo](TConfiguracao& c, std::u16string_view v) {
        const auto ms = Segundos(v);
        if (ms)
            c.*campo = *ms;
        return ms.has_value();
    };
}

// Exclusions. A pattern refused, or a list that cannot be read, is a value refused with a reason of
// its own (TRecusa, which Aplicar reports naming the option or line); a bad line of a list names
// the list's own file and line.
struct TRecusa {
    std::u16string Motivo;
};
[[noreturn]] void Falhar(const std::u16string& onde, std::u16string_view texto);
// A list of patterns is a person's; past this it is surely another file given by mistake.
constexpr std::size_t kMaxListaDeExclusoes = 1024 * 1024;

std::u16string PadraoRecusado(std::u16string_view motivo) {
    return u"um padr\u00E3o que nunca se aplica a nada: " + std::u16string(motivo);
}

bool Excluir(TConfiguracao& c, std::u16string_view padrao) {
    if (const std::u16string motivo = c.Execucao.Exclusoes.Adicionar(padrao); !motivo.empty())
        throw TRecusa{PadraoRecusado(motivo)};
    return true;
}

// The bytes of the list `arquivo` (relative to the working folder, "~/" the home folder). Any
// kind of file that reads to an end will do (a pipe from the shell's <(...), say), but a folder.
std::string LerLista(std::u16string_view arquivo) {
    std::u16string caminho(arquivo);
    if (caminho == u"~" || caminho.starts_with(u"~/"))
        caminho = PastaPessoal() + caminho.substr(1);
    const int fd = ::open(ToFileName(caminho).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw TRecusa{u"o arquivo n\u00E3o p\u00F4de ser lido: " + SystemErrorText(errno)};
    struct TFechar {
        int fd;
        ~TFechar() { ::close(fd); }
    } fechar{fd};
    std::string conteudo;
    char bloco[16 * 1024];
    for (;;) {
        const ssize_t lidos = ::read(fd, bloco, sizeof bloco);
        if (lidos < 0 && errno == EINTR)
            continue;
        if (lidos < 0)
            throw TRecusa{u"o arquivo n\u00E3o p\u00F4de ser lido: " + SystemErrorText(errno)};
        if (lidos == 0)
            return conteudo;
        conteudo.append(bloco, static_cast<std::size_t>(lidos));
        if (conteudo.size() > kMaxListaDeExclusoes)
            throw TRecusa{
                u"o arquivo passa de 1 MiB, e uma lista de padr\u00F5es n\u00E3o "
                u"chega a tanto"};
    }
}

// One pattern a line, with its spaces at either end trimmed; blank lines and '#' comments
// skipped.
bool ExcluirDe(TConfiguracao& c, std::u16string_view arquivo) {
    const std::string conteudo = LerLista(arquivo);
    std::size_t inicio = 0;
    for (int numero = 1; inicio < conteudo.size(); ++numero) {
        std::size_t fim = conteudo.find('\n', inicio);
        if (fim == std::string::npos)
            fim = conteudo.size();
        const std::u16string padrao =
            TextoDaLinha(std::string_view(conteudo).substr(inicio, fim - inicio), numero == 1);
        inicio = fim + 1;
        if (padrao.empty() || padrao.front() == u'#')
            continue;
        if (const std::u16string motivo = c.Execucao.Exclusoes.Adicionar(padrao); !motivo.empty())
            Falhar(u"\"" + std::u16string(arquivo) + u"\", linha " + IntToStr(numero),
                   u"\"" + padrao + u"\" (" + PadraoRecusado(motivo) + u")");
    }
    return true;
}

const std::vector<TChave>& Chaves() {
    static const std::vector<TChave> chaves = {
        {u"conservador", true, u"sim ou nao",
         u"uma conex\u00E3o, um pedido por vez, blocos de 32 KB e nada escrito adiante: as "
         u"mesmas mensagens das vers\u00F5es anteriores, para um servidor que precise (padr\u00E3o "
         u"nao)",
         SimNao([](TConfiguracao& c) -> bool& { return c.Conservador; })},
        {u"conexoes", false, u"um n\u00FAmero inteiro de 1 a 16",
         u"conex\u00F5es simult\u00E2neas com o servidor, cada uma com seu login (padr\u00E3o: "
         u"escolhido pelo tamanho da pasta; 1 no modo conservador)",
         Numero([](TConfiguracao& c) -> std::optional<int>& { return c.Conexoes; }, 1,
                kMaxConexoes)},
        {u"comandos-em-cache", true, u"sim ou nao",
         u"prepara cada m\u00E9todo uma vez por conex\u00E3o (padr\u00E3o sim); nao: um comando "
         u"novo a cada chamada, como as vers\u00F5es antigas",
         SimNao([](TConfiguracao& c) -> bool& { return c.Execucao.ComandosEmCache; })},
        {u"pedidos-em-curso", false, u"um n\u00FAmero inteiro de 1 a 256",
         u"pedidos que cada conex\u00E3o escreve antes de ler as respostas (padr\u00E3o 256; 1: "
         u"pedido e resposta alternam, como nas vers\u00F5es anteriores)",
         Numero([](TConfiguracao& c) -> std::optional<int>& { return c.PedidosEmCurso; }, 1,
                kMaxPedidosEmCurso)},
        {u"buffer-kb", false, u"um n\u00FAmero inteiro de 1 a 16384",
         u"BufferKBSize da conex\u00E3o: tamanho de cada bloco em KB (padr\u00E3o 2048; 32 no "
         u"modo conservador, o que os servidores assumem)",
         Numero([](TConfiguracao& c) -> std::optional<int>& { return c.BufferKB; }, 1,
                kMaxBufferKB)},
        {u"tempo-conexao", false, u"segundos, 0 (sem limite) ou de 0.001 a 86400",
         u"espera m\u00E1xima pela conex\u00E3o e pelo login (padr\u00E3o: 30 sem janela, sem "
         u"limite na janela)",
         Tempo(&TConfiguracao::TempoConexaoMs)},
        {u"tempo-leitura", false, u"segundos, 0 (sem limite) ou de 0.001 a 86400",
         u"espera m\u00E1xima por cada resposta do servidor (padr\u00E3o: 120 sem janela, sem "
         u"limite na janela)",
         Tempo(&TConfiguracao::TempoLeituraMs)},
        {u"sem-janela", true, u"sim ou nao",
         u"publica sem janela e sem tela, com progresso no terminal (padr\u00E3o nao)",
         SimNao([](TConfiguracao& c) -> bool& { return c.SemJanela; })},
        {u"simular", true, u"sim ou nao",
         u"s\u00F3 consulta o servidor e lista o que seria enviado ou removido (padr\u00E3o nao)",
         SimNao([](TConfiguracao& c) -> bool& { return c.Execucao.Simular; })},
        {u"continuar-em-falha", true, u"sim ou nao",
         u"sem janela, segue para o pr\u00F3ximo arquivo quando um envio falha (padr\u00E3o nao: "
         u"para, como responder N\u00E3o)",
         SimNao([](TConfiguracao& c) -> bool& { return c.ContinuarEmFalha; })},
        {u"json", true, u"sim ou nao",
         u"sem janela, um objeto JSON por linha para cada evento (padr\u00E3o nao)",
         SimNao([](TConfiguracao& c) -> bool& { return c.Json; })},
        {u"pasta", false, u"uma pasta",
         u"publica a pasta VALOR (relativa \u00E0 pasta atual) em vez da pasta onde o programa "
         u"est\u00E1, como um programa instalado precisa",
         [](TConfiguracao& c, std::u16string_view v) {
             c.Pasta = v;
             return !v.empty();
         }},
        {u"excluir", false, u"um padr\u00E3o",
         u"deixa de fora o que o padr\u00E3o VALOR indica (pode se repetir): *.pdb em qualquer "
         u"pasta, /Rel/*.tmp a partir da pasta publicada, .git/ s\u00F3 pastas, ** entre pastas",
         Excluir},
        {u"excluir-de", false, u"um arquivo",
         u"deixa de fora os padr\u00F5es do arquivo VALOR, um por linha (# come\u00E7a um "
         u"coment\u00E1rio)",
         ExcluirDe},
        {u"historico", true, u"sim ou nao",
         u"grava cada execu\u00E7\u00E3o em uma linha do hist\u00F3rico (padr\u00E3o sim; "
         u"AtualizadorBrevant --historico mostra as \u00FAltimas)",
         SimNao([](TConfiguracao& c) -> bool& { return c.Historico; })},
        {u"registro", false, u"um arquivo",
         u"grava o hist\u00F3rico no arquivo VALOR (relativo \u00E0 pasta atual) em vez de "
         u"historico.jsonl na pasta de estado",
         [](TConfiguracao& c, std::u16string_view v) {
             c.Registro = v;
             return !v.empty();
         }},
        {u"limite-banda", false, u"KB/s, 0 (sem limite) ou um n\u00FAmero inteiro de 1 a 10000000",
         u"no m\u00E1ximo VALOR KB (de 1000 bytes) por segundo enviados ao servidor, somadas "
         u"todas as conex\u00F5es (padr\u00E3o 0: sem limite)",
         Numero([](TConfiguracao& c) -> int& { return c.Execucao.LimiteBandaKB; }, 0,
                kMaxLimiteBandaKB)},
    };
    return chaves;
}

const TChave* Procurar(std::u16string_view nome) {
    for (const TChave& chave : Chaves()) {
        if (chave.Nome == nome)
            return &chave;
    }
    return nullptr;
}

[[noreturn]] void Falhar(const std::u16string& onde, std::u16string_view texto) {
    throw EConfiguracao(u"Configura\u00E7\u00E3o inv\u00E1lida em " + onde + u": " +
                        std::u16string(texto));
}

void Aplicar(TConfiguracao& c, const std::u16string& onde, std::u16string_view nome,
             std::u16string_view valor) {
    const TChave* chave = Procurar(nome);
    if (!chave)
        Falhar(onde, u"chave desconhecida \"" + std::u16string(nome) + u"\"");
    const auto recusado = [&](std::u16string_view porque) {
        Falhar(onde, std::u16string(nome) + u" = \"" + std::u16string(valor) + u"\" (" +
                         std::u16string(porque) + u")");
    };
    try {
        if (!chave->Aplicar(c, valor))
            recusado(u"esperado " + std::u16string(chave->Esperado));
    } catch (const TRecusa& recusa) {
        recusado(recusa.Motivo);
    }
}

void LerArquivo(TConfiguracao& c, const std::filesystem::path& arquivo) {
    std::error_code ec;
    if (!std::filesystem::exists(arquivo, ec))
        return;
    const std::u16string nomeArquivo = u"\"" + FromUtf8(arquivo.string()) + u"\"";
    std::ifstream in(arquivo, std::ios::binary);
    if (!in)
        Falhar(nomeArquivo, u"o arquivo n\u00E3o p\u00F4de ser lido");
    std::string linha;
    int numero = 0;
    while (std::getline(in, linha)) {
        ++numero;
        const std::u16string texto = TextoDaLinha(linha, numero == 1);
        if (texto.empty() || texto.front() == u'#' || texto.front() == u';' ||
            texto.front() == u'[')
            continue;
        const std::u16string onde = nomeArquivo + u", linha " + IntToStr(numero);
        const auto par = ChaveEValor(texto);
        if (!par)
            Falhar(onde, u"\"" + texto + u"\" (esperado chave = valor)");
        Aplicar(c, onde, par->first, par->second);
    }
}

void LerOpcoes(TConfiguracao& c, const std::vector<std::u16string>& opcoes) {
    for (std::size_t i = 0; i < opcoes.size(); ++i) {
        const std::u16string& opcao = opcoes[i];
        const std::u16string onde = u"op\u00E7\u00E3o \"" + opcao + u"\"";
        if (!opcao.starts_with(u"--") || opcao.size() == 2)
            Falhar(u"argumento \"" + opcao + u"\"",
                   u"depois dos seis argumentos s\u00F3 v\u00EAm op\u00E7\u00F5es --chave");
        std::u16string_view nome = std::u16string_view(opcao).substr(2);
        const auto igual = nome.find(u'=');
        if (igual != std::u16string_view::npos) {
            Aplicar(c, onde, nome.substr(0, igual), nome.substr(igual + 1));
            continue;
        }
        const TChave* chave = Procurar(nome);
        if (chave && chave->SimNao) {
            // "--json nao" as well as "--json": a following yes/no word is the value; anything
            // else after it is an option or a stray argument of its own.
            if (i + 1 < opcoes.size() && SimOuNao(opcoes[i + 1])) {
                Aplicar(c, onde, nome, opcoes[++i]);
                continue;
            }
            Aplicar(c, onde, nome, u"sim");
            continue;
        }
        if (chave && i + 1 >= opcoes.size())
            Falhar(onde, u"falta o valor (esperado " + std::u16string(chave->Esperado) + u")");
        Aplicar(c, onde, nome, chave ? std::u16string_view(opcoes[++i]) : u"");
    }
}

}  // namespace

std::optional<bool> SimOuNao(std::u16string_view valor) {
    const std::u16string v = AsciiUpper(valor);
    if (v == u"SIM" || v == u"1")
        return true;
    if (v == u"NAO" || v == u"N\u00C3O" || v == u"N\u00E3O" || v == u"0")
        return false;
    return std::nullopt;
}

TOpcoesExecucao TConfiguracao::OpcoesDaExecucao(std::shared_ptr<TMemoriaDosServidores> memoria,
                                                std::shared_ptr<THistorico> historico) const {
    TOpcoesExecucao o = Execucao;
    o.Historico = std::move(historico);
    o.TempoConexaoMs = TempoConexaoMs.value_or(SemJanela ? 30'000 : 0);
    o.TempoLeituraMs = TempoLeituraMs.value_or(SemJanela ? 120'000 : 0);
    // A value given wins in either mode; the conservative one only changes the defaults and
    // writes nothing ahead.
    const TOpcoesExecucao plano;
    o.Conexoes = Conexoes.value_or(Conservador ? plano.Conexoes : 0);
    o.PedidosEmCurso =
        PedidosEmCurso.value_or(Conservador ? plano.PedidosEmCurso : kPadraoPedidosEmCurso);
    o.BufferKB = BufferKB.value_or(Conservador ? plano.BufferKB : kPadraoBufferKB);
    o.Adiante = !Conservador;
    o.PedidosFixos = PedidosEmCurso.has_value();
    o.BufferFixo = BufferKB.has_value();
    if (!Conservador)
        o.Memoria = std::move(memoria);
    return o;
}

std::filesystem::path ArquivoDeConfiguracao() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && home[0] != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = ".config";
    }
    return base / "atualizador-brevant" / "atualizador.ini";
}

TConfiguracao LerConfiguracao(const std::filesystem::path& arquivo,
                              const std::vector<std::u16string>& opcoes) {
    TConfiguracao c;
    LerArquivo(c, arquivo);
    LerOpcoes(c, opcoes);
    return c;
}

std::u16string DescricaoDasChaves() {
    std::u16string texto;
    for (const TChave& chave : Chaves()) {
        texto += u"  --" + std::u16string(chave.Nome) + (chave.SimNao ? u" [sim|nao]" : u" VALOR") +
                 u"\n      " + std::u16string(chave.Descricao) + u"\n";
    }
    return texto;
}

bool PedeSemJanela(const std::filesystem::path& arquivo,
                   const std::vector<std::u16string>& opcoes) {
    bool sim = false;
    if (std::ifstream in(arquivo, std::ios::binary); in) {
        std::string linha;
        for (bool primeira = true; std::getline(in, linha); primeira = false) {
            const auto par = ChaveEValor(TextoDaLinha(linha, primeira));
            if (par && par->first == u"sem-janela")
                sim = SimOuNao(par->second).value_or(sim);
        }
    }
    for (std::size_t i = 0; i < opcoes.size(); ++i) {
        const std::u16string& opcao = opcoes[i];
        if (opcao == u"--sem-janela")
            sim = i + 1 >= opcoes.size() || SimOuNao(opcoes[i + 1]).value_or(true);
        else if (opcao.starts_with(u"--sem-janela="))
            sim = SimOuNao(std::u16string_view(opcao).substr(13)).value_or(sim);
    }
    return sim;
}

}  // namespace ab
