#pragma once
// The raw-pixel block that embedded images and the scene thumbnail store alike: width, height,
// format, row alignment, resolution, a pixels-present word and then the rows as held in memory.
#include <cstdint>

#include "object/persist.h"
#include "image/pixel_buffer.h"

namespace KX {

// Reads the block into `picture`, whose previous pixels are released. A pixel count that cannot
// come from what is left of the stream is refused before anything is allocated for it.
Status ReadPictureBlock(CReader& in, CPixelBuffer& picture);
// Writes the block as the record `name`; the presence word is 1 when the picture has pixels,
// else 0 and the pixels are listed as absent.
Status WritePictureBlock(CWriter& out, const char* name, const CPixelBuffer& picture);
// The block on every pass: read into `picture` or written from it as above; nothing to link.
Status PersistPictureBlock(CArchive& ar, const char* name, CPixelBuffer& picture);
// Bytes of the picture's rows (stride times height), 0 without pixels.
int64_t PictureBytes(const CPixelBuffer& picture);

}  // namespace KX
