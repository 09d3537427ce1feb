// The window module carried inside the program, loaded from memory when a window opens: a run
// without a window never loads the window library.
#pragma once

#include "gui/WindowProgram.h"

namespace ab {

// The module's entries. Loaded once, and kept until the program ends (the window library cannot
// be unloaded). Throws Exception with the reason (the dynamic loader's text) when it cannot be
// loaded, e.g. a window library missing or damaged on this machine.
const TModuloDaJanela& CarregarJanela();

}  // namespace ab
