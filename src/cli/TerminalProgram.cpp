// The run without a window.
#include "cli/TerminalProgram.h"

#include <unistd.h>

#include <cstdio>

#include "app/Arranque.h"
#include "app/ExceptionText.h"
#include "app/Historico.h"
#include "app/TAtualizador.h"
#include "app/TEsperaDeSinais.h"
#include "cli/TTerminalView.h"
#include "packet/SendFileDataSet.h"
#include "packet/TClientDataSet.h"

namespace ab {
namespace {

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
                             configuracao.OpcoesDaExecucao(std::make_shared<TMemoriaDosServidores>(
                                                               PastaDeEstado() / "servidores"),
                                                           HistoricoDaConfiguracao(configuracao)));
    // The first signal asks the run to stop after the file in hand, the next ones end its
    // connections.
    TEsperaDeSinais sinais([&](int recebidos) {
        if (recebidos == 1)
            view.PedirFechamento();
        else
            atualizador.Abort();
    });
    try {
        atualizador.btn_AtualizarClick();
    } catch (...) {
        // The summary already carries the error; it is printed as the window's box shows it.
        return 5;
    }
    return atualizador.Resumo().CodigoSaida();
}

}  // namespace ab
