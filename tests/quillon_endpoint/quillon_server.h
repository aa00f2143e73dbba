#pragma once

#include <map>
#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/lighttpd.h"
#include "support/temp_dir.h"

// A real quillon process (settings under its own CAMROOT, FastCGI socket in
// the temporary directory, log lines on its output) behind a real lighttpd
// that routes /local/quillon/*.cgi and *.fcgi to it.
class QuillonServer
{
public:
    // `applicationConf`: content of application.conf, none when empty;
    // `configFiles`: more files of /etc/quillon/ (name -> content).
    explicit QuillonServer(const std::string& applicationConf,
                           const std::vector<std::string>& prefix = {},
                           std::map<std::string, std::string> env = {},
                           const std::map<std::string, std::string>& configFiles = {});

    std::string url(const std::string& script) const;
    std::string root() const { return dir.path() + "/root"; }
    std::string socketPath() const { return dir.path() + "/quillon.sock"; }
    testsupport::ChildProcess& process() { return *quillon; }
    testsupport::TempDir dir{"quillon-endpoint"};

private:
    std::unique_ptr<testsupport::ChildProcess> quillon;
    std::unique_ptr<testsupport::Lighttpd> web;
};

// lighttpd routes for a FastCGI socket at `socket`.
std::string quillonRoutes(const std::string& socket);

inline constexpr const char* kActiveConf =
    R"({ "service": { "active": true, "version": "2.6.39+maint+1" } })";
