#include "core/status.h"

namespace KX {

const char* StatusText(Status s) {
  switch (s) {
    case kOk: return "success";
    case kNothingDone: return "nothing to do";
    case kErrStream: return "read past the end of the data, or a stream error";
    case kErrOutOfMemory: return "out of memory";
    case kErrBadArgument: return "bad argument or operation not supported";
    case kErrMalformed: return "malformed data or object of the wrong class";
    case kErrOpen: return "file cannot be opened";
    case kErrFileSize: return "file size unavailable";
    case kErrUnknownClass: return "unknown class";
    case kErrNewerVersion: return "class version newer than this program's";
    case kErrPending: return "waiting for an object not yet evaluated";
    case kErrNodeNotFound: return "referenced node not found";
    default: return Succeeded(s) ? "success" : "failure";
  }
}

}  // namespace KX
