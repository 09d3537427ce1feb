// The publishing run.
#include "app/TAtualizador.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "app/AppConstants.h"
#include "app/ConnBrevant.h"
#include "app/DataPacketVariant.h"
#include "app/TZvServerClient.h"
#include "app/UFuncoes.h"
#include "dbx/TOleVariant.h"
#include "packet/SendFileDataSet.h"
#include "packet/TClientDataSet.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/TestEnvironment.h"
#include "platform/Text.h"

namespace ab {
namespace C = AppConstants;

namespace {

// The part after the last '/'.
std::u16string_view FilePart(std::u16string_view path) {
    const auto slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// Every "\\" becomes "\", left to right in one pass (three in a row become two).
std::u16string SingleBackslashes(std::u16string_view name) {
    std::u16string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        out.push_back(name[i]);
        if (name[i] == u'\\' && i + 1 < name.size() && name[i + 1] == u'\\')
            ++i;
    }
    return out;
}

// Re-enables "Atualizar" however the run leaves.
class TReenable {
  public:
    explicit TReenable(IMainView& view) : view_(view) {}
    ~TReenable() { view_.SetAtualizarEnabled(true); }
    TReenable(const TReenable&) = delete;
    TReenable& operator=(const TReenable&) = delete;

  private:
    IMainView& view_;
};

}  // namespace

TAtualizador::TAtualizador(IMainView& view, TClientDataSet& cdsSendFile, TDadosPrograma dados,
                           TPausa pausa, TDBXConnectionFactory* factory)
    : view_(view),
      cdsSendFile_(cdsSendFile),
      dados_(std::move(dados)),
      pausa_(std::move(pausa)),
      ConnBrevant_(factory) {
    if (!pausa_)
        pausa_ = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    DesignConnBrevant(ConnBrevant_);
    ConnBrevant_.BeforeConnect = [this](TSQLConnection& connection) {
        ConnBrevantBeforeConnect(connection, view_.EnderecoText(), view_.PortaPosition());
    };
    DesignEchoString(FEchoString_, ConnBrevant_);
}

void TAtualizador::btn_AtualizarClick() {
    if (dados_.VersaoPraTeste && IsProductionServer(view_.EnderecoText())) {
        view_.ShowWarning(std::u16string(C::MsgTestVersionServer));
        return;
    }
    ConectadoServidorBrevant = false;

    view_.SetAtualizarEnabled(false);
    TReenable reenable(view_);

    try {
        ConnBrevant_.SetConnected(true);
    } catch (const std::exception&) {
        view_.ShowMessage(std::u16string(C::MsgInvalidServer));
        return;
    }

    view_.ClearRows();
    view_.ShowPage(IMainView::Page::Progresso);
    if (ConnBrevant_.GetConnected())
        ConectadoServidorBrevant = ConexaoZvPai();

    EnviarAquivos();

    // A close asked for during the walk ends the run here: the window closes when it returns.
    if (view_.CloseRequested())
        return;
    if (ConectadoServidorBrevant)
        AlertarZvClientes();
    view_.SetAtualizarEnabled(true);
    view_.CloseWindow();
}

bool TAtualizador::ConexaoZvPai() {
    try {
        FEchoString_.Params()
            .ParamByName(C::EchoValueParam)
            .SetAsWideString(EncoderBase64(C::EchoProbeText));
        FEchoString_.ExecuteMethod();
        FEchoString_.Close();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TAtualizador::EnviarAquivos() {
    FArquivoEmTeste = false;
    const std::u16string programa = UpperCaseMesmo(dados_.ProgramPath);
    const std::u16string& pasta = dados_.ProgramFolder;
    const std::size_t tamanho = pasta.size();
    const std::u16string logo = UpperCaseMesmo(pasta + std::u16string(C::LogoFileName));

    std::vector<std::u16string> lista;
    ListagemArquivos(lista, pasta, C::ListMask, true, false, true);

    for (const std::u16string& arquivo : lista) {
        const std::u16string maiusculo = UpperCaseMesmo(arquivo);
        if (maiusculo == logo || maiusculo == programa)
            continue;
        FArquivoEmTeste = FilePart(maiusculo) == C::TestMarkerName;

        const int row = view_.AddRow(std::u16string(FilePart(arquivo)), IMainView::IconProcessing);
        view_.ScrollToRow(row);
        view_.ProcessEvents();

        std::u16string relativo = arquivo.substr(std::min(tamanho, arquivo.size()));
        std::replace(relativo.begin(), relativo.end(), u'/', u'\\');
        const std::u16string destino = ArquivoPastaDestino(relativo);

        if (FArquivoEmTeste && !dados_.VersaoPraTeste) {
            RemoveArquivo(destino);
            view_.SetRowIcon(row, IMainView::IconDone);
        } else if (PrecisaAtualizarArquivo(arquivo, destino) && !SendFile(arquivo, destino)) {
            view_.SetRowIcon(row, IMainView::IconFailed);
            // Nobody is left to answer the question once the window was asked to close.
            if (view_.CloseRequested())
                break;
            if (!view_.AskWarningYesNo(std::u16string(C::MsgSendFailed) + arquivo + u"\r\n" +
                                       u"\r\n" + std::u16string(C::MsgContinue)))
                break;
        } else {
            view_.SetRowIcon(row, IMainView::IconDone);
        }
        if (view_.CloseRequested())
            break;
    }
}

std::u16string TAtualizador::ArquivoPastaDestino(std::u16string_view arquivo) const {
    return ArquivoPastaDestino(arquivo, dados_.Sistema);
}

std::u16string TAtualizador::ArquivoPastaDestino(std::u16string_view arquivo,
                                                 std::u16string_view sistema) {
    const auto barra = arquivo.rfind(u'\\');
    const std::u16string pasta = AsciiUpper(
        barra == std::u16string_view::npos ? std::u16string_view{} : arquivo.substr(0, barra + 1));
    auto inserir = [&](std::size_t n) {
        return std::u16string(arquivo.substr(0, n)) + std::u16string(sistema) +
               std::u16string(arquivo.substr(n));
    };
    if (pasta.starts_with(C::ScriptsFolder))
        return inserir(C::ScriptsFolder.size());
    if (pasta.starts_with(C::ArquivosFolder))
        return inserir(C::ArquivosFolder.size());
    if (pasta.starts_with(C::PadraoFolder))
        return std::u16string(arquivo);
    return inserir(0);
}

bool TAtualizador::PrecisaAtualizarArquivo(const std::u16string& nomeArquivo,
                                           const std::u16string& nomeDestino) {
    if (FArquivoEmTeste)
        return true;
    std::u16string nome = nomeDestino;
    if (!ConectadoServidorBrevant)
        nome += C::ClientNameSuffix;
    std::u16string resposta;
    {
        TZvServerClient proxy(ConnBrevant_.GetDBXConnection());
        resposta = proxy.PropertsFile(EncoderBase64(nome));
    }
    const std::u16string dtServidor = Trim(SubString(resposta, C::StampSeparator, 0));
    if (dtServidor.empty())
        return true;
    if (!FileExists(nomeArquivo))
        return false;
    const std::u16string dtLocal =
        FormatStamp14(GetDateFile(nomeArquivo, TTipoDateFile::TdfModificao));
    return dtLocal > dtServidor;
}

bool TAtualizador::SendFile(const std::u16string& nomeArquivo, const std::u16string& nomeDestino) {
    int erro = 0;
    bool enviado = false;
    do {
        try {
            // Only the destination name is a '\' path here; a local Linux file name may hold
            // backslashes of its own.
            const std::u16string destino = SingleBackslashes(nomeDestino);
            const TDateTime dataArquivo = GetDateFile(nomeArquivo, TTipoDateFile::TdfModificao);
            cdsSendFile_.EmptyDataSet();
            cdsSendFile_.Append();
            cdsSendFile_.FieldByName(kFieldNome).SetAsString(destino);
            cdsSendFile_.FieldByName(kFieldDataHora).SetAsDateTime(dataArquivo);
            // The content stays in the file and is read from it while the server pulls the
            // packet, so a large file is never held in memory.
            cdsSendFile_.FieldByName(kFieldArquivo).LoadFromFileDeferred(nomeArquivo);
            cdsSendFile_.Post();
            const TOleVariant dados = DataPacketVariant(cdsSendFile_);
            TZvServerClient proxy(ConnBrevant_.GetDBXConnection());
            enviado = proxy.SendFile(dados, true);
        } catch (const std::exception&) {
            enviado = false;
        }
        if (!enviado) {
            ++erro;
            ConnBrevant_.SetConnected(false);
            pausa_(C::ReconnectPause);
            ConnBrevant_.SetConnected(true);
        }
    } while (!enviado && erro < C::SendAttempts);
    return enviado;
}

bool TAtualizador::RemoveArquivo(const std::u16string& nomeArquivo) {
    TZvServerClient proxy(ConnBrevant_.GetDBXConnection());
    return proxy.RemoveFile(nomeArquivo);
}

bool TAtualizador::AlertarZvClientes() {
    TZvServerClient proxy(ConnBrevant_.GetDBXConnection());
    proxy.AlertarZvClientes(C::AlertText);
    return true;
}

}  // namespace ab
