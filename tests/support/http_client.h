#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct HttpReply {
    int status = 0; // 0: no connection or no reply
    std::string body;
    std::string headers;
};

// Requests made with the curl command-line tool, as a web client would.
HttpReply httpPost(const std::string& url, const std::string& body,
                   const std::string& contentType = "application/json");
HttpReply httpGet(const std::string& url);
HttpReply httpRequest(const std::string& method, const std::string& url,
                      const std::string* body, const std::vector<std::string>& extraArgs = {});

} // namespace testsupport
