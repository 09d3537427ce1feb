// The folder a run publishes: the program's own, or the one --pasta names. An installed program
// lives in /usr/bin, so publishing its own folder would send every program of the machine; the
// folders no release lives in are refused before anything connects.
#pragma once

#include <string>
#include <string_view>

#include "platform/Exception.h"

namespace ab {

// The folder to publish cannot be used; the message names it and says what to do.
class EPastaRecusada : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EPastaRecusada"; }
};

// The folder to publish with every link resolved, ending in '/'. Paths are file names: their
// bytes reach the system unchanged (FromFileName / ToFileName).
// `opcao` empty: `pastaDoPrograma` (the program's folder; the working folder when empty).
// Otherwise `opcao`, relative to the working folder, "~" or a leading "~/" standing for `home`.
// Raises EPastaRecusada when it does not exist, is not a folder, or MotivoDaRecusa refuses it.
std::u16string PastaAPublicar(std::u16string_view pastaDoPrograma, std::u16string_view opcao,
                              std::u16string_view home);

// Why the folder `real` (absolute, links resolved, no trailing '/') is never published; empty
// when it may be. Refused with everything below them, the trees that hold the system: /bin, /boot,
// /dev, /etc, /lib*, /proc, /run, /sbin, /sys, /usr (but below /usr/local/src) and /var (but below
// /var/tmp and /var/www). Refused themselves, while a folder below them may be published: /,
// /home, /root, /mnt, /media, /opt, /srv, /tmp, `home` and every folder above it. Each of these
// is also known by the path its links lead to (/bin on a merged /usr, a /home on another disk).
std::u16string MotivoDaRecusa(std::u16string_view real, std::u16string_view home);

// The user's home folder: $HOME, or the password database's entry when HOME is unset or empty.
std::u16string PastaPessoal();

}  // namespace ab
