// The walk of the folder to publish.
#include "app/Varredura.h"

#include <algorithm>
#include <optional>

#include "app/AppConstants.h"
#include "app/UFuncoes.h"
#include "platform/Text.h"

namespace ab {
namespace C = AppConstants;

namespace {

std::u16string_view NomeDoTipo(TEntryKind kind) {
    switch (kind) {
        case TEntryKind::Fifo:
            return C::KindFifo;
        case TEntryKind::Socket:
            return C::KindSocket;
        case TEntryKind::CharDevice:
            return C::KindCharDevice;
        case TEntryKind::BlockDevice:
            return C::KindBlockDevice;
        default:
            return C::KindOther;
    }
}

// `alvo` is `raiz` or lies below it (both absolute, without a trailing '/' but for "/" itself).
bool Dentro(std::u16string_view alvo, std::u16string_view raiz) {
    if (!alvo.starts_with(raiz))
        return false;
    return alvo.size() == raiz.size() || raiz.ends_with(u'/') || alvo[raiz.size()] == u'/';
}

class TVarredor {
  public:
    TVarredor(const TLeitorDePastas& leitor, std::u16string raiz,
              std::vector<TEntradaVarredura>& saida)
        : leitor_(leitor), raiz_(std::move(raiz)), saida_(saida) {}

    // `pasta` ends in '/'.
    void Listar(const std::u16string& pasta) {
        const TDirListing listagem = leitor_(pasta);
        if (listagem.Error != 0)
            Adicionar(TEntradaVarredura::TTipo::PastaFalhou, pasta,
                      Format(C::MsgFolderUnreadable, {SystemErrorText(listagem.Error)}));
        std::vector<const TDirEntry*> subpastas;
        for (const TDirEntry& e : listagem.Entries) {
            if (e.Name == u"." || e.Name == u"..")
                continue;
            switch (e.Kind) {
                case TEntryKind::Directory:
                    subpastas.push_back(&e);
                    break;
                case TEntryKind::File:
                case TEntryKind::Dangling:
                    Adicionar(TEntradaVarredura::TTipo::Arquivo, pasta + e.Name, {}, e.Size);
                    break;
                default:
                    Adicionar(TEntradaVarredura::TTipo::Ignorado, pasta + e.Name,
                              Format(C::MsgNotARegularFile, {NomeDoTipo(e.Kind)}));
                    break;
            }
        }
        for (const TDirEntry* e : subpastas)
            Descer(pasta + e->Name, e->IsLink);
    }

    void Entrar(const std::u16string& pasta) {
        const auto id = GetFileId(pasta);
        if (id)
            ramo_.push_back(*id);
        Listar(pasta);
    }

  private:
    void Descer(const std::u16string& sub, bool ligacao) {
        const std::u16string pasta = sub + u'/';
        if (ligacao) {
            const std::optional<std::u16string> alvo = RealPath(sub);
            if (!alvo || !Dentro(*alvo, raiz_)) {
                Adicionar(TEntradaVarredura::TTipo::Ignorado, pasta,
                          Format(C::MsgLinkOutside, {alvo.value_or(sub)}));
                return;
            }
        }
        const auto id = GetFileId(sub);
        if (id && std::find(ramo_.begin(), ramo_.end(), *id) != ramo_.end()) {
            Adicionar(TEntradaVarredura::TTipo::Ignorado, pasta,
                      Format(C::MsgLinkAbove, {RealPath(sub).value_or(sub)}));
            return;
        }
        if (id)
            ramo_.push_back(*id);
        Listar(pasta);
        if (id)
            ramo_.pop_back();
    }

    void Adicionar(TEntradaVarredura::TTipo tipo, std::u16string caminho, std::u16string motivo,
                   std::uint64_t tamanho = 0) {
        saida_.push_back({tipo, std::move(caminho), std::move(motivo), tamanho});
    }

    const TLeitorDePastas& leitor_;
    const std::u16string raiz_;
    std::vector<TEntradaVarredura>& saida_;
    // The folders of the current branch, so that a folder above is never entered again.
    std::vector<TFileId> ramo_;
};

}  // namespace

std::vector<TEntradaVarredura> Varrer(std::u16string_view pasta, const TLeitorDePastas& leitor) {
    // One '/' between names, as the listing always gave them.
    const std::u16string raiz = PastaComBarra(pasta);
    std::u16string real = RealPath(raiz).value_or(raiz);
    if (real.size() > 1 && real.ends_with(u'/'))
        real.pop_back();
    std::vector<TEntradaVarredura> saida;
    TVarredor varredor(leitor, std::move(real), saida);
    varredor.Entrar(raiz);
    return saida;
}

}  // namespace ab
