#pragma once

#include <fcgiapp.h>
#include <fcgio.h>

#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace quillon
{

// One FastCGI request: the libfcgi request record, the parameters copied
// from its environment and stream buffers over its input and output. Used on
// the request-loop thread only.
class CGIRequest
{
public:
    CGIRequest();
    ~CGIRequest();
    CGIRequest(const CGIRequest&) = delete;
    CGIRequest& operator=(const CGIRequest&) = delete;

    // FCGX_InitRequest on the listening socket; false when it fails.
    bool init(int fd, int flags);
    // FCGX_Accept_r; on success copies the parameters and attaches the
    // streams. Returns the libfcgi result (0 on success). Throws
    // std::runtime_error when the request was not initialised.
    int accept();
    // Releases the streams and finishes the request (FCGX_Finish_r).
    void finish();

    // Parameters the server sent, among "REQUEST_METHOD", "REQUEST_URI",
    // "QUERY_STRING", "SCRIPT_NAME", "CONTENT_LENGTH" and "CONTENT_TYPE".
    // These accessors throw std::runtime_error before a successful accept.
    const std::map<std::string, std::string>& params() const;
    std::optional<std::string> param(const std::string& name) const;
    std::istream& in();
    std::ostream& out();
    // The stream buffers themselves, for whole-block reads and writes.
    std::streambuf& input();
    std::streambuf& output();

private:
    void requireAccepted() const;

    std::unique_ptr<FCGX_Request> request;
    bool initialised = false;
    bool accepted = false;
    std::map<std::string, std::string> params_;
    std::shared_ptr<fcgi_streambuf> inBuf;
    std::shared_ptr<fcgi_streambuf> outBuf;
    std::shared_ptr<fcgi_streambuf> errBuf;
    std::unique_ptr<std::istream> inStream;
    std::unique_ptr<std::ostream> outStream;
};

} // namespace quillon
