// The folder to publish and the guard against folders no release lives in.
#include "app/PastaPublicada.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace ab {
namespace {

namespace fs = std::filesystem;

// Besides the root, the folders directly under /usr and the home folder.
constexpr std::array<std::string_view, 12> kPastasDoSistema = {
    "/bin", "/sbin", "/usr",  "/usr/local/bin", "/usr/local/sbin", "/etc",
    "/opt", "/var",  "/boot", "/dev",           "/proc",           "/sys",
};

// True when `pasta` exists and its links lead to `real`. Comparing resolved paths catches /bin
// on a merged /usr, a linked /opt, or a home folder reached through a link.
bool LevaA(const fs::path& real, const fs::path& pasta) {
    std::error_code ec;
    const fs::path resolvida = fs::canonical(pasta, ec);
    return !ec && resolvida == real;
}

// What makes the resolved folder `real` one that is never published; empty when it may be.
std::u16string_view Motivo(const fs::path& real, std::u16string_view home) {
    if (real == real.root_path())
        return u"a raiz do sistema";
    for (std::string_view pasta : kPastasDoSistema) {
        if (LevaA(real, pasta))
            return u"uma pasta do sistema";
    }
    if (LevaA(real.parent_path(), "/usr"))
        return u"uma pasta do sistema";
    if (!home.empty() && LevaA(real, ToUtf8(home)))
        return u"a pasta pessoal do usu\u00E1rio";
    return {};
}

std::u16string SemBarraFinal(std::u16string texto) {
    while (texto.size() > 1 && texto.back() == u'/')
        texto.pop_back();
    return texto;
}

}  // namespace

std::u16string PastaAPublicar(std::u16string_view pastaDoPrograma, std::u16string_view opcao,
                              std::u16string_view home) {
    const bool propria = opcao.empty();
    std::u16string dada(propria ? pastaDoPrograma : opcao);
    if (!propria && (opcao == u"~" || opcao.starts_with(u"~/")))
        dada = std::u16string(home) + dada.substr(1);
    if (dada.empty())
        dada = u".";
    const std::u16string nome = SemBarraFinal(std::u16string(propria ? pastaDoPrograma : opcao));
    const std::u16string sujeito = propria ? u"A pasta do programa, \"" + nome + u"\","
                                           : u"A pasta \"" + nome + u"\" (--pasta)";

    const fs::path caminho(ToUtf8(dada));
    std::error_code ec;
    const fs::file_status estado = fs::status(caminho, ec);
    if (estado.type() == fs::file_type::not_found)
        throw EPastaRecusada(sujeito + u" n\u00E3o existe.");
    if (ec)
        throw EPastaRecusada(sujeito + u" n\u00E3o p\u00F4de ser lida: " + FromUtf8(ec.message()));
    if (!fs::is_directory(estado))
        throw EPastaRecusada(sujeito + u" n\u00E3o \u00E9 uma pasta.");
    const fs::path real = fs::canonical(caminho, ec);
    if (ec)
        throw EPastaRecusada(sujeito + u" n\u00E3o p\u00F4de ser lida: " + FromUtf8(ec.message()));

    const std::u16string realTexto = FromUtf8(real.string());
    if (const std::u16string_view motivo = Motivo(real, home); !motivo.empty()) {
        // Through a link the folder refused is named too, so the message explains itself.
        const bool outra = SemBarraFinal(ExpandFileName(dada)) != realTexto;
        throw EPastaRecusada(
            sujeito + (outra ? u" leva a \"" + realTexto + u"\", que" : std::u16string()) +
            u" \u00E9 " + std::u16string(motivo) +
            u" e n\u00E3o pode ser publicada; indique a pasta da vers\u00E3o com --pasta PASTA.");
    }
    return realTexto + u"/";
}

std::u16string PastaPessoal() {
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        return FromUtf8(home);
    if (const passwd* usuario = getpwuid(getuid()); usuario && usuario->pw_dir)
        return FromUtf8(usuario->pw_dir);
    return {};
}

}  // namespace ab
