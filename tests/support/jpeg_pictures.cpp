#include "support/jpeg_pictures.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace KX::test {

// Encodes a smooth picture with a little noise in the given shape with the JPEG library itself,
// which can write every shape the codec's writer cannot.
std::vector<uint8_t> EncodeJpeg(const JpegShape& s) {
  jpeg_compress_struct c{};
  jpeg_error_mgr error{};
  c.err = jpeg_std_error(&error);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(s.width);
  c.image_height = static_cast<JDIMENSION>(s.height);
  c.input_components = s.components;
  c.in_color_space = s.components == 1 ? JCS_GRAYSCALE : s.components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, s.quality, TRUE);
  for (int k = 0; k < c.num_components; ++k) {
    c.comp_info[k].h_samp_factor = k == 0 ? s.lumaH : 1;
    c.comp_info[k].v_samp_factor = k == 0 ? s.lumaV : 1;
  }
  if (s.progressive) jpeg_simple_progression(&c);
  c.restart_in_rows = s.restartRows;
  c.restart_interval = static_cast<unsigned>(s.restartUnits);
  c.optimize_coding = s.optimize ? TRUE : FALSE;
  c.write_JFIF_header = s.jfif ? TRUE : FALSE;
  c.density_unit = static_cast<UINT8>(s.unit);
  c.X_density = static_cast<UINT16>(s.densityX);
  c.Y_density = static_cast<UINT16>(s.densityY);
  jpeg_start_compress(&c, TRUE);
  if (!s.comment.empty())
    jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(s.comment.data()),
                      static_cast<unsigned>(s.comment.size()));
  if (!s.app1.empty())
    jpeg_write_marker(&c, JPEG_APP0 + 1, s.app1.data(), static_cast<unsigned>(s.app1.size()));
  std::vector<JSAMPLE> row(static_cast<size_t>(s.width * s.components));
  uint32_t noise = 12345;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x)
      for (int k = 0; k < s.components; ++k) {
        noise = noise * 1103515245u + 12345u;
        row[static_cast<size_t>(x * s.components + k)] =
            static_cast<JSAMPLE>((x * 3 + y * 5 + k * 70 + static_cast<int>(noise >> 28)) & 255);
      }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> bytes(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return bytes;
}

}  // namespace KX::test
