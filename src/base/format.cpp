// Names of statuses for messages.
#include "base/format.h"

namespace orsk {

const char* StatusText(Status s) {
    switch (s) {
        case Status::Ok: return "ok";
        case Status::Truncated: return "truncated";
        case Status::Corrupt: return "corrupt";
        case Status::NoRoom: return "no room";
        case Status::ReadFailed: return "read failed";
        case Status::WriteFailed: return "write failed";
        case Status::OutOfMemory: return "out of memory";
        case Status::ChecksumMismatch: return "checksum mismatch";
        case Status::WrongLevel: return "written at another level";
        case Status::UnknownLevel: return "level unknown";
        case Status::OutOfRange: return "out of range";
    }
    return "unknown";
}

}  // namespace orsk
