// SIGINT and SIGTERM on a thread of their own.
#include "app/TEsperaDeSinais.h"

#include <pthread.h>

namespace ab {

TEsperaDeSinais::TEsperaDeSinais(TAoReceber aoReceber) {
    sigemptyset(&sinais_);
    sigaddset(&sinais_, SIGINT);
    sigaddset(&sinais_, SIGTERM);
    sigaddset(&sinais_, Fim());
    pthread_sigmask(SIG_BLOCK, &sinais_, &anteriores_);
    thread_ = std::thread([this, aoReceber = std::move(aoReceber)] {
        int recebidos = 0;
        for (;;) {
            int sinal = 0;
            if (sigwait(&sinais_, &sinal) != 0)
                continue;
            if (sinal == Fim())
                return;
            aoReceber(++recebidos);
        }
    });
}

TEsperaDeSinais::~TEsperaDeSinais() {
    pthread_kill(thread_.native_handle(), Fim());
    thread_.join();
    // Nobody waits for them now: one still pending would take its default action (ending the
    // process) as soon as the mask lets it through. Ignoring a signal discards it while pending.
    struct sigaction ignorar {};
    ignorar.sa_handler = SIG_IGN;
    sigemptyset(&ignorar.sa_mask);
    struct sigaction antes[2]{};
    sigaction(SIGINT, &ignorar, &antes[0]);
    sigaction(SIGTERM, &ignorar, &antes[1]);
    pthread_sigmask(SIG_SETMASK, &anteriores_, nullptr);
    sigaction(SIGINT, &antes[0], nullptr);
    sigaction(SIGTERM, &antes[1], nullptr);
}

}  // namespace ab
