#include "image/jpeg_check.h"

#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "image/jpeg_scan.h"

namespace KX {

namespace {

// The reader's own refusals: blobs shorter than this, more scans than this, and pictures that
// claim more output bytes per blob byte than this.
constexpr size_t kMinLength = 107;
constexpr int kMaxScans = 100;
constexpr double kMaxRatio = 2500.0;

// The library's callbacks find their way out through this; everything in it is plain data, so
// that leaving the library by a long jump skips no destructor.
struct Session {
  jpeg_error_mgr error;
  jpeg_source_mgr source;
  jpeg_progress_mgr progress;
  std::jmp_buf bail;
};

[[noreturn]] void Bail(j_common_ptr cinfo) {
  std::longjmp(static_cast<Session*>(cinfo->client_data)->bail, 1);
}

[[noreturn]] void Bail(j_decompress_ptr cinfo) {
  Bail(reinterpret_cast<j_common_ptr>(cinfo));
}

// Every library error is one for the reader too.
void OnError(j_common_ptr cinfo) {
  Bail(cinfo);
}

// A warning (level -1) is recorded by the reader and may refuse the picture, alone or repeated:
// not clean. Trace messages (level 0 and up) mean nothing to either.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0) Bail(cinfo);
}

// The reader gives up on the scan after its maximum, from the same progress calls.
void OnProgress(j_common_ptr cinfo) {
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) Bail(cinfo);
}

// The whole blob is in the buffer from the start. The library asks for more only once it has
// used every byte, which is where the reader's source reports the end of the data (a warning,
// or an error before the first byte).
void InitSource(j_decompress_ptr) {}
boolean FillInput(j_decompress_ptr cinfo) {
  Bail(cinfo);
}
void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* source = cinfo->src;
  if (static_cast<unsigned long>(count) > source->bytes_in_buffer) Bail(cinfo);
  source->next_input_byte += count;
  source->bytes_in_buffer -= static_cast<size_t>(count);
}
void TermSource(j_decompress_ptr) {}

// The application segments the reader keeps (profiles, and the one that changes its colour
// handling) are left to it.
boolean OnKeptSegment(j_decompress_ptr cinfo) {
  Bail(cinfo);
}

size_t RoundUp(size_t value, size_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

// Runs the library over the blob; false as soon as anything is not clean. Holds nothing with a
// destructor: every way out of the library is a long jump to the top of this function.
bool Run(Session& session, jpeg_decompress_struct& cinfo, const uint8_t* bytes, size_t length,
         const JpegCheckLimits& limits, JpegCheckResult& result) {
  if (setjmp(session.bail) != 0) return false;
  jpeg_create_decompress(&cinfo);

  session.source.init_source = InitSource;
  session.source.fill_input_buffer = FillInput;
  session.source.skip_input_data = SkipInput;
  session.source.resync_to_restart = jpeg_resync_to_restart;
  session.source.term_source = TermSource;
  session.source.next_input_byte = bytes;
  session.source.bytes_in_buffer = length;
  cinfo.src = &session.source;
  session.progress.progress_monitor = OnProgress;
  cinfo.progress = &session.progress;
  // Comments are read and dropped by both; APP0 and APP14 are the library's own.
  for (int n = 1; n < 16; ++n)
    if (n != 14) jpeg_set_marker_processor(&cinfo, JPEG_APP0 + n, OnKeptSegment);

  jpeg_read_header(&cinfo, TRUE);
  if (cinfo.data_precision != 8 || cinfo.out_color_space == JCS_CMYK) return false;
  // With factors of 1 and 2 only, the library upsamples by whole factors at both sizes; others
  // may be refused at one size and not at the other.
  for (int c = 0; c < cinfo.num_components; ++c) {
    const jpeg_component_info& component = cinfo.comp_info[c];
    if (component.h_samp_factor < 1 || component.h_samp_factor > 2 || component.v_samp_factor < 1 ||
        component.v_samp_factor > 2)
      return false;
  }

  // The reader's checks, on the full size it decodes at.
  jpeg_calc_output_dimensions(&cinfo);
  const int64_t width = cinfo.output_width;
  const int64_t height = cinfo.output_height;
  const int components = cinfo.output_components;
  if (components != 1 && components != 3) return false;
  if (width <= 0 || height <= 0 || width > limits.maxSide || height > limits.maxSide ||
      width * height > limits.maxPixels)
    return false;
  if (static_cast<double>(width) * static_cast<double>(height) * components /
          static_cast<double>(length) >
      kMaxRatio)
    return false;

  // Several scans: the library keeps every coefficient, under the reader's memory cap. The full
  // size allocates more beside them than the small one does, so the coefficients must fit with
  // a generous allowance for the rest.
  if (jpeg_has_multiple_scans(&cinfo)) {
    const long cap = limits.memoryCap != nullptr ? limits.memoryCap() : 0;
    if (cap < 0) return false;
    if (cap > 0) {
      double need = 1048576.0 + 128.0 * static_cast<double>(RoundUp(width, 16)) * components;
      for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& component = cinfo.comp_info[c];
        need += static_cast<double>(RoundUp(component.width_in_blocks, component.h_samp_factor)) *
                static_cast<double>(RoundUp(component.height_in_blocks, component.v_samp_factor)) *
                sizeof(JBLOCK);
      }
      if (need > static_cast<double>(cap)) return false;
    }
  }

  result.width = static_cast<int32_t>(width);
  result.height = static_cast<int32_t>(height);
  // The reader takes the JFIF density unless either value is 1, and its unit only when it is one
  // it knows.
  if (cinfo.saw_JFIF_marker && cinfo.X_density != 1 && cinfo.Y_density != 1) {
    result.resolutionX = cinfo.X_density;
    result.resolutionY = cinfo.Y_density;
    result.resolutionUnit =
        cinfo.density_unit == 1 || cinfo.density_unit == 2 ? cinfo.density_unit : 0;
  }

  // Every coefficient is decoded; only the output is an eighth of the size each way.
  cinfo.scale_num = 1;
  cinfo.scale_denom = 8;
  jpeg_start_decompress(&cinfo);
  // A single Huffman-coded scan that the quick walk finds clean needs nothing more from the
  // library: it would read the same codes and reach the end of the picture without a word.
  if (!limits.libraryScan && !jpeg_has_multiple_scans(&cinfo) &&
      JpegScanIsClean(cinfo, cinfo.src->next_input_byte, cinfo.src->bytes_in_buffer,
                      cinfo.src->bytes_in_buffer >= limits.walkTablesFrom))
    return true;
  // Otherwise a single scan is decoded as it is read: every row but the last is only
  // entropy-decoded (the library parses and drops its coefficients, with the same checks and
  // messages), the last is read in full so that the scan ends as a read ends it. Arithmetic coding
  // is read throughout.
  if (!jpeg_has_multiple_scans(&cinfo) && !cinfo.arith_code && cinfo.output_height > 1)
    jpeg_skip_scanlines(&cinfo, cinfo.output_height - 1);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.output_width * cinfo.output_components, 1);
  while (cinfo.output_scanline < cinfo.output_height)
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) return false;
  jpeg_finish_decompress(&cinfo);
  return cinfo.input_scan_number <= kMaxScans;
}

}  // namespace

bool JpegCheckClean(const uint8_t* bytes, size_t length, const JpegCheckLimits& limits,
                    JpegCheckResult& result) {
  result = JpegCheckResult{};
  if (bytes == nullptr || length < kMinLength) return false;
  Session session{};
  jpeg_decompress_struct cinfo{};
  cinfo.err = jpeg_std_error(&session.error);
  session.error.error_exit = OnError;
  session.error.emit_message = OnMessage;
  cinfo.client_data = &session;
  const bool clean = Run(session, cinfo, bytes, length, limits, result);
  jpeg_destroy_decompress(&cinfo);
  if (!clean) result = JpegCheckResult{};
  return clean;
}

}  // namespace KX
