#pragma once

#include <memory>
#include <string>

#include "support/child_process.h"

namespace testsupport {

// A real lighttpd in the foreground on 127.0.0.1 and a free port, with its
// files under `dir`. `routes` is lighttpd configuration appended to the base
// (fastcgi.server or cgi.assign blocks); `var.base` names `dir` in it.
// Loaded modules: mod_access, mod_fastcgi, mod_cgi, mod_alias, mod_accesslog.
class Lighttpd {
public:
    Lighttpd(const std::string& dir, const std::string& routes);
    ~Lighttpd();

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" + path
    std::string url(const std::string& path) const;
    std::string errorLog() const;

private:
    std::string dir_;
    int port_ = 0;
    std::unique_ptr<ChildProcess> server_;
};

} // namespace testsupport
