// Payload extraction: the payload becomes the work docfile on disk, is opened, and its options
// texts are read into the package texts; the root folders are filled.
#pragma once

namespace gp {

struct RunContext;

// argument: the package data file named on the command line, or null/empty for the program's
// own file. The work docfile and the texts and root folders are the context's. True on success;
// otherwise the message has been shown through the context's host.
bool ExtractPayload(RunContext& context, const char* argument);

// The same, with the package executable named by program_path instead of the running
// program's own file (null: the program's own file).
bool ExtractPayloadFrom(RunContext& context, const char* argument, const char* program_path);

}  // namespace gp
