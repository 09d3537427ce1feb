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
        WriteText(NaoUtf8() / "LeiaMe.txt", "x");
        fs::create_directories(dir_.Path() / "ligacoes");
        fs::create_directory_symlink(Casa(), dir_.Path() / "ligacoes" / "casa");
    }
    fs::path Versao() const { return dir_.Path() / "versao"; }
    fs::path Casa() const { return dir_.Path() / "casa"; }
    // A folder name as unzip leaves one from a Windows archive.
    fs::path NaoUtf8() const { return dir_.Path() / "Vers\xE3o"; }

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
        {"the program in a folder whose name is not UTF-8", FromFileName(NaoUtf8().string() + "/"),
         u"", FromFileName(NaoUtf8().string() + "/")},
        {"a name that is not UTF-8", u"/usr/bin/", FromFileName(NaoUtf8().string()),
         FromFileName(NaoUtf8().string() + "/")},
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
    const std::u16string acima = u"uma pasta acima da pasta pessoal do usu\u00E1rio" + fim;
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
        // Named as people read it.
        {U(Versao()), FromFileName(NaoUtf8().string() + "x"),
         u"A pasta \"" + U(dir_.Path()) + u"/Vers\u00E3ox\" (--pasta) n\u00E3o existe."},
        {U(Versao()), u"/tmp", u"A pasta \"/tmp\" (--pasta) \u00E9 " + sistema},
        {U(Versao()), U(dir_.Path()),
         u"A pasta \"" + U(dir_.Path()) + u"\" (--pasta) \u00E9 " + acima},
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

// The home folder known by a link: the folder it leads to is the home folder, and the folders
// above either path are above it.
TEST_F(PastaPublicada, TheHomeFolderThroughALink) {
    const std::u16string casa = U(dir_.Path() / "ligacoes" / "casa");
    EXPECT_EQ(MotivoDaRecusa(U(fs::canonical(Casa())), casa), u"a pasta pessoal do usu\u00E1rio");
    for (const fs::path& acima : {dir_.Path() / "ligacoes", dir_.Path()}) {
        SCOPED_TRACE(acima.string());
        EXPECT_EQ(MotivoDaRecusa(U(fs::canonical(acima)), casa),
                  u"uma pasta acima da pasta pessoal do usu\u00E1rio");
    }
    EXPECT_EQ(MotivoDaRecusa(U(fs::canonical(Casa() / "versao")), casa), u"");
}

// The guard by rule, on folders as they are once resolved (none has to exist), with the home
// folder /x/casa/u: the trees that hold the system with all below them, but for where releases
// are kept; the folders that gather others, the home folder and those above it, themselves only.
TEST(Guarda, RefusesTheSystemTreesAndTheFoldersThatGatherOthers) {
    const std::u16string raiz = u"a raiz do sistema";
    const std::u16string sistema = u"uma pasta do sistema";
    const std::u16string pessoal = u"a pasta pessoal do usu\u00E1rio";
    const std::u16string acima = u"uma pasta acima da pasta pessoal do usu\u00E1rio";
    const std::u16string publica;
    struct Case {
        const char16_t* pasta;
        const std::u16string& motivo;
    } cases[] = {
        {u"/", raiz},
        // The system's trees, to any depth.
        {u"/bin", sistema},
        {u"/sbin/x", sistema},
        {u"/boot/efi", sistema},
        {u"/dev/shm", sistema},
        {u"/etc", sistema},
        {u"/etc/ssl", sistema},
        {u"/lib", sistema},
        {u"/lib64/x", sistema},
        {u"/libx32", sistema},
        {u"/proc/1", sistema},
        {u"/run/user/0", sistema},
        {u"/sys/fs", sistema},
        {u"/usr", sistema},
        {u"/usr/lib/x86_64-linux-gnu", sistema},
        {u"/usr/local", sistema},
        {u"/usr/local/bin", sistema},
        {u"/usr/local/src", sistema},
        {u"/usr/local/srcx", sistema},
        {u"/var", sistema},
        {u"/var/lib", sistema},
        {u"/var/log/app", sistema},
        {u"/var/tmp", sistema},
        {u"/var/www", sistema},
        // Below the places in them where releases are kept.
        {u"/usr/local/src/app", publica},
        {u"/var/tmp/r", publica},
        {u"/var/www/site/2.4", publica},
        // The folders that gather others, themselves.
        {u"/home", sistema},
        {u"/root", sistema},
        {u"/mnt", sistema},
        {u"/media", sistema},
        {u"/opt", sistema},
        {u"/srv", sistema},
        {u"/tmp", sistema},
        {u"/srv/versoes/2.4", publica},
        {u"/tmp/x", publica},
        {u"/home/ana/versao", publica},
        {u"/root/versao", publica},
        {u"/mnt/disco/v", publica},
        {u"/media/pen/v", publica},
        {u"/opt/app", publica},
        // The home folder and those above it.
        {u"/x/casa/u", pessoal},
        {u"/x/casa", acima},
        {u"/x", acima},
        {u"/x/casa/u/versao", publica},
        {u"/x/casa/u2", publica},
        {u"/x/casa/outro", publica},
        // Whole names only.
        {u"/usrx", publica},
        {u"/etcetera/v", publica},
        {u"/tmpx", publica},
        {u"/srvx", publica},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.pasta));
        EXPECT_EQ(ToUtf8(MotivoDaRecusa(c.pasta, u"/x/casa/u")), ToUtf8(c.motivo));
    }
    // The home folder as HOME may spell it.
    EXPECT_EQ(MotivoDaRecusa(u"/x/casa", u"/x/casa/u/"), acima);
    EXPECT_EQ(MotivoDaRecusa(u"/x/casa/u", u"/x//casa/./u"), pessoal);
    EXPECT_EQ(MotivoDaRecusa(u"/x/casa", u""), publica);
}

}  // namespace
}  // namespace ab::testing
