#include "quillon/api/endpoint/cgi_request.h"

#include <stdexcept>

namespace quillon
{

namespace
{

const char* const kCopiedParams[] = {"REQUEST_METHOD", "REQUEST_URI",    "QUERY_STRING",
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
    for (const char* name : kCopiedParams) {
        if (const char* value = FCGX_GetParam(name, request->envp))
            params_.emplace(name, value);
    }
    inBuf = std::make_shared<fcgi_streambuf>(request->in);
    outBuf = std::make_shared<fcgi_streambuf>(request->out);
    errBuf = std::make_shared<fcgi_streambuf>(request->err);
    inStream = std::make_unique<std::istream>(inBuf.get());
    outStream = std::make_unique<std::ostream>(outBuf.get());
    return 0;
}

void CGIRequest::finish()
{
    // The stream buffers write through to libfcgi's streams, which
    // FCGX_Finish_r frees: flush and drop them first.
    if (outStream)
        outStream->flush();
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
    return *inStream;
}

std::ostream& CGIRequest::out()
{
    requireAccepted();
    return *outStream;
}

} // namespace quillon
