// The bundled update server in-process for the connection tests: a store in a temporary folder,
// a free loopback port, every received byte kept; the updater's designed connection; and one
// server-method call as the proxy makes it (a fresh command, prepared, executed once, freed).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXWritableValue.h"
#include "platform/Text.h"
#include "server/TUpdateServer.h"
#include "transport/TDBXCommand.h"
#include "transport/TDBXConnection.h"
#include "transport/TSQLConnection.h"

namespace ab::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using server::TServerOptions;
using server::TUpdateServer;
using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("ab-transport-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }

  private:
    static inline int counter_ = 0;
    fs::path path_;
};

struct Server {
    explicit Server(TServerOptions o = {}) : options(Prepare(std::move(o), root.Path())) {
        server = std::make_unique<TUpdateServer>(options);
        port = server->Start();
    }
    static TServerOptions Prepare(TServerOptions o, const fs::path& root) {
        o.port = 0;
        o.address = "127.0.0.1";
        o.root = root / "armazem";
        o.keepReceived = true;
        return o;
    }
    std::string Received(std::size_t i) {
        server->WaitConnectionClosed(i, 10s);
        const Bytes b = server->ReceivedBytes(i);
        return std::string(b.begin(), b.end());
    }
    TempDir root;
    TServerOptions options;
    std::unique_ptr<TUpdateServer> server;
    std::uint16_t port = 0;
};

// The updater's designed list and before-connect event.
inline void DesignUpdater(TSQLConnection& conn, int port) {
    conn.SetDriverName(u"DataSnap");
    conn.Params().Lines() = {u"DriverUnit=Data.DBXDataSnap",
                             u"CommunicationProtocol=tcp/ip",
                             u"DatasnapContext=datasnap/",
                             u"DriverAssemblyLoader=Loader.Assembly,Version=1.0.0.0",
                             u"DriverName=DataSnap",
                             u"HostName=localhost",
                             u"port=211",
                             u"Filters={}",
                             u"DSProxyPort=8080",
                             u"DSAuthenticationPassword=design",
                             u"DSAuthenticationUser=design"};
    conn.BeforeConnect = [port](TSQLConnection& c) {
        c.Params().SetValue(u"HostName", u"127.0.0.1");
        c.Params().SetValue(u"Port", IntToStr(port));
        c.Params().SetValue(u"DSAuthenticationUser", server::DefaultUser());
        c.Params().SetValue(u"DSAuthenticationPassword", server::DefaultPassword());
    };
}

// What the proxy does for one call: a fresh command, prepared, executed once, freed.
template <class SetInputs, class ReadResult>
auto Call(TDBXConnection& link, const std::u16string& method, SetInputs set, ReadResult read) {
    auto command = link.CreateCommand();
    command->SetCommandType(u"DataSnap.ServerMethod");
    command->SetText(method);
    command->Prepare();
    set(command->GetParameters());
    command->ExecuteUpdate();
    return read(command->GetParameters());
}

inline std::u16string PropertsFile(TDBXConnection& link, const std::u16string& prefix,
                                   const std::u16string& base64) {
    return Call(
        link, prefix + u"PropertsFile",
        [&](TDBXParameterList& p) { p.GetParameterByOrdinal(0).GetValue().SetWideString(base64); },
        [](TDBXParameterList& p) { return p.GetParameterByOrdinal(1).GetValue().GetWideString(); });
}

inline std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace ab::test
