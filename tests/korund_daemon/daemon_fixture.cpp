#include "daemon_fixture.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/wait.h"

using namespace testsupport;
using namespace std::chrono_literals;

// PTY ------------------------------------------------------------------------

PtyPair::PtyPair()
{
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    struct termios tio;
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Children of the test must not hold the line open: closing it here has
    // to hang it up.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    // The daemon reopens the line after dropping its privileges.
    chmod(name, 0666);
    name_ = name;
}

PtyPair::~PtyPair()
{
    close(master_);
    close(slave_);
}

void PtyPair::write(const Bytes& data) const
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(master_, data.data() + done, data.size() - done);
        if (n <= 0)
            throw std::runtime_error("pty write failed");
        done += static_cast<size_t>(n);
    }
}

Bytes PtyPair::read(std::chrono::milliseconds wait, size_t expect) const
{
    Bytes got;
    auto end = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < end && (expect == 0 || got.size() < expect)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        struct pollfd p = {master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0)
            continue;
        unsigned char buf[512];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0)
            got.insert(got.end(), buf, buf + n);
    }
    return got;
}

// UDP ------------------------------------------------------------------------

UdpPeer::UdpPeer(int bindPort)
{
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(bindPort));
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("udp bind failed");
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

UdpPeer::~UdpPeer()
{
    close(fd_);
}

void UdpPeer::sendTo(int port, const Bytes& data) const
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

Bytes UdpPeer::receive(std::chrono::milliseconds wait) const
{
    struct pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) <= 0)
        return {};
    unsigned char buf[512];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? Bytes(buf, buf + n) : Bytes{};
}

// RIG ------------------------------------------------------------------------

namespace
{

// Reads a string property over the private bus, "" when not (yet) there.
std::string readProperty(const std::string& address, const char* service, const char* path,
                         const char* name)
{
    GError* error = nullptr;
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!c) {
        g_clear_error(&error);
        return {};
    }
    g_dbus_connection_set_exit_on_close(c, FALSE);
    GVariant* r = g_dbus_connection_call_sync(
        c, service, path, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "com.zeto.Configuration.Legacy", name), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, &error);
    std::string value;
    if (r) {
        GVariant* v = nullptr;
        g_variant_get(r, "(v)", &v);
        if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING))
            value = g_variant_get_string(v, nullptr);
        g_variant_unref(v);
        g_variant_unref(r);
    }
    g_clear_error(&error);
    g_object_unref(c);
    return value;
}

void giveToPtzadm(const std::string& path)
{
    struct passwd* pw = getpwnam("ptzadm");
    if (pw && chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0)
        throw std::runtime_error("chown failed");
}

} // namespace

KorundRig::KorundRig(const std::string& config, bool serial, bool ip, bool debug)
    : broadcast_(0), debug_(debug)
{
    chmod(dir_.path().c_str(), 0755);
    std::filesystem::create_directories(root() + "/etc/korund");
    chmod(root().c_str(), 0755);
    giveToPtzadm(root() + "/etc/korund");
    // The service's runtime directory belongs to its user, as the service
    // manager creates it: the daemon removes its socket there after dropping
    // privileges.
    std::filesystem::create_directories(root() + "/run/korund");
    giveToPtzadm(root() + "/run/korund");

    bus_ = std::make_unique<PrivateBus>(dir_.path());
    startCamsim();

    dir_.write("root/usr/share/ptz/korund_products.conf",
               "[" + prodNbr_ + "]\ninterfaceSerial=" + (serial ? "true" : "false") +
                   "\ninterfaceIP=" + (ip ? "true" : "false") + "\n");
    if (!config.empty()) {
        dir_.write("root/etc/korund/korund.conf", config);
        giveToPtzadm(configPath());
    }
    viscaPort_ = freeUdpPort();
    netsetPort_ = freeUdpPort();
    linkLine("serial-in", *in_);
    linkLine("serial-out", *out_);
    startDaemon();
}

void KorundRig::startCamsim()
{
    camsim_.reset();
    camsim_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{CAMSIM}, std::map<std::string, std::string>{{"CAMROOT", root()}});
    bool up = waitFor(
        [&] {
            prodNbr_ = readProperty(bus_->address(), "com.zeto.BasicDeviceInfo1",
                                    "/com/zeto/BasicDeviceInfo1", "ProdNbr");
            return !prodNbr_.empty();
        },
        15s);
    if (!up)
        throw std::runtime_error("camsim did not serve the device information: " +
                                 camsim_->output());
}

void KorundRig::signalCamsim(int sig)
{
    if (sig == SIGKILL) {
        camsim_->stop(SIGKILL);
        return;
    }
    kill(camsim_->pid(), sig);
}

void KorundRig::linkLine(const char* name, const PtyPair& line) const
{
    // Replaced in one step: the daemon never sees the link missing.
    std::string link = linkPath(name);
    std::filesystem::create_symlink(line.slaveName(), link + ".new");
    std::filesystem::rename(link + ".new", link);
}

void KorundRig::reconnectIn()
{
    in_ = std::make_unique<PtyPair>();
    linkLine("serial-in", *in_);
}

std::vector<std::string> KorundRig::daemonArgs() const
{
    std::vector<std::string> argv = {
        KORUND, "-n", "--portin", linkPath("serial-in"), "--portout", linkPath("serial-out")};
    if (debug_)
        argv.push_back("-d");
    return argv;
}

std::map<std::string, std::string> KorundRig::daemonEnv() const
{
    return {
        {"CAMROOT", root()},
        {"KORUND_BIND_ADDRESS", "127.0.0.1"},
        {"KORUND_VISCA_PORT", std::to_string(viscaPort_)},
        {"KORUND_NETWORK_SETTINGS_PORT", std::to_string(netsetPort_)},
        {"KORUND_DISCOVERY_BROADCAST", "127.0.0.1:" + std::to_string(broadcast_.port())},
    };
}

void KorundRig::startDaemon()
{
    korund_.reset();
    korund_ = std::make_unique<ChildProcess>(daemonArgs(), daemonEnv());
    if (!korund_->waitForOutput("Service up and running", 15s))
        throw std::runtime_error("korund did not start: " + korund_->output());
}

void KorundRig::startSocketActivated()
{
    korund_.reset();
    std::string socket = transferSocket();
    std::filesystem::create_directories(root() + "/run/korund");
    std::vector<std::string> argv = {"/usr/bin/systemd-socket-activate", "--datagram", "-l",
                                     socket};
    // The activator hands its children only the variables named here.
    auto env = daemonEnv();
    env["DBUS_SYSTEM_BUS_ADDRESS"] = bus_->address();
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* value = getenv(name))
            env[name] = value;
    for (const auto& [name, value] : env) {
        argv.push_back("-E");
        argv.push_back(name + "=" + value);
    }
    auto args = emulatedArgv(daemonArgs());
    argv.insert(argv.end(), args.begin(), args.end());
    korund_ = std::make_unique<ChildProcess>(argv);
    if (!korund_->waitForOutput("Listening on", 10s))
        throw std::runtime_error("systemd-socket-activate did not listen: " + korund_->output());
}

std::unique_ptr<DaemonizedKorund> KorundRig::startDaemonized()
{
    korund_.reset();
    auto argv = daemonArgs();
    argv.erase(std::find(argv.begin(), argv.end(), "-n"));
    auto env = daemonEnv();
    std::string work = dir_.path() + "/daemonized";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);
    return std::make_unique<DaemonizedKorund>(argv, env, work);
}

std::unique_ptr<ChildProcess> KorundRig::startSecondInstance(const std::string& config)
{
    dir_.write("second/etc/korund/korund.conf", config);
    dir_.write("second/usr/share/ptz/korund_products.conf",
               readFile(root() + "/usr/share/ptz/korund_products.conf"));
    auto env = daemonEnv();
    env["CAMROOT"] = dir_.path() + "/second";
    return std::make_unique<ChildProcess>(daemonArgs(), env);
}

KorundRig::~KorundRig()
{
    // A GLib critical means a broken contract inside the daemon, whatever the test checked.
    if (korund_) {
        EXPECT_EQ(korund_->output().find("critical:"), std::string::npos) << korund_->output();
    }
    web_.reset();
    korund_.reset();
    if (camsim_ && camsim_->running())
        kill(camsim_->pid(), SIGCONT); // a frozen camsim would not end on SIGTERM
    camsim_.reset();
    bus_.reset();
}

std::string KorundRig::readConfig() const
{
    std::ifstream f(configPath());
    return std::string(std::istreambuf_iterator<char>(f), {});
}

std::string KorundRig::cgiUrl()
{
    if (!web_) {
        dir_.write("web/www/local/korund/viscacontrol.cgi",
                   "socket " + root() + "/run/korund/transfer\n");
        web_ = std::make_unique<Lighttpd>(dir_.path() + "/web",
                                          "$HTTP[\"url\"] =~ \"^/local/korund/\" {\n"
                                          "  cgi.assign = ( \".cgi\" => \"" CGIRELAY "\" )\n"
                                          "}\n");
    }
    return web_->url("/local/korund/viscacontrol.cgi");
}

// DAEMONIZED -----------------------------------------------------------------

namespace
{

// A child of this process named `name` (orphans come here once this process
// is their subreaper), or -1.
pid_t childNamed(const std::string& name)
{
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    while (struct dirent* entry = proc ? readdir(proc.get()) : nullptr) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // "pid (comm) state ppid ..."
        auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        char state;
        pid_t parent = -1;
        rest >> state >> parent;
        if (parent == getpid() && line.substr(open + 1, close - open - 1) == name)
            return std::stoi(line);
    }
    return -1;
}

} // namespace

namespace
{

// Run by /bin/sh in the new mount namespace: $0 is the work directory, the
// rest the daemon's command line.
const char* kPrivateDev = R"(set -e
mkdir -p "$0/dev"
mount --rbind /dev "$0/dev"
mount -t tmpfs -o mode=755 none /dev
for name in null zero random urandom tty; do
  touch "/dev/$name"
  mount --bind "$0/dev/$name" "/dev/$name"
done
mkdir /dev/pts
mount --rbind "$0/dev/pts" /dev/pts
touch /dev/log
mount --bind "$0/log" /dev/log
exec "$@")";

} // namespace

DaemonizedKorund::DaemonizedKorund(std::vector<std::string> argv,
                                   std::map<std::string, std::string> env,
                                   const std::string& workDir)
{
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        throw std::runtime_error("cannot become a subreaper");
    std::string logPath = workDir + "/log";
    logFd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    logPath.copy(address.sun_path, sizeof address.sun_path - 1);
    if (logFd_ < 0 || bind(logFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot bind the log socket");
    chmod(logPath.c_str(), 0666); // written after the privilege drop too

    std::vector<std::string> launcher = {"/usr/bin/unshare", "--mount", "--propagation", "private",
                                         "/bin/sh",          "-c",      kPrivateDev,     workDir};
    argv = emulatedArgv(std::move(argv)); // the launcher does not know the emulator
    launcher.insert(launcher.end(), argv.begin(), argv.end());
    // The launcher exits once the daemon has forked away from it.
    ChildProcess start(launcher, env);
    int status = start.waitExit(15s);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("korund did not daemonize: " + start.output() + log());
    waitFor([&] { return (pid_ = childNamed("korund")) > 0; }, 5s);
    if (pid_ <= 0)
        throw std::runtime_error("no daemonized korund: " + start.output() + log());
}

DaemonizedKorund::~DaemonizedKorund()
{
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(logFd_);
}

std::string DaemonizedKorund::log()
{
    char line[4096];
    ssize_t got;
    while ((got = recv(logFd_, line, sizeof line, 0)) > 0) {
        log_.append(line, static_cast<size_t>(got));
        log_ += '\n';
    }
    return log_;
}

bool DaemonizedKorund::waitForLog(const std::string& text, std::chrono::milliseconds timeout)
{
    return waitFor([&] { return log().find(text) != std::string::npos; }, timeout);
}

int DaemonizedKorund::waitExit(std::chrono::milliseconds timeout)
{
    int status = -1;
    bool exited = waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    reaped_ = reaped_ || exited;
    return exited ? status : -1;
}

int processUid(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("Uid:", 0) == 0)
            return std::stoi(line.substr(4));
    return -1;
}
