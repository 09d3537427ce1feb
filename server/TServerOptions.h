// Settings of the bundled update server, and the command line that fills them.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ab::server {

enum class TServerKind { Pai, Cliente };

struct TServerOptions {
    // Listening: port 0 picks a free one; an empty address listens on 127.0.0.1 and ::1.
    std::uint16_t port = 211;
    std::string address;
    std::filesystem::path root = "armazem";
    TServerKind kind = TServerKind::Pai;
    std::u16string user;      // empty: the default user
    std::u16string password;  // empty: the default password digest
    // The same JSON object as the client's "Filters" property; empty or "{}" for none.
    std::string filters;
    std::u16string productName = u"AtualizadorServidor";
    int protocolVersion = 2;  // below 0: left out of the connect reply
    // Room for every packet the client can build: a file under 2 GiB plus the packet head.
    std::uint64_t maxValueBytes = (2ULL << 30) + (1ULL << 20);
    std::size_t maxConnections = 64;

    // What a connection that has not logged in may cost: it belongs to anyone who can reach the
    // port. Bytes it may send before its login is accepted (the filter query and the connect
    // message; a filter handshake may add kLoginHandshakeAllowance raw bytes); the time it has
    // from its accept to log in; how many such connections are served at once (a further one
    // closes the one that has waited longest). 0 for a time: no limit.
    std::size_t maxLoginBytes = 64 * 1024;
    std::chrono::milliseconds loginTimeout{10'000};
    std::size_t maxPendingLogins = 32;
    // A logged-in connection the client leaves silent this long while the server waits for it is
    // closed; a write the client takes no byte of for this long fails and ends the connection.
    // 0: no limit.
    std::chrono::milliseconds idleTimeout{600'000};
    std::chrono::milliseconds writeTimeout{60'000};

    // Fault injection.
    bool refuseLogin = false;
    int refuseLoginAfter = 0;    // logins after the first N that succeeded are refused (0: off)
    int sendFileFalseFirst = 0;  // SendFile answers false for the first N calls
    int sendFileErrorFirst = 0;  // SendFile answers an error for the first N calls
    int dropInPullFirst = 0;     // the first N segment pulls end by closing the connection
    bool silent = false;         // accept, read, never answer
    // Message K (from 1, counted across every connection: the filter query, each request object
    // and each data block answering a segment pull), once fully read, is not handled: the
    // connection is closed without an answer (drop), or it is answered with the error reply
    // "Falha injetada na mensagem K" (error) and serving goes on. 0: off.
    std::int64_t dropAtMessage = 0;
    std::int64_t errorAtMessage = 0;
    // From message K on (counted as above) the server reads but never answers. 0: off.
    std::int64_t silentFromMessage = 0;
    // Once the server has asked for segment block N (from 1, counted over the SendFile calls of
    // one connection), it reads nothing more from that connection and keeps it up until the
    // client closes it or the server stops: a server whose buffers fill. 0: off.
    int stopReadingAtBlock = 0;
    // Before asking for each segment block of a value the server waits this long: a slow link,
    // so a large file stays on its way long enough for a test to act during it. 0: off.
    int pauseBeforeBlockMs = 0;
    // Servers that cannot take requests ahead. Once the server has read a message it answers (any
    // request but command_close, reader_close and disconnect, which a client writes without
    // waiting, and every data block), bytes it already received behind that message are thrown
    // away (dropRequestsAhead), or the connection is closed without an answer when any such byte
    // has arrived (closeOnRequestsAhead).
    bool dropRequestsAhead = false;
    bool closeOnRequestsAhead = false;
    // Keeps 32 KB buffers whatever BufferKBSize the client asks for: a data block that does not
    // fit one (more than 32747 bytes, in an execute request or answering a segment pull) is
    // answered with an error reply and the connection closes.
    bool ignoreBufferKBSize = false;
    // Test hook for in-process servers (no option sets it): called on the connection's thread
    // just before each segment request of a value, with the request's number (from 1), so a
    // test can act at a known point of a transfer.
    std::function<void(int request)> beforeSegmentRequest;
    // Test hook likewise: called before each SendFile call is handled, with its number (from 1).
    std::function<void(int call)> beforeSendFile;

    // What each connection received: kept in memory for ReceivedBytes, and/or written to
    // <dir>/conexao-<n>.bin (n from 1, in accept order).
    bool keepReceived = false;
    std::filesystem::path receivedDir;

    bool log = false;  // one line per event on stderr
    // When not empty, Stop writes the number of messages received (as counted above) to this file.
    std::filesystem::path messageCountFile;
};

// The default credentials: "Atualizador" and the upper-case MD5 digest of the pass phrase.
std::u16string DefaultUser();
std::u16string DefaultPassword();

class EUsage : public std::exception {
  public:
    explicit EUsage(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

// Parses the program's arguments (without argv[0]). Sets help when --help is given. EUsage on a
// bad option or value.
TServerOptions ParseServerOptions(const std::vector<std::string>& args, bool& help);
std::string ServerHelpText();

}  // namespace ab::server
