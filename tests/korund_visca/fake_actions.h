#pragma once

#include <map>
#include <string>
#include <variant>
#include <vector>

#include "visca_actions.h"

namespace kortest
{

// An in-memory camera behind the VISCA action table: properties in a map,
// every call written to a log as text, errors injectable per property or for
// the PTZ calls. Install with install(); only one can be installed at a time.
class FakeActions
{
public:
    using Value = std::variant<bool, int, double, std::string>;

    FakeActions();
    ~FakeActions(); // restores the D-Bus table

    void install();

    // Properties are keyed by proxy index and name; bytestrings and strings
    // share the std::string alternative but keep their kind.
    void setBool(int proxy, const std::string& name, bool v);
    void setInt(int proxy, const std::string& name, int v);
    void setBytes(int proxy, const std::string& name, const std::string& v);
    void setString(int proxy, const std::string& name, const std::string& v);
    bool has(int proxy, const std::string& name) const;
    Value get(int proxy, const std::string& name) const;

    // A read or write of this property fails with `code`.
    void failProperty(int proxy, const std::string& name, int code);
    // Every PTZ coordinator call fails with `code` (0: none).
    void failPtz(int code) { ptzError_ = code; }

    ViscaPosition position{};
    bool rotated = false;
    std::vector<std::string> calls;

    // Implementation of the table (public for the C callbacks).
    int read(const char* kind, int proxy, const char* name, Value* out, bool bytes);
    int write(const char* kind, int proxy, const char* name, const Value& v, bool bytes);
    int ptz(const std::string& call);
    int ptzError_ = 0;

private:
    struct Entry {
        Value value;
        bool bytes = false;
    };
    static std::string key(int proxy, const std::string& name);
    std::map<std::string, Entry> props_;
    std::map<std::string, int> errors_;
};

} // namespace kortest
