// What runs learned about servers that cannot keep up, remembered per server (address and port) so
// that the next run starts the plain way on that server at once, without probing it again.
//
// The file is $XDG_STATE_HOME/atualizador-brevant/servidores (~/.local/state/... when
// XDG_STATE_HOME is unset or not absolute): '#' comment lines, then one line per server and limit,
//   ENDERECO:PORTA <TAB> pedidos-em-curso=1|buffer-kb=32 <TAB> ate=AAAA-MM-DDTHH:MM:SSZ <TAB>
//   vezes=N
// A limit holds until its time (UTC); each time it is found again after that, it holds twice as
// long: a day, two, four, up to 64 days, so a server that was mended gets the fast way back. Lines
// that cannot be read are dropped on the next write. The file is replaced whole (a new file renamed
// over it), so a reader never sees half a line.
//
// Thread safety: Consultar and Lembrar may be called from several threads (mutex_ orders them);
// two programs writing at once keep the last one's lines.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ab {

enum class TLimite {
    UmPedidoPorVez,  // reads no request written behind another: one request at a time
    Buffer32,        // does not honour a larger BufferKBSize: 32 KB blocks
};

struct TLimitesDoServidor {
    bool UmPedidoPorVez = false;
    bool Buffer32 = false;
};

// $XDG_STATE_HOME/atualizador-brevant, or ~/.local/state/atualizador-brevant.
std::filesystem::path PastaDeEstado();

class TMemoriaDosServidores {
  public:
    using TAgora = std::function<std::chrono::system_clock::time_point()>;

    // An empty path remembers nothing (Consultar answers no limit, Lembrar does nothing).
    explicit TMemoriaDosServidores(std::filesystem::path arquivo, TAgora agora = {});

    // The limits in force for the server; a missing or unreadable file gives none.
    TLimitesDoServidor Consultar(std::u16string_view endereco, int porta) const;
    // Remembers a limit found now; until when it holds (nothing when nothing is remembered). Raises
    // Exception naming the file when it cannot be written.
    std::optional<std::chrono::system_clock::time_point> Lembrar(std::u16string_view endereco,
                                                                 int porta, TLimite limite);

    const std::filesystem::path& Arquivo() const { return arquivo_; }

  private:
    std::filesystem::path arquivo_;
    TAgora agora_;
    mutable std::mutex mutex_;  // one reading or rewriting of the file at a time
};

}  // namespace ab
