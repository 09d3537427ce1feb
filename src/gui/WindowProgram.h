// The program with its window: the application, the main window with its start-up gates, the
// publishing run plugged into "Atualizar" (on a worker thread) and into a second close request
// (its abort), SIGINT and SIGTERM as close requests (TSinaisDaJanela), the message loop, and the
// exit status.
#pragma once

#include <string>

#include "app/TAtualizador.h"
#include "platform/CommandLine.h"

namespace ab {

// Returns the program's exit status: 1 when a start-up gate refused; otherwise the last run's
// (TResumo::CodigoSaida), or 0 when the window was closed without a run. The window library is
// given only the program's name: every argument is ours.
int RunWindowProgram(char* programa, const CommandLine& argumentos, const TOpcoesExecucao& opcoes);

// An error box for a start that cannot go on (bad settings); returns 1.
int RunStartupErrorProgram(char* programa, const std::u16string& texto);

}  // namespace ab
