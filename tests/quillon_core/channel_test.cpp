#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "quillon/core/channel.h"
#include "support/wait.h"

using namespace quillon;
using testsupport::waitFor;

namespace
{

// A numbered message; counts its destructions.
class Numbered : public Message
{
public:
    explicit Numbered(int n, std::atomic<int>* destroyed = nullptr)
        : number(n), destroyed_(destroyed)
    {
    }
    ~Numbered() override
    {
        if (destroyed_)
            ++*destroyed_;
    }
    int number;

private:
    std::atomic<int>* destroyed_;
};

class Other : public Message
{
};

// Records the numbers it receives; optionally runs a hook inside the handler.
class Recorder : public MessageReceiver
{
public:
    void handleMessage(const std::shared_ptr<Message>& message) override
    {
        auto numbered = std::dynamic_pointer_cast<Numbered>(message);
        if (!numbered)
            return;
        {
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back(numbered->number);
        }
        if (hook)
            hook(numbered->number);
    }
    void prepareToShutdown() override {}

    std::vector<int> received() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return seen;
    }
    std::size_t count() const { return received().size(); }

    std::function<void(int)> hook;

private:
    mutable std::mutex lock;
    std::vector<int> seen;
};

void post(Channel& bus, int n)
{
    bus.post(std::make_unique<Numbered>(n));
}

// Posts a marker and waits until `r` has seen it: every earlier message has
// then been dispatched.
void drain(Channel& bus, const std::shared_ptr<Recorder>& r)
{
    static std::atomic<int> nextMarker{-1000};
    int marker = nextMarker--;
    post(bus, marker);
    ASSERT_TRUE(waitFor([&] {
        auto seen = r->received();
        return !seen.empty() && seen.back() == marker;
    }));
}

std::vector<int> withoutMarkers(std::vector<int> v)
{
    std::erase_if(v, [](int n) { return n <= -1000; });
    return v;
}

} // namespace

TEST(Channel, DeliversInPostingOrderToEveryReceiverInSubscriptionOrder)
{
    Channel bus;
    auto a = std::make_shared<Recorder>();
    auto b = std::make_shared<Recorder>();
    std::vector<char> order;
    std::mutex orderLock;
    a->hook = [&](int) {
        std::lock_guard<std::mutex> g(orderLock);
        order.push_back('a');
    };
    b->hook = [&](int) {
        std::lock_guard<std::mutex> g(orderLock);
        order.push_back('b');
    };
    bus.subscribe(a);
    bus.subscribe(b);
    for (int i = 0; i < 100; ++i)
        post(bus, i);
    drain(bus, b);
    std::vector<int> expected(100);
    for (int i = 0; i < 100; ++i)
        expected[i] = i;
    EXPECT_EQ(withoutMarkers(a->received()), expected);
    EXPECT_EQ(withoutMarkers(b->received()), expected);
    std::lock_guard<std::mutex> g(orderLock);
    for (std::size_t i = 0; i + 1 < order.size(); i += 2) {
        EXPECT_EQ(order[i], 'a');
        EXPECT_EQ(order[i + 1], 'b');
    }
}

TEST(Channel, PostFromHandlerIsDeliveredAfterCurrentMessageReachedAllReceivers)
{
    Channel bus;
    auto first = std::make_shared<Recorder>();
    auto second = std::make_shared<Recorder>();
    std::vector<std::string> log;
    std::mutex logLock;
    first->hook = [&](int n) {
        {
            std::lock_guard<std::mutex> g(logLock);
            log.push_back("first:" + std::to_string(n));
        }
        if (n == 1)
            post(bus, 2);
    };
    second->hook = [&](int n) {
        std::lock_guard<std::mutex> g(logLock);
        log.push_back("second:" + std::to_string(n));
    };
    bus.subscribe(first);
    bus.subscribe(second);
    post(bus, 1);
    ASSERT_TRUE(waitFor([&] { return second->count() == 2; }));
    std::lock_guard<std::mutex> g(logLock);
    EXPECT_EQ(log, (std::vector<std::string>{"first:1", "second:1", "first:2", "second:2"}));
}

TEST(Channel, SubscriptionTakesEffectAtTheNextMessageTakenOffTheQueue)
{
    Channel bus;
    auto host = std::make_shared<Recorder>();
    auto late = std::make_shared<Recorder>();
    // Subscribed from inside a handler: misses the message being dispatched.
    host->hook = [&](int n) {
        if (n == 1)
            bus.subscribe(late);
    };
    bus.subscribe(host);
    post(bus, 1);
    post(bus, 2);
    drain(bus, host);
    EXPECT_EQ(withoutMarkers(late->received()), std::vector<int>{2});

    // Subscribed while the queue is idle: gets the next message.
    auto idle = std::make_shared<Recorder>();
    bus.subscribe(idle);
    post(bus, 3);
    drain(bus, host);
    EXPECT_EQ(withoutMarkers(idle->received()), std::vector<int>{3});
}

TEST(Channel, UnsubscribeRulesFollowTheApplyOrder)
{
    Channel bus;
    auto witness = std::make_shared<Recorder>();
    bus.subscribe(witness);

    // Never subscribed: nothing changes.
    auto stranger = std::make_shared<Recorder>();
    bus.unsubscribe(stranger);
    post(bus, 1);
    drain(bus, witness);
    EXPECT_TRUE(stranger->received().empty());

    // Subscribed and unsubscribed within one interval: removals go first, so
    // it ends up subscribed.
    auto flicker = std::make_shared<Recorder>();
    bus.subscribe(flicker);
    bus.unsubscribe(flicker);
    post(bus, 2);
    drain(bus, witness);
    EXPECT_EQ(withoutMarkers(flicker->received()), std::vector<int>{2});

    // Twice subscribed receives twice; one unsubscribe removes one entry.
    auto twice = std::make_shared<Recorder>();
    bus.subscribe(twice);
    bus.subscribe(twice);
    post(bus, 3);
    drain(bus, witness);
    EXPECT_EQ(withoutMarkers(twice->received()), (std::vector<int>{3, 3}));
    bus.unsubscribe(twice);
    post(bus, 4);
    drain(bus, witness);
    EXPECT_EQ(withoutMarkers(twice->received()), (std::vector<int>{3, 3, 4}));

    // Unsubscribed from inside its own handler: gets the current message,
    // not the next.
    auto quitter = std::make_shared<Recorder>();
    quitter->hook = [&](int n) {
        if (n == 5)
            bus.unsubscribe(quitter);
    };
    bus.subscribe(quitter);
    post(bus, 5);
    post(bus, 6);
    drain(bus, witness);
    EXPECT_EQ(withoutMarkers(quitter->received()), std::vector<int>{5});
}

TEST(Channel, ReceiverReleasedWithoutUnsubscribingIsSkipped)
{
    Channel bus;
    auto witness = std::make_shared<Recorder>();
    auto gone = std::make_shared<Recorder>();
    std::weak_ptr<Recorder> watch = gone;
    bus.subscribe(gone);
    bus.subscribe(witness);
    post(bus, 1);
    drain(bus, witness);
    EXPECT_EQ(withoutMarkers(gone->received()), std::vector<int>{1});
    gone.reset();
    EXPECT_TRUE(watch.expired());
    // The bus keeps only a weak pointer: the receiver is really gone and the
    // dispatches that follow skip and prune its entry.
    for (int i = 2; i < 5; ++i)
        post(bus, i);
    drain(bus, witness);
    EXPECT_EQ(withoutMarkers(witness->received()), (std::vector<int>{1, 2, 3, 4}));
}

TEST(Channel, UnhandledTypesAndTheLastReferenceAreDestroyedAfterTheWalk)
{
    Channel bus;
    auto witness = std::make_shared<Recorder>();
    bus.subscribe(witness);
    std::atomic<int> destroyed{0};
    bus.post(std::make_unique<Other>());
    bus.post(std::make_unique<Numbered>(7, &destroyed));
    drain(bus, witness);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(withoutMarkers(witness->received()), std::vector<int>{7});
}

TEST(Channel, StopEndsDispatchAndLaterPostsAreDestroyedWithTheBus)
{
    std::atomic<int> destroyed{0};
    auto r = std::make_shared<Recorder>();
    {
        Channel bus;
        bus.subscribe(r);
        bus.post(std::make_unique<Numbered>(1, &destroyed));
        ASSERT_TRUE(waitFor([&] { return r->count() == 1; }));
        bus.stop();
        bus.stop(); // a second stop is harmless
        for (int i = 2; i <= 4; ++i)
            bus.post(std::make_unique<Numbered>(i, &destroyed));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(r->count(), 1u);
        EXPECT_EQ(destroyed, 1);
    }
    EXPECT_EQ(destroyed, 4);
    EXPECT_EQ(r->count(), 1u);
}

TEST(Channel, StopWithAFullQueueDropsWhatIsLeft)
{
    std::atomic<int> destroyed{0};
    auto slow = std::make_shared<Recorder>();
    slow->hook = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    {
        Channel bus;
        bus.subscribe(slow);
        for (int i = 0; i < 50; ++i)
            bus.post(std::make_unique<Numbered>(i, &destroyed));
        ASSERT_TRUE(waitFor([&] { return slow->count() >= 1; }));
        bus.stop();
        EXPECT_LT(slow->count(), 50u);
    }
    EXPECT_EQ(destroyed, 50);
}

TEST(Channel, ManyThreadsPostingKeepEachThreadsOrder)
{
    constexpr int kThreads = 8;
    constexpr int kPerThread = 5000;
    Channel bus;
    auto r = std::make_shared<Recorder>();
    bus.subscribe(r);
    // Subscriptions and unsubscriptions from other threads at the same time.
    auto churn = std::make_shared<Recorder>();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                post(bus, t * kPerThread + i);
                if (i % 500 == 0) {
                    bus.subscribe(churn);
                    bus.unsubscribe(churn);
                }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    drain(bus, r);
    auto seen = withoutMarkers(r->received());
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<int> last(kThreads, -1);
    for (int n : seen) {
        int t = n / kPerThread;
        EXPECT_GT(n, last[t]);
        last[t] = n;
    }
}

TEST(Channel, InstanceIsOneProcessWideBus)
{
    EXPECT_EQ(&Channel::instance(), &Channel::instance());
    auto r = std::make_shared<Recorder>();
    Channel::instance().subscribe(r);
    drain(Channel::instance(), r);
    Channel::instance().unsubscribe(r);
}
