// VISCA over IP against the real korund and camsim on loopback: command ->
// completion time, sustained commands per second from one controller, and
// the daemon's resident memory. Prints the figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "daemon_fixture.h"

namespace
{

using Clock = std::chrono::steady_clock;

Bytes frame(uint32_t seq, const Bytes& payload)
{
    Bytes d = {0x01,
               0x00,
               0x00,
               static_cast<unsigned char>(payload.size()),
               static_cast<unsigned char>(seq >> 24),
               static_cast<unsigned char>(seq >> 16),
               static_cast<unsigned char>(seq >> 8),
               static_cast<unsigned char>(seq)};
    for (unsigned char b : payload) // (insert() trips a g++ 12 -Warray-bounds false positive)
        d.push_back(b);
    return d;
}

// Sends one command and waits for its completion; microseconds, or -1.
double roundTrip(const UdpPeer& peer, int port, uint32_t seq, const Bytes& command)
{
    auto start = Clock::now();
    peer.sendTo(port, frame(seq, command));
    for (int i = 0; i < 2; i++) {
        Bytes reply = peer.receive(std::chrono::milliseconds(1000));
        if (reply.size() == 11 && reply[9] == 0x51)
            return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (reply.size() != 11)
            return -1;
    }
    return -1;
}

// A "Name:   value kB" line of a /proc file, -1 when absent.
long procKiB(const std::string& file, const std::string& name)
{
    std::ifstream f(file);
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(name + ":", 0) == 0)
            return std::stol(line.substr(name.size() + 1));
    return -1;
}

} // namespace

int main()
{
    KorundRig rig("[korund]\nenabled=true\ninterface=viscaOverIP\n"
                  "serialConfiguration=pointToPoint\nbaudRate=9600\n",
                  true, true, false);
    UdpPeer peer;
    const int port = rig.viscaPort();
    // Commands a controller sends all the time: zoom, focus and pan/tilt stops.
    const std::vector<Bytes> commands = {
        {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF},
        {0x81, 0x01, 0x06, 0x01, 0x05, 0x05, 0x03, 0x03, 0xFF},
        {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF},
    };
    uint32_t seq = 1;
    for (int i = 0; i < 200; i++) // warm-up
        roundTrip(peer, port, seq++, commands[i % commands.size()]);

    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < 3000; i++) {
        double t = roundTrip(peer, port, seq++, commands[i % commands.size()]);
        if (t < 0)
            failures++;
        else
            times.push_back(t);
    }
    std::sort(times.begin(), times.end());
    auto pct = [&](double p) {
        return times.empty() ? 0.0 : times[static_cast<size_t>(p * (times.size() - 1))];
    };
    std::printf("command->completion over UDP: median %.0f us, p90 %.0f us, p99 %.0f us (%zu ok, "
                "%d failed)\n",
                pct(0.5), pct(0.9), pct(0.99), times.size(), failures);

    // Sustained: one controller, each command sent after the previous completion.
    int done = 0;
    auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(3))
        if (roundTrip(peer, port, seq++, commands[done % commands.size()]) >= 0)
            done++;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("sustained from one controller: %.0f commands/s (%d in %.1f s)\n", done / seconds,
                done, seconds);
    // Shared-library pages dominate the total; the anonymous part is what the
    // daemon itself allocates, Pss shares library pages among their users.
    std::string proc = "/proc/" + std::to_string(rig.daemon().pid());
    std::printf("korund resident memory: VmRSS %ld KiB (anonymous %ld KiB, file-backed %ld KiB), "
                "Pss %ld KiB\n",
                procKiB(proc + "/status", "VmRSS"), procKiB(proc + "/status", "RssAnon"),
                procKiB(proc + "/status", "RssFile"), procKiB(proc + "/smaps_rollup", "Pss"));
    return 0;
}
