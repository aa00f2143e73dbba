#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/lighttpd.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"

using Bytes = std::vector<unsigned char>;

// One end of a pseudo-terminal pair: the test writes and reads the master, the
// daemon opens the slave by name.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    const std::string& slaveName() const { return name_; }
    void write(const Bytes& data) const;
    // Everything that arrives within `wait` (stops early once `expect` bytes came).
    Bytes read(std::chrono::milliseconds wait, size_t expect = 0) const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

// A UDP socket on 127.0.0.1 talking to the daemon.
class UdpPeer
{
public:
    explicit UdpPeer(int bindPort = 0);
    ~UdpPeer();
    int port() const { return port_; }
    void sendTo(int port, const Bytes& data) const;
    // One datagram, or empty after `wait`.
    Bytes receive(std::chrono::milliseconds wait = std::chrono::milliseconds(2000)) const;

private:
    int fd_ = -1;
    int port_ = 0;
};

// The real daemon against camsim on a private bus, with its files under a
// temporary CAMROOT readable by "ptzadm".
class KorundRig
{
public:
    // `config`: korund.conf text (empty: no file); `serial`, `ip`: what the
    // product offers; `debug`: run with "debug-all".
    explicit KorundRig(const std::string& config, bool serial = true, bool ip = true,
                       bool debug = true);
    ~KorundRig();

    testsupport::TempDir& dir() { return dir_; }
    std::string root() const { return dir_.path() + "/root"; }
    std::string configPath() const { return root() + "/etc/korund/korund.conf"; }
    std::string readConfig() const;
    std::string transferSocket() const { return root() + "/run/korund/transfer"; }
    testsupport::ChildProcess& daemon() { return *korund_; }
    const PtyPair& in() const { return *in_; }
    const PtyPair& out() const { return *out_; }
    // The daemon opens the lines through links in the temporary directory:
    // hangUpIn() closes the input pair (the daemon's side hangs up),
    // reconnectIn() puts a new pair behind the same link.
    void hangUpIn() { in_.reset(); }
    void reconnectIn();
    int viscaPort() const { return viscaPort_; }
    int netsetPort() const { return netsetPort_; }
    int broadcastPort() const { return broadcast_.port(); }
    const UdpPeer& broadcastListener() const { return broadcast_; }
    const std::string& prodNbr() const { return prodNbr_; }
    // lighttpd with the relay in front of the daemon's transfer socket.
    std::string cgiUrl();

    // Starts korund (again); waits for "Service up and running".
    void startDaemon();
    // The camera: camsim on the rig's bus and files. startCamsim() starts it
    // (again) and waits until it serves the device information; signalCamsim()
    // sends it a signal (SIGKILL ends it as a crash would, SIGSTOP freezes it,
    // SIGCONT thaws it).
    void startCamsim();
    void signalCamsim(int sig);
    testsupport::ChildProcess& camsim() { return *camsim_; }
    // Starts korund through systemd-socket-activate, which holds the transfer
    // socket and runs the daemon when the first request arrives.
    void startSocketActivated();
    // Starts korund as the service manager does, without "no-daemon" (see
    // DaemonizedKorund); daemon() then points nothing at the test's pipe.
    std::unique_ptr<class DaemonizedKorund> startDaemonized();
    // Another korund ("no-daemon") on this rig's bus and UDP ports with its own
    // files, configured with `config`; not waited for.
    std::unique_ptr<testsupport::ChildProcess> startSecondInstance(const std::string& config);

private:
    testsupport::TempDir dir_{"korund-it"};
    std::unique_ptr<testsupport::PrivateBus> bus_;
    std::unique_ptr<testsupport::ChildProcess> camsim_;
    std::unique_ptr<testsupport::ChildProcess> korund_;
    std::unique_ptr<testsupport::Lighttpd> web_;
    std::unique_ptr<PtyPair> in_ = std::make_unique<PtyPair>();
    std::unique_ptr<PtyPair> out_ = std::make_unique<PtyPair>();
    UdpPeer broadcast_;
    int viscaPort_ = 0;
    int netsetPort_ = 0;
    std::string prodNbr_;
    bool debug_ = true;

    std::string linkPath(const char* name) const { return dir_.path() + "/" + name; }
    void linkLine(const char* name, const PtyPair& line) const;
    std::vector<std::string> daemonArgs() const;
    std::map<std::string, std::string> daemonEnv() const;
};

// A korund that forked itself into the background and logs to the system
// log. It runs in a private mount namespace whose /dev is a fresh tmpfs with
// the needed devices bound in and /dev/log bound to a datagram socket of the
// test, which collects the lines; the test process is made the subreaper of
// its orphans so that it can wait for the daemon's exit. A daemon still
// running at destruction is killed.
class DaemonizedKorund
{
public:
    // `workDir`: a directory of the test (holds the socket and mount points).
    DaemonizedKorund(std::vector<std::string> argv, std::map<std::string, std::string> env,
                     const std::string& workDir);
    ~DaemonizedKorund();

    pid_t pid() const { return pid_; }
    // Every line logged so far.
    std::string log();
    bool waitForLog(const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::seconds(15));
    // The wait status once the daemon exits within `timeout`, else -1.
    int waitExit(std::chrono::milliseconds timeout);

private:
    int logFd_ = -1;
    std::string log_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// uid of the running process `pid` (from /proc), -1 when unknown.
int processUid(pid_t pid);
