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
    pthread_sigmask(SIG_SETMASK, &anteriores_, nullptr);
}

}  // namespace ab
