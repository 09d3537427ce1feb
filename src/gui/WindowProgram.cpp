// The program with its window.
#include "gui/WindowProgram.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "gui/MessageBoxes.h"
#include "gui/QtText.h"
#include "gui/TSinaisDaJanela.h"
#include "gui/TfrmPrincipal.h"
#include "platform/TestEnvironment.h"
#include "platform/Text.h"

namespace ab {
namespace {

constexpr std::u16string_view kUseSemJanela = u"; para publicar sem janela, use --sem-janela.";

// Qt reads options such as -style or -platform from the arguments it is given; a caption or an
// address may look like one, so it sees only the program's name.
struct TArgumentosDoQt {
    explicit TArgumentosDoQt(char* programa) : argv{programa, nullptr} {}
    int argc = 1;
    char* argv[2];
};

// While the application is made: a display that cannot be reached (DISPLAY naming no server)
// makes the window library give up with a fatal message and abort; the program ends with its own
// line and status 1 instead.
class TAberturaDaJanela {
  public:
    TAberturaDaJanela() { anterior_ = qInstallMessageHandler(&Mensagem); }
    ~TAberturaDaJanela() { qInstallMessageHandler(anterior_); }
    TAberturaDaJanela(const TAberturaDaJanela&) = delete;
    TAberturaDaJanela& operator=(const TAberturaDaJanela&) = delete;

  private:
    static void Mensagem(QtMsgType tipo, const QMessageLogContext& contexto, const QString& texto) {
        if (tipo == QtFatalMsg) {
            // Its first line says why; the rest lists plug-ins.
            std::fprintf(stderr,
                         "erro: a janela n\xC3\xA3o p\xC3\xB4"
                         "de abrir (%s)%s\n",
                         texto.section(u'\n', 0, 0).toUtf8().constData(),
                         ToUtf8(kUseSemJanela).c_str());
            std::fflush(stderr);
            std::_Exit(1);
        }
        if (anterior_)
            anterior_(tipo, contexto, texto);
    }
    static inline QtMessageHandler anterior_ = nullptr;
};

// Prints why no window can open, when none can; true when one can.
bool PodeAbrir() {
    const std::u16string motivo = SemTela([](const char* nome) { return std::getenv(nome); });
    if (motivo.empty())
        return true;
    std::fprintf(stderr, "erro: %s\n", ToUtf8(motivo).c_str());
    std::fflush(stderr);
    return false;
}

// The signals reach nothing from here on: placed after what they reach, so it goes first.
struct TDesapontar {
    TSinaisDaJanela& sinais;
    ~TDesapontar() { sinais.Apontar(nullptr, nullptr, nullptr); }
};

}  // namespace

std::u16string SemTela(const std::function<const char*(const char*)>& variavel) {
    auto definida = [&](const char* nome) {
        const char* valor = variavel(nome);
        return valor != nullptr && valor[0] != '\0';
    };
    const bool x11 = definida("DISPLAY");
    const bool wayland = definida("WAYLAND_DISPLAY");
    const char* plataformas = variavel("QT_QPA_PLATFORM");
    if (plataformas == nullptr || plataformas[0] == '\0') {
        if (x11 || wayland)
            return {};
        return u"n\u00E3o h\u00E1 tela para a janela (DISPLAY e WAYLAND_DISPLAY vazios)" +
               std::u16string(kUseSemJanela);
    }
    // "wayland;xcb" tries each in turn; "xcb:opção" carries options after the name.
    std::string_view lista = plataformas;
    while (!lista.empty()) {
        const std::string_view item = lista.substr(0, lista.find(';'));
        lista.remove_prefix(std::min(lista.size(), item.size() + 1));
        const std::string_view nome = item.substr(0, item.find(':'));
        if (nome.empty())
            continue;
        if (nome == "xcb" ? x11 : nome.starts_with("wayland") ? wayland : true)
            return {};
    }
    return u"n\u00E3o h\u00E1 tela para a janela (QT_QPA_PLATFORM=" + FromUtf8(plataformas) +
           u" sem " + (x11 ? u"WAYLAND_DISPLAY" : u"DISPLAY") + u")" +
           std::u16string(kUseSemJanela);
}

int RunWindowProgram(char* programa, const CommandLine& argumentos, const TOpcoesExecucao& opcoes,
                     const std::u16string& pasta) {
    if (!PodeAbrir())
        return 1;
    TSinaisDaJanela sinais;  // before the application starts threads of its own
    TArgumentosDoQt qt(programa);
    std::optional<TAberturaDaJanela> abertura(std::in_place);
    QApplication app(qt.argc, qt.argv);
    abertura.reset();
    sinais.Apontar(&app, nullptr, nullptr);  // a refused start's boxes close too
    const TDesapontar semAplicacao{sinais};
    TfrmPrincipal window(argumentos, TestEnvironment(), nullptr, {}, pasta);
    if (window.Terminated())
        return 1;
    // Destroyed before the window: the connection sends its disconnect when the program ends.
    TAtualizador atualizador(
        window.RunView(), window.cdsSendFile(),
        {window.ProgramPath(), window.ProgramFolder(), window.Sistema(), window.VersaoPraTeste()},
        {}, nullptr, opcoes);
    sinais.Apontar(&app, &window, &atualizador);
    const TDesapontar semExecucao{sinais};
    // Written on the worker, read once it was joined.
    bool houveExecucao = false;
    window.SetAtualizarHandler([&] {
        houveExecucao = true;
        atualizador.btn_AtualizarClick();
    });
    window.SetAbortHandler([&atualizador] { atualizador.Abort(); });
    window.SetDryRun(opcoes.Simular);
    window.show();
    QApplication::exec();
    // A run may still be going (the window closed twice, or the application told to quit): it
    // stops and its thread is joined before the run object goes. A signal meanwhile ends its
    // connections.
    window.EndRun();
    return houveExecucao ? atualizador.Resumo().CodigoSaida() : 0;
}

int RunStartupErrorProgram(char* programa, const std::u16string& texto) {
    if (!PodeAbrir())
        return 1;
    TSinaisDaJanela sinais;
    TArgumentosDoQt qt(programa);
    std::optional<TAberturaDaJanela> abertura(std::in_place);
    QApplication app(qt.argc, qt.argv);
    abertura.reset();
    sinais.Apontar(&app, nullptr, nullptr);
    const TDesapontar semAplicacao{sinais};
    ShowErrorBox(nullptr, texto);
    return 1;
}

}  // namespace ab
