// The program with its window: the application, the main window with its start-up gates, the
// publishing run plugged into "Atualizar" (on a worker thread) and into a second close request
// (its abort), the message loop, and the exit status.
#pragma once

#include "app/TAtualizador.h"

namespace ab {

// Returns the program's exit status: 1 when a start-up gate refused; otherwise the last run's
// (TResumo::CodigoSaida), or 0 when the window was closed without a run.
int RunWindowProgram(int argc, char** argv, const TOpcoesExecucao& opcoes);

}  // namespace ab
