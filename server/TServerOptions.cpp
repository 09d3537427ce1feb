// Command line of the bundled update server (see the header).
#include "server/TServerOptions.h"

#include <openssl/evp.h>

#include <charconv>
#include <cmath>

#include "platform/Text.h"
#include "server/ServerConstants.h"

namespace ab::server {

std::u16string DefaultUser() {
    return std::u16string(kDefaultUser);
}

std::u16string DefaultPassword() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(kDefaultPassPhrase.data(), kDefaultPassPhrase.size(), digest, &length, EVP_md5(),
               nullptr);
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

namespace {

long long Number(const std::string& option, const std::string& text, long long min, long long max) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
        throw EUsage("invalid value for " + option + ": " + text);
    return value;
}

// Seconds with an optional fraction, 0 (no limit) to one day; a positive value under 1 ms would
// silently mean no limit, so it is refused.
std::chrono::milliseconds Seconds(const std::string& option, const std::string& text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !(value >= 0) || value > 86400)
        throw EUsage("invalid value for " + option + ": " + text);
    const auto ms = std::chrono::milliseconds(std::llround(value * 1000));
    if (value > 0 && ms.count() == 0)
        throw EUsage("invalid value for " + option + ": " + text + " (under 1 ms)");
    return ms;
}

}  // namespace

TServerOptions ParseServerOptions(const std::vector<std::string>& args, bool& help) {
    TServerOptions o;
    help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = option.find('='); option.starts_with("--") && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
            hasValue = true;
        }
        auto next = [&]() -> std::string {
            if (hasValue)
                return value;
            if (i + 1 >= args.size())
                throw EUsage("missing value for " + option);
            return args[++i];
        };
        auto flag = [&] {
            if (hasValue)
                throw EUsage(option + " takes no value");
        };
        if (option == "--help" || option == "-h") {
            flag();
            help = true;
        } else if (option == "--porta") {
            o.port = static_cast<std::uint16_t>(Number(option, next(), 0, 65535));
        } else if (option == "--endereco") {
            o.address = next();
        } else if (option == "--raiz") {
            o.root = next();
        } else if (option == "--tipo") {
            const std::string kind = next();
            if (kind == "pai")
                o.kind = TServerKind::Pai;
            else if (kind == "cliente")
                o.kind = TServerKind::Cliente;
            else
                throw EUsage("--tipo takes pai or cliente, not " + kind);
        } else if (option == "--usuario") {
            o.user = FromUtf8(next());
        } else if (option == "--senha") {
            o.password = FromUtf8(next());
        } else if (option == "--filtros") {
            o.filters = next();
        } else if (option == "--produto") {
            o.productName = FromUtf8(next());
        } else if (option == "--versao-protocolo") {
            o.protocolVersion = static_cast<int>(Number(option, next(), -1, 1000000));
        } else if (option == "--max-bytes") {
            o.maxValueBytes = static_cast<std::uint64_t>(Number(option, next(), 1, 1LL << 40));
        } else if (option == "--max-conexoes") {
            o.maxConnections = static_cast<std::size_t>(Number(option, next(), 1, 4096));
        } else if (option == "--max-bytes-login") {
            o.maxLoginBytes = static_cast<std::size_t>(Number(option, next(), 64, 1LL << 30));
        } else if (option == "--max-sem-login") {
            o.maxPendingLogins = static_cast<std::size_t>(Number(option, next(), 1, 4096));
        } else if (option == "--tempo-login") {
            o.loginTimeout = Seconds(option, next());
        } else if (option == "--tempo-ocioso") {
            o.idleTimeout = Seconds(option, next());
        } else if (option == "--tempo-escrita") {
            o.writeTimeout = Seconds(option, next());
        } else if (option == "--descartar-pedidos-adiante") {
            flag();
            o.dropRequestsAhead = true;
        } else if (option == "--fechar-com-pedidos-adiante") {
            flag();
            o.closeOnRequestsAhead = true;
        } else if (option == "--ignorar-buffer-kb") {
            flag();
            o.ignoreBufferKBSize = true;
        } else if (option == "--recusar-login") {
            flag();
            o.refuseLogin = true;
        } else if (option == "--recusar-login-depois-de") {
            o.refuseLoginAfter = static_cast<int>(Number(option, next(), 0, 1000000));
        } else if (option == "--sendfile-falso") {
            o.sendFileFalseFirst = static_cast<int>(Number(option, next(), 0, 1000000));
        } else if (option == "--sendfile-erro") {
            o.sendFileErrorFirst = static_cast<int>(Number(option, next(), 0, 1000000));
        } else if (option == "--cair-no-segmento") {
            o.dropInPullFirst = static_cast<int>(Number(option, next(), 0, 1000000));
        } else if (option == "--cair-na-mensagem") {
            o.dropAtMessage = Number(option, next(), 0, 1LL << 50);
        } else if (option == "--erro-na-mensagem") {
            o.errorAtMessage = Number(option, next(), 0, 1LL << 50);
        } else if (option == "--mudo-na-mensagem") {
            o.silentFromMessage = Number(option, next(), 0, 1LL << 50);
        } else if (option == "--parar-de-ler-no-bloco") {
            o.stopReadingAtBlock = static_cast<int>(Number(option, next(), 0, 1000000000));
        } else if (option == "--pausa-por-bloco") {
            o.pauseBeforeBlockMs = static_cast<int>(Number(option, next(), 0, 60000));
        } else if (option == "--contar-mensagens") {
            o.messageCountFile = next();
        } else if (option == "--mudo") {
            flag();
            o.silent = true;
        } else if (option == "--gravar-recebidos") {
            o.receivedDir = next();
        } else if (option == "--log") {
            flag();
            o.log = true;
        } else {
            throw EUsage("unknown option " + option + " (see --help)");
        }
    }
    return o;
}

std::string ServerHelpText() {
    return R"(Usage: atualizador-servidor [options]

A small update server for trying and testing the updater without a production server. It
listens on TCP, answers the filter handshake, the connect message (user and password checked),
the metadata query and the server methods PropertsFile, SendFile, RemoveFile, AlertarZvClientes,
DataHoraBrevant and, on a parent server, EchoString. Received files are stored under the root
folder at their destination names (backslashes become folders) with the packet's time stamp as
their modification time; alerts are appended to <root>/.alertas.log.

The first line written to standard output is the port the server listens on. SIGINT or SIGTERM
stops it cleanly.

Each connection's read and write buffers follow the client's BufferKBSize connection property
from its connect message: that many KB (1024 bytes each); absent, empty, not a whole number or
not above 0 means 32; more than 16384 (16 MiB) is taken as 16384. Before the connect message is
read they hold 32 KB. Segments of any length the client sends are read, within --max-bytes
(unless --ignorar-buffer-kb).

Messages: the server counts every message it receives, over all connections in the order they
are read, from 1: the five-byte filter query, each request object (connect, prepare, execute,
command_close, reader_close, disconnect, ...) and each data block a client sends answering a
segment pull. --log shows each one with its number; --contar-mensagens writes the total.

Round trips: each connection counts how many times the server, having nothing the client sent
left to handle, sends its answers and must then wait for the client's next bytes. A wait counts
only when the server sent something since its previous wait, so the first wait (for the filter
query; the client speaks first) and waits after messages that get no answer (command_close,
reader_close) count none, and requests written ahead and read together cost one. --log shows
"conexao N: ida e volta K" at each one and, when the connection ends,
"conexao N: K idas e voltas, M mensagens" (M: the messages that connection received).

Strangers: a connection that has not logged in belongs to anyone who can reach the port. It may
send --max-bytes-login bytes at most before its login is accepted (a longer connect message is
refused with an error reply when that many bytes have been read, and the connection closed; a
filter handshake may add 16 KiB of raw bytes), it has --tempo-login seconds from its accept to
log in, and at most --max-sem-login such connections are served at once: one more closes the one
that has waited longest, so real clients still get in. After login a connection is closed when
the client leaves it silent for --tempo-ocioso seconds while the server waits for it. Every write
of the server fails, and the connection ends, when the client takes no byte of it for
--tempo-escrita seconds (a client that writes requests and never reads their answers).

Options:
  --porta N             TCP port; 0 picks a free one (default 211)
  --endereco ADDR       listen on this address only (default: 127.0.0.1 and ::1)
  --raiz DIR            root folder of the stored files (default ./armazem)
  --tipo pai|cliente    parent server (class TZvServer, with EchoString) or client server
                        (class TZvClienteServer, names asked with ".hxf") (default pai)
  --usuario NAME        accepted DSAuthenticationUser (default Atualizador)
  --senha TEXT          accepted DSAuthenticationPassword (default: the upper-case MD5 digest
                        of the tool's pass phrase); letters compare without regard to case
  --filtros JSON        transport filters to announce, the same JSON object as the client's
                        Filters property, e.g. {"ZLibCompression":{"CompressMoreThan":"1024"}}
  --produto NAME        product name in the connect reply (default AtualizadorServidor)
  --versao-protocolo N  protocol version in the connect reply; -1 leaves it out (default 2)
  --max-bytes N         largest SendFile argument accepted, in bytes (default 2148532224)
  --max-conexoes N      connections served at once; more are closed at once, unless one that
                        has not logged in can give its place (default 64)
  --max-sem-login N     connections not logged in served at once (default 32)
  --max-bytes-login N   bytes a connection may send before its login is accepted, the connect
                        message included; 64 or more (default 65536)
  --tempo-login S       seconds a connection has from its accept to log in; 0: no limit
                        (default 10; fractions allowed, as in 0.5)
  --tempo-ocioso S      seconds a logged-in client may leave the server waiting; 0: no limit
                        (default 600)
  --tempo-escrita S     seconds a write may wait for the client to take a byte; 0: no limit
                        (default 60)
  --gravar-recebidos DIR  write the bytes each connection received to DIR/conexao-N.bin
  --log                 one line per event on standard error, "mensagem K: ..." for each
                        message received
  --contar-mensagens ARQUIVO
                        when the server stops (SIGINT, SIGTERM), write to ARQUIVO the number of
                        messages it received, as one decimal line

Fault injection (for tests):
  --recusar-login       refuse every login with an error reply and close the connection
  --recusar-login-depois-de N
                        accept the first N logins, refuse every later one (a reconnect)
  --sendfile-erro N     the first N SendFile calls answer an error reply
  --sendfile-falso N    the next N SendFile calls (after those) answer false
  --cair-no-segmento N  the first N SendFile calls that pull segments close the connection
                        in the middle of the first segment
  --cair-na-mensagem K  close the connection right after receiving message K (counted as
                        above), without answering or handling it; 0: off
  --erro-na-mensagem K  answer message K with the error reply "Falha injetada na mensagem K"
                        (code 101) instead of handling it, also for messages that get no answer
                        (command_close, disconnect); for the filter query the error object takes
                        the place of the five-byte answer and the connection closes after it; an
                        error on a segment's data block ends that call; 0: off. With both options
                        on the same K, the connection is closed
  --mudo                accept connections and read them, but never answer (no message is
                        counted), with none of the deadlines above, as a server that hangs
  --mudo-na-mensagem K  from message K on (counted as above) read but never answer, on every
                        connection, until the client closes, with no deadline; 0: off
  --parar-de-ler-no-bloco N
                        once the server has asked a connection for segment block N (from 1,
                        counted over all SendFile calls on that connection), stop reading from
                        it and keep it open until the client closes it or the server stops, so
                        the client's sends fill the socket buffers and stall; 0: off
  --pausa-por-bloco MS  wait MS milliseconds before asking for each segment block of a value,
                        as a slow link would (a large file stays on its way); 0: off

Servers that cannot take requests ahead (for a client that writes several requests before reading
their answers). Messages answered here are every request but command_close, reader_close and
disconnect (a client writes those without waiting, ahead or not), and every data block:
  --descartar-pedidos-adiante
                        once a message answered is read, throw away the bytes already received
                        behind it (as a server that reads a request with one receive and drops
                        the rest); those requests get no answer, and a request cut in two leaves
                        its tail to be read as garbage (an error reply, and the connection ends)
  --fechar-com-pedidos-adiante
                        once a message answered is read, close the connection without answering
                        when bytes behind it have already arrived
  --ignorar-buffer-kb   keep 32 KB buffers whatever BufferKBSize the client asks for. A client
                        with larger buffers sends larger data blocks (a segment block fills the
                        client's whole buffer, and the execute request's row nearly does), which
                        such a server cannot hold: a data block of more than 32747 bytes (32768
                        less its 21 framing bytes), in an execute request or answering a segment
                        pull, is refused on its count with the error reply "Data block of N bytes
                        does not fit the 32768-byte buffer" (code 14) and the connection closes
  --help                this text
)";
}

}  // namespace ab::server
