#include "simulated_outputs.h"

#include <array>

namespace camsim::simulated_outputs
{

namespace
{

struct Output {
    int id;
    int type;
    const char* name;
    bool enabled;
    int scanMode;
    int sdiCoding; // SDI only
};

constexpr std::array<Output, 2> kStart = {{
    {0, VIDEO_OUTPUT_PORT_HDMI, "HDMI", true, VIDEO_OUTPUT_SCAN_MODE_PROGRESSIVE, -1},
    {1, VIDEO_OUTPUT_PORT_SDI, "SDI", false, VIDEO_OUTPUT_SCAN_MODE_INTERLACED,
     VIDEO_OUTPUT_SDI_CODING_LEVEL_A},
}};

std::array<Output, 2> outputs = kStart;

// Arrays handed to libpavane stay valid until the next call of the same
// callback (the library copies what it needs before returning).
VideoOutputServicePort portRecords[2];
int enabledIds[2];
int bothValues[2] = {0, 1};
char version12[] = "1.2";
char* versionList[] = {version12};

// The output a request means, or nullptr for an unknown id.
Output* find(int port)
{
    if (port == -1) {
        for (auto& o : outputs) {
            if (o.enabled)
                return &o;
        }
        return &outputs[0];
    }
    for (auto& o : outputs) {
        if (o.id == port)
            return &o;
    }
    return nullptr;
}

int getSupportedVersions(char*** versions, int* count)
{
    *versions = versionList;
    *count = 1;
    return VIDEO_OUTPUT_SUCCESS;
}

int getSupportedScanModes(int port, int** modes, int* count)
{
    if (find(port) == nullptr)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    *modes = bothValues;
    *count = 2;
    return VIDEO_OUTPUT_SUCCESS;
}

int getSupportedSdiCodings(int port, int** codings, int* count)
{
    Output* o = find(port);
    if (o == nullptr)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    if (o->type != VIDEO_OUTPUT_PORT_SDI)
        return VIDEO_OUTPUT_ERROR_FEATURE;
    *codings = bothValues;
    *count = 2;
    return VIDEO_OUTPUT_SUCCESS;
}

int getPorts(VideoOutputServicePort** ports, int* count)
{
    for (size_t i = 0; i < outputs.size(); ++i) {
        portRecords[i] = {outputs[i].id, outputs[i].type, const_cast<char*>(outputs[i].name),
                          outputs[i].enabled ? 1 : 0};
    }
    *ports = portRecords;
    *count = static_cast<int>(outputs.size());
    return VIDEO_OUTPUT_SUCCESS;
}

int getEnabledPorts(int** ids, int* count)
{
    int n = 0;
    for (auto& o : outputs) {
        if (o.enabled)
            enabledIds[n++] = o.id;
    }
    *ids = enabledIds;
    *count = n;
    return VIDEO_OUTPUT_SUCCESS;
}

int getSdiCoding(int port, int* coding)
{
    Output* o = find(port);
    if (o == nullptr)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    if (o->type != VIDEO_OUTPUT_PORT_SDI)
        return VIDEO_OUTPUT_ERROR_FEATURE;
    *coding = o->sdiCoding;
    return VIDEO_OUTPUT_SUCCESS;
}

int getScanMode(int port, int* mode)
{
    Output* o = find(port);
    if (o == nullptr)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    *mode = o->scanMode;
    return VIDEO_OUTPUT_SUCCESS;
}

int setEnabled(int port, bool enabled)
{
    // Enabling and disabling need a named output.
    Output* o = port == -1 ? nullptr : find(port);
    if (o == nullptr)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    o->enabled = enabled;
    return VIDEO_OUTPUT_SUCCESS;
}

int setPortEnabled(int port)
{
    return setEnabled(port, true);
}
int setPortDisabled(int port)
{
    return setEnabled(port, false);
}

int setSdiCoding(int port, int coding)
{
    Output* o = find(port);
    if (o == nullptr || video_output_sdi_coding_enum_to_string(coding) == nullptr)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    if (o->type != VIDEO_OUTPUT_PORT_SDI)
        return VIDEO_OUTPUT_ERROR_FEATURE;
    o->sdiCoding = coding;
    return VIDEO_OUTPUT_SUCCESS;
}

int setScanMode(int port, int mode)
{
    Output* o = find(port);
    if (o == nullptr || video_output_scan_mode_enum_to_string(mode) == nullptr)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    o->scanMode = mode;
    return VIDEO_OUTPUT_SUCCESS;
}

// One output at a time: HDMI -> SDI -> HDMI; from both or none, HDMI.
int switchEnabledPort()
{
    bool sdiNext = outputs[0].enabled && !outputs[1].enabled;
    outputs[0].enabled = !sdiNext;
    outputs[1].enabled = sdiNext;
    return VIDEO_OUTPUT_SUCCESS;
}

int switchSdiCoding(int port)
{
    int coding = 0;
    int result = getSdiCoding(port, &coding);
    if (result != VIDEO_OUTPUT_SUCCESS)
        return result;
    return setSdiCoding(port, coding == VIDEO_OUTPUT_SDI_CODING_LEVEL_A
                                  ? VIDEO_OUTPUT_SDI_CODING_LEVEL_B
                                  : VIDEO_OUTPUT_SDI_CODING_LEVEL_A);
}

int switchScanMode(int port)
{
    Output* o = find(port);
    if (o == nullptr)
        return VIDEO_OUTPUT_ERROR_PARAMETER_VALUE;
    o->scanMode = o->scanMode == VIDEO_OUTPUT_SCAN_MODE_PROGRESSIVE
                      ? VIDEO_OUTPUT_SCAN_MODE_INTERLACED
                      : VIDEO_OUTPUT_SCAN_MODE_PROGRESSIVE;
    return VIDEO_OUTPUT_SUCCESS;
}

const VideoOutputFunctions kTable = {
    getSupportedVersions,
    getSupportedScanModes,
    getSupportedSdiCodings,
    getPorts,
    getEnabledPorts,
    getSdiCoding,
    getScanMode,
    setPortEnabled,
    setPortDisabled,
    setSdiCoding,
    setScanMode,
    switchEnabledPort,
    switchSdiCoding,
    switchScanMode,
};

} // namespace

const VideoOutputFunctions* table()
{
    return &kTable;
}

void reset()
{
    outputs = kStart;
}

nlohmann::json state()
{
    nlohmann::json list = nlohmann::json::array();
    for (auto& o : outputs) {
        nlohmann::json entry = {{"id", o.id},
                                {"type", video_output_port_enum_to_string(o.type)},
                                {"name", o.name},
                                {"enabled", o.enabled},
                                {"scanMode", video_output_scan_mode_enum_to_string(o.scanMode)}};
        if (o.type == VIDEO_OUTPUT_PORT_SDI)
            entry["coding"] = video_output_sdi_coding_enum_to_string(o.sdiCoding);
        list.push_back(entry);
    }
    return list;
}

} // namespace camsim::simulated_outputs
