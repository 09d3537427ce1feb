// The tool's small utilities: recursive file listing, file time stamps in local time, the
// accent-aware upper-casing, the field extractor, and the Base64 and MD5 forms the server expects.
// Local paths use '/'; each function keeps no state between calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace ab {

enum class TTipoDateFile { TdfCriacao = 0, TdfModificao = 1, TdfAcesso = 2 };

// Appends the full paths below `diretorioInicial` matching `mascara`: this folder's entries in the
// file system's order first, then each subfolder's complete listing (subfolders are found with
// "*.*", whatever the pattern). A folder reached again through a symbolic link is not descended
// into a second time on the same branch.
void ListagemArquivos(std::vector<std::u16string>& lista, std::u16string_view diretorioInicial,
                      std::u16string_view mascara, bool trazArquivos, bool trazDiretorios,
                      bool listaSubDiretorios);

// One folder: doubled '/' collapse (a leading "//" stays), "." and ".." are skipped, every other
// entry (hidden ones too) that matches is appended as folder + "/" + name.
void ListaArquivos(std::vector<std::u16string>& lista, std::u16string_view diretorioInicial,
                   std::u16string_view mascara, bool trazArquivos, bool trazDiretorios);

// `pasta` with one '/' after it and between its names: doubled '/' collapse, but a leading "//"
// stays (a network path).
std::u16string PastaComBarra(std::u16string_view pasta);

// Creation, last-write or last-access time in local time of the file named exactly `fileName`
// ('*' and '?' are legal in Linux names), or, when none has that name, of the first match of its
// last component taken as a pattern; 0 when nothing matches.
TDateTime GetDateFile(std::u16string_view fileName, TTipoDateFile tipoData);

// UTC file time (100 ns since 1601-01-01) -> local date-time, with the offset from UTC in force
// now; milliseconds kept.
TDateTime FileTimeToDTime(std::int64_t fileTime);

// ASCII upper-casing, then the accent table (ÿ becomes plain Y).
std::u16string UpperCaseMesmo(std::u16string_view s);

// Field number `sequencia` (from 0) of `texto` split at `separador` (one character; any other
// separator never matches, so the whole text is field 0).
std::u16string SubString(std::u16string_view texto, std::u16string_view separador, int sequencia);

// Base64 of the text's code units as bytes (above U+00FF: '?'), padded, on one line.
std::u16string EncoderBase64(std::u16string_view s);

// MD5 of the text's code units as bytes (above U+007F: '?'), as 32 upper-case hex digits.
std::u16string Md5(std::u16string_view s);

}  // namespace ab
