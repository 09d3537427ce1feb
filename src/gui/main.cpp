// Program entry: the application, the main window with its start-up gates, the publishing run
// plugged into "Atualizar", the message loop.
#include <QApplication>

#include "app/TAtualizador.h"
#include "gui/TfrmPrincipal.h"
#include "platform/CommandLine.h"
#include "platform/TestEnvironment.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ab::TfrmPrincipal window(ab::CommandLine::FromArgv(argc, argv), ab::TestEnvironment());
    if (window.Terminated())
        return 1;
    // Destroyed before the window: the connection sends its disconnect when the program ends.
    ab::TAtualizador atualizador(
        window, window.cdsSendFile(),
        {window.ProgramPath(), window.ProgramFolder(), window.Sistema(), window.VersaoPraTeste()});
    window.SetAtualizarHandler([&atualizador] { atualizador.btn_AtualizarClick(); });
    window.show();
    return QApplication::exec();
}
