// The walk of the folder to publish as Linux really holds it: every regular file (and every link
// to one), in the listing's order (a folder's own entries first, then each subfolder's complete
// listing); besides them, what cannot be published, each with its reason, so that nothing is
// skipped in silence:
//   - a FIFO, socket or device is not a file to publish (it is never opened: a FIFO would block);
//   - a link to a folder is walked only when its target lies inside the published folder and is
//     not one of the folders above it (which would walk in circles); one that leads outside is not
//     walked, so that a stray link to / can never publish the machine;
//   - a folder that cannot be opened or read to its end is a failure.
// A link that leads nowhere is listed as a file: sending it fails as for a file that vanished.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace ab {

struct TEntradaVarredura {
    enum class TTipo {
        Arquivo,      // to publish
        Ignorado,     // not publishable; Motivo says why
        PastaFalhou,  // a folder that could not be read; Motivo has the system's text
    };
    TTipo Tipo = TTipo::Arquivo;
    std::u16string Caminho;  // full local path ('/' separated; a folder ends in '/')
    std::u16string Motivo;
    std::uint64_t Tamanho = 0;  // a file's size when it was listed
};

// How a folder is read; ListDirectory outside the tests.
using TLeitorDePastas = std::function<TDirListing(std::u16string_view pasta)>;

// Every entry below `pasta` (a folder path ending in '/').
std::vector<TEntradaVarredura> Varrer(std::u16string_view pasta,
                                      const TLeitorDePastas& leitor = ListDirectory);

}  // namespace ab
