// The atualizador-servidor program: --help, bad options, the port on its first line of output,
// serving a connection, and a clean exit on SIGTERM and SIGINT, also in the middle of a transfer.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <future>
#include <thread>

#include "ServerMessages.h"
#include "ServerTestSupport.h"
#include "UpdateServerFixture.h"

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

// A field of /proc/PID/status in KiB (VmHWM, VmRSS), or -1.
long StatusKiB(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// A real client's way in: the handshake, the login, and one question answered.
void LoginAndAsk(std::uint16_t port) {
    test::RawClient c(port);
    test::LoginAndPrepare(c, port, "TZvServer.PropertsFile");
    c.Send(test::Execute(1, Cat({test::StringField(test::Base64("S01\\nada.txt")), Hex("C0")})));
    const test::Bytes none = test::Result(Hex("C0 20"));
    EXPECT_EQ(c.Read(none.size()), none);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define AB_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define AB_SANITIZED_BUILD 1
#endif
#endif

// The server's peak memory grows by less than 16 MiB while hostile clients are served: a few
// connections' buffers, far from what they announce. A sanitizer's own memory for each thread
// and allocation outweighs that, so its builds check the behaviour alone.
void ExpectSmallGrowth(pid_t pid, long beforeKiB) {
#ifndef AB_SANITIZED_BUILD
    EXPECT_LT(StatusKiB(pid, "VmHWM") - beforeKiB, 16 * 1024);
#else
    (void)pid;
    (void)beforeKiB;
#endif
}

TEST(ServerProgramTest, HelpAndBadOptions) {
    Program help({"--help"});
    const std::string text = help.ReadAll();
    EXPECT_EQ(help.Wait(5s), 0);
    for (const char* option : {"--porta",
                               "--raiz",
                               "--tipo",
                               "--usuario",
                               "--senha",
                               "--filtros",
                               "--recusar-login",
                               "--sendfile-falso",
                               "--sendfile-erro",
                               "--cair-no-segmento",
                               "--mudo",
                               "--gravar-recebidos",
                               "--cair-na-mensagem",
                               "--erro-na-mensagem",
                               "--contar-mensagens",
                               "--parar-de-ler-no-bloco",
                               "BufferKBSize",
                               "--max-sem-login",
                               "--max-bytes-login",
                               "--tempo-login",
                               "--tempo-ocioso",
                               "--tempo-escrita",
                               "--descartar-pedidos-adiante",
                               "--fechar-com-pedidos-adiante",
                               "--ignorar-buffer-kb",
                               "ida e volta K",
                               "K idas e voltas, M mensagens"})
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
    const struct {
        const char* option;
        const char* value;
    } refused[] = {{"--tempo-login", "-1"},
                   {"--tempo-login", "1s"},
                   {"--tempo-ocioso", "0.0001"},
                   {"--tempo-escrita", "86401"},
                   {"--tempo-escrita", "nan"},
                   {"--max-sem-login", "0"},
                   {"--max-bytes-login", "63"},
                   {"--descartar-pedidos-adiante=1", nullptr},
                   {"--ignorar-buffer-kb=sim", nullptr}};
    for (const auto& r : refused) {
        std::vector<std::string> args{r.option};
        if (r.value)
            args.emplace_back(r.value);
        Program bad({args});
        EXPECT_EQ(bad.Wait(5s), 2) << r.option << " " << (r.value ? r.value : "");
    }
}

// Strangers each announcing a 1 MB property in their connect message, and never finishing it: each
// is refused once the server has read the login bound, and the server stays small.
TEST(ServerProgramTest, MegabytePropertiesBeforeLoginAreRefusedUnkept) {
    test::TempDir dir;
    Program server({"--porta", "0", "--raiz", (dir.Path() / "root").string()});
    const auto port = static_cast<std::uint16_t>(std::stoi(server.FirstLine()));
    LoginAndAsk(port);
    const long before = StatusKiB(server.pid, "VmHWM");

    std::string head = test::ConnectMessage(port);
    head = head.substr(0, head.find("[{") + 2) + "\"Extra\":\"";
    const std::string property(1'000'000, 'x');
    std::vector<std::future<bool>> strangers;
    for (int i = 0; i < 24; ++i)
        strangers.push_back(std::async(std::launch::async, [&] {
            test::RawClient c(port);
            try {
                c.Send(Cat({Hex("05 05 05 05 05"), test::Ascii(head), test::Ascii(property)}));
            } catch (const std::runtime_error&) {
                // The server closed while the property was still on its way.
            }
            return c.PeerClosed(5s);
        }));
    for (auto& s : strangers)
        EXPECT_TRUE(s.get());
    ExpectSmallGrowth(server.pid, before);
    LoginAndAsk(port);
}

// 64 connections that send nothing: a real client still logs in at once (the strangers have
// their own share of the places), and each stranger is closed at the login deadline.
TEST(ServerProgramTest, SilentStrangersNeitherFillTheServerNorStay) {
    test::TempDir dir;
    Program server(
        {"--porta", "0", "--raiz", (dir.Path() / "root").string(), "--tempo-login", "1"});
    const auto port = static_cast<std::uint16_t>(std::stoi(server.FirstLine()));
    LoginAndAsk(port);
    const long before = StatusKiB(server.pid, "VmHWM");
    std::vector<std::unique_ptr<test::RawClient>> strangers;
    for (int i = 0; i < 64; ++i)
        strangers.push_back(std::make_unique<test::RawClient>(port));
    std::this_thread::sleep_for(100ms);  // all accepted, none logged in
    const auto start = std::chrono::steady_clock::now();
    LoginAndAsk(port);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    for (auto& s : strangers)
        EXPECT_TRUE(s->PeerClosed(3s));
    ExpectSmallGrowth(server.pid, before);
}

// A client that writes requests whose answers are large and never reads them: once the socket
// buffers are full the server's write makes no progress, and the connection is cut at the write
// deadline instead of holding its thread; the server stays small and serves others.
TEST(ServerProgramTest, ClientThatNeverReadsIsCutAtTheWriteDeadline) {
    test::TempDir dir;
    Program server(
        {"--porta", "0", "--raiz", (dir.Path() / "root").string(), "--tempo-escrita", "0.5"});
    const auto port = static_cast<std::uint16_t>(std::stoi(server.FirstLine()));
    LoginAndAsk(port);
    const long before = StatusKiB(server.pid, "VmHWM");

    test::RawClient c(port);
    test::LoginAndPrepare(c, port, "TZvServer.EchoString");
    // Each echo answers its 60,000 characters; 300 of them are far more than the buffers hold.
    const test::Bytes echo =
        test::Execute(1, Cat({test::StringField(std::string(60000, 'e')), Hex("C0")}));
    test::Bytes requests;
    for (int i = 0; i < 300; ++i)
        requests.insert(requests.end(), echo.begin(), echo.end());
    auto writer = std::async(std::launch::async, [&] {
        try {
            c.Send(requests);
        } catch (const std::runtime_error&) {
            return true;  // the server cut the connection
        }
        return false;
    });
    const bool finished = writer.wait_for(10s) == std::future_status::ready;
    if (!finished)
        ::shutdown(c.Fd(), SHUT_RDWR);  // a server that never cuts: free the writer
    ASSERT_TRUE(finished);
    EXPECT_TRUE(writer.get());
    ExpectSmallGrowth(server.pid, before);
    LoginAndAsk(port);
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
