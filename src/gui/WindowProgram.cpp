// The program with its window.
#include "gui/WindowProgram.h"

#include <QApplication>

#include "gui/MessageBoxes.h"
#include "gui/TSinaisDaJanela.h"
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

// The signals reach nothing from here on: placed after what they reach, so it goes first.
struct TDesapontar {
    TSinaisDaJanela& sinais;
    ~TDesapontar() { sinais.Apontar(nullptr, nullptr, nullptr); }
};

}  // namespace

int RunWindowProgram(char* programa, const CommandLine& argumentos, const TOpcoesExecucao& opcoes) {
    TSinaisDaJanela sinais;  // before the application starts threads of its own
    TArgumentosDoQt qt(programa);
    QApplication app(qt.argc, qt.argv);
    sinais.Apontar(&app, nullptr, nullptr);  // a refused start's boxes close too
    const TDesapontar semAplicacao{sinais};
    TfrmPrincipal window(argumentos, TestEnvironment());
    if (window.Terminated())
        return 1;
    // Destroyed before the window: the connection sends its disconnect when the program ends.
    TAtualizador atualizador(
        window.RunView(), window.cdsSendFile(),
        {window.ProgramPath(), window.ProgramFolder(), window.Sistema(), window.VersaoPraTeste()},
        {}, nullptr, opcoes);
    sinais.Apontar(&app, &window, &atualizador);
    const TDesapontar semExecucao{sinais};
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
    // stops and its thread is joined before the run object goes. A signal meanwhile ends its
    // connections.
    window.EndRun();
    return houveExecucao ? atualizador.Resumo().CodigoSaida() : 0;
}

int RunStartupErrorProgram(char* programa, const std::u16string& texto) {
    TSinaisDaJanela sinais;
    TArgumentosDoQt qt(programa);
    QApplication app(qt.argc, qt.argv);
    sinais.Apontar(&app, nullptr, nullptr);
    const TDesapontar semAplicacao{sinais};
    ShowErrorBox(nullptr, texto);
    return 1;
}

}  // namespace ab
