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
    testsupport::ChildProcess& daemon() { return *korund_; }
    const PtyPair& in() const { return in_; }
    const PtyPair& out() const { return out_; }
    int viscaPort() const { return viscaPort_; }
    int netsetPort() const { return netsetPort_; }
    int broadcastPort() const { return broadcast_.port(); }
    const UdpPeer& broadcastListener() const { return broadcast_; }
    const std::string& prodNbr() const { return prodNbr_; }
    // lighttpd with the relay in front of the daemon's transfer socket.
    std::string cgiUrl();

    // Starts korund (again); waits for "Service up and running".
    void startDaemon();
    // Starts korund through systemd-socket-activate, which holds the transfer
    // socket and runs the daemon when the first request arrives.
    void startSocketActivated();

private:
    testsupport::TempDir dir_{"korund-it"};
    std::unique_ptr<testsupport::PrivateBus> bus_;
    std::unique_ptr<testsupport::ChildProcess> camsim_;
    std::unique_ptr<testsupport::ChildProcess> korund_;
    std::unique_ptr<testsupport::Lighttpd> web_;
    PtyPair in_;
    PtyPair out_;
    UdpPeer broadcast_;
    int viscaPort_ = 0;
    int netsetPort_ = 0;
    std::string prodNbr_;
    bool debug_ = true;

    std::vector<std::string> daemonArgs() const;
    std::map<std::string, std::string> daemonEnv() const;
};

// uid of the running process `pid` (from /proc), -1 when unknown.
int processUid(pid_t pid);
