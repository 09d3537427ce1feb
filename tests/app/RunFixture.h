// Test support for the publishing run: a temporary package folder (a "program" file beside the
// tree to publish), the bundled update server in-process on a free loopback port with a fresh
// store, the record set as the window creates it, and a run wired to a FakeView.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "FakeView.h"
#include "app/TAtualizador.h"
#include "packet/SendFileDataSet.h"
#include "packet/TClientDataSet.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "server/TUpdateServer.h"

namespace ab::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    explicit TempDir(const std::string& tag = "app") {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("ab-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

inline fs::path U8Path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

inline Bytes Pattern(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

inline Bytes ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Last-write time in whole seconds since the Unix epoch.
inline std::int64_t MTime(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

inline void SetMTime(const fs::path& p, std::int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    ::utimensat(AT_FDCWD, p.c_str(), times, 0);
}

// A fixed moment with whole seconds: 2023-05-04 10:20:30 UTC.
inline constexpr std::int64_t kStamp = 1683195630;

inline void WriteFile(const fs::path& p, const Bytes& content, std::int64_t mtime = kStamp) {
    fs::create_directories(p.parent_path());
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
    }
    SetMTime(p, mtime);
}

inline void WriteText(const fs::path& p, std::string_view text, std::int64_t mtime = kStamp) {
    WriteFile(p, Bytes(text.begin(), text.end()), mtime);
}

// The bundled server with its own store under a temporary folder.
struct ServerUnderTest {
    explicit ServerUnderTest(server::TServerOptions o = {}) {
        o.port = 0;
        o.address = "127.0.0.1";
        o.root = dir.Path() / "armazem";
        o.keepReceived = true;
        server = std::make_unique<server::TUpdateServer>(o);
        port = server->Start();
    }
    fs::path Store() const { return server->Options().root; }
    // Everything the server received on every connection so far, in accept order.
    std::string AllReceived() const {
        std::string all;
        for (std::size_t i = 0; i < server->ConnectionCount(); ++i) {
            const Bytes b = server->ReceivedBytes(i);
            all.append(b.begin(), b.end());
        }
        return all;
    }

    TempDir dir{"srv"};
    std::unique_ptr<server::TUpdateServer> server;
    std::uint16_t port = 0;
};

// A package folder holding the program file, and a run on a FakeView pointed at a server.
struct RunUnderTest {
    RunUnderTest(std::uint16_t port, bool teste = false, std::u16string sistema = u"S01\\")
        : cds(std::u16string(kSendFileDataSetName)) {
        AddSendFileFields(cds);
        cds.CreateDataSet();
        WriteText(Programa(),
                  "\x7f"
                  "ELF program stand-in");
        view.Porta = port;
        dados.ProgramPath = FromUtf8(Programa().string());
        dados.ProgramFolder = FromUtf8(Pacote().string()) + u"/";
        dados.Sistema = std::move(sistema);
        dados.VersaoPraTeste = teste;
    }
    fs::path Pacote() const { return dir.Path() / "pacote"; }
    fs::path Programa() const { return Pacote() / "AtualizadorBrevant"; }

    // A fresh run object (as a new program start would make) on the same view and record set.
    TAtualizador& Run() {
        atualizador = std::make_unique<TAtualizador>(
            view, cds, dados, [this](std::chrono::milliseconds ms) { Pauses.push_back(ms); },
            nullptr, opcoes);
        return *atualizador;
    }
    // Presses "Atualizar" as the window does: an escaping error goes to the general error handler,
    // whose message is returned.
    std::optional<std::u16string> Click() {
        try {
            (atualizador ? *atualizador : Run()).btn_AtualizarClick();
            return std::nullopt;
        } catch (const Exception& e) {
            return e.Message();
        }
    }

    TempDir dir{"pkg"};
    FakeView view;
    TClientDataSet cds;
    TDadosPrograma dados;
    TOpcoesExecucao opcoes;
    std::vector<std::chrono::milliseconds> Pauses;
    std::unique_ptr<TAtualizador> atualizador;
};

}  // namespace ab::testing
