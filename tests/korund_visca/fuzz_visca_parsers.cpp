// Feeds arbitrary packets to the command, inquiry and broadcast parsers over
// a fake camera whose values and failures also come from the input.
#include <cstddef>
#include <cstdint>

#include "fake_actions.h"
#include "visca_device.h"
#include "visca_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    static kortest::FakeActions fake;
    fake.install();
    fake.calls.clear();

    // Byte 0: parser and device address; byte 1: camera state; byte 2: a value.
    std::uint8_t select = data[0], state = data[1], value = data[2];
    visca_set_device_id(static_cast<guint8>((select >> 2) % 7 + 1));
    visca_set_over_ip((select & 0x20) != 0);
    fake.rotated = (state & 0x01) != 0;
    fake.failPtz((state & 0x02) ? -12 : 0);
    fake.setBytes(2, "CaptureFrequency", (state & 0x04) ? "60Hz" : (state & 0x08) ? "50Hz" : "x");
    int v = static_cast<std::int8_t>(value) * ((state & 0x10) ? 100000 : 1);
    for (const char* p : {"ManualShutter", "IrisPosition", "ManualGain", "RedBalance",
                          "BlueBalance", "SensorMaxFramerate"})
        fake.setInt(2, p, v);
    fake.setBool(3, "VariousAutoFocus", state & 0x20);
    fake.setBool(3, "VariousBackLight", state & 0x40);
    const char* texts[] = {"auto", "onepush", "yes", "no", ""};
    for (const char* p :
         {"WhiteBalance", "ManualShutterControl", "ManualGainControl", "IrisEnabled"})
        fake.setBytes(2, p, texts[(value + p[1]) % 5]);
    fake.position.pan = v / 3.0;
    fake.position.tilt = -v / 7.0;
    fake.position.zoom = v;
    if (state & 0x80)
        fake.failProperty(2, "ManualShutter", -13);

    const std::uint8_t* packet = data + 3;
    std::size_t length = size - 3;
    if (length > VISCA_MAX_PACKET)
        length = VISCA_MAX_PACKET;
    switch (select & 0x03) {
    case 0:
        visca_cmd_parser(packet, length);
        break;
    case 1: {
        guint8* reply = nullptr;
        gsize replyLength = 0;
        if (visca_inq_parser(packet, length, &reply, &replyLength) == 0) {
            if (replyLength < 3 || reply[replyLength - 1] != 0xFF)
                __builtin_trap();
        }
        g_free(reply);
        break;
    }
    case 2: {
        guint8 out[VISCA_MAX_PACKET];
        gsize outLength = 0;
        visca_broadcast_handler(packet, length, out, &outLength);
        if (outLength > length)
            __builtin_trap();
        break;
    }
    default:
        visca_packet_kind(packet, length);
        break;
    }
    return 0;
}
