// Test support for the publishing run: a temporary package folder (a "program" file beside the
// tree to publish), the bundled update server in-process on a free loopback port with a fresh
// store, the record set as the window creates it, and a run wired to a FakeView.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakeView.h"
#include "app/TAtualizador.h"
#include "app/UFuncoes.h"
#include "packet/SendFileDataSet.h"
#include "packet/TClientDataSet.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "server/TUpdateServer.h"
#include "support/TestFiles.h"

namespace ab::testing {

// A destination name as the run asks the server about it.
inline std::string B64(std::u16string_view name) {
    return ToUtf8(EncoderBase64(name));
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
