// The walk of the folder to publish as Linux really holds it: every regular file (and every link
// to one), in the listing's order (a folder's own entries first, then each subfolder's complete
// listing); besides them, what cannot be published, each with its reason, so that nothing is
// skipped in silence:
//   - a FIFO, socket or device is not a file to publish (it is never opened: a FIFO would block);
//   - each folder on disk (device and inode) is walked once, along the path that holds it; a link
//     to a folder is never walked: one that leads outside the published folder would publish what
//     lies there (a stray link to / would publish the machine), one that leads inside names a
//     folder the walk reaches by its own path, whatever order the folder lists them in;
//   - every folder is opened from its parent's descriptor without following links, so a folder
//     swapped for a link while the walk runs is a failure and is never walked;
//   - a folder that cannot be opened or read to its end is a failure;
//   - an entry an exclusion pattern matches is reported as left out, with the pattern: a folder
//     left out is never opened, nor is anything below it listed. The test marker is never left
//     out (its removal keeps a production server from running as a test one); the pattern that
//     matched it is kept with it, so the run can say so.
// A link that leads nowhere is listed as a file: sending it fails as for a file that vanished.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Exclusoes.h"
#include "platform/FileSystem.h"

namespace ab {

struct TEntradaVarredura {
    enum class TTipo {
        Arquivo,      // to publish
        Ignorado,     // not publishable; Motivo says why
        PastaFalhou,  // a folder that could not be read; Motivo has the system's text
        Excluido,     // left out by the user; Motivo is the pattern that matched
    };
    TTipo Tipo = TTipo::Arquivo;
    std::u16string Caminho;  // full local path ('/' separated; a folder ends in '/')
    std::u16string Motivo;
    std::uint64_t Tamanho = 0;  // a file's size when it was listed
    // The test marker only: the exclusion pattern that matched it and was not applied.
    std::u16string PadraoIgnorado;
};

// Whether the file named `nome` is the test marker, in any letter case.
bool MarcadorDeTeste(std::u16string_view nome);

// How a folder of the walk is read; ListDirectory outside the tests. It gets the folder the walk
// holds open (a descriptor it must leave open) and its path. A test may change the disk there,
// between the listing of a folder and the opening of its subfolders.
using TLeitorDePastas = std::function<TDirListing(const TDirRef& pasta)>;

// Every entry below `pasta` (a folder path ending in '/'), but for what `exclusoes` leaves out.
std::vector<TEntradaVarredura> Varrer(std::u16string_view pasta,
                                      const TLeitorDePastas& leitor = ListDirectory,
                                      const TExclusoes& exclusoes = TExclusoes{});

}  // namespace ab
