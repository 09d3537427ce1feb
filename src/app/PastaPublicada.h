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

// The folder to publish with every link resolved, ending in '/'.
// `opcao` empty: `pastaDoPrograma` (the program's folder; the working folder when empty).
// Otherwise `opcao`, relative to the working folder, "~" or a leading "~/" standing for `home`.
// Raises EPastaRecusada when it does not exist, is not a folder, or is the root, a system folder
// (/bin, /sbin, /usr and every folder directly under it, /usr/local/bin, /usr/local/sbin, /etc,
// /opt, /var, /boot, /dev, /proc, /sys) or `home` itself.
std::u16string PastaAPublicar(std::u16string_view pastaDoPrograma, std::u16string_view opcao,
                              std::u16string_view home);

// The user's home folder: $HOME, or the password database's entry when HOME is unset or empty.
std::u16string PastaPessoal();

}  // namespace ab
