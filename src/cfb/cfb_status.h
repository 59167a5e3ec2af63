// Result codes of the compound-file reader and writer.
#pragma once

namespace gp::cfb {

enum class Status {
  kOk = 0,
  kIoError,          // the byte source or sink failed
  kNotCompoundFile,  // no compound-file signature
  kBadHeader,        // a header field out of its allowed values
  kBadSector,        // a sector number outside the file, or a special value where data belongs
  kBadChain,         // a chain that loops, ends early or is too short for its size
  kBadDirectory,     // a directory entry or tree link that is not valid, or a tree cycle
  kNotFound,         // no child of that name
  kNotStorage,       // the entry is not a storage
  kNotStream,        // the entry is not a stream
  kBadName,          // a name that a compound file cannot hold
  kDuplicateName,    // two children of one storage compare equal
  kTooLarge,         // a size beyond what the format or the file can hold
  kBadArgument,      // a caller error (unknown node, negative position ...)
  kSourceFailed,     // a stream source of the writer did not deliver its bytes
};

const char* StatusName(Status status);

}  // namespace gp::cfb
