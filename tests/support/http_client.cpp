#include "support/http_client.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace testsupport
{

HttpReply httpRequest(const std::string& method, const std::string& url, const std::string* body,
                      const std::vector<std::string>& extraArgs)
{
    TempDir dir("curl");
    std::vector<std::string> argv = {"/usr/bin/curl",
                                     "-s",
                                     "-S",
                                     "--max-time",
                                     "20",
                                     "-X",
                                     method,
                                     "-o",
                                     dir.file("body"),
                                     "-D",
                                     dir.file("headers"),
                                     "-w",
                                     "%{http_code}"};
    if (body) {
        dir.write("request", *body);
        argv.push_back("--data-binary");
        argv.push_back("@" + dir.file("request"));
    }
    // A later --max-time in extraArgs wins for curl; give it its time.
    auto wait = std::chrono::seconds(30);
    for (size_t i = 0; i < extraArgs.size(); i++) {
        argv.push_back(extraArgs[i]);
        if (extraArgs[i] == "--max-time" && i + 1 < extraArgs.size())
            wait = std::max(wait, std::chrono::seconds(std::atoi(extraArgs[i + 1].c_str()) + 10));
    }
    argv.push_back(url);

    HttpReply reply;
    ChildProcess curl(argv);
    int st = curl.waitExit(wait);
    std::string out = curl.output();
    if (st == -1 || !WIFEXITED(st) || WEXITSTATUS(st) != 0)
        return reply;
    reply.status = std::atoi(out.c_str());
    if (dir.exists("body"))
        reply.body = dir.read("body");
    if (dir.exists("headers"))
        reply.headers = dir.read("headers");
    return reply;
}

HttpReply httpPost(const std::string& url, const std::string& body, const std::string& contentType)
{
    return httpRequest("POST", url, &body, {"-H", "Content-Type: " + contentType});
}

HttpReply httpGet(const std::string& url)
{
    return httpRequest("GET", url, nullptr);
}

} // namespace testsupport
