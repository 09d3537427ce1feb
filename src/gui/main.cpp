// Program entry: the application, the main window with its start-up gates, the message loop.
#include <QApplication>

#include "gui/TfrmPrincipal.h"
#include "platform/CommandLine.h"
#include "platform/TestEnvironment.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ab::TfrmPrincipal window(ab::CommandLine::FromArgv(argc, argv), ab::TestEnvironment());
    if (window.Terminated())
        return 1;
    // The publishing run is plugged in here by the app layer (window.SetAtualizarHandler).
    window.show();
    return QApplication::exec();
}
