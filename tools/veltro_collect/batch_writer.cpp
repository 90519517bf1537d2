#include "batch_writer.hpp"

#include <iostream>

namespace qzr::collect {

batch_writer::batch_writer(event_store& store, std::size_t max_batch)
    : store_(store), max_batch_(max_batch ? max_batch : 1), writer_([this] { write_loop(); }) {}

batch_writer::~batch_writer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_one();
    writer_.join();
}

batch_writer::outcome batch_writer::submit(event_record record, std::chrono::milliseconds wait) {
    std::shared_future<bool> stored;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return outcome::unavailable;
        if (pending_.empty() || pending_.back()->rows.size() >= max_batch_)
            pending_.push_back(std::make_shared<batch>());
        batch& mine = *pending_.back();
        mine.rows.push_back(std::move(record));
        // The writer waits only while nothing is pending: only the first
        // event after that needs to wake it.
        if (pending_.size() == 1 && mine.rows.size() == 1) work_.notify_one();
        stored = mine.result;
    }
    if (stored.wait_for(wait) != std::future_status::ready) return outcome::timed_out;
    return stored.get() ? outcome::stored : outcome::unavailable;
}

void batch_writer::write_loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) return;  // stopping, and nothing is left
        const std::shared_ptr<batch> next = pending_.front();
        pending_.pop_front();
        lock.unlock();
        bool stored = false;
        try {
            store_.insert(next->rows);
            stored = true;
            if (failing_) std::cerr << "veltro-collect: the store takes events again\n";
            failing_ = false;
        } catch (const std::exception& e) {
            // Once per spell of failures, not once per batch.
            if (!failing_) std::cerr << "veltro-collect: events refused with 503: " << e.what() << "\n";
            failing_ = true;
        }
        next->stored.set_value(stored);
        lock.lock();
    }
}

}  // namespace qzr::collect
