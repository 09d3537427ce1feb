// SIGINT and SIGTERM as closes of the window.
#include "gui/TSinaisDaJanela.h"

#include <pthread.h>

#include <QApplication>
#include <QWidget>

#include "app/TAtualizador.h"
#include "gui/QueuedCall.h"

namespace ab {

TSinaisDaJanela::TSinaisDaJanela() {
    sigemptyset(&sinais_);
    sigaddset(&sinais_, SIGINT);
    sigaddset(&sinais_, SIGTERM);
    sigaddset(&sinais_, Fim());
    pthread_sigmask(SIG_BLOCK, &sinais_, &anteriores_);
    thread_ = std::thread([this] { Esperar(); });
}

TSinaisDaJanela::~TSinaisDaJanela() {
    pthread_kill(thread_.native_handle(), Fim());
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &anteriores_, nullptr);
}

void TSinaisDaJanela::Esperar() {
    for (;;) {
        int sinal = 0;
        if (sigwait(&sinais_, &sinal) != 0)
            continue;
        if (sinal == Fim())
            return;
        Sinal();
    }
}

void TSinaisDaJanela::Sinal() {
    // Held across the abort so the run cannot go away under it (Apontar waits); the abort only
    // shuts sockets down.
    std::lock_guard lock(mutex_);
    if (++recebidos_ > 1 && execucao_)
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
