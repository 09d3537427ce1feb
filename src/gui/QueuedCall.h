// QueueCall: runs a callable on the thread of a QObject through Qt's event queue (a queued
// QMetaObject::invokeMethod), from any thread, with its hand-off marked for the thread sanitizer.
//
// Qt is not built with the sanitizer, so the locks and the reference count that hand a queued
// call from the posting thread to the receiving one are invisible to it: the callable, built on
// one thread inside Qt's slot object, run on the other and destroyed by whichever lets it go
// last, would be reported as a race. The wrapper releases a sanitizer sync point once the callable
// has been moved into the slot object and once it has run, and acquires it before the callable
// runs and before it is destroyed (also when the call is dropped undelivered). It marks exactly
// what Qt's queue guarantees, nothing else; without the sanitizer it adds nothing.
#pragma once

#include <QObject>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define AB_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define AB_THREAD_SANITIZER 1
#endif
#endif

#ifdef AB_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace ab {
namespace queued_call {

// One sync point for every queued call: Qt's queue takes one lock per thread for all of them.
inline char sync;

inline void Released() {
#ifdef AB_THREAD_SANITIZER
    __tsan_release(&sync);
#endif
}

inline void Acquired() {
#ifdef AB_THREAD_SANITIZER
    __tsan_acquire(&sync);
#endif
}

template <class F>
class TMarked {
  public:
    explicit TMarked(F f) : f_(std::move(f)) {}
    TMarked(TMarked&& other) : f_(std::move(other.f_)) { Released(); }
    TMarked(const TMarked& other) : f_(other.f_) { Released(); }
    TMarked& operator=(const TMarked&) = delete;
    ~TMarked() { Acquired(); }

    void operator()() {
        Acquired();
        struct TDone {
            ~TDone() { Released(); }
        } done;
        f_();
    }

  private:
    F f_;
};

}  // namespace queued_call

// `f` (no arguments) runs on the thread `receiver` lives in, after the events queued there before
// it; dropped when `receiver` goes first.
template <class F>
void QueueCall(QObject* receiver, F f) {
    QMetaObject::invokeMethod(receiver, queued_call::TMarked<F>(std::move(f)),
                              Qt::QueuedConnection);
}

}  // namespace ab
