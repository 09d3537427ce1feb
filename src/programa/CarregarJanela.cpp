// The window module, from the program's own bytes to a loaded library: written to an anonymous
// memory file and opened by the dynamic loader through its /proc/self/fd path. Nothing is written
// to disk, so a copy of the program alone, in any folder, opens its window.
#include "programa/CarregarJanela.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/Exception.h"
#include "platform/Text.h"

// JanelaEmbutida.cpp.
extern "C" const unsigned char ab_janela_inicio[];
extern "C" const std::uint64_t ab_janela_tamanho;

namespace ab {
namespace {

// Asks for an executable memory file where the kernel tells the two kinds apart (6.3 on; a
// system may make files without it refuse execution); older kernels refuse the flag itself.
#ifdef MFD_EXEC
constexpr unsigned kMfdExec = MFD_EXEC;
#else
constexpr unsigned kMfdExec = 0x0010U;
#endif

[[noreturn]] void Falhar(const std::string& motivo) {
    throw Exception(FromUtf8(motivo));
}
[[noreturn]] void FalharErrno(const char* chamada) {
    Falhar(std::string(chamada) + ": " + std::strerror(errno));
}
[[noreturn]] void FalharDl() {
    const char* motivo = ::dlerror();
    Falhar(motivo != nullptr ? motivo : "dlopen");
}

class TArquivoEmMemoria {
  public:
    TArquivoEmMemoria() {
        fd_ = ::memfd_create("AtualizadorBrevant-janela", MFD_CLOEXEC | kMfdExec);
        if (fd_ < 0 && errno == EINVAL)
            fd_ = ::memfd_create("AtualizadorBrevant-janela", MFD_CLOEXEC);
        if (fd_ < 0)
            FalharErrno("memfd_create");
    }
    ~TArquivoEmMemoria() { ::close(fd_); }
    TArquivoEmMemoria(const TArquivoEmMemoria&) = delete;
    TArquivoEmMemoria& operator=(const TArquivoEmMemoria&) = delete;

    void Escrever(const unsigned char* bytes, std::uint64_t tamanho) {
        while (tamanho > 0) {
            const ssize_t n = ::write(fd_, bytes, tamanho);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                FalharErrno("write");
            bytes += n;
            tamanho -= static_cast<std::uint64_t>(n);
        }
    }
    std::string Caminho() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_ = -1;
};

const TModuloDaJanela& Carregar() {
    void* modulo = nullptr;
    {
        TArquivoEmMemoria arquivo;
        arquivo.Escrever(ab_janela_inicio, ab_janela_tamanho);
        // Every symbol bound now: a missing one is this error, not a crash later in the window.
        modulo = ::dlopen(arquivo.Caminho().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (modulo == nullptr)
            FalharDl();
        // Closed here: the loader's mappings hold the memory file for as long as they last.
    }
    const auto* entradas = static_cast<const TModuloDaJanela*>(::dlsym(modulo, kSimboloDaJanela));
    if (entradas == nullptr)
        FalharDl();
    return *entradas;
}

}  // namespace

const TModuloDaJanela& CarregarJanela() {
    // Never closed: the window library keeps handlers and threads until the program ends.
    static const TModuloDaJanela& entradas = Carregar();
    return entradas;
}

}  // namespace ab
