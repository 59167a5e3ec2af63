// Payload extraction: the payload becomes the work docfile on disk, is opened, and its options
// texts are read into the package texts; the root folders are filled.
#pragma once

namespace gp {

// argument: the package data file named on the command line, or null/empty for the program's
// own file. True on success; otherwise the message has been shown.
bool ExtractPayload(const char* argument);

}  // namespace gp
