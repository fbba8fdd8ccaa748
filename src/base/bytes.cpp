#include "base/bytes.h"

#include <bit>

static_assert(std::endian::native == std::endian::little, "the byte codecs assume a little-endian host");
