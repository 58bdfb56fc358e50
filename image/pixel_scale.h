#pragma once
// Scaling a picture down, for previews that must fit a given size (file managers ask for
// thumbnails of 128, 256, 512 or 1024 pixels).
#include <cstdint>

#include "core/status.h"
#include "image/pixel_buffer.h"

namespace KX {

// Makes `target` a copy of `source` scaled down to fit `maxSide` x `maxSide`, keeping its
// proportions (no side below one pixel); a picture that fits already is copied unchanged. Each
// target pixel averages the source pixels it covers, colours weighted by their alpha so that
// transparent pixels lend no colour to their neighbours. Only BGRA and BGR pictures scale
// (others: kErrBadArgument, as is a `maxSide` below 1).
Status ScaleDownToFit(const CPixelBuffer& source, int32_t maxSide, CPixelBuffer& target);

}  // namespace KX
