#include "host/in_flight.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace nebulite::host {

namespace {

// Whose call is next: the order given, then turn about; a host whose job
// has ended is never waited for.
class Turns {
public:
    explicit Turns(std::string order) : order_(std::move(order)) {}

    void wait(int who) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return next() == who; });
    }
    void made(int who) {
        std::lock_guard<std::mutex> guard(lock_);
        ++calls_;
        last_ = who;
        changed_.notify_all();
    }
    void ended(int who) {
        std::lock_guard<std::mutex> guard(lock_);
        ended_[who] = true;
        changed_.notify_all();
    }

private:
    int next() const {
        if (ended_[0]) return 1;
        if (ended_[1]) return 0;
        if (calls_ < order_.size()) return order_[calls_] == 'b' ? 1 : 0;
        return last_ == 0 ? 1 : 0;
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::string order_;
    size_t calls_ = 0;
    int last_ = 1;
    bool ended_[2] = {false, false};
};

Outcome runOne(Host& host, const Job& job, Turns* turns, int who) {
    if (turns != nullptr) {
        host.beforeCall = [turns, who](int16_t) { turns->wait(who); };
        host.afterCall = [turns, who](int16_t) { turns->made(who); };
    }
    Outcome outcome = job(host);
    host.beforeCall = nullptr;
    host.afterCall = nullptr;
    if (turns != nullptr) turns->ended(who);
    return outcome;
}

Together runBoth(Host& a, const Job& jobA, Host& b, const Job& jobB, Turns* turns) {
    Together together;
    std::thread second([&] { together.b = runOne(b, jobB, turns, 1); });
    together.a = runOne(a, jobA, turns, 0);
    second.join();
    return together;
}

}  // namespace

Together runInterleaved(Host& a, const Job& jobA, Host& b, const Job& jobB, const std::string& order) {
    Turns turns(order);
    return runBoth(a, jobA, b, jobB, &turns);
}

Together runConcurrently(Host& a, const Job& jobA, Host& b, const Job& jobB) {
    return runBoth(a, jobA, b, jobB, nullptr);
}

}  // namespace nebulite::host
