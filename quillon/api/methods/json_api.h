#pragma once

#include <string>
#include <string_view>

#include "quillon/api/methods/method_table.h"

namespace quillon
{

// quillon's JSON API: parses a POST body, dispatches each request to its
// method and builds the reply text. Replies are always JSON; failures are
// {"error": {"code": N}} inside the envelope.
//
// Use: the endpoint makes one JsonApi when it starts and, for every POST
// body (already cut at the first NUL byte), calls process() with the
// caller's permission level (0 any script, 1 operator, 2 admin/settings).
// Runs on the endpoint's thread, one request at a time.
class JsonApi
{
public:
    // Builds the method table with every method of the API.
    JsonApi();

    // The reply text for one body: an object for a single request, an array
    // of replies for a batch (a JSON array of requests).
    std::string process(std::string_view body, int level) const;

    MethodTable& methods() { return methods_; }

private:
    MethodTable methods_;
};

// Registers every method on `table` (the endpoint's JsonApi does this).
void addApiMethods(MethodTable& table);

} // namespace quillon
