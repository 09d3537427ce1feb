// The tool's utilities over the Linux layer.
#include "app/UFuncoes.h"

#include <openssl/evp.h>

#include <algorithm>
#include <string>

#include "platform/Exception.h"
#include "platform/FileSystem.h"

namespace ab {
namespace {

constexpr std::u16string_view MINUSCULAS = u"çáàãâäéèêëíìîïóòôõöúùûüñýÿ";
constexpr std::u16string_view MAIUSCULAS = u"ÇÁÀÃÂÄÉÈÊËÍÌÎÏÓÒÔÕÖÚÙÛÜÑÝY";
static_assert(MINUSCULAS.size() == 26 && MAIUSCULAS.size() == 26);

std::string ToBytes(std::u16string_view s, char16_t highest) {
    std::string bytes;
    bytes.reserve(s.size());
    for (char16_t c : s)
        bytes.push_back(c <= highest ? static_cast<char>(c) : '?');
    return bytes;
}

// Recursion with the folders of the current branch, so that a symbolic link back up the tree
// is not followed round in circles.
void Listagem(std::vector<std::u16string>& lista, std::u16string_view diretorioInicial,
              std::u16string_view mascara, bool trazArquivos, bool trazDiretorios,
              bool listaSubDiretorios, std::vector<TFileId>& ramo) {
    ListaArquivos(lista, diretorioInicial, mascara, trazArquivos, trazDiretorios);
    if (!listaSubDiretorios)
        return;
    std::vector<std::u16string> subDiretorios;
    ListaArquivos(subDiretorios, diretorioInicial, u"*.*", false, true);
    for (const auto& sub : subDiretorios) {
        const auto id = GetFileId(sub);
        if (id && std::find(ramo.begin(), ramo.end(), *id) != ramo.end())
            continue;
        if (id)
            ramo.push_back(*id);
        Listagem(lista, sub, mascara, trazArquivos, trazDiretorios, true, ramo);
        if (id)
            ramo.pop_back();
    }
}

}  // namespace

void ListagemArquivos(std::vector<std::u16string>& lista, std::u16string_view diretorioInicial,
                      std::u16string_view mascara, bool trazArquivos, bool trazDiretorios,
                      bool listaSubDiretorios) {
    std::vector<TFileId> ramo;
    if (const auto id = GetFileId(diretorioInicial))
        ramo.push_back(*id);
    Listagem(lista, diretorioInicial, mascara, trazArquivos, trazDiretorios, listaSubDiretorios,
             ramo);
}

void ListaArquivos(std::vector<std::u16string>& lista, std::u16string_view diretorioInicial,
                   std::u16string_view mascara, bool trazArquivos, bool trazDiretorios) {
    const std::u16string diretorio = PastaComBarra(diretorioInicial);
    for (const TDirEntry& e : ReadDirectory(diretorio)) {
        if (e.Name == u"." || e.Name == u".." || !MatchesMask(e.Name, mascara))
            continue;
        if (e.IsDirectory() ? trazDiretorios : trazArquivos)
            lista.push_back(diretorio + e.Name);
    }
}

std::u16string PastaComBarra(std::u16string_view pasta) {
    std::u16string comBarra(pasta);
    comBarra += u'/';
    const bool pastaRede = comBarra.starts_with(u"//");
    for (std::size_t at; (at = comBarra.find(u"//")) != std::u16string::npos;)
        comBarra.erase(at, 1);
    if (pastaRede)
        comBarra.insert(0, 1, u'/');
    return comBarra;
}

TDateTime GetDateFile(std::u16string_view fileName, TTipoDateFile tipoData) {
    const auto found = FindFirstFile(fileName);
    if (!found)
        return 0;
    switch (tipoData) {
        case TTipoDateFile::TdfCriacao:
            return FileTimeToDTime(found->Times.Creation);
        case TTipoDateFile::TdfModificao:
            return FileTimeToDTime(found->Times.LastWrite);
        case TTipoDateFile::TdfAcesso:
            return FileTimeToDTime(found->Times.LastAccess);
    }
    return 0;
}

TDateTime FileTimeToDTime(std::int64_t fileTime) {
    return EncodeDateTime(FileTimeToParts(FileTimeToLocalFileTime(fileTime)));
}

std::u16string UpperCaseMesmo(std::u16string_view s) {
    std::u16string result(s);
    for (char16_t& c : result) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - (u'a' - u'A'));
        } else if (!(c >= u'0' && c <= u'9') && !(c >= u'A' && c <= u'Z')) {
            const auto p = MINUSCULAS.find(c);
            if (p != std::u16string_view::npos)
                c = MAIUSCULAS[p];
        }
    }
    return result;
}

std::u16string SubString(std::u16string_view texto, std::u16string_view separador, int sequencia) {
    std::u16string result;
    int contador = 0;
    for (char16_t c : texto) {
        if (separador.size() == 1 && c == separador[0]) {
            ++contador;
        } else if (contador == sequencia) {
            result += c;
        } else if (contador > sequencia) {
            break;
        }
    }
    return result;
}

std::u16string EncoderBase64(std::u16string_view s) {
    if (s.empty())
        return {};
    const std::string bytes = ToBytes(s, 0xFF);
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    return std::u16string(out.begin(), out.begin() + n);
}

std::u16string Md5(std::u16string_view s) {
    const std::string bytes = ToBytes(s, 0x7F);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1)
        throw Exception(u"MD5 is not available");
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xF];
    }
    return hex;
}

}  // namespace ab
