// Progress arithmetic and its text.
#include "app/TProgresso.h"

#include <cmath>

#include "platform/Text.h"

namespace ab {

TProgresso::TProgresso(TRelogio relogio) : relogio_(std::move(relogio)) {
    if (!relogio_)
        relogio_ = [] { return std::chrono::steady_clock::now(); };
    inicio_ = relogio_();
}

void TProgresso::Iniciar(int arquivos, std::uint64_t bytes) {
    *this = TProgresso(relogio_);
    total_ = arquivos;
    bytesTotal_ = bytes;
}

void TProgresso::Avancar(const TArquivoEvento& arquivo, std::uint64_t enviados) {
    emCurso_[arquivo.Row] = enviados;
}

void TProgresso::Concluir(const TArquivoEvento& arquivo, TDesfecho desfecho) {
    emCurso_.erase(arquivo.Row);
    ++feitos_;
    bytesFeitos_ += arquivo.Tamanho;
    if (desfecho == TDesfecho::Enviado)
        bytesEnviados_ += arquivo.Tamanho;
}

std::uint64_t TProgresso::BytesEnviados() const {
    std::uint64_t n = bytesEnviados_;
    for (const auto& [row, bytes] : emCurso_)
        n += bytes;
    return n;
}

double TProgresso::Segundos() const {
    return std::chrono::duration<double>(relogio_() - inicio_).count();
}

double TProgresso::Taxa() const {
    const double s = Segundos();
    return s > 0 ? static_cast<double>(BytesEnviados()) / s : 0;
}

std::optional<double> TProgresso::SegundosRestantes() const {
    if (total_ <= 0)
        return std::nullopt;
    std::uint64_t bytesEmCurso = 0;
    for (const auto& [row, bytes] : emCurso_)
        bytesEmCurso += bytes;
    // Files and bytes weigh alike: many small files are paced by round trips, big ones by bytes.
    const double arquivos = static_cast<double>(feitos_) / total_;
    const double fracao =
        bytesTotal_ == 0 ? arquivos
                         : 0.5 * arquivos + 0.5 * static_cast<double>(bytesFeitos_ + bytesEmCurso) /
                                                static_cast<double>(bytesTotal_);
    if (fracao <= 0)
        return std::nullopt;
    return Segundos() * (1 - std::min(fracao, 1.0)) / fracao;
}

std::u16string TProgresso::Numero(std::uint64_t n) {
    std::u16string digitos = IntToStr(static_cast<long long>(n));
    for (int i = static_cast<int>(digitos.size()) - 3; i > 0; i -= 3)
        digitos.insert(static_cast<std::size_t>(i), 1, u'.');
    return digitos;
}

std::u16string TProgresso::Bytes(double bytes) {
    static constexpr const char16_t* kUnidades[] = {u"B", u"KB", u"MB", u"GB", u"TB"};
    int u = 0;
    while (bytes >= 1024 && u < 4) {
        bytes /= 1024;
        ++u;
    }
    if (u == 0)
        return IntToStr(static_cast<long long>(bytes)) + u" B";
    const long long decimos = std::llround(bytes * 10);
    return IntToStr(decimos / 10) + u"," + IntToStr(decimos % 10) + u" " + kUnidades[u];
}

std::u16string TProgresso::Duracao(double segundos) {
    const long long total = std::llround(std::max(0.0, segundos));
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    auto dois = [](long long v) { return (v < 10 ? u"0" : u"") + IntToStr(v); };
    return (h > 0 ? IntToStr(h) + u":" + dois(m) : IntToStr(m)) + u":" + dois(s);
}

std::u16string TProgresso::Texto() const {
    std::u16string texto = Numero(static_cast<std::uint64_t>(feitos_)) + u" de " +
                           Numero(static_cast<std::uint64_t>(total_)) + u" arquivos \u00B7 " +
                           Bytes(static_cast<double>(BytesEnviados())) + u" enviados \u00B7 " +
                           Bytes(Taxa()) + u"/s";
    const auto restante = SegundosRestantes();
    texto += u" \u00B7 faltam " + (restante ? Duracao(*restante) : std::u16string(u"--:--"));
    return texto;
}

}  // namespace ab
