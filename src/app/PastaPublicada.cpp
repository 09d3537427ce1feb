// The folder to publish and the guard against folders no release lives in.
#include "app/PastaPublicada.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace ab {
namespace {

namespace fs = std::filesystem;

// A tree that holds the system, but for the folders below which releases are kept.
struct TArvore {
    std::string_view Raiz;
    std::array<std::string_view, 2> Excecoes{};
};
constexpr std::array<TArvore, 10> kArvoresDoSistema = {{
    {"/bin"},
    {"/boot"},
    {"/dev"},
    {"/etc"},
    {"/proc"},
    {"/run"},
    {"/sbin"},
    {"/sys"},
    {"/usr", {"/usr/local/src"}},
    {"/var", {"/var/tmp", "/var/www"}},
}};
// Besides these, every folder at the top whose name starts with it (/lib, /lib64, /libx32...).
constexpr std::string_view kPrefixoLib = "lib";
// Folders that gather other folders: whoever publishes one of them publishes everybody's.
constexpr std::array<std::string_view, 7> kPastasQueReunem = {"/home", "/mnt", "/media", "/opt",
                                                              "/root", "/srv", "/tmp"};

constexpr std::u16string_view kRaiz = u"a raiz do sistema";
constexpr std::u16string_view kSistema = u"uma pasta do sistema";
constexpr std::u16string_view kPessoal = u"a pasta pessoal do usu\u00E1rio";
constexpr std::u16string_view kAcimaDaPessoal = u"uma pasta acima da pasta pessoal do usu\u00E1rio";

// `caminho` is `pasta` or lies below it (both absolute, normalised, no trailing '/').
bool Sob(std::string_view caminho, std::string_view pasta) {
    if (pasta == "/")
        return true;
    return caminho.starts_with(pasta) &&
           (caminho.size() == pasta.size() || caminho[pasta.size()] == '/');
}

bool AbaixoDe(std::string_view caminho, std::string_view pasta) {
    return caminho != pasta && Sob(caminho, pasta);
}

// `pasta` as written and, when it exists and its links lead elsewhere, where they lead.
std::vector<std::string> Formas(std::string_view pasta) {
    std::vector<std::string> formas{std::string(pasta)};
    std::error_code ec;
    const fs::path real = fs::canonical(fs::path(pasta), ec);
    if (!ec && real.native() != pasta)
        formas.push_back(real.native());
    return formas;
}

template <typename Relacao>
bool AlgumaForma(std::string_view caminho, std::string_view pasta, Relacao relacao) {
    const std::vector<std::string> formas = Formas(pasta);
    return std::any_of(formas.begin(), formas.end(),
                       [&](const std::string& forma) { return relacao(caminho, forma); });
}

bool DoSistema(std::string_view real) {
    for (const TArvore& arvore : kArvoresDoSistema) {
        if (!AlgumaForma(real, arvore.Raiz, Sob))
            continue;
        const bool excecao = std::any_of(
            arvore.Excecoes.begin(), arvore.Excecoes.end(),
            [&](std::string_view e) { return !e.empty() && AlgumaForma(real, e, AbaixoDe); });
        if (!excecao)
            return true;
    }
    if (real.substr(1).starts_with(kPrefixoLib))
        return true;
    for (const TDirEntry& e : ReadDirectory(u"/")) {
        const std::string nome = ToFileName(e.Name);
        if (nome.starts_with(kPrefixoLib) && AlgumaForma(real, "/" + nome, Sob))
            return true;
    }
    return std::any_of(kPastasQueReunem.begin(), kPastasQueReunem.end(), [&](std::string_view p) {
        return AlgumaForma(real, p, std::equal_to<std::string_view>());
    });
}

std::u16string SemBarraFinal(std::u16string texto) {
    while (texto.size() > 1 && texto.back() == u'/')
        texto.pop_back();
    return texto;
}

}  // namespace

std::u16string MotivoDaRecusa(std::u16string_view realTexto, std::u16string_view home) {
    const std::string real = ToFileName(realTexto);
    if (real == "/")
        return std::u16string(kRaiz);
    if (DoSistema(real))
        return std::u16string(kSistema);
    const fs::path casa = fs::path(ToFileName(home)).lexically_normal();
    if (!casa.is_absolute())
        return {};
    std::string normal = casa.native();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    for (const std::string& forma : Formas(normal)) {
        if (real == forma)
            return std::u16string(kPessoal);
        if (AbaixoDe(forma, real))
            return std::u16string(kAcimaDaPessoal);
    }
    return {};
}

std::u16string PastaAPublicar(std::u16string_view pastaDoPrograma, std::u16string_view opcao,
                              std::u16string_view home) {
    const bool propria = opcao.empty();
    std::u16string dada(propria ? pastaDoPrograma : opcao);
    if (!propria && (opcao == u"~" || opcao.starts_with(u"~/")))
        dada = std::u16string(home) + dada.substr(1);
    if (dada.empty())
        dada = u".";
    // Messages are read by people: a name's bytes that are not UTF-8 are shown as elsewhere.
    const std::u16string nome =
        ReadableName(SemBarraFinal(std::u16string(propria ? pastaDoPrograma : opcao)));
    const std::u16string sujeito = propria ? u"A pasta do programa, \"" + nome + u"\","
                                           : u"A pasta \"" + nome + u"\" (--pasta)";

    const fs::path caminho(ToFileName(dada));
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

    const std::u16string realTexto = FromFileName(real.native());
    if (const std::u16string motivo = MotivoDaRecusa(realTexto, home); !motivo.empty()) {
        // Through a link the folder refused is named too, so the message explains itself.
        const bool outra = SemBarraFinal(ExpandFileName(dada)) != realTexto;
        throw EPastaRecusada(
            sujeito +
            (outra ? u" leva a \"" + ReadableName(realTexto) + u"\", que" : std::u16string()) +
            u" \u00E9 " + motivo +
            u" e n\u00E3o pode ser publicada; indique a pasta da vers\u00E3o com --pasta PASTA.");
    }
    return realTexto + u"/";
}

std::u16string PastaPessoal() {
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        return FromFileName(home);
    if (const passwd* usuario = getpwuid(getuid()); usuario && usuario->pw_dir)
        return FromFileName(usuario->pw_dir);
    return {};
}

}  // namespace ab
