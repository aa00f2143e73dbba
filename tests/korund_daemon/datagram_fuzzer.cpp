// Datagrams for the VISCA-over-IP and discovery ports and serial byte
// streams, against a fake camera.
#include <cstdint>

#include "fake_actions.h"

extern "C" {
#include "visca_assembler.h"
#include "visca_dispatch.h"
#include "visca_ip.h"
#include "visca_netsettings.h"
}

namespace
{
gboolean ipSink(const guint8*, gsize, gpointer)
{
    return TRUE;
}
gboolean netsetSink(const guint8*, gsize, gboolean, gpointer)
{
    return TRUE;
}
gboolean serialSink(ViscaSendKind, const guint8*, gsize, gpointer)
{
    return TRUE;
}
void onPacket(const guint8* p, gsize n, gpointer)
{
    visca_dispatch_serial(p, n, serialSink, nullptr);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FakeCamera::instance().install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FakeCamera::instance().calls.clear();
    if (size <= VISCA_IP_MAX_DATAGRAM) {
        visca_ip_handle_datagram(data, size, ipSink, nullptr);
        visca_netset_handle_datagram(data, size, netsetSink, nullptr);
    }
    ViscaAssembler assembler{};
    visca_assembler_feed(&assembler, data, size, onPacket, nullptr);
    return 0;
}
