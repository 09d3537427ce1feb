// bench_raw: the baselines and helpers of the benchmark scripts under bench/, each a subcommand.
//
//   arvore DIR FILES [SEED]    FILES files of 1 to 8 KiB (random sizes and bytes) in 100 folders
//   ida-e-volta PORT [N] [NAME]  a minimal raw-socket client: handshake, login, one prepared
//                              PropertsFile, then N executes asking about NAME (60 to 100 bytes
//                              each), each waiting for its reply; prints the median time of one
//                              request and its reply
//   puxar PORT FILE [NAME]     a minimal raw-socket client sending FILE through SendFile with
//                              32 KiB buffers: the inline part, then one 32,747-byte block per
//                              segment request of the server, as fast as it can; prints the time
//                              from the prepare to the result and the throughput
//   contar FILE...             the bytes a connection sent to the server (the server program's
//                              --gravar-recebidos files): its requests by kind and the round trips
//                              they make (every request that waits for a reply, segment answers
//                              included)
//
// The raw clients write the same bytes the program writes, with nothing in between: no codec, no
// command objects, no record set; the packet of `puxar` is built before the clock starts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/UFuncoes.h"
#include "packet/SendFileDataSet.h"
#include "packet/TClientDataSet.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "server/TServerOptions.h"

#include "RawClient.h"

namespace {

using namespace ab;
using namespace ab::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// With 32 KiB buffers: the inline part of a large first parameter and the data bytes per segment.
constexpr std::size_t kInline = 30717;
constexpr std::size_t kSegment = 32747;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// ---- arvore ----

int Arvore(const fs::path& dir, int files, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<std::size_t> size(1024, 8192);
    std::vector<std::uint64_t> bytes(8192 / 8);
    for (int f = 0; f < 100 && f < files; ++f)
        fs::create_directories(dir / ("pasta" + std::to_string(100 + f).substr(1)));
    for (int i = 0; i < files; ++i) {
        for (auto& b : bytes)
            b = rng();
        char name[64];
        std::snprintf(name, sizeof name, "pasta%02d/arquivo%05d.bin", i % 100, i);
        std::ofstream out(dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(size(rng)));
        if (!out)
            throw std::runtime_error(std::string("cannot write ") + name);
    }
    return 0;
}

// ---- ida-e-volta ----

int IdaEVolta(int port, int n, const std::string& nome) {
    RawClient c(port);
    RawHandshake(c);
    c.Send(Prepare("PropertsFile"));
    const int h = HandleOf(c.ReceiveObject());
    // The row: the Base64 name as a short string, then the unset return.
    const std::string base64 = ToUtf8(EncoderBase64(FromUtf8(nome)));
    if (base64.size() > 0xFFFF)
        throw std::runtime_error("name too long");
    std::string row;
    if (base64.size() <= 31) {
        row.push_back(static_cast<char>(0x20 + base64.size()));
    } else {
        row.push_back(0x10);
        row.push_back(static_cast<char>(base64.size() >> 8));
        row.push_back(static_cast<char>(base64.size() & 0xFF));
    }
    row += base64;
    row.push_back(static_cast<char>(0xC0));
    const std::string request = ExecuteStart(h, row.size()) + row + "]}]}";
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n + n / 10; ++i) {
        const auto t0 = Clock::now();
        c.Send(request);
        c.ReceiveObject();
        if (i >= n / 10)  // the first tenth warms up
            times.push_back(Seconds(Clock::now() - t0));
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "ida-e-volta: mediana %.2f us, p10 %.2f us, p90 %.2f us (pedido de %zu bytes, %d vezes)\n",
        times[times.size() / 2] * 1e6, times[times.size() / 10] * 1e6,
        times[times.size() * 9 / 10] * 1e6, request.size(), n);
    return 0;
}

// ---- puxar ----

int Puxar(int port, const fs::path& file, const std::string& nome) {
    TClientDataSet ds{std::u16string(kSendFileDataSetName)};
    auto fields = AddSendFileFields(ds);
    ds.CreateDataSet();
    ds.Append();
    fields.Nome.SetAsString(FromUtf8(nome));
    fields.DataHora.SetAsDateTime(EncodeDateTime({2015, 12, 10, 8, 30, 0, 0}));
    fields.Arquivo.LoadFromFile(FromUtf8(file.string()));
    ds.Post();
    const TClientDataSet::TDataPacketParts parts = ds.DataParts();
    const std::span<const std::uint8_t> head(parts.Head);
    const std::span<const std::uint8_t> content =
        parts.Content ? std::span<const std::uint8_t>(*parts.Content)
                      : std::span<const std::uint8_t>();

    // The stream bytes of a byte-array variant: 03, the count as 8 bytes little-endian, the bytes.
    std::uint8_t prefix[9] = {0x03};
    const std::uint64_t n = parts.Size();
    for (int i = 0; i < 8; ++i)
        prefix[1 + i] = static_cast<std::uint8_t>(n >> (8 * i));
    const std::size_t total = n + 9;
    if (total <= kInline)
        throw std::runtime_error("the file fits inline; puxar is for large files");
    auto copyValue = [&](std::size_t from, std::size_t count, char* to) {
        for (; count > 0 && from < 9; --count)
            *to++ = static_cast<char>(prefix[from++]);
        if (count > 0 && from - 9 < head.size()) {
            const std::size_t k = std::min(count, head.size() - (from - 9));
            std::memcpy(to, head.data() + (from - 9), k);
            to += k, from += k, count -= k;
        }
        if (count > 0)
            std::memcpy(to, content.data() + (from - 9 - head.size()), count);
    };

    RawClient c(port);
    RawHandshake(c);
    const auto t0 = Clock::now();
    c.Send(Prepare("SendFile"));
    const int h = HandleOf(c.ReceiveObject());
    std::string row(3 + kInline + 2, '\0');
    row[0] = 0x50;  // a first segment: more follows on request
    row[1] = static_cast<char>(kInline >> 8);
    row[2] = static_cast<char>(kInline & 0xFF);
    copyValue(0, kInline, row.data() + 3);
    row[3 + kInline] = 0x60;  // ChecarMaisAtual true, as the program sends it
    row[4 + kInline] = static_cast<char>(0xC0);
    c.Send(ExecuteStart(h, row.size()) + row + "]}]}");
    std::size_t at = kInline;
    std::vector<char> block(32768);
    std::string result;
    for (;;) {
        std::string request = c.ReceiveObject();
        if (request.starts_with("{\"result\"")) {
            result = std::move(request);
            break;
        }
        const std::size_t count = std::min(kSegment, total - at);
        const bool last = at + count == total;
        std::string head9 = "{\"data\":[" + std::to_string(last ? -static_cast<long long>(count)
                                                                : static_cast<long long>(count));
        head9.resize(9 + 9, ' ');
        head9 += ",";
        std::memcpy(block.data(), head9.data(), head9.size());
        copyValue(at, count, block.data() + head9.size());
        std::memcpy(block.data() + head9.size() + count, "]}", 2);
        c.Send(block.data(), head9.size() + count + 2);
        at += count;
    }
    const double s = Seconds(Clock::now() - t0);
    c.Send(R"({"method":"command_close","params":[)" + std::to_string(h) + "]}");
    // The result row ends with the boolean return: 0x60 when the server stored the file.
    const bool stored = result.find('\x60') != std::string::npos;
    std::printf("puxar: %zu bytes em %.4f s: %.1f MiB/s%s\n", content.size(), s,
                static_cast<double>(content.size()) / (1 << 20) / s,
                stored ? "" : " [o servidor respondeu false]");
    return stored ? 0 : 1;
}

// ---- contar ----

struct Contagem {
    long handshake = 0;
    long segmentos = 0;  // data blocks answering the server's segment requests
    std::map<std::string, long> metodos;
    long IdasEVoltas() const {
        long n = handshake + segmentos;
        for (const auto& [metodo, k] : metodos) {
            // These three are written and never answered.
            if (metodo != "command_close" && metodo != "reader_close" && metodo != "disconnect")
                n += k;
        }
        return n;
    }
};

// Walks the client's bytes: JSON objects, each data block's raw bytes skipped by its count.
Contagem Contar(const std::vector<std::uint8_t>& b) {
    Contagem c;
    std::size_t i = 0;
    const auto at = [&](std::size_t p, std::string_view s) {
        return p + s.size() <= b.size() && std::memcmp(b.data() + p, s.data(), s.size()) == 0;
    };
    if (b.size() >= 5 && std::all_of(b.begin(), b.begin() + 5, [](std::uint8_t x) {
            return x == TransportConstants::FilterQueryByte;
        })) {
        c.handshake = 1;
        i = 5;
    }
    int depth = 0;
    JsonStrings strings;
    while (i < b.size()) {
        const char ch = static_cast<char>(b[i]);
        if (strings.InString()) {
            strings.Consume(ch);
            ++i;
            continue;
        }
        if (depth == 0 && ch == '{') {
            if (at(i, "{\"method\":\"")) {
                const std::size_t from = i + 11;
                std::size_t to = from;
                while (to < b.size() && b[to] != '"')
                    ++to;
                ++c.metodos[std::string(b.begin() + static_cast<long>(from),
                                        b.begin() + static_cast<long>(to))];
            } else if (at(i, "{\"data\":[")) {
                ++c.segmentos;
            }
        }
        if (at(i, "\"data\":[")) {
            i += 8;
            while (i < b.size() && b[i] == ' ')
                ++i;
            if (i < b.size() && b[i] == '-')
                ++i;
            std::size_t count = 0;
            while (i < b.size() && b[i] >= '0' && b[i] <= '9')
                count = count * 10 + (b[i++] - '0');
            while (i < b.size() && b[i] == ' ')
                ++i;
            if (i < b.size() && b[i] == ',')
                ++i;
            i += count;
            depth += 1;  // the '[' just passed
            continue;
        }
        if (ch == '{' || ch == '[')
            ++depth;
        else if (ch == '}' || ch == ']')
            --depth;
        else
            strings.Consume(ch);  // a quote opens a string
        ++i;
    }
    return c;
}

int ContarArquivos(const std::vector<std::string>& files) {
    long total = 0, maior = 0;
    std::map<std::string, long> metodos;
    long segmentos = 0;
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        const Contagem c = Contar(bytes);
        std::printf("%s: idas-e-voltas %ld (", fs::path(f).filename().c_str(), c.IdasEVoltas());
        std::printf("aperto %ld", c.handshake);
        for (const auto& [m, k] : c.metodos) {
            std::printf(", %s %ld", m.c_str(), k);
            metodos[m] += k;
        }
        std::printf(", blocos %ld)\n", c.segmentos);
        segmentos += c.segmentos;
        total += c.IdasEVoltas();
        maior = std::max(maior, c.IdasEVoltas());
    }
    std::printf("total: idas-e-voltas %ld maior-conexao %ld conexoes %zu execute %ld blocos %ld\n",
                total, maior, files.size(), metodos["execute"], segmentos);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string cmd = argc > 1 ? argv[1] : "";
        if (cmd == "arvore" && argc >= 4)
            return Arvore(argv[2], std::atoi(argv[3]),
                          argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 1u);
        if (cmd == "ida-e-volta" && argc >= 3)
            return IdaEVolta(std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 2000,
                             argc > 4 ? argv[4] : "S01\\pasta00\\arquivo00000.bin");
        if (cmd == "puxar" && argc >= 4)
            return Puxar(std::atoi(argv[2]), argv[3], argc > 4 ? argv[4] : "S01\\bruto.bin");
        if (cmd == "contar" && argc >= 3)
            return ContarArquivos(std::vector<std::string>(argv + 2, argv + argc));
        std::fprintf(stderr,
                     "usage: bench_raw arvore DIR FILES [SEED] | ida-e-volta PORT [N] [NAME] |\n"
                     "       puxar PORT FILE [NAME] | contar FILE...\n");
        return 2;
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_raw: %s\n", ToUtf8(e.Message()).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_raw: %s\n", e.what());
    }
    return 1;
}
