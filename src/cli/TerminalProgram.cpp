// The run without a window.
#include "cli/TerminalProgram.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "app/Arranque.h"
#include "app/ExceptionText.h"
#include "app/TAtualizador.h"
#include "cli/TTerminalView.h"
#include "packet/SendFileDataSet.h"
#include "packet/TClientDataSet.h"

namespace ab {
namespace {

// Waits for SIGINT and SIGTERM on its own thread (they are blocked everywhere else): the first asks
// the run to stop after the file in hand, the second ends its connections. A real-time signal sent
// to the thread itself ends the wait when the run is over.
class TSinais {
  public:
    TSinais(TTerminalView& view, TAtualizador& run) {
        sigemptyset(&sinais_);
        sigaddset(&sinais_, SIGINT);
        sigaddset(&sinais_, SIGTERM);
        sigaddset(&sinais_, Fim());
        pthread_sigmask(SIG_BLOCK, &sinais_, &anteriores_);
        thread_ = std::thread([this, &view, &run] {
            int recebidos = 0;
            for (;;) {
                int sinal = 0;
                if (sigwait(&sinais_, &sinal) != 0)
                    continue;
                if (sinal == Fim())
                    return;
                if (++recebidos == 1)
                    view.PedirFechamento();
                else
                    run.Abort();
            }
        });
    }
    ~TSinais() {
        pthread_kill(thread_.native_handle(), Fim());
        thread_.join();
        pthread_sigmask(SIG_SETMASK, &anteriores_, nullptr);
    }
    TSinais(const TSinais&) = delete;
    TSinais& operator=(const TSinais&) = delete;

  private:
    static int Fim() { return SIGRTMIN; }

    sigset_t sinais_{};
    sigset_t anteriores_{};
    std::thread thread_;
};

TTerminalView::Formato FormatoDe(const TConfiguracao& c) {
    if (c.Json)
        return TTerminalView::Formato::Json;
    return isatty(STDOUT_FILENO) ? TTerminalView::Formato::Progresso
                                 : TTerminalView::Formato::Linhas;
}

}  // namespace

int RunTerminalProgram(const CommandLine& argumentos, const TConfiguracao& configuracao,
                       const TestEnvironment& ambiente) {
    const auto arranque = Arrancar(argumentos, ambiente, configuracao.Pasta);
    if (const auto* recusa = std::get_if<std::u16string>(&arranque)) {
        TTerminalView view(stdout, stderr, FormatoDe(configuracao), {}, 0, {}, false);
        view.ShowError(*recusa);
        return 1;
    }
    const TArranque& a = std::get<TArranque>(arranque);
    TTerminalView view(stdout, stderr, FormatoDe(configuracao), a.Endereco, a.Porta,
                       a.Dados.ProgramFolder, configuracao.ContinuarEmFalha);
    view.Anunciar(configuracao.Execucao.Simular);
    TClientDataSet cdsSendFile{std::u16string(kSendFileDataSetName)};
    AddSendFileFields(cdsSendFile);
    cdsSendFile.CreateDataSet();
    TAtualizador atualizador(view, cdsSendFile, a.Dados, {}, nullptr,
                             configuracao.OpcoesDaExecucao());
    TSinais sinais(view, atualizador);
    try {
        atualizador.btn_AtualizarClick();
    } catch (...) {
        // The summary already carries the error; it is printed as the window's box shows it.
        return 5;
    }
    return atualizador.Resumo().CodigoSaida();
}

}  // namespace ab
