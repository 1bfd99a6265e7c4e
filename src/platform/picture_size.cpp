#include "platform/picture_size.h"

#include <string>

#include "platform/runtime_error.h"

namespace launcher {

void CheckPictureSize(std::int64_t width, std::int64_t height) {
  if (width <= kMaxPictureSide && height <= kMaxPictureSide && width * height <= kMaxPicturePixels)
    return;
  throw RuntimeError(kErrInvalidPicture,
                     DescribeError(kErrInvalidPicture) + " (" + std::to_string(width) + " x " +
                         std::to_string(height) + " pixels; at most " +
                         std::to_string(kMaxPicturePixels) + " pixels, and " +
                         std::to_string(kMaxPictureSide) + " on a side, are taken)",
                     kProjectSource);
}

}  // namespace launcher
