// libFuzzer target: one request text as it arrives on the transfer socket,
// answered from a fixed service table. Every request must get either no
// answer (wrong CGI name) or an HTTP reply with a JSON object.
#include <jansson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pavane_private.h"

namespace
{

VideoOutputServicePort ports[] = {{0, 0, const_cast<char*>("hdmi0"), 1},
                                  {1, 1, const_cast<char*>("sdi0"), 0}};
int values[] = {0, 1};

int versions(char*** list, int* count)
{
    static char* v[] = {const_cast<char*>("1.2"), const_cast<char*>("2.0")};
    *list = v;
    *count = 2;
    return 0;
}
int enumList(int port, int** list, int* count)
{
    *list = values;
    *count = port == 1 ? 2 : 1;
    return 0;
}
int getPorts(VideoOutputServicePort** list, int* count)
{
    *list = ports;
    *count = 2;
    return 0;
}
int enabledPorts(int** ids, int* count)
{
    static int enabled[] = {0};
    *ids = enabled;
    *count = 1;
    return 0;
}
int getValue(int port, int* value)
{
    if (port < -1 || port > 1)
        return 6;
    *value = port == 1 ? 1 : 0;
    return 0;
}
int setValue(int port, int value)
{
    return port < -1 || port > 1 || value > 1 ? 6 : 0;
}
int portOnly(int port)
{
    return port < -1 || port > 1 ? 6 : 0;
}
int none()
{
    return 0;
}

const VideoOutputFunctions table = {versions, enumList, enumList, getPorts, enabledPorts,
                                    getValue, getValue, portOnly, portOnly, setValue,
                                    setValue, none,     portOnly, portOnly};

const char header[] = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n\r\n";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The handler reports unparsable bodies on standard output.
    if (freopen("/dev/null", "w", stdout) == nullptr)
        abort();
    if (pavane_api_set_table(&table) != 0)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > PAVANE_REQUEST_MAX)
        return 0;
    size_t len = 0;
    char* reply = pavane_cgi_handle_request(reinterpret_cast<const char*>(data), size, &len);
    if (reply == nullptr)
        return 0;
    if (len < sizeof(header) - 1 || memcmp(reply, header, sizeof(header) - 1) != 0)
        abort();
    json_error_t error;
    json_t* parsed = json_loadb(reply + sizeof(header) - 1, len - (sizeof(header) - 1), 0, &error);
    if (!json_is_object(parsed))
        abort();
    json_decref(parsed);
    g_free(reply);
    return 0;
}
