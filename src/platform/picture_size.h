// The largest picture a backend loads. The splash shows at most 273 x 81
// pixels of its picture and cuts off the rest, so a larger picture is legal;
// but one beyond these limits is refused from its header, before it is
// decoded, so that a small file that unpacks to gigabytes cannot stall or
// exhaust the launcher.
#pragma once

#include <cstdint>

namespace launcher {

// Pixels on either side: what cairo and GDI can draw from.
inline constexpr std::int64_t kMaxPictureSide = 32767;
// Pixels in all (4096 x 4096, say): 64 MB once decoded to 32-bit pixels.
inline constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 24;

// Raises 481 (Invalid picture), with the size and the limit in its
// description, when a picture of `width` x `height` pixels is beyond them. A
// picture of density 2 may hold four times the pixels (never more on a side).
void CheckPictureSize(std::int64_t width, std::int64_t height, int density = 1);

}  // namespace launcher
