// The window module's one entry, found by name when the program loads it.
#include "gui/WindowProgram.h"

extern "C" {
__attribute__((visibility("default"))) extern const ab::TModuloDaJanela ab_modulo_da_janela;
const ab::TModuloDaJanela ab_modulo_da_janela = {&ab::RunWindowProgram,
                                                 &ab::RunStartupErrorProgram};
}
