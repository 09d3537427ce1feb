// The servers' remembered limits.
#include "app/MemoriaDosServidores.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "platform/Text.h"

namespace ab {
namespace {

using TRelogio = std::chrono::system_clock;

constexpr std::chrono::hours kPrimeiroPrazo{24};
constexpr int kMaxVezes = 7;  // 64 days

struct TLinha {
    std::string Servidor;  // "endereco:porta", the address in lower case
    TLimite Limite;
    TRelogio::time_point Ate;
    int Vezes;
};

std::string_view NomeDoLimite(TLimite limite) {
    return limite == TLimite::UmPedidoPorVez ? "pedidos-em-curso=1" : "buffer-kb=32";
}

std::string Servidor(std::u16string_view endereco, int porta) {
    std::string texto = ToUtf8(Trim(endereco));
    std::transform(texto.begin(), texto.end(), texto.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return texto + ":" + std::to_string(porta);
}

std::string Iso(TRelogio::time_point t) {
    const std::time_t s = TRelogio::to_time_t(t);
    std::tm tm{};
    gmtime_r(&s, &tm);
    char texto[32];
    std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return texto;
}

std::optional<TRelogio::time_point> DeIso(const std::string& texto) {
    std::tm tm{};
    const char* fim = strptime(texto.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
    if (fim == nullptr || *fim != '\0')
        return std::nullopt;
    return TRelogio::from_time_t(timegm(&tm));
}

std::vector<std::string> Campos(const std::string& linha) {
    std::vector<std::string> campos;
    std::size_t inicio = 0;
    for (std::size_t tab; (tab = linha.find('\t', inicio)) != std::string::npos; inicio = tab + 1)
        campos.push_back(linha.substr(inicio, tab - inicio));
    campos.push_back(linha.substr(inicio));
    return campos;
}

std::optional<TLinha> LerLinha(const std::string& linha) {
    const std::vector<std::string> c = Campos(linha);
    if (c.size() != 4 || c[0].empty() || !c[2].starts_with("ate=") || !c[3].starts_with("vezes="))
        return std::nullopt;
    TLinha l;
    l.Servidor = c[0];
    if (c[1] == NomeDoLimite(TLimite::UmPedidoPorVez))
        l.Limite = TLimite::UmPedidoPorVez;
    else if (c[1] == NomeDoLimite(TLimite::Buffer32))
        l.Limite = TLimite::Buffer32;
    else
        return std::nullopt;
    const auto ate = DeIso(c[2].substr(4));
    if (!ate)
        return std::nullopt;
    l.Ate = *ate;
    char* fim = nullptr;
    const long vezes = std::strtol(c[3].c_str() + 6, &fim, 10);
    if (*fim != '\0' || vezes < 1 || vezes > kMaxVezes)
        return std::nullopt;
    l.Vezes = static_cast<int>(vezes);
    return l;
}

std::vector<TLinha> LerArquivo(const std::filesystem::path& arquivo) {
    std::vector<TLinha> linhas;
    std::ifstream in(arquivo, std::ios::binary);
    std::string linha;
    while (std::getline(in, linha)) {
        if (linha.empty() || linha.front() == '#')
            continue;
        if (auto l = LerLinha(linha))
            linhas.push_back(*l);
    }
    return linhas;
}

[[noreturn]] void FalhaAoGravar(const std::filesystem::path& arquivo, int erro) {
    throw Exception(u"N\u00E3o foi poss\u00EDvel gravar \"" + FromFileName(arquivo.string()) +
                    u"\": " + FromUtf8(std::strerror(erro)));
}

// The file replaced whole: a new file written, flushed and renamed over it.
void Gravar(const std::filesystem::path& arquivo, const std::string& texto) {
    std::error_code ec;
    std::filesystem::create_directories(arquivo.parent_path(), ec);
    const std::filesystem::path novo = arquivo.string() + ".novo." + std::to_string(getpid());
    const int fd = ::open(novo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        FalhaAoGravar(arquivo, errno);
    std::size_t escrito = 0;
    while (escrito < texto.size()) {
        const ssize_t n = ::write(fd, texto.data() + escrito, texto.size() - escrito);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int erro = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(novo.c_str());
            FalhaAoGravar(arquivo, erro);
        }
        escrito += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int erro = errno;
        ::unlink(novo.c_str());
        FalhaAoGravar(arquivo, erro);
    }
    if (::rename(novo.c_str(), arquivo.c_str()) != 0) {
        const int erro = errno;
        ::unlink(novo.c_str());
        FalhaAoGravar(arquivo, erro);
    }
}

}  // namespace

std::filesystem::path PastaDeEstado() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        base = std::filesystem::path(home) / ".local" / "state";
    else
        base = std::filesystem::path(".local") / "state";
    return base / "atualizador-brevant";
}

TMemoriaDosServidores::TMemoriaDosServidores(std::filesystem::path arquivo, TAgora agora)
    : arquivo_(std::move(arquivo)), agora_(std::move(agora)) {
    if (!agora_)
        agora_ = [] { return TRelogio::now(); };
}

TLimitesDoServidor TMemoriaDosServidores::Consultar(std::u16string_view endereco, int porta) const {
    TLimitesDoServidor limites;
    if (arquivo_.empty())
        return limites;
    std::lock_guard lock(mutex_);
    const std::string servidor = Servidor(endereco, porta);
    const auto agora = agora_();
    for (const TLinha& l : LerArquivo(arquivo_)) {
        if (l.Servidor != servidor || l.Ate <= agora)
            continue;
        (l.Limite == TLimite::UmPedidoPorVez ? limites.UmPedidoPorVez : limites.Buffer32) = true;
    }
    return limites;
}

std::optional<std::chrono::system_clock::time_point> TMemoriaDosServidores::Lembrar(
    std::u16string_view endereco, int porta, TLimite limite) {
    if (arquivo_.empty())
        return std::nullopt;
    std::lock_guard lock(mutex_);
    const std::string servidor = Servidor(endereco, porta);
    const auto agora = agora_();
    std::vector<TLinha> linhas = LerArquivo(arquivo_);
    const auto velha = std::find_if(linhas.begin(), linhas.end(), [&](const TLinha& l) {
        return l.Servidor == servidor && l.Limite == limite;
    });
    if (velha != linhas.end() && velha->Ate > agora)
        return velha->Ate;  // still in force: another program found it meanwhile
    const int vezes = velha == linhas.end() ? 1 : std::min(velha->Vezes + 1, kMaxVezes);
    const TLinha nova{servidor, limite,
                      std::chrono::time_point_cast<TRelogio::duration>(
                          agora + kPrimeiroPrazo * (1 << (vezes - 1))),
                      vezes};
    if (velha != linhas.end())
        *velha = nova;
    else
        linhas.push_back(nova);
    std::string texto =
        "# Servidores que n\xC3\xA3o aguentam o modo r\xC3\xA1pido (atualizador-brevant): "
        "servidor, limite, at\xC3\xA9 quando (UTC), vezes\n";
    for (const TLinha& l : linhas) {
        texto += l.Servidor + "\t" + std::string(NomeDoLimite(l.Limite)) + "\tate=" + Iso(l.Ate) +
                 "\tvezes=" + std::to_string(l.Vezes) + "\n";
    }
    Gravar(arquivo_, texto);
    return nova.Ate;
}

}  // namespace ab
