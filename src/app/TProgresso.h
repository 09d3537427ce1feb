// What a progress display shows during a run, fed by the run's events: files done of total, bytes
// sent, the rate and the time left, and the one-line Portuguese text of it all. Shared by the
// window's label and the terminal's progress line. Not thread-safe: one front end feeds it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "app/IMainView.h"

namespace ab {

class TProgresso {
  public:
    using TRelogio = std::function<std::chrono::steady_clock::time_point()>;

    explicit TProgresso(TRelogio relogio = {});

    void Iniciar(int arquivos, std::uint64_t bytes);                      // RunStarted
    void Avancar(const TArquivoEvento& arquivo, std::uint64_t enviados);  // FileProgress
    void Concluir(const TArquivoEvento& arquivo, TDesfecho desfecho);     // FileDone

    int Feitos() const { return feitos_; }
    int Total() const { return total_; }
    // Content bytes gone to the server: files sent plus what is on its way.
    std::uint64_t BytesEnviados() const;
    double Segundos() const;
    // Bytes sent per second since the start.
    double Taxa() const;
    // Estimated from the share of files and of bytes already handled; nothing before any.
    std::optional<double> SegundosRestantes() const;

    // "120 de 10.000 arquivos · 3,2 MB enviados · 1,1 MB/s · faltam 0:42".
    std::u16string Texto() const;

    // 1.234.567 (thousands with dots), 3,2 MB (1024-based, one decimal), 1:02:03 / 0:42.
    static std::u16string Numero(std::uint64_t n);
    static std::u16string Bytes(double bytes);
    static std::u16string Duracao(double segundos);

  private:
    TRelogio relogio_;
    std::chrono::steady_clock::time_point inicio_{};
    int total_ = 0;
    std::uint64_t bytesTotal_ = 0;
    int feitos_ = 0;
    std::uint64_t bytesFeitos_ = 0;                   // sizes of the files done, sent or not
    std::uint64_t bytesEnviados_ = 0;                 // sizes of the files sent
    std::unordered_map<int, std::uint64_t> emCurso_;  // row -> bytes on their way
};

}  // namespace ab
