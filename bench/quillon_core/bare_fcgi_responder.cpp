// The yardstick for the API benchmark: a bare libfcgi responder on a Unix
// socket that reads the body and answers the same reply quillon gives to
// getSupportedVersions, with no parsing and no logging.
//
//   bare_fcgi_responder SOCKET
#include <fcgiapp.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOCKET\n", argv[0]);
        return 2;
    }
    if (FCGX_Init() != 0)
        return 1;
    int fd = FCGX_OpenSocket(argv[1], 10);
    if (fd < 0)
        return 1;
    FCGX_Request request;
    FCGX_InitRequest(&request, fd, 0);
    char body[4096];
    while (FCGX_Accept_r(&request) == 0) {
        FCGX_GetStr(body, sizeof body, request.in);
        FCGX_PutS("Status: 200 OK\r\nContent-type: 'application/json; charset=utf-8'\r\n\r\n",
                  request.out);
        FCGX_PutS(
            "{ \"method\": \"getSupportedVersions\", \"data\": { \"apiVersions\": [ \"1.0\" ] } }",
            request.out);
        FCGX_Finish_r(&request);
    }
    return 0;
}
