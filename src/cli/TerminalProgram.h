// The program without a window: the start-up gates, the run with its output on the terminal, the
// signals that stop it, and the exit status. Needs no display and never loads the window library.
#pragma once

#include "app/TConfiguracao.h"
#include "platform/CommandLine.h"
#include "platform/TestEnvironment.h"

namespace ab {

// Exit status: TResumo::CodigoSaida() of the run, 1 for a refused start, 5 for an error that
// escaped the run. The first SIGINT or SIGTERM stops the run after the file in hand (4); a second
// one ends the connections at once.
int RunTerminalProgram(const CommandLine& argumentos, const TConfiguracao& configuracao,
                       const TestEnvironment& ambiente = TestEnvironment());

}  // namespace ab
