// The program with its window.
#include "gui/WindowProgram.h"

#include <QApplication>

#include "gui/TfrmPrincipal.h"
#include "platform/CommandLine.h"
#include "platform/TestEnvironment.h"

namespace ab {

int RunWindowProgram(int argc, char** argv, const TOpcoesExecucao& opcoes) {
    QApplication app(argc, argv);
    TfrmPrincipal window(CommandLine::FromArgv(argc, argv), TestEnvironment());
    if (window.Terminated())
        return 1;
    // Destroyed before the window: the connection sends its disconnect when the program ends.
    TAtualizador atualizador(
        window.RunView(), window.cdsSendFile(),
        {window.ProgramPath(), window.ProgramFolder(), window.Sistema(), window.VersaoPraTeste()},
        {}, nullptr, opcoes);
    // Written on the worker, read once it was joined.
    bool houveExecucao = false;
    window.SetAtualizarHandler([&] {
        houveExecucao = true;
        atualizador.btn_AtualizarClick();
    });
    window.SetAbortHandler([&atualizador] { atualizador.Abort(); });
    window.SetDryRun(opcoes.Simular);
    window.show();
    QApplication::exec();
    // A run may still be going (the window closed twice, or the application told to quit): it
    // stops and its thread is joined before the run object goes.
    window.EndRun();
    return houveExecucao ? atualizador.Resumo().CodigoSaida() : 0;
}

}  // namespace ab
