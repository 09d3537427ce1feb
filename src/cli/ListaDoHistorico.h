// `AtualizadorBrevant --historico [N] [--registro ARQUIVO]`: the last N runs of the history (20
// by default) as a table, oldest first: when (local time), folder, server, files sent and failed,
// and how the run ended.
#pragma once

#include <string>
#include <vector>

#include "dbx/TJSONValue.h"
#include "platform/CommandLine.h"

namespace ab {

// Prints the table on standard output; returns the exit status: 0, or 1 with a line on standard
// error for a bad N, another option or bad settings. The history read is the one the settings
// file's `registro` or the option names, else the default one.
int RunHistoricoProgram(const CommandLine& argumentos);

// The table of `execucoes` (as UltimasExecucoes gives them), in UTF-8, a header line first.
std::string TabelaDoHistorico(const std::vector<TJSONValue>& execucoes);

}  // namespace ab
