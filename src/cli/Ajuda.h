// The texts of --help and --version.
#pragma once

#include <string>

namespace ab {

std::u16string TextoDeAjuda();
std::u16string TextoDeVersao();

}  // namespace ab
