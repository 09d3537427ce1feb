// TProgresso: where a run stands, from its progress events (start, bytes on their way, files
// done), for any front end: files done of total, bytes sent, the rate, the time left, a file's
// percent while it travels, and a one-line Portuguese text such as
// "120 de 10.000 arquivos · 3,2 MB enviados · 1,1 MB/s · faltam 0:42", with "· 3 excluídos" once
// entries the user left out were reached.
//
// Rate and time left are averages since the run started. The time left is the larger of two
// projections, by files and by bytes: many small files are slow per file, a few large ones per
// byte, and the smaller projection would promise too much in either case. Neither is shown before
// the run has gone on for a second.
//
// Every event costs constant time. Not thread-safe: feed it from one thread.
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
    // How long a file must have been on its way before its percent is worth showing, and how
    // long a run must have gone on before rate and time left mean anything.
    static constexpr std::chrono::seconds kMinimo{1};

    // `relogio` tells the time (the steady clock when empty).
    explicit TProgresso(TRelogio relogio = {});

    void RunStarted(int arquivos, std::uint64_t bytes);
    void FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados);
    void FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho);

    int Feitos() const { return feitos_; }
    int Excluidos() const { return excluidos_; }
    int Total() const { return total_; }
    // Content gone to the server: files sent whole, plus what the files in hand sent so far.
    std::uint64_t BytesEnviados() const { return bytesEnviados_ + emTransito_; }
    // Bytes per second since the start; nothing before a second went by or a byte left.
    std::optional<double> Taxa() const;
    // Nothing before a second went by or anything was done; zero once every file is done.
    std::optional<std::chrono::seconds> Restante() const;
    // Percent of the file on `row` once it has been on its way for kMinimo; nothing otherwise.
    std::optional<int> Percentual(int row) const;

    std::u16string Texto() const;

    // Portuguese number forms: "10.000", "3,2 MB", "512 bytes", "0:42", "1:02:03".
    static std::u16string Inteiro(std::uint64_t n);
    static std::u16string Tamanho(std::uint64_t bytes);
    static std::u16string Duracao(std::chrono::seconds s);

  private:
    struct TEmTransito {
        std::uint64_t Enviados = 0;
        std::uint64_t Tamanho = 0;
        std::chrono::steady_clock::time_point Inicio;
    };

    std::chrono::duration<double> Decorrido() const;

    TRelogio relogio_;
    std::chrono::steady_clock::time_point inicio_;
    int total_ = 0;
    int feitos_ = 0;
    std::uint64_t bytesTotal_ = 0;
    std::uint64_t bytesFeitos_ = 0;    // sizes of the files done, whatever became of them
    std::uint64_t bytesEnviados_ = 0;  // sizes of the files sent whole
    std::uint64_t emTransito_ = 0;     // sum of the files in hand's bytes sent so far
    int excluidos_ = 0;
    std::unordered_map<int, TEmTransito> arquivos_;  // files in hand by row
};

}  // namespace ab
