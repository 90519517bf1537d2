// Group commit: request threads hand in one event each and wait; one writer
// thread stores whatever has gathered meanwhile as one batch, in one
// transaction, and wakes them with the outcome. A request is answered 200
// only after its batch has been committed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "event_store.hpp"

namespace qzr::collect {

class batch_writer {
public:
    enum class outcome { stored, unavailable, timed_out };

    // The store is used by the writer thread only, from here until the
    // destructor has returned.
    // The writer takes what is pending as soon as its last commit is done:
    // the events that arrive meanwhile make the next batch. (Waiting for a
    // batch to grow was measured slower: with a connection per stub, the
    // requests of a batch's connections only come once it is committed.)
    explicit batch_writer(event_store& store, std::size_t max_batch = 4096);
    ~batch_writer();  // stores what was handed in, then stops
    batch_writer(const batch_writer&) = delete;
    batch_writer& operator=(const batch_writer&) = delete;

    // Waits at most wait for the batch holding the event. timed_out tells
    // the caller nothing is known yet: the event may still be stored later.
    outcome submit(event_record record, std::chrono::milliseconds wait);

private:
    // Each batch wakes only its own requests, and they wait without the
    // lock: woken all at once, none of them then has to queue for it.
    struct batch {
        std::vector<event_record> rows;
        std::promise<bool> stored;  // set once the batch is committed (true) or refused
        std::shared_future<bool> result = stored.get_future().share();
    };

    void write_loop();

    event_store& store_;
    const std::size_t max_batch_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::deque<std::shared_ptr<batch>> pending_;  // the back one is filling
    bool stopping_ = false;
    bool failing_ = false;
    std::thread writer_;
};

}  // namespace qzr::collect
