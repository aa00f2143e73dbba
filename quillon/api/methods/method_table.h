#pragma once

#include <json-c/json.h>

#include <functional>
#include <map>
#include <string>

namespace quillon
{

// Permission levels of the caller, from the script name the web server used.
constexpr int kLevelAny = 0;
constexpr int kLevelOperator = 1;
constexpr int kLevelAdmin = 2;

// A method handler reads the request's "params" object and may set `*result`
// to a new JSON object (ownership passes to the caller; it is discarded when
// the handler fails). Returns 0 or an error code.
using MethodHandler = std::function<int(json_object* params, json_object** result)>;

struct MethodEntry {
    MethodHandler handler;
    int minLevel = kLevelAny;
};

// Method name -> {handler, minimum permission level}.
class MethodTable
{
public:
    void add(const std::string& name, int minLevel, MethodHandler handler);
    // Null when the name is not listed.
    const MethodEntry* find(const std::string& name) const;
    size_t size() const { return methods_.size(); }

private:
    std::map<std::string, MethodEntry> methods_;
};

} // namespace quillon
