// Program entry: our own arguments are read before the window library sees any, then either the
// run without a window or the window.
#include <cstdio>
#include <vector>

#include "app/TConfiguracao.h"
#include "cli/Ajuda.h"
#include "cli/TerminalProgram.h"
#include "gui/WindowProgram.h"
#include "platform/CommandLine.h"
#include "platform/Text.h"

namespace {

// Whether bad settings are reported on the terminal only: the last --sem-janela given, in any of
// its forms, asks for no window.
bool PedeSemJanela(const std::vector<std::u16string>& opcoes) {
    bool semJanela = false;
    for (std::size_t i = 0; i < opcoes.size(); ++i) {
        const std::u16string& o = opcoes[i];
        if (o == u"--sem-janela") {
            const bool nao = i + 1 < opcoes.size() && ab::SimOuNao(opcoes[i + 1]) == false;
            semJanela = !nao;
        } else if (o.starts_with(u"--sem-janela=")) {
            semJanela = ab::SimOuNao(std::u16string_view(o).substr(13)).value_or(false);
        }
    }
    return semJanela;
}

}  // namespace

int main(int argc, char** argv) {
    const ab::CommandLine argumentos = ab::CommandLine::FromArgv(argc, argv);
    const std::u16string primeiro = argumentos.ParamStr(1);
    if (primeiro == u"--help" || primeiro == u"--version") {
        std::fputs(
            ab::ToUtf8(primeiro == u"--help" ? ab::TextoDeAjuda() : ab::TextoDeVersao()).c_str(),
            stdout);
        return 0;
    }
    std::vector<std::u16string> opcoes;
    for (int i = 7; i <= argumentos.ParamCount(); ++i)
        opcoes.push_back(argumentos.ParamStr(i));
    ab::TConfiguracao configuracao;
    try {
        configuracao = ab::LerConfiguracao(ab::ArquivoDeConfiguracao(), opcoes);
    } catch (const ab::EConfiguracao& e) {
        std::fprintf(stderr, "erro: %s\n", ab::ToUtf8(e.Message()).c_str());
        if (PedeSemJanela(opcoes))
            return 1;
        return ab::RunStartupErrorProgram(argv[0], e.Message());
    }
    if (configuracao.SemJanela)
        return ab::RunTerminalProgram(argumentos, configuracao);
    return ab::RunWindowProgram(argv[0], argumentos, configuracao.OpcoesDaExecucao());
}
