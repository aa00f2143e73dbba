/*
 * A minimal service for the tests: links libpavane, supplies a callback
 * table over two simulated outputs (0 HDMI "hdmi0", 1 SDI "sdi0") and serves
 * the CGI on the default main loop until SIGTERM.
 *
 *   pavane_test_host [VARIANT]
 *     full            every callback (default)
 *     minimal         only the two mandatory callbacks
 *     no-switch-scan  everything but switch_scan_mode
 *     bad-port-type   get_ports reports a port type without a string
 *     bad-version     get_supported_versions reports "1.x"
 *
 * Prints "ready" on standard output once the transfer socket is set up.
 */
#include <glib-unix.h>
#include <stdio.h>
#include <string.h>

#include "pavane/video_output.h"

/* SIMULATED OUTPUTS */

static VideoOutputServicePort ports[] = {
    {0, VIDEO_OUTPUT_PORT_HDMI, "hdmi0", 1},
    {1, VIDEO_OUTPUT_PORT_SDI, "sdi0", 0},
};
static int scan_mode[2] = {VIDEO_OUTPUT_SCAN_MODE_PROGRESSIVE, VIDEO_OUTPUT_SCAN_MODE_PROGRESSIVE};
static int sdi_coding = VIDEO_OUTPUT_SDI_CODING_LEVEL_A;
static const char* version_text = "1.2";

/* Port -1 (none named) means the first enabled output. */
static int resolve(int port)
{
    if (port == -1) {
        for (int i = 0; i < 2; ++i) {
            if (ports[i].enabled)
                return i;
        }
        return 0;
    }
    return port == 0 || port == 1 ? port : -1;
}

static int get_supported_versions(char*** versions, int* count)
{
    static char* list[1];
    list[0] = (char*)version_text;
    *versions = list;
    *count = 1;
    return VIDEO_OUTPUT_SUCCESS;
}

static int get_supported_scan_modes(int port, int** modes, int* count)
{
    static int both[] = {VIDEO_OUTPUT_SCAN_MODE_PROGRESSIVE, VIDEO_OUTPUT_SCAN_MODE_INTERLACED};
    if (resolve(port) < 0)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    *modes = both;
    *count = 2;
    return VIDEO_OUTPUT_SUCCESS;
}

static int get_supported_sdi_codings(int port, int** codings, int* count)
{
    static int both[] = {VIDEO_OUTPUT_SDI_CODING_LEVEL_A, VIDEO_OUTPUT_SDI_CODING_LEVEL_B};
    int p = resolve(port);
    if (p < 0)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    if (ports[p].type != VIDEO_OUTPUT_PORT_SDI)
        return VIDEO_OUTPUT_ERROR_FEATURE;
    *codings = both;
    *count = 2;
    return VIDEO_OUTPUT_SUCCESS;
}

static int get_ports(VideoOutputServicePort** list, int* count)
{
    *list = ports;
    *count = 2;
    return VIDEO_OUTPUT_SUCCESS;
}

static int get_ports_bad(VideoOutputServicePort** list, int* count)
{
    static VideoOutputServicePort bad[] = {{0, VIDEO_OUTPUT_PORT_HDMI, "hdmi0", 1},
                                           {7, 5, "mystery", 0}};
    *list = bad;
    *count = 2;
    return VIDEO_OUTPUT_SUCCESS;
}

static int get_enabled_ports(int** ids, int* count)
{
    static int enabled[2];
    int n = 0;
    for (int i = 0; i < 2; ++i) {
        if (ports[i].enabled)
            enabled[n++] = ports[i].id;
    }
    *ids = enabled;
    *count = n;
    return VIDEO_OUTPUT_SUCCESS;
}

static int get_sdi_coding(int port, int* coding)
{
    int p = resolve(port);
    if (p < 0)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    if (ports[p].type != VIDEO_OUTPUT_PORT_SDI)
        return VIDEO_OUTPUT_ERROR_FEATURE;
    *coding = sdi_coding;
    return VIDEO_OUTPUT_SUCCESS;
}

static int get_scan_mode(int port, int* mode)
{
    int p = resolve(port);
    if (p < 0)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    *mode = scan_mode[p];
    return VIDEO_OUTPUT_SUCCESS;
}

static int set_enabled(int port, int enabled)
{
    if (port != 0 && port != 1)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    ports[port].enabled = enabled;
    return VIDEO_OUTPUT_SUCCESS;
}

static int set_port_enabled(int port)
{
    return set_enabled(port, 1);
}
static int set_port_disabled(int port)
{
    return set_enabled(port, 0);
}

static int set_sdi_coding(int port, int coding)
{
    int p = resolve(port);
    if (p < 0 || coding < 0 || coding > 1)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    if (ports[p].type != VIDEO_OUTPUT_PORT_SDI)
        return VIDEO_OUTPUT_ERROR_FEATURE;
    sdi_coding = coding;
    return VIDEO_OUTPUT_SUCCESS;
}

static int set_scan_mode(int port, int mode)
{
    int p = resolve(port);
    if (p < 0 || mode < 0 || mode > 1)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    scan_mode[p] = mode;
    return VIDEO_OUTPUT_SUCCESS;
}

static int switch_enabled_port(void)
{
    ports[0].enabled = !ports[0].enabled;
    ports[1].enabled = !ports[0].enabled;
    return VIDEO_OUTPUT_SUCCESS;
}

static int switch_sdi_coding(int port)
{
    int coding = 0;
    int result = get_sdi_coding(port, &coding);
    return result != VIDEO_OUTPUT_SUCCESS ? result : set_sdi_coding(port, !coding);
}

static int switch_scan_mode(int port)
{
    int p = resolve(port);
    if (p < 0)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    scan_mode[p] = !scan_mode[p];
    return VIDEO_OUTPUT_SUCCESS;
}

static VideoOutputFunctions table = {
    get_supported_versions,
    get_supported_scan_modes,
    get_supported_sdi_codings,
    get_ports,
    get_enabled_ports,
    get_sdi_coding,
    get_scan_mode,
    set_port_enabled,
    set_port_disabled,
    set_sdi_coding,
    set_scan_mode,
    switch_enabled_port,
    switch_sdi_coding,
    switch_scan_mode,
};

/* MAIN */

static gboolean quit(gpointer loop)
{
    g_main_loop_quit(loop);
    return G_SOURCE_REMOVE;
}

int main(int argc, char** argv)
{
    const char* variant = argc > 1 ? argv[1] : "full";
    if (strcmp(variant, "minimal") == 0) {
        VideoOutputFunctions minimal = {0};
        minimal.get_supported_versions = get_supported_versions;
        minimal.get_ports = get_ports;
        table = minimal;
    } else if (strcmp(variant, "no-switch-scan") == 0) {
        table.switch_scan_mode = NULL;
    } else if (strcmp(variant, "bad-port-type") == 0) {
        table.get_ports = get_ports_bad;
    } else if (strcmp(variant, "bad-version") == 0) {
        version_text = "1.x";
    } else if (strcmp(variant, "full") != 0) {
        fprintf(stderr, "unknown variant %s\n", variant);
        return 2;
    }

    GMainLoop* loop = g_main_loop_new(NULL, FALSE);
    g_unix_signal_add(SIGTERM, quit, loop);
    g_unix_signal_add(SIGINT, quit, loop);
    if (video_output_api_init(&table) != 0) {
        fprintf(stderr, "video_output_api_init failed\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    g_main_loop_run(loop);
    video_output_api_free();
    g_main_loop_unref(loop);
    return 0;
}
