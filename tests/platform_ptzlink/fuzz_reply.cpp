// Fuzzes libptzlink's reply parsing: the input is what the driver sends back
// (one or more packets, split at 0xff 0xfe) before a request is made.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ptzlink.h"

namespace
{

int driverFd = -1;

int onConnect(int, int* fd, int* handle, void*)
{
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return -1;
    driverFd = sv[0];
    *fd = sv[1];
    *handle = 1;
    return 0;
}

int onDisconnect(int, int, void*)
{
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("PTZLINK_TIMEOUT_MS", "1", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    int op = data[0] % 4;
    data++;
    size--;
    int client = ptzlink_client_create(1, 0);
    ptzlink_client_set_dbus_interface(client, onConnect, onDisconnect, nullptr);
    if (ptzlink_client_start(client, 0) == PTZLINK_OK) {
        // Packets separated by the two bytes 0xff 0xfe.
        size_t start = 0;
        for (size_t i = 0; i + 1 <= size; ++i) {
            bool split = i + 1 < size && data[i] == 0xff && data[i + 1] == 0xfe;
            if (split || i + 1 == size) {
                size_t end = split ? i : size;
                if (end > start)
                    send(driverFd, data + start, end - start, MSG_NOSIGNAL | MSG_DONTWAIT);
                start = end + 2;
                if (split)
                    ++i;
            }
        }
        float f[7];
        uint32_t status;
        int count = 0, selected = 0;
        ptzlink_space* spaces = nullptr;
        char* names = nullptr;
        switch (op) {
        case 0:
            ptzlink_get_datacache_value(client, 1, 2, &f[0], &f[1], &status, &f[2], &f[3], &f[4],
                                        &f[5], &f[6]);
            break;
        case 1:
            if (ptzlink_get_spaces(client, &count, &spaces, &selected, &names) == PTZLINK_OK) {
                for (int i = 0; i < count; ++i)
                    selected ^= spaces[i].kind; // reads every entry; xor cannot overflow
                free(spaces);
                free(names);
            }
            break;
        case 2:
            ptzlink_continuous_move(client, 1, 2, 3);
            break;
        default:
            ptzlink_set_spaces(client, 258, 2);
            break;
        }
        close(driverFd);
    }
    ptzlink_client_delete(client);
    return 0;
}
