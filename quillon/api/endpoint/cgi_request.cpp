#include "quillon/api/endpoint/cgi_request.h"

#include <stdexcept>
#include <string_view>

namespace quillon
{

namespace
{

constexpr std::string_view kCopiedParams[] = {"REQUEST_METHOD", "REQUEST_URI",    "QUERY_STRING",
                                              "SCRIPT_NAME",    "CONTENT_LENGTH", "CONTENT_TYPE"};

} // namespace

CGIRequest::CGIRequest() : request(std::make_unique<FCGX_Request>()) {}

CGIRequest::~CGIRequest()
{
    finish();
}

bool CGIRequest::init(int fd, int flags)
{
    initialised = FCGX_InitRequest(request.get(), fd, flags) == 0;
    return initialised;
}

int CGIRequest::accept()
{
    if (!initialised)
        throw std::runtime_error("Request object must be initialized to accept next request data.");
    int result = FCGX_Accept_r(request.get());
    if (result != 0)
        return result;
    accepted = true;
    // One pass over the environment; the first entry of a name counts, as
    // with FCGX_GetParam.
    for (char** entry = request->envp; entry && *entry; ++entry) {
        std::string_view text(*entry);
        auto equals = text.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view name = text.substr(0, equals);
        for (std::string_view wanted : kCopiedParams) {
            if (name == wanted) {
                params_.emplace(name, text.substr(equals + 1));
                break;
            }
        }
    }
    inBuf = std::make_shared<fcgi_streambuf>(request->in);
    outBuf = std::make_shared<fcgi_streambuf>(request->out);
    errBuf = std::make_shared<fcgi_streambuf>(request->err);
    return 0;
}

void CGIRequest::finish()
{
    // The stream buffers are unbuffered and write through to libfcgi's
    // streams, which FCGX_Finish_r frees: drop them first. No flush here:
    // FCGX_Finish_r sends the output and the end of the request in one
    // write, where a flush would cost the web server a second wake-up.
    inStream.reset();
    outStream.reset();
    inBuf.reset();
    outBuf.reset();
    errBuf.reset();
    if (accepted)
        FCGX_Finish_r(request.get());
    else if (initialised)
        FCGX_Free(request.get(), 0);
    accepted = false;
    initialised = false;
}

void CGIRequest::requireAccepted() const
{
    if (!initialised || !accepted)
        throw std::runtime_error(
            "Can't use request data unless it's initialized and data has been accepted.");
}

const std::map<std::string, std::string>& CGIRequest::params() const
{
    requireAccepted();
    return params_;
}

std::optional<std::string> CGIRequest::param(const std::string& name) const
{
    auto found = params().find(name);
    if (found == params_.end())
        return std::nullopt;
    return found->second;
}

std::istream& CGIRequest::in()
{
    requireAccepted();
    if (!inStream)
        inStream = std::make_unique<std::istream>(inBuf.get());
    return *inStream;
}

std::ostream& CGIRequest::out()
{
    requireAccepted();
    if (!outStream)
        outStream = std::make_unique<std::ostream>(outBuf.get());
    return *outStream;
}

std::streambuf& CGIRequest::input()
{
    requireAccepted();
    return *inBuf;
}

std::streambuf& CGIRequest::output()
{
    requireAccepted();
    return *outBuf;
}

} // namespace quillon
