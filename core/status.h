#pragma once
// Result codes of every library operation. 0 and 1 are successes (1: nothing had to be done),
// negative values are failures; callers test with Succeeded()/Failed().
#include <cstdint>

namespace KX {

// A status is a value a caller must look at: dropping the result of an operation is a compile
// error (-Werror=unused-result). It converts to and from the signed 32-bit code it carries, so
// comparisons, switches and the stored codes work as with a plain integer. Where a result is
// deliberately of no interest, say so with Ignore().
struct [[nodiscard]] Status {
  int32_t code = 0;

  constexpr Status() = default;
  constexpr Status(int32_t value) : code(value) {}  // NOLINT: a code is a status
  constexpr operator int32_t() const { return code; }  // NOLINT
  // For the rare result that does not matter; the reason goes beside the call.
  constexpr void Ignore() const {}
};

inline constexpr Status kOk{0};
inline constexpr Status kNothingDone{1};

// Stream read, write or seek failed; also any count in a file that cannot fit in what is left.
inline constexpr Status kErrStream{static_cast<int32_t>(0x80000000u)};
// An allocation failed.
inline constexpr Status kErrOutOfMemory{static_cast<int32_t>(0x80000002u)};
// Null object or name, or an operation this class does not support.
inline constexpr Status kErrBadArgument{static_cast<int32_t>(0x80000003u)};
// Object of the wrong class, or malformed data in a file.
inline constexpr Status kErrMalformed{static_cast<int32_t>(0x80000005u)};
// A file cannot be opened, or a whole-file read came up short.
inline constexpr Status kErrOpen{static_cast<int32_t>(0x80000006u)};
// File attributes (the size) are unavailable.
inline constexpr Status kErrFileSize{static_cast<int32_t>(0x80000007u)};
// A class name read from a file has no registered creator.
inline constexpr Status kErrUnknownClass{static_cast<int32_t>(0x80000008u)};
// A class block carries a version newer than this program's class.
inline constexpr Status kErrNewerVersion{static_cast<int32_t>(0x80000009u)};
// A controller waits for an object whose transform is not evaluated yet.
inline constexpr Status kErrPending{static_cast<int32_t>(0x80030000u)};
// A referenced node was not found.
inline constexpr Status kErrNodeNotFound{static_cast<int32_t>(0x80030001u)};

constexpr bool Succeeded(Status s) { return s.code >= 0; }
constexpr bool Failed(Status s) { return s.code < 0; }

// A short English description of a status, for diagnostics ("stream error", ...).
const char* StatusText(Status s);

}  // namespace KX

// Answers a failed status of `expr` from the enclosing function.
#define KX_RETURN_IF_FAILED(expr)                        \
  do {                                                   \
    const ::KX::Status kx_status_ = (expr);              \
    if (::KX::Failed(kx_status_)) return kx_status_;     \
  } while (0)
