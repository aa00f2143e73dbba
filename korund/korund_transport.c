#include "korund_transport.h"

#include "korund_config.h"
#include "visca_device.h"
#include "visca_ip.h"
#include "visca_log.h"
#include "visca_netsettings.h"
#include "visca_serial.h"

static char* serial_in_path;
static char* serial_out_path;

void korund_transport_set_serial_paths(const char* in_path, const char* out_path)
{
    g_free(serial_in_path);
    g_free(serial_out_path);
    serial_in_path = g_strdup(in_path);
    serial_out_path = g_strdup(out_path);
}

static void close_udp(void)
{
    if (visca_ip_socket.open)
        closeVisca();
    if (visca_netset_socket.open)
        closeNetworkSettings();
}

static int open_udp(void)
{
    if (openVisca(VISCA_IP_PORT) != 0) {
        visca_log_warning("%sFailed to setup UDP socket %d", VISCA_IP_PORT);
        return -1;
    }
    if (openNetworkSettings(VISCA_NETSET_PORT) != 0) {
        visca_log_warning("%sFailed to setup UDP socket %d", VISCA_NETSET_PORT);
        closeVisca();
        return -1;
    }
    return 0;
}

void korund_transport_close_all(void)
{
    if (visca_serial.open)
        closeSerial();
    close_udp();
}

int reconfigure(gboolean restart_serial)
{
    if (!korund_config.enabled)
        return 0;
    switch (korund_config.interface) {
    case KORUND_INTERFACE_IP:
        if (visca_serial.open)
            closeSerial();
        visca_set_over_ip(TRUE);
        if (!visca_ip_socket.open || !visca_netset_socket.open) {
            close_udp();
            return open_udp();
        }
        return 0;
    case KORUND_INTERFACE_SERIAL:
        close_udp();
        visca_set_over_ip(FALSE);
        if (restart_serial && visca_serial.open)
            closeSerial();
        if (!visca_serial.open) {
            int result = openSerial(serial_in_path, serial_out_path, korund_config.baud_rate);
            if (result != 0)
                visca_log_warning("%sFailed to setup serial devises");
            return result;
        }
        return 0;
    case KORUND_INTERFACE_NONE:
    default:
        korund_transport_close_all();
        return 0;
    }
}
