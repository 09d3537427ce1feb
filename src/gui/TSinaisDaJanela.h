// SIGINT and SIGTERM in the window program: each is a close of the window, as if the user closed
// it. During a run the first one lets the file in hand finish, then the run stops and the program
// ends with status 4; outside a run the window just closes. From the second one on the run's
// connections are also ended at once and the window closes without waiting. A box open at that
// moment is closed as by its close button (a question answers No), so a close never waits for a
// person.
//
// The signals are blocked from the constructor on, which must come before the application starts
// any thread of its own (threads inherit the mask), and waited for on a thread of their own
// (TEsperaDeSinais). That thread hands each close to the GUI thread through a queued call; only the
// abort is made from it directly (TAtualizador::Abort may be called from any thread), so it works
// also when the GUI thread's loop has ended and the run is being waited for.
#pragma once

#include <QObject>
#include <mutex>

#include "app/TEsperaDeSinais.h"

class QApplication;
class QWidget;

namespace ab {

class TAtualizador;

// A QObject only to receive its own queued calls on the GUI thread (where it is made).
class TSinaisDaJanela : public QObject {
  public:
    TSinaisDaJanela();
    // Ends the waiting thread and unblocks the signals.
    ~TSinaisDaJanela() override = default;
    TSinaisDaJanela(const TSinaisDaJanela&) = delete;
    TSinaisDaJanela& operator=(const TSinaisDaJanela&) = delete;

    // GUI thread. Where closes go from now on: the application whose boxes are closed, the window
    // (null: none yet) and the run to abort (null: none). A signal that came while nothing could
    // take it is applied now. Apontar(nullptr, nullptr, nullptr) before any of them goes.
    void Apontar(QApplication* aplicacao, QWidget* janela, TAtualizador* execucao);

  private:
    void Sinal(int recebidos);
    // GUI thread: closes the window, if any, and then the open boxes.
    void Fechar();

    std::mutex mutex_;  // the members below; never held across anything that waits
    QApplication* aplicacao_ = nullptr;
    TAtualizador* execucao_ = nullptr;
    bool pendente_ = false;      // a close that found nobody to take it
    QWidget* janela_ = nullptr;  // GUI thread only
    // Last: its thread starts once the members above exist, and ends before they go.
    TEsperaDeSinais espera_{[this](int recebidos) { Sinal(recebidos); }};
};

}  // namespace ab
