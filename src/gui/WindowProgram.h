// The program with its window: the application, the main window with its start-up gates, the
// publishing run plugged into "Atualizar" (on a worker thread) and into a second close request
// (its abort), SIGINT and SIGTERM as close requests (TSinaisDaJanela), the message loop, and the
// exit status.
#pragma once

#include <functional>
#include <string>

#include "app/TAtualizador.h"
#include "platform/CommandLine.h"

namespace ab {

// Returns the program's exit status: 1 when a start-up gate refused or no window can open here;
// otherwise the last run's (TResumo::CodigoSaida), or 0 when the window was closed without a run.
// The window library is given only the program's name: every argument is ours. `pasta` is the
// folder option, empty for the program's own folder.
int RunWindowProgram(char* programa, const CommandLine& argumentos, const TOpcoesExecucao& opcoes,
                     const std::u16string& pasta);

// An error box for a start that cannot go on (bad settings), when a window can open here (the
// caller has printed the text already); returns 1.
int RunStartupErrorProgram(char* programa, const std::u16string& texto);

// The line to print when the window library would find no display here: neither DISPLAY nor
// WAYLAND_DISPLAY for the platform it would pick (QT_QPA_PLATFORM, which may also name one that
// needs none, such as offscreen). Empty when a window can open. `variavel` reads the environment.
std::u16string SemTela(const std::function<const char*(const char*)>& variavel);

// What the window module (ab_janela) gives the program that loads it: the two entries above,
// under one C name that dlsym finds.
struct TModuloDaJanela {
    decltype(&RunWindowProgram) Executar;
    decltype(&RunStartupErrorProgram) ErroDeArranque;
};
inline constexpr char kSimboloDaJanela[] = "ab_modulo_da_janela";

}  // namespace ab
