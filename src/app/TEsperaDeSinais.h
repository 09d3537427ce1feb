// SIGINT and SIGTERM, waited for on a thread of their own: each one calls the handler given, with
// how many have come so far (the first asks for a close, the later ones end the run at once).
//
// The signals are blocked from the constructor on, in this thread and in every thread started
// after it (threads inherit the mask), so make it before any other thread. A real-time signal
// sent to the waiting thread itself ends the wait; the destructor sends it, joins the thread,
// discards a SIGINT or SIGTERM still pending and restores the mask. The handler runs on the waiting
// thread; it must not wait for the object's destruction.
#pragma once

#include <csignal>
#include <functional>
#include <thread>

namespace ab {

class TEsperaDeSinais {
  public:
    using TAoReceber = std::function<void(int recebidos)>;

    explicit TEsperaDeSinais(TAoReceber aoReceber);
    ~TEsperaDeSinais();
    TEsperaDeSinais(const TEsperaDeSinais&) = delete;
    TEsperaDeSinais& operator=(const TEsperaDeSinais&) = delete;

  private:
    static int Fim() { return SIGRTMIN; }

    sigset_t sinais_{};
    sigset_t anteriores_{};
    std::thread thread_;  // the only one that reads the count of signals received
};

}  // namespace ab
