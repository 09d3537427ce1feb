// The atualizador-servidor program: --help, bad options, the port on its first line of output,
// serving a connection, and a clean exit on SIGTERM and SIGINT, also in the middle of a transfer.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "ServerTestSupport.h"

extern char** environ;

namespace ab::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Cat;
using test::Hex;

struct Program {
    pid_t pid = -1;
    int out = -1;  // the program's standard output

    explicit Program(std::vector<std::string> args) {
        int pipefd[2];
        EXPECT_EQ(::pipe(pipefd), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipefd[0]);
        args.insert(args.begin(), AB_SERVER_EXE);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid, AB_SERVER_EXE, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipefd[1]);
        out = pipefd[0];
    }
    ~Program() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(out);
    }
    std::string ReadAll() {
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(out, buf, sizeof buf)) > 0)
            text.append(buf, static_cast<std::size_t>(n));
        return text;
    }
    std::string FirstLine() {
        std::string line;
        char c;
        while (::read(out, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    // The exit status, or -1 when the program has not ended within the time.
    int Wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
};

TEST(ServerProgramTest, HelpAndBadOptions) {
    Program help({"--help"});
    const std::string text = help.ReadAll();
    EXPECT_EQ(help.Wait(5s), 0);
    for (const char* option :
         {"--porta", "--raiz", "--tipo", "--usuario", "--senha", "--filtros", "--recusar-login",
          "--sendfile-falso", "--sendfile-erro", "--cair-no-segmento", "--mudo",
          "--gravar-recebidos", "--cair-na-mensagem", "--erro-na-mensagem", "--contar-mensagens",
          "--parar-de-ler-no-bloco", "BufferKBSize"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
    Program bad({"--porta", "70000"});
    EXPECT_EQ(bad.Wait(5s), 2);
    Program unknown({"--nada"});
    EXPECT_EQ(unknown.Wait(5s), 2);
    for (const char* option :
         {"--cair-na-mensagem", "--erro-na-mensagem", "--parar-de-ler-no-bloco"}) {
        Program negative({option, "-1"});
        EXPECT_EQ(negative.Wait(5s), 2) << option;
    }
}

TEST(ServerProgramTest, PrintsThePortServesAndStopsOnSignals) {
    for (int signal : {SIGTERM, SIGINT}) {
        test::TempDir dir;
        Program server({"--porta", "0", "--raiz", (dir.Path() / "root").string()});
        const std::string line = server.FirstLine();
        const int port = std::stoi(line);
        ASSERT_GT(port, 0);
        test::RawClient c(static_cast<std::uint16_t>(port));
        c.Send(Hex("05 05 05 05 05"));
        EXPECT_EQ(c.Read(5), Hex("06 00 00 00 00"));
        // Stops with a connection still open.
        ::kill(server.pid, signal);
        EXPECT_EQ(server.Wait(5s), 0);
        EXPECT_TRUE(c.PeerClosed());
        EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "root"));
    }
}

TEST(ServerProgramTest, SignalInTheMiddleOfATransferLeavesNoPartOfTheFile) {
    test::TempDir dir;
    const fs::path root = dir.Path() / "root";
    Program server({"--porta", "0", "--raiz", root.string()});
    const int port = std::stoi(server.FirstLine());
    test::RawClient c(static_cast<std::uint16_t>(port));
    c.Send(Hex("05 05 05 05 05"));
    ASSERT_EQ(c.Read(5), Hex("06 00 00 00 00"));
    c.Send(R"({"method":"connect","params":[{"DSAuthenticationUser":"Atualizador",)"
           R"("DSAuthenticationPassword":"6485B9B5C668BE12667E6690BE732C1F"}]})");
    ASSERT_EQ(c.ReadUntil("]}"), R"({"result":[1,"AtualizadorServidor",2]})");
    c.Send(
        R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.SendFile"]})");
    ASSERT_TRUE(c.ReadUntil("]}]}").starts_with(R"({"result":[{"handle":[1]})"));

    // 100,000 bytes of content: 1,024 value bytes inline, then part of the first segment.
    const test::Bytes value = test::VariantBytes(
        test::MakePacket("S01\\big.bin", 63585513000000.0, test::RandomBytes(100000, 4)));
    c.Send(Cat({test::Ascii(R"({"method":"execute","params":[{"handle":[1]},{"data":[1029,)"),
                Hex("50 04 00"), test::Bytes(value.begin(), value.begin() + 1024), Hex("60 C0"),
                test::Ascii("]}]}")}));
    ASSERT_EQ(c.ReadUntil("]}"), R"({"more_blob":[1,1,0,0,0]})");
    c.Send(Cat({test::Ascii("{\"data\":[32747    ,"),
                test::Bytes(value.begin() + 1024, value.begin() + 20000)}));
    // The transfer is under way: its temporary file exists.
    auto files = [&] {
        std::vector<fs::path> found;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (!e.is_directory())
                found.push_back(e.path());
        return found;
    };
    for (int i = 0; i < 500 && files().empty(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(files().size(), 1u);

    ::kill(server.pid, SIGTERM);
    EXPECT_EQ(server.Wait(5s), 0);
    EXPECT_TRUE(c.PeerClosed());
    EXPECT_EQ(files(), std::vector<fs::path>{});
}

TEST(ServerProgramTest, MessageFaultsAndTheCountFileFromTheCommandLine) {
    test::TempDir dir;
    const fs::path count = dir.Path() / "mensagens.txt";
    Program server({"--porta", "0", "--raiz", (dir.Path() / "root").string(), "--erro-na-mensagem",
                    "2", "--cair-na-mensagem=3", "--contar-mensagens", count.string()});
    const int port = std::stoi(server.FirstLine());
    test::RawClient c(static_cast<std::uint16_t>(port));
    c.Send(Hex("05 05 05 05 05"));
    ASSERT_EQ(c.Read(5), Hex("06 00 00 00 00"));
    const std::string connect =
        R"({"method":"connect","params":[{"DSAuthenticationUser":"Atualizador",)"
        R"("DSAuthenticationPassword":"6485B9B5C668BE12667E6690BE732C1F"}]})";
    c.Send(connect);
    EXPECT_EQ(
        c.ReadUntil("}"),
        R"({"error":{"name":"TDBXError","code":101,"message":"Falha injetada na mensagem 2"})");
    c.Send(connect);
    EXPECT_TRUE(c.ClosedWithoutAnswer());
    ::kill(server.pid, SIGTERM);
    EXPECT_EQ(server.Wait(5s), 0);
    std::ifstream in(count);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "3\n");
}

TEST(ServerProgramTest, FailsWhenThePortIsTaken) {
    test::TempDir dir;
    Program first({"--porta", "0", "--raiz", dir.Path().string()});
    const std::string port = first.FirstLine();
    Program second({"--porta", port, "--raiz", dir.Path().string()});
    EXPECT_EQ(second.Wait(5s), 1);
}

}  // namespace
}  // namespace ab::server
