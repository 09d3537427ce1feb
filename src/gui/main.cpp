// Program entry: our own arguments are read before the window library sees any, then either the
// run without a window or the window.
#include <QApplication>
#include <cstdio>
#include <vector>

#include "app/TAtualizador.h"
#include "app/TConfiguracao.h"
#include "cli/Ajuda.h"
#include "cli/TerminalProgram.h"
#include "gui/MessageBoxes.h"
#include "gui/TfrmPrincipal.h"
#include "platform/CommandLine.h"
#include "platform/TestEnvironment.h"
#include "platform/Text.h"

namespace {

bool PedeSemJanela(const std::vector<std::u16string>& opcoes) {
    for (const auto& o : opcoes) {
        if (o == u"--sem-janela" || o == u"--sem-janela=sim")
            return true;
    }
    return false;
}

// The window, with Qt given only the program's name: a caption or address such as -style or
// -platform is ours, not Qt's.
int Janela(char* programa, const ab::CommandLine& argumentos, const ab::TConfiguracao* c,
           const std::u16string& erroDeConfiguracao) {
    int qtArgc = 1;
    char* qtArgv[] = {programa, nullptr};
    QApplication app(qtArgc, qtArgv);
    if (!c) {
        ab::ShowErrorBox(nullptr, erroDeConfiguracao);
        return 1;
    }
    ab::TfrmPrincipal window(argumentos, ab::TestEnvironment());
    if (window.Terminated())
        return 1;
    // Destroyed before the window: the connection sends its disconnect when the program ends.
    ab::TAtualizador atualizador(
        window, window.cdsSendFile(),
        {window.ProgramPath(), window.ProgramFolder(), window.Sistema(), window.VersaoPraTeste()},
        {}, nullptr, c->OpcoesDaExecucao());
    window.SetAtualizarHandler([&atualizador] { atualizador.btn_AtualizarClick(); });
    window.show();
    const int status = QApplication::exec();
    return status != 0 ? status : atualizador.Resumo().CodigoSaida();
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
        return Janela(argv[0], argumentos, nullptr, e.Message());
    }
    if (configuracao.SemJanela)
        return ab::RunTerminalProgram(argumentos, configuracao);
    return Janela(argv[0], argumentos, &configuracao, {});
}
