// A release folder as Linux folders really are: names that are not UTF-8 (as unzip leaves names
// from a Windows archive), a FIFO and a socket, links to folders inside, outside and above the
// folder, a link to a file outside it and a link to nothing. Shared by the run, the program and
// the window tests.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "support/TestFiles.h"

namespace ab::testing {

struct ArvoreLinux {
    // Where each published file lands in the store (its names in UTF-8, as the store writes them).
    static std::set<std::string> Guardados() {
        return {
            "S01/LeiaMe.txt",
            "S01/Relat\xC3\xB3rios/r.txt",  // folder "Relat\xF3rios"
            "S01/n\xC3\xA3o.txt",           // file "n\xE3o.txt"
            "Scripts/S01/c.sql",            // and not again through dentro -> Scripts
            "S01/ligado.txt",  // a link to a file outside: its content under the link's name
        };
    }
    static constexpr int kEnviados = 5;
    static constexpr int kFalhas = 1;  // quebrado -> nowhere
    // fifo, socket, fora/, raiz/, dentro/ and the link up in Scripts/.
    static constexpr int kIgnorados = 6;
    static constexpr int kLinhas = kEnviados + kFalhas + kIgnorados;

    // Builds the tree in `pacote`; `fora` is a folder outside it.
    static void Escrever(const fs::path& pacote, const fs::path& fora) {
        WriteText(pacote / "LeiaMe.txt", "leia");
        WriteText(pacote / "Relat\xF3rios" / "r.txt", "relatorio");
        WriteText(pacote / "n\xE3o.txt", "nao");
        WriteText(pacote / "Scripts" / "c.sql", "select 1;");
        WriteText(fora / "segredo.txt", "never published");
        WriteText(fora / "alvo.txt", "linked content");
        fs::create_directory_symlink("Scripts", pacote / "dentro");
        fs::create_directory_symlink(fora, pacote / "fora");
        fs::create_directory_symlink("..", pacote / "Scripts" / "acima");
        fs::create_directory_symlink("/", pacote / "raiz");
        fs::create_symlink(fora / "alvo.txt", pacote / "ligado.txt");
        fs::create_symlink("nada", pacote / "quebrado");
        ::mkfifo((pacote / "fifo").c_str(), 0600);
        // A socket file stays behind its closed socket.
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = (pacote / "socket").string();
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::close(s);
    }

    // Every regular file below `store`, relative, '/' separated.
    static std::set<std::string> Armazenados(const fs::path& store) {
        std::set<std::string> found;
        if (!fs::exists(store))
            return found;
        for (const auto& e : fs::recursive_directory_iterator(store)) {
            const std::string relative = fs::relative(e.path(), store).string();
            // The store's own records (alerts, logs) start with a dot.
            if (e.is_regular_file() && !relative.starts_with('.'))
                found.insert(relative);
        }
        return found;
    }
};

}  // namespace ab::testing
