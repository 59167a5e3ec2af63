// Expansion of the payload container into the work docfile.
//
// Folder src/codec/: LZW coding and CRC-32 over memory, and their file-level operations
// (payload expansion, file checksums) through the platform. It may include base, platform,
// format and storage (whose owned strings and file helpers the file-level operations use).
#pragma once

#include "storage/owned_string.h"

namespace gp {

// Decodes the compressed piece held in the file at path and replaces the file's contents with
// the decoded bytes. True when the decoder reached its end code.
bool ExpandPieceFile(const char* path);

// Expands the payload container at input_path (whose first 32 bytes the caller has compared
// with the magic) into a new temporary file ("dif") of the temporary folder, using a scratch
// file ("pzw") for each piece. Returns 1 on success:
//  - keep_input nonzero: the input is left alone and result_name receives the new file's path;
//  - keep_input zero: the input is deleted and the new file takes its path; result_name is not
//    touched.
// Returns 0 on any failure, with the scratch and output files deleted and the input untouched.
int ExpandPayload(const char* input_path, OwnedString* result_name, int keep_input);

}  // namespace gp
