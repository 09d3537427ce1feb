// The history of publications: one JSON line per run, appended to a file, so that "when did we
// publish this folder, to which server, and did it fail?" has an answer after the terminal or the
// window is gone. By default $XDG_STATE_HOME/atualizador-brevant/historico.jsonl
// (~/.local/state/... when XDG_STATE_HOME is unset or not absolute).
//
// Writing. Each line leaves in one write(2) on a descriptor opened with O_APPEND, so a crash or a
// SIGKILL never leaves half a line behind and two programs' lines never mix. A line that would take
// the file past its limit (10 MiB) goes to a new file, the old one renamed to "<file>.1" (which
// replaces the older one): the history keeps between one and two limits' worth of runs. An
// advisory lock (flock) on the file, taken with a deadline, keeps two programs from renaming it
// twice. A line someone else left without its line break (a full disk, an editor) is closed by a
// break before the new line, which then stays readable. Only a regular file is written.
//
// Reading (--historico) starts at the end of the file and reads back only as far as the runs asked
// for need; a line that is not a run's JSON object is skipped, and a stretch of more than 1 MiB
// without a line break ends the reading (no line written here is that long: the list of failed
// files is cut at 64 KiB, the rest counted).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/IMainView.h"
#include "app/TAtualizador.h"
#include "dbx/TJSONValue.h"

namespace ab {

struct TConfiguracao;

// What one run leaves in the history.
struct TExecucaoRegistrada {
    std::chrono::system_clock::time_point Inicio;
    std::chrono::system_clock::time_point Termino;
    std::u16string Pasta;     // the folder published
    std::u16string Endereco;  // the server's address and port, as the run read them
    int Porta = 0;
    // A parent server (it answers the echo) or a client server; unknown when the run did not get
    // that far.
    std::optional<bool> ServidorPai;
    // The settings in effect: the connections the run used (0 when it never chose them), and the
    // requests in flight, blocks and writing ahead as its last connect had them.
    TOpcoesExecucao Opcoes;
    bool Conservador = false;
    TResumo Resumo;
};

// The run as one line of JSON, ending in '\n'. Names that are not UTF-8 are written in their
// readable form, as the text output shows them (JsonString).
std::string LinhaDoHistorico(const TExecucaoRegistrada& execucao);

class THistorico {
  public:
    static constexpr std::uint64_t kLimitePadrao = 10ull * 1024 * 1024;

    explicit THistorico(std::filesystem::path arquivo, std::uint64_t limite = kLimitePadrao);

    // Appends `linha` (ending in '\n') in one write, after renaming a file it would take past the
    // limit. Raises Exception naming the file when it cannot be written.
    void Acrescentar(std::string_view linha) const;
    void Registrar(const TExecucaoRegistrada& execucao) const {
        Acrescentar(LinhaDoHistorico(execucao));
    }

    const std::filesystem::path& Arquivo() const { return arquivo_; }

  private:
    std::filesystem::path arquivo_;
    std::uint64_t limite_;
};

// The older file a full history was renamed to.
std::filesystem::path HistoricoAnterior(const std::filesystem::path& arquivo);

// The history file the settings name: `registro` (relative to the working folder, "~/" to the
// home folder), else historico.jsonl in the state folder.
std::filesystem::path ArquivoDoHistorico(const TConfiguracao& configuracao);
// The history the runs write to; null when `historico = nao`.
std::shared_ptr<THistorico> HistoricoDaConfiguracao(const TConfiguracao& configuracao);

// The last `n` runs recorded in `arquivo` and, when it holds fewer, in the older file, oldest
// first; each a JSON object with at least its start ("inicio"). Missing files give none.
std::vector<TJSONValue> UltimasExecucoes(const std::filesystem::path& arquivo, std::size_t n);

}  // namespace ab
