// The folder a run publishes: the option as a user gives it (relative, with a trailing slash,
// through a link, from ~), and the folders that are refused before anything connects.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/PastaPublicada.h"
#include "platform/Text.h"
#include "support/TestFiles.h"

namespace ab::testing {
namespace {

std::u16string U(const fs::path& p) {
    return FromUtf8(p.string());
}

class PastaPublicada : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Versao());
        fs::create_directories(Casa() / "versao");
        WriteText(Versao() / "LeiaMe.txt", "x");
        fs::create_directory_symlink(Versao(), dir_.Path() / "atalho");
        fs::create_directory_symlink(Casa(), dir_.Path() / "casa-atalho");
        fs::create_directory_symlink("/usr/bin", dir_.Path() / "sistema");
    }
    fs::path Versao() const { return dir_.Path() / "versao"; }
    fs::path Casa() const { return dir_.Path() / "casa"; }

    TempDir dir_{"pasta"};
};

TEST_F(PastaPublicada, TheFolderAsAUserGivesIt) {
    const std::u16string versao = U(Versao()) + u"/";
    struct Case {
        const char* what;
        std::u16string programa, opcao, esperada;
    } cases[] = {
        {"no option: the program's folder", versao, u"", versao},
        {"absolute", u"/usr/bin/", U(Versao()), versao},
        {"trailing slashes", u"/usr/bin/", U(Versao()) + u"//", versao},
        {"relative to the working folder", u"/usr/bin/",
         U(fs::relative(Versao(), fs::current_path())), versao},
        {"dot segments", u"/usr/bin/", U(Versao() / ".." / "versao" / "."), versao},
        {"a link to the folder: resolved", u"/usr/bin/", U(dir_.Path() / "atalho") + u"/", versao},
        {"~/ is the home folder", u"/usr/bin/", u"~/versao", U(Casa() / "versao") + u"/"},
        {"below the home folder", u"/usr/bin/", U(Casa() / "versao"), U(Casa() / "versao") + u"/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ToUtf8(PastaAPublicar(c.programa, c.opcao, U(Casa()))), ToUtf8(c.esperada));
    }
}

TEST_F(PastaPublicada, RefusedFoldersNameThemselvesAndSuggestTheOption) {
    const std::u16string fim =
        u" e n\u00E3o pode ser publicada; indique a pasta da vers\u00E3o com --pasta PASTA.";
    const std::u16string sistema = u"uma pasta do sistema" + fim;
    const std::u16string pessoal = u"a pasta pessoal do usu\u00E1rio" + fim;
    const std::u16string nada = U(dir_.Path() / "nada");
    const std::u16string arquivo = U(Versao() / "LeiaMe.txt");
    struct Case {
        std::u16string programa, opcao, mensagem;
    } cases[] = {
        {u"/usr/bin/", u"", u"A pasta do programa, \"/usr/bin\", \u00E9 " + sistema},
        {u"/usr/local/bin/", u"", u"A pasta do programa, \"/usr/local/bin\", \u00E9 " + sistema},
        {u"/usr/bin/", u"/", u"A pasta \"/\" (--pasta) \u00E9 a raiz do sistema" + fim},
        {U(Versao()), u"/usr/lib", u"A pasta \"/usr/lib\" (--pasta) \u00E9 " + sistema},
        {U(Versao()), u"/usr/local/", u"A pasta \"/usr/local\" (--pasta) \u00E9 " + sistema},
        {U(Versao()), u"/etc", u"A pasta \"/etc\" (--pasta) \u00E9 " + sistema},
        {U(Versao()), u"/proc", u"A pasta \"/proc\" (--pasta) \u00E9 " + sistema},
        {U(Versao()), U(dir_.Path() / "sistema"),
         u"A pasta \"" + U(dir_.Path() / "sistema") +
             u"\" (--pasta) leva a \"/usr/bin\", que \u00E9 " + sistema},
        {U(Versao()), U(Casa()), u"A pasta \"" + U(Casa()) + u"\" (--pasta) \u00E9 " + pessoal},
        {U(Versao()), u"~/", u"A pasta \"~\" (--pasta) \u00E9 " + pessoal},
        {U(Versao()), U(dir_.Path() / "casa-atalho"),
         u"A pasta \"" + U(dir_.Path() / "casa-atalho") + u"\" (--pasta) leva a \"" + U(Casa()) +
             u"\", que \u00E9 " + pessoal},
        {U(Versao()), nada, u"A pasta \"" + nada + u"\" (--pasta) n\u00E3o existe."},
        {U(Versao()), arquivo,
         u"A pasta \"" + arquivo + u"\" (--pasta) n\u00E3o \u00E9 uma pasta."},
        {nada + u"/", u"", u"A pasta do programa, \"" + nada + u"\", n\u00E3o existe."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.programa + u" " + c.opcao));
        try {
            const std::u16string pasta = PastaAPublicar(c.programa, c.opcao, U(Casa()));
            ADD_FAILURE() << "accepted as " << ToUtf8(pasta);
        } catch (const EPastaRecusada& e) {
            EXPECT_EQ(ToUtf8(e.Message()), ToUtf8(c.mensagem));
        }
    }
}

}  // namespace
}  // namespace ab::testing
