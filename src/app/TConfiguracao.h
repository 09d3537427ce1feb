// Settings of the program: a per-user file under the XDG config folder, overridden by options given
// after the six positional arguments. Never in the program's folder: everything there is published.
//
// The file holds "chave = valor" lines; blank lines, lines starting with '#' or ';' and section
// headers ("[atualizador]") are ignored; a UTF-8 byte-order mark at the start is skipped. An option
// is "--chave valor", "--chave=valor", or, for a yes/no key, "--chave" alone (meaning sim): a
// yes/no key takes the next argument as its value only when that is a yes/no word ("--json nao"),
// so "--json --simular" is two options. Every key of the file is also an option, and the other way
// round. Keys and values are Portuguese, like the bundled server's options. A deadline is 0 (no
// limit) or at least a millisecond: a smaller one would round to "no limit".
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/TAtualizador.h"
#include "platform/Exception.h"

namespace ab {

// A bad value, an unknown key or a file that cannot be read; the message names where (the file or
// the option), the key and the value.
class EConfiguracao : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EConfiguracao"; }
};

struct TConfiguracao {
    // Connections, requests in flight and block size are in `Conexoes`, `PedidosEmCurso` and
    // `BufferKB` below, set only when the file or an option gives them.
    TOpcoesExecucao Execucao;
    std::optional<int> Conexoes;
    std::optional<int> PedidosEmCurso;
    std::optional<int> BufferKB;
    // One connection, one request at a time, 32 KB blocks, nothing written ahead and no probing:
    // byte for byte the messages of the earlier versions, for a server that needs them.
    bool Conservador = false;
    bool SemJanela = false;
    bool ContinuarEmFalha = false;
    bool Json = false;
    // The folder to publish instead of the program's, as given (see PastaAPublicar).
    std::u16string Pasta;
    // Deadlines given by the file or an option; unset ones take the defaults of the front end.
    std::optional<int> TempoConexaoMs;
    std::optional<int> TempoLeituraMs;
    // Each run leaves a line in the history (ArquivoDoHistorico): in `Registro` when it is given
    // (as given), else in the state folder; nowhere when `Historico` is off.
    bool Historico = true;
    std::u16string Registro;

    // The run's options with the defaults settled. Deadlines: a run without a window waits at most
    // 30 s for a connection and 120 s for an answer unless told otherwise; the window waits as
    // long as it takes unless told otherwise. Connections, requests in flight and blocks: what was
    // given, else the fast defaults (connections chosen from the walk), or the conservative ones.
    // `memoria` is where servers that cannot keep up are remembered (not in conservative runs);
    // `historico` is where the runs are recorded (nothing is, when null).
    TOpcoesExecucao OpcoesDaExecucao(std::shared_ptr<TMemoriaDosServidores> memoria = {},
                                     std::shared_ptr<THistorico> historico = {}) const;
};

// $XDG_CONFIG_HOME/atualizador-brevant/atualizador.ini, or ~/.config/... when XDG_CONFIG_HOME is
// unset or not absolute.
std::filesystem::path ArquivoDeConfiguracao();

// The file (missing: the defaults), then the options in order. Raises EConfiguracao.
TConfiguracao LerConfiguracao(const std::filesystem::path& arquivo,
                              const std::vector<std::u16string>& opcoes);

// A yes/no value: sim, nao (also não) or 1, 0, in any letter case; anything else gives nothing.
std::optional<bool> SimOuNao(std::u16string_view valor);

// Every key with its values and default, one per line, for --help and the README.
std::u16string DescricaoDasChaves();

// Whether the file or the options ask for a run without a window, read leniently (bad lines and
// other keys ignored): when the settings are refused, this decides whether the refusal may open a
// box.
bool PedeSemJanela(const std::filesystem::path& arquivo, const std::vector<std::u16string>& opcoes);

}  // namespace ab
