// atualizador-servidor: the bundled update server as a program. Prints the port as its first line
// of standard output, then serves until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "server/TUpdateServer.h"

int main(int argc, char** argv) {
    using namespace ab::server;
    std::vector<std::string> args(argv + 1, argv + argc);
    TServerOptions options;
    bool help = false;
    try {
        options = ParseServerOptions(args, help);
    } catch (const EUsage& e) {
        std::cerr << "atualizador-servidor: " << e.what() << "\n";
        return 2;
    }
    if (help) {
        std::cout << ServerHelpText();
        return 0;
    }

    // Every thread inherits the blocked set; the main thread takes the signals with sigwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    TUpdateServer server(options);
    try {
        const std::uint16_t port = server.Start();
        std::printf("%u\n", static_cast<unsigned>(port));
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::cerr << "atualizador-servidor: " << e.what() << "\n";
        return 1;
    }
    int received = 0;
    sigwait(&signals, &received);
    server.Stop();
    return 0;
}
