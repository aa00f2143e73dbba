// Message bus figures: messages per second posted and delivered to one
// receiver, and the latency from post() to the receiver's handler.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>

#include "quillon/core/channel.h"

using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace
{

class Stamped : public Message
{
public:
    Stamped() : posted(Clock::now()) {}
    Clock::time_point posted;
};

// Counts deliveries; wakes the benchmark when it has seen `target`.
class Counter : public MessageReceiver
{
public:
    void handleMessage(const std::shared_ptr<Message>& message) override
    {
        if (!std::dynamic_pointer_cast<Stamped>(message))
            return;
        if (++count == target) {
            std::lock_guard<std::mutex> guard(lock);
            done.notify_all();
        }
    }
    void prepareToShutdown() override {}

    void waitFor(long n)
    {
        std::unique_lock<std::mutex> guard(lock);
        done.wait(guard, [&] { return count.load() >= n; });
    }

    std::atomic<long> count{0};
    std::atomic<long> target{-1};
    std::mutex lock;
    std::condition_variable done;
};

// Throughput: a batch of posts from one thread, timed until the last one has
// reached the receiver.
void BM_PostAndDeliver(benchmark::State& state)
{
    const long batch = state.range(0);
    Channel bus;
    auto receiver = std::make_shared<Counter>();
    bus.subscribe(receiver);
    long delivered = 0;
    for (auto _ : state) {
        receiver->target = delivered + batch;
        for (long i = 0; i < batch; ++i)
            bus.post(std::make_unique<Stamped>());
        receiver->waitFor(delivered + batch);
        delivered += batch;
    }
    state.SetItemsProcessed(delivered);
    bus.stop();
}
BENCHMARK(BM_PostAndDeliver)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Latency: one message at a time, post -> handler, on an idle bus.
class LatencyProbe : public MessageReceiver
{
public:
    void handleMessage(const std::shared_ptr<Message>& message) override
    {
        auto stamped = std::dynamic_pointer_cast<Stamped>(message);
        if (!stamped)
            return;
        auto latency = Clock::now() - stamped->posted;
        std::lock_guard<std::mutex> guard(lock);
        last = latency;
        arrived = true;
        done.notify_all();
    }
    void prepareToShutdown() override {}

    Clock::duration waitNext()
    {
        std::unique_lock<std::mutex> guard(lock);
        done.wait(guard, [&] { return arrived; });
        arrived = false;
        return last;
    }

    std::mutex lock;
    std::condition_variable done;
    bool arrived = false;
    Clock::duration last{};
};

void BM_PostToHandlerLatency(benchmark::State& state)
{
    Channel bus;
    auto probe = std::make_shared<LatencyProbe>();
    bus.subscribe(probe);
    std::vector<double> micros;
    for (auto _ : state) {
        bus.post(std::make_unique<Stamped>());
        micros.push_back(std::chrono::duration<double, std::micro>(probe->waitNext()).count());
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["p50_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
        state.counters["max_us"] = micros.back();
    }
    bus.stop();
}
BENCHMARK(BM_PostToHandlerLatency)->Iterations(20000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
