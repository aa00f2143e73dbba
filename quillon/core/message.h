#pragma once

namespace quillon
{

// Messages carried by the process-wide bus (see channel.h). A message has no
// type tag: receivers recognise the types they handle by dynamic_cast.

class Message
{
public:
    Message() = default;
    virtual ~Message() = default;
    Message(const Message&) = default;
    Message& operator=(const Message&) = default;
};

// One instantiation per settings or command record T; the record is copied
// into the message when it is made and never changes afterwards.
template <typename T> class TrackerSettingsMessage : public Message
{
public:
    explicit TrackerSettingsMessage(const T& value) : settings(value) {}

    const T& get() const { return settings; }

    T settings;
};

// Debug flag from the command line ("-d"), posted once at start-up.
struct debug_mode_t {
    bool debug = false;
};

// Posted by the service worker when it starts; nothing acts on it.
class NewVideoSourcesMessage : public Message
{
public:
    explicit NewVideoSourcesMessage(int count = 1) : value(count) {}

    int value;
};

} // namespace quillon
