// The connection worker: the one thread that talks to the module.  It owns
// the program's link, one kv618::Connection (the bound library and the
// handle of the open link), and only its thread touches it: every window
// hands its exchanges and whole sequences to the worker, which carries them
// out one after another on that connection, and gets the results back on
// the user-interface thread.  So a window never waits for the module: it can
// be painted, moved and closed at any time, also while the module does not
// answer.
#pragma once

#include "Connection.h"

#include <QCoreApplication>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

class LinkWorker {
public:
    // The program's worker; its thread starts with the first job.
    static LinkWorker& Program();

    LinkWorker();
    ~LinkWorker() { Stop(); }
    LinkWorker(const LinkWorker&) = delete;
    LinkWorker& operator=(const LinkWorker&) = delete;

    using Job = std::function<void(kv618::Connection&)>;

    // Carries out `job` on the worker's thread after the jobs before it,
    // with the program's connection.
    void Post(Job job);
    // Carries out `job` on the worker's thread after the jobs before it and
    // waits for its result: for whoever drives the windows without the
    // connection dialog (tests, benchmarks) and opens the link itself.
    template <typename F>
    auto Run(F job) {
        std::promise<decltype(job(std::declval<kv618::Connection&>()))> result;
        auto future = result.get_future();
        Post([&](kv618::Connection& c) { result.set_value(job(c)); });
        return future.get();
    }

    // No job waiting and none being carried out.
    bool Idle() const;
    // Blocks the caller until the worker is Idle: the jobs posted before, and
    // any they post in turn, carried out.  What they hand to the windows'
    // thread is still queued there.  Only the drivers of tests and benchmarks
    // call it (kvtest::DokonciPraci, bench/SilentBench); the program never
    // waits for the worker but at exit, with Stop(limit).
    void WaitIdle();
    // Carries out what is in flight and queued, then ends the thread; a
    // later Post starts it again.
    void Stop();
    // The same, waiting at most `limit`: false when the worker is still
    // inside a job by then (a library that does not return).  The thread is
    // then left running, and the caller ends the process without waiting
    // for it (std::_Exit: not even the worker's own destructor may wait).
    bool Stop(std::chrono::milliseconds limit);

private:
    void Loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    bool ended_ = false;  // the loop has returned
    std::thread thread_;
    // Over the program's binding, so that the designed functions of the
    // binding see the same library.  Touched only by the jobs.
    kv618::Connection connection_;
};

// Runs `f` on the user-interface thread.  May be called from any thread.
template <typename F>
void OnWindowsThread(F f) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return;  // the program is ending: no window is left to tell
    QMetaObject::invokeMethod(application, std::move(f), Qt::QueuedConnection);
}

// Runs `f` on the user-interface thread with the window, unless the window
// is gone by then.  May be called from any thread.
template <typename W, typename F>
void ToWindow(const QPointer<W>& window, F f) {
    OnWindowsThread([window, f = std::move(f)]() mutable {
        if (window) f(window.data());
    });
}

// Carries out `job` (given the program's connection) on the program's worker
// and gives its result to `then` on the user-interface thread, unless the
// window is gone by then.
template <typename W, typename Job, typename Then>
void OnWorker(W* window, Job job, Then then) {
    QPointer<W> target(window);
    LinkWorker::Program().Post([target, job = std::move(job), then = std::move(then)](kv618::Connection& c) mutable {
        auto result = job(c);
        ToWindow(target, [then = std::move(then), result = std::move(result)](W* w) mutable { then(w, result); });
    });
}

// Told to a window's running sequence that its window has closed: what
// remains after the exchange in flight is not carried out.
using StopFlag = std::shared_ptr<std::atomic<bool>>;
inline StopFlag NewStopFlag() { return std::make_shared<std::atomic<bool>>(false); }
