#include "LinkWorker.h"

#include "Qxxx726.h"

LinkWorker::LinkWorker() : connection_(VazbaProgramu()) {}

LinkWorker& LinkWorker::Program() {
    static LinkWorker worker;
    return worker;
}

void LinkWorker::Post(Job job) {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) {
        stopping_ = false;
        ended_ = false;
        thread_ = std::thread([this] { Loop(); });
    }
    jobs_.push_back(std::move(job));
    wake_.notify_one();
}

bool LinkWorker::Idle() const {
    std::lock_guard lock(mutex_);
    return jobs_.empty() && !busy_;
}

void LinkWorker::WaitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void LinkWorker::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) return;
        stopping_ = true;
        wake_.notify_one();
    }
    thread_.join();
    thread_ = std::thread();
}

bool LinkWorker::Stop(std::chrono::milliseconds limit) {
    {
        std::unique_lock lock(mutex_);
        if (!thread_.joinable()) return true;
        stopping_ = true;
        wake_.notify_one();
        if (!idle_.wait_for(lock, limit, [this] { return ended_; })) return false;
    }
    thread_.join();
    thread_ = std::thread();
    return true;
}

void LinkWorker::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
        if (jobs_.empty()) {  // stopping, and everything carried out
            ended_ = true;
            idle_.notify_all();
            return;
        }
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        job(connection_);
        lock.lock();
        busy_ = false;
        if (jobs_.empty()) idle_.notify_all();
    }
}
