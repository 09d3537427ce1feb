// SIGINT and SIGTERM as closes of the window.
#include "gui/TSinaisDaJanela.h"

#include <QApplication>
#include <QWidget>

#include "app/TAtualizador.h"
#include "gui/QueuedCall.h"

namespace ab {

TSinaisDaJanela::TSinaisDaJanela() = default;

void TSinaisDaJanela::Sinal(int recebidos) {
    // Held across the abort so the run cannot go away under it (Apontar waits); the abort only
    // shuts sockets down.
    std::lock_guard lock(mutex_);
    if (recebidos > 1 && execucao_)
        execucao_->Abort();
    if (!aplicacao_) {
        pendente_ = true;
        return;
    }
    QueueCall(this, [this] { Fechar(); });
}

void TSinaisDaJanela::Apontar(QApplication* aplicacao, QWidget* janela, TAtualizador* execucao) {
    janela_ = janela;
    std::lock_guard lock(mutex_);
    aplicacao_ = aplicacao;
    execucao_ = execucao;
    if (aplicacao_ && pendente_) {
        pendente_ = false;
        // Queued: the window may not be showing yet, and a close before its show is undone.
        QueueCall(this, [this] { Fechar(); });
    }
}

void TSinaisDaJanela::Fechar() {
    if (!janela_ && !QApplication::activeModalWidget()) {
        std::lock_guard lock(mutex_);
        pendente_ = true;
        return;
    }
    // The window first: during a run its close is recorded before a question below answers No.
    if (janela_)
        janela_->close();
    // Boxes on top of each other close from the top; one that refuses to close is left alone.
    QWidget* anterior = nullptr;
    while (QWidget* caixa = QApplication::activeModalWidget()) {
        if (caixa == anterior)
            break;
        caixa->close();
        anterior = caixa;
    }
}

}  // namespace ab
