// Command line of the bundled update server (see the header).
#include "server/TServerOptions.h"

#include <openssl/evp.h>

#include <charconv>

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
read they hold 32 KB. Segments of any length the client sends are read, within --max-bytes.

Messages: the server counts every message it receives, over all connections in the order they
are read, from 1: the five-byte filter query, each request object (connect, prepare, execute,
command_close, reader_close, disconnect, ...) and each data block a client sends answering a
segment pull. --log shows each one with its number; --contar-mensagens writes the total.

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
  --max-conexoes N      connections served at once; more are closed at once (default 64)
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
                        counted)
  --mudo-na-mensagem K  from message K on (counted as above) read but never answer, on every
                        connection, until the client closes; 0: off
  --parar-de-ler-no-bloco N
                        once the server has asked a connection for segment block N (from 1,
                        counted over all SendFile calls on that connection), stop reading from
                        it and keep it open until the client closes it or the server stops, so
                        the client's sends fill the socket buffers and stall; 0: off
  --help                this text
)";
}

}  // namespace ab::server
