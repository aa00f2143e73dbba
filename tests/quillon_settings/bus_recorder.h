#pragma once

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillon/core/channel.h"
#include "quillon/core/message.h"
#include "quillon/core/message_receiver.h"
#include "support/temp_dir.h"

namespace quillontest
{

// Records every message the process-wide bus delivers while it is alive.
class BusRecorder : public quillon::MessageReceiver
{
public:
    // Subscribes a new recorder and waits until the subscription is active.
    static std::shared_ptr<BusRecorder> create()
    {
        auto recorder = std::make_shared<BusRecorder>();
        quillon::Channel::instance().subscribe(recorder);
        recorder->clear();
        return recorder;
    }

    ~BusRecorder() override = default;

    void handleMessage(const std::shared_ptr<quillon::Message>& message) override
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (dynamic_cast<Marker*>(message.get()) != nullptr)
            ++markersSeen_;
        else
            messages_.push_back(message);
        changed_.notify_all();
    }
    void prepareToShutdown() override {}

    // Posts a marker and waits for it: everything posted before it has then
    // been recorded. A marker that does not arrive within `timeout` (delivery
    // stalled, or the recorder is not subscribed) fails the test: every
    // "nothing was posted" check relies on it.
    bool sync(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> hold(lock_);
        int wanted = ++markersPosted_;
        hold.unlock();
        quillon::Channel::instance().post(std::make_unique<Marker>());
        hold.lock();
        bool delivered = changed_.wait_for(hold, timeout, [&] { return markersSeen_ >= wanted; });
        if (!delivered)
            ADD_FAILURE() << "the bus did not deliver to the recorder";
        return delivered;
    }

    // Forgets everything posted so far.
    void clear()
    {
        sync();
        std::lock_guard<std::mutex> hold(lock_);
        messages_.clear();
    }

    std::vector<std::shared_ptr<quillon::Message>> messages()
    {
        sync();
        std::lock_guard<std::mutex> hold(lock_);
        return messages_;
    }

    // Payloads of every TrackerSettingsMessage<T> recorded, in order.
    template <typename T> std::vector<T> settings()
    {
        std::vector<T> out;
        for (const auto& message : messages()) {
            if (auto typed = dynamic_cast<quillon::TrackerSettingsMessage<T>*>(message.get()))
                out.push_back(typed->settings);
        }
        return out;
    }

    // Every recorded message of class M, in order.
    template <typename M> std::vector<M> ofClass()
    {
        std::vector<M> out;
        for (const auto& message : messages()) {
            if (auto typed = dynamic_cast<M*>(message.get()))
                out.push_back(*typed);
        }
        return out;
    }

private:
    class Marker : public quillon::Message
    {
    };

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<quillon::Message>> messages_;
    int markersPosted_ = 0;
    int markersSeen_ = 0;
};

// Unsubscribes the recorder when the test ends.
struct ScopedRecorder {
    ScopedRecorder() : recorder(BusRecorder::create()) {}
    ~ScopedRecorder() { quillon::Channel::instance().unsubscribe(recorder); }
    BusRecorder* operator->() { return recorder.get(); }
    std::shared_ptr<BusRecorder> recorder;
};

// Points CAMROOT at a temporary directory for the whole test program and
// mirrors the log to stderr so tests can capture message texts.
class CamRootEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        root_ = std::make_unique<testsupport::TempDir>("quillon-test");
        setenv("CAMROOT", root_->path().c_str(), 1);
        setenv("QUILLON_LOG_STDERR", "1", 1);
    }
    void TearDown() override { root_.reset(); }

    static std::string configPath(const std::string& fileName)
    {
        return std::string(getenv("CAMROOT")) + "/etc/quillon/" + fileName;
    }

private:
    std::unique_ptr<testsupport::TempDir> root_;
};

} // namespace quillontest
