#include "quillon/core/channel.h"

#include <algorithm>
#include <chrono>

namespace quillon
{

Channel& Channel::instance()
{
    static Channel channel;
    return channel;
}

Channel::Channel()
{
    // `running` is already true: the dispatch thread starts last so it never
    // sees a half-built bus.
    worker = std::thread([this] { run(); });
}

Channel::~Channel()
{
    stop();
    queue.clear();
}

void Channel::post(std::unique_ptr<Message> message)
{
    if (!message)
        return;
    {
        std::lock_guard<std::mutex> guard(queueLock);
        queue.push_back(std::move(message));
    }
    wakeup.notify_all();
}

void Channel::subscribe(std::weak_ptr<MessageReceiver> receiver)
{
    std::lock_guard<std::mutex> guard(addLock);
    pendingAdd.push_back(std::move(receiver));
}

void Channel::unsubscribe(std::weak_ptr<MessageReceiver> receiver)
{
    std::lock_guard<std::mutex> guard(removeLock);
    pendingRemove.push_back(std::move(receiver));
}

void Channel::stop()
{
    {
        // Taking queueLock orders the flag against a dispatch thread that has
        // just checked it and is about to wait, so the wake-up is not lost.
        std::lock_guard<std::mutex> guard(queueLock);
        running = false;
    }
    wakeup.notify_all();
    // Give the dispatch thread time to finish its current delivery.
    std::this_thread::sleep_for(std::chrono::microseconds(10000));
    std::lock_guard<std::mutex> guard(stopLock);
    if (worker.joinable() && worker.get_id() != std::this_thread::get_id())
        worker.join();
}

void Channel::run()
{
    for (;;) {
        std::shared_ptr<Message> message;
        {
            std::unique_lock<std::mutex> guard(queueLock);
            wakeup.wait(guard, [this] { return !queue.empty() || !running; });
            if (!running)
                return;
            message = std::move(queue.front());
            queue.pop_front();
        }

        applyPending();

        bool expired = false;
        // Handlers cannot change `receivers` (subscriptions go to the pending
        // lists), so iterating it directly is safe.
        for (const auto& entry : receivers) {
            if (auto receiver = entry.lock())
                receiver->handleMessage(message);
            else
                expired = true;
        }
        if (expired) {
            std::erase_if(receivers, [](const auto& entry) { return entry.expired(); });
        }
    }
}

void Channel::applyPending()
{
    std::lock_guard<std::mutex> addGuard(addLock);
    std::lock_guard<std::mutex> removeGuard(removeLock);
    for (const auto& entry : pendingRemove) {
        auto target = entry.lock();
        if (!target)
            continue;
        auto found = std::find_if(receivers.begin(), receivers.end(),
                                  [&](const auto& r) { return r.lock() == target; });
        if (found != receivers.end())
            receivers.erase(found);
    }
    pendingRemove.clear();
    receivers.insert(receivers.end(), pendingAdd.begin(), pendingAdd.end());
    pendingAdd.clear();
}

} // namespace quillon
