#include "quillon/config/geometry/picture_format.h"

#include <mutex>

namespace quillon
{

namespace
{

struct SharedPictureFormat {
    std::mutex mutex;
    PictureFormat format;
};

SharedPictureFormat& shared()
{
    static SharedPictureFormat instance;
    return instance;
}

} // namespace

PictureFormat pictureFormat()
{
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    return s.format;
}

void setPictureFormat(const PictureFormat& format)
{
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    s.format = format;
}

} // namespace quillon
