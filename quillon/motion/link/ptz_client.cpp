#include "quillon/motion/link/ptz_client.h"

#include <cstdlib>

#include "ptzlink.h"
#include "quillon/core/log.h"
#include "quillon/motion/link/control_socket.h"

namespace quillon
{

PtzClient::PtzClient(int channel) : channel_(channel) {}

PtzClient::~PtzClient()
{
    if (client_ > 0)
        shutDown();
}

void PtzClient::create()
{
    int client = ptzlink_client_create(channel_, 0);
    if (client <= 0) {
        quillonLog(LOG_ERR, "PTZ client for channel %d not created: %d\n", channel_, client);
        client_ = 0;
        return;
    }
    client_ = client;
    ptzlink_client_set_dbus_interface(client_, &PtzClient::onConnect, &PtzClient::onDisconnect,
                                      this);
    // A driver that is not there yet is not an error: the library asks for
    // the socket again on the next request.
    ptzlink_client_start(client_, 0);
}

void PtzClient::release()
{
    ptzlink_client_stop(client_);
    ptzlink_client_delete(client_);
}

void PtzClient::shutDown()
{
    if (client_ == 0) {
        quillonLog(LOG_INFO, "PTZ client already shut down\n");
        return;
    }
    release();
    client_ = 0;
}

void PtzClient::destroy()
{
    if (client_ == 0) {
        quillonLog(LOG_INFO, "PTZ client already shut down\n");
        return;
    }
    release();
}

int PtzClient::continuousMove(double pan, double tilt, double zoom)
{
    if (client_ == 0)
        return kNoClient;
    return ptzlink_continuous_move(client_, pan, tilt, zoom);
}

int PtzClient::setSpaces(int a, int b)
{
    if (client_ == 0)
        return kNoClient;
    return ptzlink_set_spaces(client_, a | b, b);
}

int PtzClient::readPosition(std::int64_t timeUs, PositionRecord& record)
{
    if (client_ == 0)
        return kNoClient;
    PositionRecord r;
    int result = ptzlink_get_datacache_value(client_, timeUs / 1000000, timeUs % 1000000, &r.pan,
                                             &r.tilt, &r.status, &r.panSpeed, &r.tiltSpeed,
                                             &r.horizontalFov, &r.verticalFov, &r.zoomFactor);
    if (result == 0)
        record = r;
    return result;
}

int PtzClient::hasSpace(int id)
{
    if (client_ == 0)
        return kNoClient;
    int count = 0;
    ptzlink_space* spaces = nullptr;
    char* names = nullptr;
    int result = ptzlink_get_spaces(client_, &count, &spaces, nullptr, &names);
    free(names);
    if (result != 0 || spaces == nullptr) {
        quillonLog(LOG_ERR, "Pan tilt spaces are missing: %d %p\n", result,
                   static_cast<void*>(spaces));
        free(spaces);
        return kNoSpaceList;
    }
    bool found = false;
    for (int i = 0; i < count && !found; ++i)
        found = spaces[i].kind == PTZLINK_SPACE_KIND_PANTILT_SPEED && spaces[i].id == id;
    free(spaces);
    return found ? 1 : 0;
}

int PtzClient::onConnect(int channel, int* socketFd, int* socketHandle, void* userData)
{
    int result = connectControlSocket(channel, socketFd, socketHandle);
    if (result == 0)
        static_cast<PtzClient*>(userData)->linkGeneration_.fetch_add(1);
    return result;
}

int PtzClient::onDisconnect(int channel, int socketHandle, void*)
{
    return disconnectControlSocket(channel, socketHandle);
}

} // namespace quillon
