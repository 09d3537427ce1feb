// The history of publications: its lines, the file they are appended to, and reading it back.
#include "app/Historico.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <thread>

#include "app/MemoriaDosServidores.h"
#include "app/PastaPublicada.h"
#include "app/TConfiguracao.h"
#include "platform/Exception.h"
#include "platform/Text.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

// The failed files' names stop here (the rest is counted), so that a line stays one small write
// however many files failed.
constexpr std::size_t kMaxNomesFalhados = 64 * 1024;
// An error's text is the server's or the system's; a few lines are all a reader needs.
constexpr std::size_t kMaxErro = 4096;
// Reading back: blocks from the end, and the longest stretch without a line break read.
constexpr std::size_t kBlocoLido = 64 * 1024;
constexpr std::size_t kMaxLinhaLida = 1024 * 1024;
// Another program holding the file's lock gets this long, then the line is written without it:
// the lock only keeps two programs from renaming the file twice.
constexpr auto kEsperaDaTrava = 1s;
constexpr int kTentativas = 3;

std::string InstanteIso(std::chrono::system_clock::time_point t) {
    const auto segundos = std::chrono::floor<std::chrono::seconds>(t);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - segundos).count();
    const std::time_t s = std::chrono::system_clock::to_time_t(segundos);
    std::tm tm{};
    gmtime_r(&s, &tm);
    char texto[40];
    const std::size_t n = std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(texto + n, sizeof texto - n, ".%03dZ", static_cast<int>(ms));
    return texto;
}

const char* Logico(bool b) {
    return b ? "true" : "false";
}

const char* ComoTerminou(TResumo::TFim f) {
    switch (f) {
        case TResumo::TFim::Concluida:
            return "concluida";
        case TResumo::TFim::Recusada:
            return "recusada";
        case TResumo::TFim::ServidorInvalido:
            return "servidor-invalido";
        case TResumo::TFim::Interrompida:
            return "interrompida";
        case TResumo::TFim::Erro:
            return "erro";
    }
    return "";
}

// The exclusion patterns in effect, as given.
std::string Excluir(const TOpcoesExecucao& o) {
    std::string lista = "[";
    for (const std::u16string& padrao : o.Exclusoes.Textos())
        lista += (lista.size() > 1 ? "," : "") + JsonString(padrao);
    return lista + "]";
}

std::string Configuracao(const TExecucaoRegistrada& e) {
    const TOpcoesExecucao& o = e.Opcoes;
    return "{\"conexoes\":" + std::to_string(o.Conexoes) +
           ",\"pedidos_em_curso\":" + std::to_string(o.PedidosEmCurso) +
           ",\"buffer_kb\":" + std::to_string(o.BufferKB) +
           ",\"tempo_conexao_ms\":" + std::to_string(o.TempoConexaoMs) +
           ",\"tempo_leitura_ms\":" + std::to_string(o.TempoLeituraMs) +
           ",\"comandos_em_cache\":" + Logico(o.ComandosEmCache) +
           ",\"adiante\":" + Logico(o.Adiante) + ",\"conservador\":" + Logico(e.Conservador) +
           ",\"pedidos_fixos\":" + Logico(o.PedidosFixos) +
           ",\"buffer_fixo\":" + Logico(o.BufferFixo) + ",\"excluir\":" + Excluir(o) +
           ",\"limite_banda_kb\":" + std::to_string(o.LimiteBandaKB) + "}";
}

// The failed files' names, as many as fit; how many were left out goes in `omitidos`.
std::string Falhados(const std::vector<std::u16string>& nomes, std::size_t& omitidos) {
    std::string lista = "[";
    std::size_t i = 0;
    for (; i < nomes.size(); ++i) {
        const std::string nome = JsonString(nomes[i]);
        if (lista.size() + nome.size() > kMaxNomesFalhados)
            break;
        lista += (i ? "," : "") + nome;
    }
    omitidos = nomes.size() - i;
    return lista + "]";
}

std::u16string Cortado(std::u16string texto) {
    if (texto.size() > kMaxErro) {
        texto.resize(kMaxErro);
        // Half a surrogate pair is no character.
        if (texto.back() >= 0xD800 && texto.back() <= 0xDBFF)
            texto.pop_back();
        texto += u"\u2026";
    }
    return texto;
}

[[noreturn]] void Falha(const std::filesystem::path& arquivo, std::u16string_view motivo) {
    throw Exception(u"N\u00E3o foi poss\u00EDvel gravar o hist\u00F3rico \"" +
                    ReadableName(FromFileName(arquivo.native())) + u"\": " +
                    std::u16string(motivo));
}

[[noreturn]] void FalhaDoSistema(const std::filesystem::path& arquivo, int erro) {
    Falha(arquivo, FromUtf8(std::strerror(erro)));
}

// A descriptor closed however the writing leaves.
struct TDescritor {
    explicit TDescritor(int d) : fd(d) {}
    ~TDescritor() {
        if (fd >= 0)
            ::close(fd);
    }
    TDescritor(const TDescritor&) = delete;
    TDescritor& operator=(const TDescritor&) = delete;
    int fd;
};

// The file's lock, waited for at most kEsperaDaTrava.
bool Travar(int fd) {
    const auto limite = std::chrono::steady_clock::now() + kEsperaDaTrava;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > limite)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

bool MesmoArquivo(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Calls `linha` with each line of the open file `fd` from the last to the first, until it
// returns false, reading blocks from the end: only as much as the lines taken need. Stops at a
// stretch of more than kMaxLinhaLida bytes without a line break.
void LinhasDoFim(int fd, const std::function<bool(std::string_view)>& linha) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return;
    auto posicao = static_cast<std::uint64_t>(info.st_size);
    // The bytes read so far that follow `posicao` and precede the lines already given.
    std::string resto;
    std::string bloco;
    while (true) {
        for (std::size_t quebra; (quebra = resto.rfind('\n')) != std::string::npos;) {
            const std::string_view ultima = std::string_view(resto).substr(quebra + 1);
            if (!ultima.empty() && !linha(ultima))
                return;
            resto.resize(quebra);
        }
        if (posicao == 0) {
            if (!resto.empty())
                linha(resto);
            return;
        }
        if (resto.size() > kMaxLinhaLida)
            return;
        const std::size_t tamanho =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlocoLido, posicao));
        posicao -= tamanho;
        bloco.resize(tamanho);
        std::size_t lido = 0;
        while (lido < tamanho) {
            const ssize_t n = ::pread(fd, bloco.data() + lido, tamanho - lido,
                                      static_cast<off_t>(posicao + lido));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;  // shorter than it was, or unreadable: what was given stands
            lido += static_cast<std::size_t>(n);
        }
        resto.insert(0, bloco);
    }
}

// Runs of the file, newest first, into `execucoes` until it holds `n`.
void LerDoFim(const std::filesystem::path& arquivo, std::size_t n,
              std::vector<TJSONValue>& execucoes) {
    const int fd = ::open(arquivo.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return;
    const TDescritor descritor(fd);
    LinhasDoFim(fd, [&](std::string_view linha) {
        auto valor = TJSONValue::Parse(
            std::span(reinterpret_cast<const std::uint8_t*>(linha.data()), linha.size()));
        if (valor && valor->IsObject() && valor->Get(u"inicio"))
            execucoes.push_back(std::move(*valor));
        return execucoes.size() < n;
    });
}

}  // namespace

std::string LinhaDoHistorico(const TExecucaoRegistrada& e) {
    const TResumo& r = e.Resumo;
    std::size_t omitidos = 0;
    const std::string falhados = Falhados(r.Falhados, omitidos);
    std::u16string_view pasta = e.Pasta;
    if (pasta.size() > 1 && pasta.ends_with(u'/'))
        pasta.remove_suffix(1);
    return "{\"inicio\":\"" + InstanteIso(e.Inicio) + "\",\"termino\":\"" + InstanteIso(e.Termino) +
           "\",\"versao\":\"" AB_VERSION "\",\"pasta\":" + JsonString(pasta) +
           ",\"servidor\":" + JsonString(e.Endereco) + ",\"porta\":" + std::to_string(e.Porta) +
           ",\"tipo_servidor\":\"" +
           (e.ServidorPai ? (*e.ServidorPai ? "pai" : "cliente") : "desconhecido") +
           "\",\"simulacao\":" + Logico(r.Simulada) + ",\"configuracao\":" + Configuracao(e) +
           ",\"fim\":\"" + ComoTerminou(r.Fim) + "\",\"arquivos\":" + std::to_string(r.Arquivos) +
           ",\"verificados\":" + std::to_string(r.Verificados) +
           ",\"enviados\":" + std::to_string(r.Enviados) +
           ",\"atuais\":" + std::to_string(r.Atuais) +
           ",\"removidos\":" + std::to_string(r.Removidos) +
           ",\"falhas\":" + std::to_string(r.Falhas) +
           ",\"ignorados\":" + std::to_string(r.Ignorados) +
           ",\"excluidos\":" + std::to_string(r.Excluidos) +
           ",\"enviaria\":" + std::to_string(r.Enviaria) +
           ",\"removeria\":" + std::to_string(r.Removeria) +
           ",\"bytes\":" + std::to_string(static_cast<long long>(r.BytesEnviados)) +
           ",\"falhados\":" + falhados +
           (omitidos ? ",\"falhados_omitidos\":" + std::to_string(static_cast<long long>(omitidos))
                     : "") +
           ",\"parada_depois_de_falha\":" + Logico(r.ParadaPeloUsuario) +
           (r.Erro.empty() ? "" : ",\"erro\":" + JsonString(Cortado(r.Erro))) +
           ",\"codigo_saida\":" + std::to_string(r.CodigoSaida()) + "}\n";
}

THistorico::THistorico(std::filesystem::path arquivo, std::uint64_t limite)
    : arquivo_(std::move(arquivo)), limite_(limite) {}

void THistorico::Acrescentar(std::string_view linha) const {
    std::error_code ec;
    std::filesystem::create_directories(arquivo_.parent_path(), ec);
    // The file is opened again when another program renamed it meanwhile, or after this one did.
    for (int tentativa = 1;; ++tentativa) {
        // Read too, for the last byte (a file only writable is still written). O_NONBLOCK: a FIFO
        // in its place is refused at once rather than waited on.
        constexpr int kModo = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
        int fd = ::open(arquivo_.c_str(), O_RDWR | kModo, 0644);
        if (fd < 0 && errno == EACCES)
            fd = ::open(arquivo_.c_str(), O_WRONLY | kModo, 0644);
        const TDescritor d(fd);
        if (d.fd < 0)
            FalhaDoSistema(arquivo_, errno);
        struct stat aberto {};
        if (::fstat(d.fd, &aberto) != 0)
            FalhaDoSistema(arquivo_, errno);
        if (!S_ISREG(aberto.st_mode))
            Falha(arquivo_, u"n\u00E3o \u00E9 um arquivo comum");
        Travar(d.fd);
        struct stat nome {};
        const bool renomeado = ::stat(arquivo_.c_str(), &nome) != 0 || !MesmoArquivo(nome, aberto);
        if (renomeado && tentativa < kTentativas)
            continue;
        if (::fstat(d.fd, &aberto) != 0)
            FalhaDoSistema(arquivo_, errno);
        const auto tamanho = static_cast<std::uint64_t>(aberto.st_size);
        int erroAoRenomear = 0;
        if (tamanho > 0 && tamanho + linha.size() + 1 > limite_ && tentativa < kTentativas) {
            if (::rename(arquivo_.c_str(), HistoricoAnterior(arquivo_).c_str()) == 0)
                continue;
            erroAoRenomear = errno;  // the line still goes in; the user hears why it grows
        }
        std::string texto;
        char ultimo = '\n';
        if (tamanho > 0 && ::pread(d.fd, &ultimo, 1, static_cast<off_t>(tamanho - 1)) == 1 &&
            ultimo != '\n')
            texto = "\n";
        texto += linha;
        ssize_t n;
        do {
            n = ::write(d.fd, texto.data(), texto.size());
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            FalhaDoSistema(arquivo_, errno);
        if (static_cast<std::size_t>(n) < texto.size()) {
            // Full: what went in is closed off, so the next line stays a line of its own.
            [[maybe_unused]] const ssize_t quebra = ::write(d.fd, "\n", 1);
            Falha(arquivo_, u"s\u00F3 parte da linha p\u00F4de ser gravada");
        }
        if (erroAoRenomear != 0)
            Falha(HistoricoAnterior(arquivo_),
                  FromUtf8(std::strerror(erroAoRenomear)) + u" (o hist\u00F3rico segue crescendo)");
        return;
    }
}

std::filesystem::path HistoricoAnterior(const std::filesystem::path& arquivo) {
    return arquivo.native() + ".1";
}

std::filesystem::path ArquivoDoHistorico(const TConfiguracao& configuracao) {
    if (configuracao.Registro.empty())
        return PastaDeEstado() / "historico.jsonl";
    std::u16string registro = configuracao.Registro;
    if (registro == u"~" || registro.starts_with(u"~/"))
        registro = PastaPessoal() + registro.substr(1);
    std::error_code ec;
    const std::filesystem::path caminho(ToFileName(registro));
    const std::filesystem::path absoluto = std::filesystem::absolute(caminho, ec);
    return ec ? caminho : absoluto;
}

std::shared_ptr<THistorico> HistoricoDaConfiguracao(const TConfiguracao& configuracao) {
    if (!configuracao.Historico)
        return nullptr;
    return std::make_shared<THistorico>(ArquivoDoHistorico(configuracao));
}

std::vector<TJSONValue> UltimasExecucoes(const std::filesystem::path& arquivo, std::size_t n) {
    std::vector<TJSONValue> execucoes;
    if (n == 0)
        return execucoes;
    LerDoFim(arquivo, n, execucoes);
    if (execucoes.size() < n)
        LerDoFim(HistoricoAnterior(arquivo), n, execucoes);
    std::reverse(execucoes.begin(), execucoes.end());
    return execucoes;
}

}  // namespace ab
