#include "image/jpeg_check.h"

#include <csetjmp>
#include <cstdio>
#include <type_traits>

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

// Everything the check works with from its setjmp on, in one record that lives in the caller.
// A long jump out of the library skips every frame between it and the setjmp, and with them the
// destructors of what they hold: so the steps below keep what they work with here, in plain
// data, and hold nothing else but scalars. The library's callbacks find the way out through it.
struct Frame {
  jpeg_error_mgr error;
  jpeg_source_mgr source;
  jpeg_progress_mgr progress;
  std::jmp_buf bail;
  jpeg_decompress_struct cinfo;
  const uint8_t* bytes;
  size_t length;
  const JpegCheckLimits* limits;
  JpegCheckResult* result;
  // The picture at the size the reader decodes at.
  int64_t width;
  int64_t height;
  int components;
};
static_assert(std::is_trivially_destructible_v<Frame> && std::is_trivially_copyable_v<Frame>,
              "a long jump out of the library would skip a destructor");

[[noreturn]] void Bail(j_common_ptr cinfo) {
  std::longjmp(static_cast<Frame*>(cinfo->client_data)->bail, 1);
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

// Sets the library up over the blob and reads the header; false when the picture is of a kind
// whose verdict the smaller output could change.
bool ReadHeader(Frame& f) {
  jpeg_decompress_struct& cinfo = f.cinfo;
  jpeg_create_decompress(&cinfo);
  f.source.init_source = InitSource;
  f.source.fill_input_buffer = FillInput;
  f.source.skip_input_data = SkipInput;
  f.source.resync_to_restart = jpeg_resync_to_restart;
  f.source.term_source = TermSource;
  f.source.next_input_byte = f.bytes;
  f.source.bytes_in_buffer = f.length;
  cinfo.src = &f.source;
  f.progress.progress_monitor = OnProgress;
  cinfo.progress = &f.progress;
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
  return true;
}

// The reader's checks, on the full size it decodes at.
bool SizeAccepted(Frame& f) {
  jpeg_calc_output_dimensions(&f.cinfo);
  f.width = f.cinfo.output_width;
  f.height = f.cinfo.output_height;
  f.components = f.cinfo.output_components;
  if (f.components != 1 && f.components != 3) return false;
  if (f.width <= 0 || f.height <= 0 || f.width > f.limits->maxSide ||
      f.height > f.limits->maxSide || f.width * f.height > f.limits->maxPixels)
    return false;
  return static_cast<double>(f.width) * static_cast<double>(f.height) * f.components /
             static_cast<double>(f.length) <=
         kMaxRatio;
}

// Several scans: the library keeps every coefficient, under the reader's memory cap. The full
// size allocates more beside them than the small one does, so the coefficients must fit with
// a generous allowance for the rest.
bool CoefficientsFit(Frame& f) {
  if (!jpeg_has_multiple_scans(&f.cinfo)) return true;
  const long cap = f.limits->memoryCap != nullptr ? f.limits->memoryCap() : 0;
  if (cap < 0) return false;
  if (cap == 0) return true;
  double need = 1048576.0 + 128.0 * static_cast<double>(RoundUp(f.width, 16)) * f.components;
  for (int c = 0; c < f.cinfo.num_components; ++c) {
    const jpeg_component_info& component = f.cinfo.comp_info[c];
    need += static_cast<double>(RoundUp(component.width_in_blocks, component.h_samp_factor)) *
            static_cast<double>(RoundUp(component.height_in_blocks, component.v_samp_factor)) *
            sizeof(JBLOCK);
  }
  return need <= static_cast<double>(cap);
}

// What the full decode would tell about the picture.
void TakeHeaderValues(Frame& f) {
  JpegCheckResult& result = *f.result;
  result.width = static_cast<int32_t>(f.width);
  result.height = static_cast<int32_t>(f.height);
  // The reader takes the JFIF density unless either value is 1, and its unit only when it is one
  // it knows.
  const jpeg_decompress_struct& cinfo = f.cinfo;
  if (cinfo.saw_JFIF_marker && cinfo.X_density != 1 && cinfo.Y_density != 1) {
    result.resolutionX = cinfo.X_density;
    result.resolutionY = cinfo.Y_density;
    result.resolutionUnit =
        cinfo.density_unit == 1 || cinfo.density_unit == 2 ? cinfo.density_unit : 0;
  }
}

// Reads every coefficient; only the output is an eighth of the size each way.
bool DecodeSmall(Frame& f) {
  jpeg_decompress_struct& cinfo = f.cinfo;
  cinfo.scale_num = 1;
  cinfo.scale_denom = 8;
  jpeg_start_decompress(&cinfo);
  // A single Huffman-coded scan that the quick walk finds clean needs nothing more from the
  // library: it would read the same codes and reach the end of the picture without a word.
  if (!f.limits->libraryScan && !jpeg_has_multiple_scans(&cinfo) &&
      JpegScanIsClean(cinfo, cinfo.src->next_input_byte, cinfo.src->bytes_in_buffer,
                      cinfo.src->bytes_in_buffer >= f.limits->walkTablesFrom))
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

// Runs the library over the blob; false as soon as anything is not clean. Every way out of the
// library is a long jump back here, past the steps above.
bool Run(Frame& f) {
  if (setjmp(f.bail) != 0) return false;
  if (!ReadHeader(f) || !SizeAccepted(f) || !CoefficientsFit(f)) return false;
  TakeHeaderValues(f);
  return DecodeSmall(f);
}

}  // namespace

bool JpegCheckClean(const uint8_t* bytes, size_t length, const JpegCheckLimits& limits,
                    JpegCheckResult& result) {
  result = JpegCheckResult{};
  if (bytes == nullptr || length < kMinLength) return false;
  Frame frame{};
  frame.bytes = bytes;
  frame.length = length;
  frame.limits = &limits;
  frame.result = &result;
  frame.cinfo.err = jpeg_std_error(&frame.error);
  frame.error.error_exit = OnError;
  frame.error.emit_message = OnMessage;
  frame.cinfo.client_data = &frame;
  const bool clean = Run(frame);
  jpeg_destroy_decompress(&frame.cinfo);
  if (!clean) result = JpegCheckResult{};
  return clean;
}

}  // namespace KX
