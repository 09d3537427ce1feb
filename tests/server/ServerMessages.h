// Client messages of the run and the server's answers to them, written out as a test writes them:
// the connect message, prepare and execute requests, result rows, error replies, the parameter
// metadata of the methods, and the rows of their arguments.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "ServerTestSupport.h"

namespace ab::server::test {

inline const std::string kPassword = "6485B9B5C668BE12667E6690BE732C1F";  // MD5 of the pass phrase

inline std::string ConnectMessage(std::uint16_t port, const std::string& password = kPassword,
                                  const std::string& user = "Atualizador") {
    return "{\"method\":\"connect\",\"params\":[{\"DriverUnit\":\"Data.DBXDataSnap\","
           "\"CommunicationProtocol\":\"tcp/ip\",\"DatasnapContext\":\"datasnap/\","
           "\"DriverAssemblyLoader\":\"Loader\",\"DriverName\":\"DataSnap\","
           "\"HostName\":\"127.0.0.1\",\"Port\":\"" +
           std::to_string(port) +
           "\",\"Filters\":\"{}\",\"DSProxyPort\":\"8080\",\"DSAuthenticationPassword\":\"" +
           password + "\",\"DSAuthenticationUser\":\"" + user + "\"}]}";
}

inline std::string Prepare(const std::string& text) {
    return "{\"method\":\"prepare\",\"params\":[-1,false,\"DataSnap.ServerMethod\",\"" + text +
           "\"]}";
}

inline Bytes Execute(int handle, const Bytes& row) {
    return Cat({Ascii("{\"method\":\"execute\",\"params\":[{\"handle\":[" + std::to_string(handle) +
                      "]},{\"data\":[" + std::to_string(row.size()) + ","),
                row, Ascii("]}]}")});
}

inline Bytes Result(const Bytes& row) {
    return Cat(
        {Ascii("{\"result\":[{\"data\":[" + std::to_string(row.size()) + ","), row, Ascii("]}]}")});
}

inline std::string ErrorReply(int code, const std::string& message) {
    return "{\"error\":{\"name\":\"TDBXError\",\"code\":" + std::to_string(code) +
           ",\"message\":\"" + message + "\"}";
}

inline const std::string kPropertsFileParameters =
    "{\"parameters\":[2,[26,0,1,0,0,\"Arquivo\",0,0,0],[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}";
inline const std::string kSendFileParameters =
    "{\"parameters\":[3,[35,0,1,0,0,\"Dados\",0,0,0],[4,0,1,0,0,\"ChecarMaisAtual\",0,0,0],"
    "[4,0,4,0,0,\"ReturnParameter\",0,0,0]]}";
inline const std::string kRemoveFileParameters =
    "{\"parameters\":[2,[26,0,1,0,0,\"Arquivo\",0,0,0],[4,0,4,0,0,\"ReturnParameter\",0,0,0]]}";

inline std::string PrepareReply(int handle, const std::string& parameters) {
    return "{\"result\":[{\"handle\":[" + std::to_string(handle) + "]}," + parameters + "]}";
}

// A short or 2-byte-length string field of plain ASCII text.
inline Bytes StringField(const std::string& text) {
    if (text.size() <= 31)
        return Cat({Bytes{static_cast<std::uint8_t>(0x20 + text.size())}, Ascii(text)});
    return Cat({Bytes{0x10, static_cast<std::uint8_t>(text.size() >> 8),
                      static_cast<std::uint8_t>(text.size())},
                Ascii(text)});
}

inline Bytes SendFileRow(const Bytes& packet, bool check = true) {
    const Bytes value = test::VariantBytes(packet);
    return Cat({Bytes{0x10, static_cast<std::uint8_t>(value.size() >> 8),
                      static_cast<std::uint8_t>(value.size())},
                value, Bytes{static_cast<std::uint8_t>(check ? 0x60 : 0x20), 0xC0}});
}

inline std::string Base64(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                    reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<int>(bytes.size()));
    return out;
}

}  // namespace ab::server::test
