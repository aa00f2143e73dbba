/*
 * cgirelay: a CGI program for the web server that hands the request, with
 * the connection's descriptor, to the service that answers it.
 *
 * The web server runs it as the interpreter of a small relay file (for
 * example www/local/pavane/videooutput2.cgi) and passes that file's path as
 * the first argument. The file names the service's transfer socket:
 *
 *     # comment lines and a "#!" line are ignored
 *     socket /run/pavane/transfer
 *
 * or, for measuring the web-server path alone, "fixed-reply" (answer every
 * request with a fixed JSON reply, no service involved).
 *
 * The message sent on the socket is SCRIPT_NAME, one separator byte (NUL),
 * then the request body; it carries the CGI's standard output as the passed
 * descriptor. The service writes the complete response (status line,
 * headers, body) to that descriptor and closes it; the relay exits at once
 * and the web server reads the response until end of file.
 */
#include <errno.h>
#include <fdrelay.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* The receiving services read at most this many bytes per request. */
#define RELAY_MESSAGE_MAX 4095
/* A service that does not take the request within this time is busy. */
#define RELAY_SEND_TIMEOUT_MS 5000

#define FIXED_REPLY                                                                                \
    "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n\r\n"                                \
    "{\n  \"apiVersion\": \"1.0\",\n  \"method\": \"fixed\",\n  \"data\": {}\n}"

typedef struct {
    char socket_path[256];
    int fixed_reply;
} RelayConfig;

/* Writes a response produced by the relay itself (failures). */
static void relay_fail(const char* status, const char* text)
{
    printf("Status: %s\r\nContent-Type: text/plain\r\n\r\n%s\n", status, text);
    fflush(stdout);
}

static int read_config(const char* file, RelayConfig* config)
{
    FILE* f = fopen(file, "r");
    if (f == NULL)
        return -1;
    char line[512];
    int found = -1;
    memset(config, 0, sizeof(*config));
    while (found != 0 && fgets(line, sizeof(line), f) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        const char* p = line + strspn(line, " \t");
        if (*p == '#' || *p == '\0')
            continue;
        if (strcmp(p, "fixed-reply") == 0) {
            config->fixed_reply = 1;
            found = 0;
        } else if (strncmp(p, "socket", 6) == 0 && (p[6] == ' ' || p[6] == '\t')) {
            p += 6 + strspn(p + 6, " \t");
            if (strlen(p) >= sizeof(config->socket_path))
                break;
            strcpy(config->socket_path, p);
            found = config->socket_path[0] != '\0' ? 0 : -1;
        }
    }
    fclose(f);
    return found;
}

/* Reads the body announced by CONTENT_LENGTH into buf (at most cap bytes).
 * Returns its length, -1 when it does not fit, -2 on a read failure. */
static long read_body(char* buf, size_t cap)
{
    const char* announced = getenv("CONTENT_LENGTH");
    if (announced == NULL || announced[0] == '\0')
        return 0;
    char* end = NULL;
    errno = 0;
    unsigned long long want = strtoull(announced, &end, 10);
    if (errno != 0 || *end != '\0' || announced[0] == '-')
        return -2;
    if (want > cap)
        return -1;
    size_t got = 0;
    while (got < want) {
        ssize_t n = read(STDIN_FILENO, buf + got, (size_t)want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -2;
        got += (size_t)n;
    }
    return (long)got;
}

int main(int argc, char** argv)
{
    const char* file = argc > 1 ? argv[1] : getenv("SCRIPT_FILENAME");
    const char* script = getenv("SCRIPT_NAME");
    RelayConfig config;
    if (file == NULL || read_config(file, &config) != 0) {
        relay_fail("500 Internal Server Error", "relay file unreadable or without a socket");
        return 1;
    }
    if (script == NULL)
        script = "";

    static char message[RELAY_MESSAGE_MAX];
    size_t head = strlen(script) + 1; /* name and separator */
    if (head >= sizeof(message)) {
        relay_fail("414 URI Too Long", "script name too long");
        return 1;
    }
    memcpy(message, script, head); /* copies the NUL separator too */
    long body = read_body(message + head, sizeof(message) - head);
    if (body == -1) {
        relay_fail("413 Payload Too Large", "request body too large");
        return 1;
    }
    if (body < 0) {
        relay_fail("400 Bad Request", "request body incomplete");
        return 1;
    }

    if (config.fixed_reply) {
        fputs(FIXED_REPLY, stdout);
        fflush(stdout);
        return 0;
    }

    int sock = fdrelay_client_socket(RELAY_SEND_TIMEOUT_MS);
    if (sock < 0 ||
        fdrelay_send(sock, config.socket_path, message, head + (size_t)body, STDOUT_FILENO) != 0) {
        int err = errno;
        fprintf(stderr, "cgirelay: cannot reach %s: %s\n", config.socket_path, strerror(err));
        relay_fail("503 Service Unavailable", "service not available");
        return 1;
    }
    close(sock);
    /* The service owns the response from here on. */
    close(STDOUT_FILENO);
    return 0;
}
