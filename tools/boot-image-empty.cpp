// No boot image: what the image builder itself and the tests link, so that
// start-up decodes nothing.
#include "runtime/services/kivbin.h"

namespace kiv::kivbin {
const std::uint8_t boot_image[1] = {0};
const std::size_t boot_image_size = 0;
}  // namespace kiv::kivbin
