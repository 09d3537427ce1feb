// The run's front end without a window: it answers what the run asks from the arguments and the
// settings, and writes the run's events to a terminal, a log or a pipeline.
//
// Three forms of output on `out`:
// - Progresso (a terminal): a first line naming the folder published and the server, then one
//   line redrawn in place (files done of total, bytes, rate, time left), failed files printed
//   above it, then the summary line;
// - Linhas (a file or a pipe): the same first line, then one line per file,
//   "acao<TAB>destino<TAB>tamanho", with acao one of enviado, atual, removido, falhou (enviaria,
//   removeria in a dry run), ignorado and excluido with a fourth field (the reason; the pattern
//   that left the entry out), then the summary line; a terminal lists the entries left out only
//   in a dry run;
// - Json: one JSON object per line per event (inicio, with the folder, veredito, progresso,
//   arquivo, mensagem, erro, resumo).
// Boxes the window would show go to `err` (and are events in Json).
//
// "Continuar?" is answered from the setting continuar-em-falha. A close asked for from outside
// (the first SIGINT or SIGTERM) makes the run stop after the file in hand.
//
// Every call holds mutex_ while it writes: the run's connections report their files from their
// threads while one of them is asked "Continuar?".
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "app/IMainView.h"
#include "app/TProgresso.h"

namespace ab {

class TTerminalView : public IMainView {
  public:
    enum class Formato { Progresso, Linhas, Json };
    using TRelogio = std::function<std::chrono::steady_clock::time_point()>;

    // `pasta` is the folder the run publishes.
    TTerminalView(std::FILE* out, std::FILE* err, Formato formato, std::u16string endereco,
                  int porta, std::u16string pasta, bool continuarEmFalha, TRelogio relogio = {});

    // Before the run: the line naming the folder and the server (not in Json, whose inicio event
    // names them), so nobody publishes the wrong folder unawares.
    void Anunciar(bool simulacao);

    // Thread-safe: the run stops after the file in hand.
    void PedirFechamento() { fechar_ = true; }

    std::u16string EnderecoText() override { return endereco_; }
    int PortaPosition() override { return porta_; }
    int AddRow(const std::u16string& text, int icon) override {
        std::lock_guard lock(mutex_);
        return linhas_++;
    }
    void SetRowIcon(int, int) override {}
    void ScrollToRow(int) override {}
    void ClearRows() override {}
    void ProcessEvents() override {}
    void ShowWarning(const std::u16string& text) override;
    bool AskWarningYesNo(const std::u16string& text) override;
    void ShowError(const std::u16string& text) override;
    void ShowMessage(const std::u16string& text) override;
    void SetAtualizarEnabled(bool) override {}
    void ShowPage(Page) override {}
    void CloseWindow() override {}
    bool CloseRequested() override { return fechar_; }

    void RunStarted(int arquivos, std::uint64_t bytes) override;
    void FileVerdict(const TArquivoEvento& arquivo, TVeredito veredito) override;
    void FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) override;
    void FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) override;
    void ConnectionDropped(int conexao, const std::u16string& motivo) override;
    void Aviso(const std::u16string& texto) override;
    void RunEnded(const TResumo& resumo) override;

    // An error that escaped the run, as the window's box would show it.
    void ErroFatal(const std::u16string& texto);

  private:
    void Caixa(const char* tipo, const std::u16string& texto);
    void DesenharProgresso(bool forcar);
    void ApagarProgresso();
    // Flushes the output when the last flush is a tenth of a second old.
    void Despejar();

    std::mutex mutex_;
    std::FILE* out_;
    std::FILE* err_;
    Formato formato_;
    std::u16string endereco_;
    int porta_;
    std::u16string pasta_;  // without its trailing '/'
    bool simulacao_ = false;
    bool continuarEmFalha_;
    TRelogio relogio_;
    TProgresso progresso_;
    std::atomic<bool> fechar_{false};
    int linhas_ = 0;
    bool linhaDeProgresso_ = false;  // a progress line is on screen
    std::chrono::steady_clock::time_point ultimoDesenho_{};
    std::chrono::steady_clock::time_point ultimoDespejo_{};
};

}  // namespace ab
