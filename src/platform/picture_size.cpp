#include "platform/picture_size.h"

#include <string>

#include "platform/runtime_error.h"

namespace launcher {

void CheckPictureSize(std::int64_t width, std::int64_t height, int density) {
  const std::int64_t most = kMaxPicturePixels * density * density;
  if (width <= kMaxPictureSide && height <= kMaxPictureSide && width * height <= most)
    return;
  throw RuntimeError(kErrInvalidPicture,
                     DescribeError(kErrInvalidPicture) + " (" + std::to_string(width) + " x " +
                         std::to_string(height) + " pixels; at most " + std::to_string(most) +
                         " pixels, and " + std::to_string(kMaxPictureSide) +
                         " on a side, are taken)",
                     kProjectSource);
}

}  // namespace launcher
