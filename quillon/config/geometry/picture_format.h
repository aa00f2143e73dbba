#pragma once

namespace quillon
{

// Size and orientation of the video picture the API's picture coordinates
// refer to. Set through the JSON API; read by every conversion.
struct PictureFormat {
    int rotation = -1; // -1 = not set, otherwise 0 or 180
    int width = 1920;  // pixels
    int height = 1080; // pixels

    bool operator==(const PictureFormat&) const = default;
};

// Process-wide picture format. Copies in and out under a lock, so a reader
// never sees a half-written record.
PictureFormat pictureFormat();
void setPictureFormat(const PictureFormat& format);

} // namespace quillon
