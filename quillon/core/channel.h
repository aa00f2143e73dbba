#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "quillon/core/message.h"
#include "quillon/core/message_receiver.h"

namespace quillon
{

// The process-wide message bus. post() only appends to the queue; one
// dispatch thread hands each message, in posting order, to every subscribed
// receiver. Subscription changes wait in pendingAdd/pendingRemove until the
// dispatch thread has taken the next message off the queue; removals are
// applied before additions. The bus holds receivers by weak pointer only.
//
// Threads: post/subscribe/unsubscribe from any thread (handlers included);
// `receivers` is touched only by the dispatch thread.
class Channel
{
public:
    // The process-wide bus, created (and its dispatch thread started) on the
    // first call and destroyed at process exit.
    static Channel& instance();

    // A private bus with its own dispatch thread; production code uses
    // instance(), tests make their own.
    Channel();
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Never refused; after stop() the message is kept until destruction but
    // never delivered.
    void post(std::unique_ptr<Message> message);
    void subscribe(std::weak_ptr<MessageReceiver> receiver);
    void unsubscribe(std::weak_ptr<MessageReceiver> receiver);
    // Ends dispatching (queued messages are not delivered) and joins the
    // dispatch thread. Must not be called from a handler. Idempotent.
    void stop();

    // Convenience for posting a settings or command record.
    template <typename T> void postSettings(const T& value)
    {
        post(std::make_unique<TrackerSettingsMessage<T>>(value));
    }

private:
    void run();
    void applyPending();

    std::mutex queueLock;
    std::mutex addLock;
    std::mutex removeLock;
    std::mutex stopLock; // serialises stop() callers around the join
    std::thread worker;
    std::condition_variable_any wakeup;
    std::deque<std::unique_ptr<Message>> queue;
    std::vector<std::weak_ptr<MessageReceiver>> receivers;
    std::vector<std::weak_ptr<MessageReceiver>> pendingAdd;
    std::vector<std::weak_ptr<MessageReceiver>> pendingRemove;
    std::atomic<bool> running{true};
};

} // namespace quillon
