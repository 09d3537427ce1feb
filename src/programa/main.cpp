// Program entry, above both front ends: our own arguments are read before the window library sees
// any, then either the run without a window (cli) or the window (gui); the two never include each
// other. The window is a module loaded only when it opens, so a run without one never loads the
// window library.
#include <cstdio>
#include <vector>

#include "app/Historico.h"
#include "app/TConfiguracao.h"
#include "cli/Ajuda.h"
#include "cli/ListaDoHistorico.h"
#include "cli/TerminalProgram.h"
#include "platform/CommandLine.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "programa/CarregarJanela.h"

namespace {

// The window module's entries; null after a line saying why it could not be loaded.
const ab::TModuloDaJanela* Janela() {
    try {
        return &ab::CarregarJanela();
    } catch (const ab::Exception& e) {
        std::fprintf(stderr,
                     "erro: a janela n\xC3\xA3o p\xC3\xB4"
                     "de ser carregada (%s); para publicar sem janela, use --sem-janela.\n",
                     e.what());
        return nullptr;
    }
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
    if (primeiro == u"--historico")
        return ab::RunHistoricoProgram(argumentos);
    std::vector<std::u16string> opcoes;
    for (int i = 7; i <= argumentos.ParamCount(); ++i)
        opcoes.push_back(argumentos.ParamStr(i));
    const auto arquivo = ab::ArquivoDeConfiguracao();
    ab::TConfiguracao configuracao;
    try {
        configuracao = ab::LerConfiguracao(arquivo, opcoes);
    } catch (const ab::EConfiguracao& e) {
        std::fprintf(stderr, "erro: %s\n", ab::ToUtf8(e.Message()).c_str());
        // Asked for no window (in the file or an option): the line is all there is.
        if (ab::PedeSemJanela(arquivo, opcoes))
            return 1;
        const ab::TModuloDaJanela* janela = Janela();
        return janela ? janela->ErroDeArranque(argv[0], e.Message()) : 1;
    }
    if (configuracao.SemJanela)
        return ab::RunTerminalProgram(argumentos, configuracao);
    const ab::TModuloDaJanela* janela = Janela();
    if (janela == nullptr)
        return 1;
    return janela->Executar(
        argv[0], argumentos,
        configuracao.OpcoesDaExecucao(
            std::make_shared<ab::TMemoriaDosServidores>(ab::PastaDeEstado() / "servidores"),
            ab::HistoricoDaConfiguracao(configuracao)),
        configuracao.Pasta);
}
