#include "quillon/api/endpoint/cgi_handler.h"

#include <string.h>

#include <string_view>

#include "quillon/api/endpoint/cgi_request.h"
#include "quillon/api/endpoint/permission_level.h"
#include "quillon/core/log.h"

namespace quillon
{

namespace
{

constexpr const char* kJsonHeader =
    "Status: 200 OK\r\nContent-type: 'application/json; charset=utf-8'\r\n\r\n";
constexpr const char* kTooLargeHeader =
    "Status: 413 Payload Too Large\r\nContent-type: text/plain\r\n";
constexpr const char* kTooLargeBody = "Allow: POST\r\n\r\nPayload Too Large\r\n";
constexpr const char* kNotAllowedHeader =
    "Status: 405 Method Not Allowed\r\nContent-type: text/plain\r\nAllow: POST\r\n\r\n";
constexpr const char* kNotAllowedBody = "Only POST supported\r\n";

} // namespace

CGIHandler::CGIHandler(std::string socketName, ApiFactory factory)
    : cgi(std::move(socketName)), makeApi(std::move(factory))
{
}

CGIHandler::~CGIHandler() = default;

bool CGIHandler::start()
{
    if (makeApi)
        api = makeApi();
    return cgi.init(10, [this](CGIRequest& request) { handleRequest(request); });
}

namespace
{

void reply(std::streambuf& out, std::string_view header, std::string_view body)
{
    out.sputn(header.data(), static_cast<std::streamsize>(header.size()));
    out.sputn(body.data(), static_cast<std::streamsize>(body.size()));
}

} // namespace

void CGIHandler::handleRequest(CGIRequest& request)
{
    std::streambuf& out = request.output();
    if (request.param("REQUEST_METHOD").value_or("") != "POST") {
        reply(out, kNotAllowedHeader, kNotAllowedBody);
        return;
    }
    int level = permissionLevel(request.param("SCRIPT_NAME").value_or(""));

    // One fixed buffer: a body that fills it is refused, never read in pieces.
    auto length =
        static_cast<std::size_t>(request.input().sgetn(bodyBuffer.data(), kBodyBufferSize));
    if (length >= kBodyBufferSize) {
        quillonLog(LOG_WARNING, "Could not read entire CGI buffer. Read max size of %d.\n",
                   kBodyBufferSize);
        reply(out, kTooLargeHeader, kTooLargeBody);
        return;
    }
    // The body ends at the first NUL byte.
    std::string body(bodyBuffer.data(), strnlen(bodyBuffer.data(), length));

    reply(out, kJsonHeader, api ? api(body, level) : std::string());
}

} // namespace quillon
