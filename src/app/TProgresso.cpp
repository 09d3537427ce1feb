// Where a run stands, and its Portuguese one-line text.
#include "app/TProgresso.h"

#include <algorithm>
#include <cmath>

namespace ab {
namespace {

constexpr std::u16string_view kSeparador = u" \u00B7 ";

std::u16string Digitos(std::uint64_t n) {
    std::u16string s;
    do {
        s.insert(s.begin(), static_cast<char16_t>(u'0' + n % 10));
        n /= 10;
    } while (n > 0);
    return s;
}

std::u16string DoisDigitos(std::uint64_t n) {
    return n < 10 ? u"0" + Digitos(n) : Digitos(n);
}

// One decimal below 100 ("3,2"), whole above ("512").
std::u16string Numero(double v) {
    if (v >= 100)
        return TProgresso::Inteiro(static_cast<std::uint64_t>(std::llround(v)));
    const auto decimos = static_cast<std::uint64_t>(std::llround(v * 10));
    return TProgresso::Inteiro(decimos / 10) + u"," + Digitos(decimos % 10);
}

}  // namespace

TProgresso::TProgresso(TRelogio relogio) : relogio_(std::move(relogio)) {
    if (!relogio_)
        relogio_ = [] { return std::chrono::steady_clock::now(); };
    inicio_ = relogio_();
}

void TProgresso::RunStarted(int arquivos, std::uint64_t bytes) {
    inicio_ = relogio_();
    total_ = std::max(0, arquivos);
    feitos_ = 0;
    bytesTotal_ = bytes;
    bytesFeitos_ = 0;
    bytesEnviados_ = 0;
    emTransito_ = 0;
    excluidos_ = 0;
    arquivos_.clear();
}

void TProgresso::FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) {
    auto [it, novo] = arquivos_.try_emplace(arquivo.Row);
    if (novo)
        it->second.Inicio = relogio_();
    it->second.Tamanho = arquivo.Tamanho;
    // A second attempt starts again from zero.
    emTransito_ = emTransito_ - it->second.Enviados + enviados;
    it->second.Enviados = enviados;
}

void TProgresso::FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) {
    if (const auto it = arquivos_.find(arquivo.Row); it != arquivos_.end()) {
        emTransito_ -= it->second.Enviados;
        arquivos_.erase(it);
    }
    ++feitos_;
    // An entry left out is no part of the bytes to go: its size would only shorten "faltam".
    if (desfecho == TDesfecho::Excluido)
        ++excluidos_;
    else
        bytesFeitos_ += arquivo.Tamanho;
    if (desfecho == TDesfecho::Enviado)
        bytesEnviados_ += arquivo.Tamanho;
}

std::chrono::duration<double> TProgresso::Decorrido() const {
    return relogio_() - inicio_;
}

std::optional<double> TProgresso::Taxa() const {
    const double segundos = Decorrido().count();
    if (segundos < static_cast<double>(kMinimo.count()) || BytesEnviados() == 0)
        return std::nullopt;
    return static_cast<double>(BytesEnviados()) / segundos;
}

std::optional<std::chrono::seconds> TProgresso::Restante() const {
    if (feitos_ >= total_)
        return std::chrono::seconds(0);
    const double segundos = Decorrido().count();
    const std::uint64_t processados = bytesFeitos_ + emTransito_;
    if (segundos < static_cast<double>(kMinimo.count()) || (feitos_ == 0 && processados == 0))
        return std::nullopt;
    double restante = 0;
    if (feitos_ > 0)
        restante = segundos * (total_ - feitos_) / feitos_;
    if (processados > 0 && bytesTotal_ > processados)
        restante = std::max(restante, segundos * static_cast<double>(bytesTotal_ - processados) /
                                          static_cast<double>(processados));
    return std::chrono::seconds(std::llround(restante));
}

std::optional<int> TProgresso::Percentual(int row) const {
    const auto it = arquivos_.find(row);
    if (it == arquivos_.end() || it->second.Tamanho == 0 ||
        relogio_() - it->second.Inicio < kMinimo)
        return std::nullopt;
    const std::uint64_t enviados = std::min(it->second.Enviados, it->second.Tamanho);
    return static_cast<int>(enviados * 100 / it->second.Tamanho);
}

std::u16string TProgresso::Texto() const {
    std::u16string texto = Inteiro(static_cast<std::uint64_t>(feitos_)) + u" de " +
                           Inteiro(static_cast<std::uint64_t>(total_)) +
                           (total_ == 1 ? u" arquivo" : u" arquivos");
    texto += kSeparador;
    texto += Tamanho(BytesEnviados()) + u" enviados";
    if (const auto taxa = Taxa()) {
        texto += kSeparador;
        texto += Tamanho(static_cast<std::uint64_t>(std::llround(*taxa))) + u"/s";
    }
    if (feitos_ < total_) {
        if (const auto restante = Restante()) {
            texto += kSeparador;
            texto += u"faltam " + Duracao(*restante);
        }
    }
    if (excluidos_ > 0) {
        texto += kSeparador;
        texto += Inteiro(static_cast<std::uint64_t>(excluidos_)) +
                 (excluidos_ == 1 ? u" exclu\u00EDdo" : u" exclu\u00EDdos");
    }
    return texto;
}

std::u16string TProgresso::Inteiro(std::uint64_t n) {
    std::u16string digitos = Digitos(n);
    for (auto i = static_cast<std::ptrdiff_t>(digitos.size()) - 3; i > 0; i -= 3)
        digitos.insert(static_cast<std::size_t>(i), 1, u'.');
    return digitos;
}

std::u16string TProgresso::Tamanho(std::uint64_t bytes) {
    if (bytes < 1000)
        return Digitos(bytes) + (bytes == 1 ? u" byte" : u" bytes");
    static constexpr const char16_t* kUnidades[] = {u" KB", u" MB", u" GB", u" TB"};
    double v = static_cast<double>(bytes) / 1024;
    std::size_t u = 0;
    while (v >= 1000 && u + 1 < std::size(kUnidades)) {
        v /= 1024;
        ++u;
    }
    return Numero(v) + kUnidades[u];
}

std::u16string TProgresso::Duracao(std::chrono::seconds s) {
    const auto total = static_cast<std::uint64_t>(std::max<std::int64_t>(0, s.count()));
    const std::uint64_t horas = total / 3600;
    const std::uint64_t minutos = total / 60 % 60;
    const std::uint64_t segundos = total % 60;
    if (horas > 0)
        return Digitos(horas) + u":" + DoisDigitos(minutos) + u":" + DoisDigitos(segundos);
    return Digitos(minutos) + u":" + DoisDigitos(segundos);
}

}  // namespace ab
