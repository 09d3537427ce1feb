// The walk of the folder to publish.
#include "app/Varredura.h"

#include <limits.h>

#include <cerrno>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "app/AppConstants.h"
#include "app/UFuncoes.h"
#include "platform/Text.h"

namespace ab {
namespace C = AppConstants;

namespace {

using TTipo = TEntradaVarredura::TTipo;

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

std::u16string SemBarra(std::u16string_view pasta) {
    return std::u16string(
        pasta.ends_with(u'/') && pasta.size() > 1 ? pasta.substr(0, pasta.size() - 1) : pasta);
}

class TVarredor {
  public:
    TVarredor(const TLeitorDePastas& leitor, std::u16string raizReal,
              std::vector<TEntradaVarredura>& saida, const TExclusoes& exclusoes)
        : leitor_(leitor), raizReal_(std::move(raizReal)), saida_(saida), exclusoes_(exclusoes) {}

    // `raiz` ends in '/'; links along it are followed: it is the folder the user named.
    void Entrar(const std::u16string& raiz) {
        tamanhoDaRaiz_ = raiz.size();
        const TOpenDir pasta(raiz);
        if (!pasta.IsOpen())
            return Falhou(raiz, pasta.Error());
        publicadas_.emplace(Chave(pasta.Id()), SemBarra(raiz));
        ramo_.push_back(pasta.Id());
        Listar(pasta, raiz);
    }

  private:
    using TChave = std::pair<std::uint64_t, std::uint64_t>;
    static TChave Chave(const TFileId& id) { return {id.Device, id.Inode}; }

    // `caminho` ends in '/'.
    void Listar(const TOpenDir& pasta, const std::u16string& caminho) {
        const TDirListing listagem = leitor_(TDirRef(pasta.Fd(), caminho));
        if (listagem.Error != 0)
            Falhou(caminho, listagem.Error);
        // The folder's path below the top, as the patterns read it.
        const std::string abaixo =
            exclusoes_.Vazia() ? std::string()
                               : ToFileName(std::u16string_view(caminho).substr(tamanhoDaRaiz_));
        std::vector<const TDirEntry*> subpastas;
        for (const TDirEntry& e : listagem.Entries) {
            if (e.Name == u"." || e.Name == u"..")
                continue;
            const std::u16string* padrao =
                e.Kind == TEntryKind::Directory ? nullptr : Exclusao(abaixo, e.Name, false);
            switch (e.Kind) {
                case TEntryKind::Directory:
                    subpastas.push_back(&e);
                    break;
                case TEntryKind::File:
                case TEntryKind::Dangling:
                    if (padrao && !MarcadorDeTeste(e.Name)) {
                        Adicionar(TTipo::Excluido, caminho + e.Name, *padrao, e.Size);
                        break;
                    }
                    Adicionar(TTipo::Arquivo, caminho + e.Name, {}, e.Size);
                    if (padrao)
                        saida_.back().PadraoIgnorado = *padrao;
                    break;
                default:
                    if (padrao)
                        Adicionar(TTipo::Excluido, caminho + e.Name, *padrao);
                    else
                        Adicionar(TTipo::Ignorado, caminho + e.Name,
                                  Format(C::MsgNotARegularFile, {NomeDoTipo(e.Kind)}));
                    break;
            }
        }
        for (const TDirEntry* e : subpastas) {
            // Left out: never opened, and a link to it never followed.
            if (const std::u16string* padrao = Exclusao(abaixo, e->Name, true))
                Adicionar(TTipo::Excluido, caminho + e->Name + u'/', *padrao);
            else if (e->IsLink)
                Ligacao(caminho + e->Name);
            else
                Descer(pasta, e->Name, caminho + e->Name + u'/');
        }
    }

    void Descer(const TOpenDir& pai, const std::u16string& nome, const std::u16string& caminho) {
        // Its files could not be opened by their paths anyway.
        if (ToFileName(caminho).size() >= PATH_MAX)
            return Falhou(caminho, ENAMETOOLONG);
        const TOpenDir pasta(pai, nome);
        if (!pasta.IsOpen()) {
            if (pasta.Error() == ELOOP)
                return Adicionar(TTipo::PastaFalhou, caminho, std::u16string(C::MsgFolderSwapped));
            return Falhou(caminho, pasta.Error());
        }
        // The same folder again (a bind mount inside the folder, say): once is enough, and a
        // mount of a folder inside itself would never end.
        const auto [primeira, nova] = publicadas_.emplace(Chave(pasta.Id()), SemBarra(caminho));
        if (!nova)
            return Adicionar(TTipo::Ignorado, caminho,
                             Format(C::MsgFolderAgain, {primeira->second}));
        ramo_.push_back(pasta.Id());
        Listar(pasta, caminho);
        ramo_.pop_back();
    }

    // A link to a folder is reported, never walked; where it leads only shapes the reason.
    void Ligacao(const std::u16string& sub) {
        const std::u16string caminho = sub + u'/';
        const std::optional<std::u16string> alvo = RealPath(sub);
        if (!alvo || !Dentro(*alvo, raizReal_))
            return Adicionar(TTipo::Ignorado, caminho,
                             Format(C::MsgLinkOutside, {alvo.value_or(sub)}));
        const auto id = GetFileId(sub);
        const bool acima = id && std::find(ramo_.begin(), ramo_.end(), *id) != ramo_.end();
        Adicionar(TTipo::Ignorado, caminho,
                  Format(acima ? C::MsgLinkAbove : C::MsgLinkInside, {*alvo}));
    }

    void Falhou(const std::u16string& caminho, int erro) {
        Adicionar(TTipo::PastaFalhou, caminho,
                  Format(C::MsgFolderUnreadable, {SystemErrorText(erro)}));
    }

    void Adicionar(TTipo tipo, std::u16string caminho, std::u16string motivo,
                   std::uint64_t tamanho = 0) {
        saida_.push_back({tipo, std::move(caminho), std::move(motivo), tamanho, {}});
    }

    // The pattern that leaves out the entry `nome` of the folder `abaixo` (its path below the top
    // as bytes, ending in '/', or empty for the top); null when none does.
    const std::u16string* Exclusao(const std::string& abaixo, const std::u16string& nome,
                                   bool pasta) const {
        if (exclusoes_.Vazia())
            return nullptr;
        return exclusoes_.Padrao(abaixo + ToFileName(nome), pasta);
    }

    const TLeitorDePastas& leitor_;
    const std::u16string raizReal_;
    std::vector<TEntradaVarredura>& saida_;
    const TExclusoes& exclusoes_;
    std::size_t tamanhoDaRaiz_ = 0;
    // Every folder walked, with the path it was walked along: no folder is listed twice.
    std::map<TChave, std::u16string> publicadas_;
    // The folders of the current branch, whose links name a folder above.
    std::vector<TFileId> ramo_;
};

}  // namespace

bool MarcadorDeTeste(std::u16string_view nome) {
    return UpperCaseMesmo(nome) == C::TestMarkerName;
}

std::vector<TEntradaVarredura> Varrer(std::u16string_view pasta, const TLeitorDePastas& leitor,
                                      const TExclusoes& exclusoes) {
    // One '/' between names, as the listing always gave them.
    const std::u16string raiz = PastaComBarra(pasta);
    std::vector<TEntradaVarredura> saida;
    TVarredor varredor(leitor, SemBarra(RealPath(raiz).value_or(raiz)), saida, exclusoes);
    varredor.Entrar(raiz);
    return saida;
}

}  // namespace ab
