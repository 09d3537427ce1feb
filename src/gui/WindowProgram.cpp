// The program with its window.
#include "gui/WindowProgram.h"

#include <QApplication>

#include "gui/MessageBoxes.h"
#include "gui/TfrmPrincipal.h"
#include "platform/TestEnvironment.h"

namespace ab {
namespace {

// Qt reads options such as -style or -platform from the arguments it is given; a caption or an
// address may look like one, so it sees only the program's name.
struct TArgumentosDoQt {
    explicit TArgumentosDoQt(char* programa) : argv{programa, nullptr} {}
    int argc = 1;
    char* argv[2];
};

}  // namespace

int RunWindowProgram(char* programa, const CommandLine& argumentos, const TOpcoesExecucao& opcoes) {
    TArgumentosDoQt qt(programa);
    QApplication app(qt.argc, qt.argv);
    TfrmPrincipal window(argumentos, TestEnvironment());
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

int RunStartupErrorProgram(char* programa, const std::u16string& texto) {
    TArgumentosDoQt qt(programa);
    QApplication app(qt.argc, qt.argv);
    ShowErrorBox(nullptr, texto);
    return 1;
}

}  // namespace ab
