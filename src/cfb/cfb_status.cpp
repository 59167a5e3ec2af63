#include "cfb/cfb_status.h"

namespace gp::cfb {

const char* StatusName(Status status) {
  switch (status) {
    case Status::kOk: return "ok";
    case Status::kIoError: return "read or write failed";
    case Status::kNotCompoundFile: return "not a compound file";
    case Status::kBadHeader: return "bad header";
    case Status::kBadSector: return "bad sector number";
    case Status::kBadChain: return "bad sector chain";
    case Status::kBadDirectory: return "bad directory";
    case Status::kNotFound: return "not found";
    case Status::kNotStorage: return "not a storage";
    case Status::kNotStream: return "not a stream";
    case Status::kBadName: return "bad name";
    case Status::kDuplicateName: return "duplicate name";
    case Status::kTooLarge: return "too large";
    case Status::kBadArgument: return "bad argument";
    case Status::kSourceFailed: return "stream source failed";
  }
  return "unknown";
}

}  // namespace gp::cfb
