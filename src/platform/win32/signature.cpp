// The system's verdict on a signed program file: WinVerifyTrust with the generic Authenticode
// action, no UI, no revocation check (no network use during an update run).
#include "platform/platform.h"
#include "platform/win32/windows_support.h"

#include <softpub.h>
#include <wintrust.h>

namespace gp::platform {

namespace {

// Answers that say the signature does not belong to these bytes, or is no signature: the
// digest differs, a signature does not verify, the signed data cannot be decoded (every
// cryptographic error, facility 9), or there is no signature where the file has a table. A
// certificate someone revoked or distrusted explicitly is refused as well. Every other answer
// (an untrusted or unknown root, an expired certificate, a subject the user has not trusted
// yet) is about the publisher, which the system's own prompts deal with when the file is
// started: those are accepted.
bool SaysMismatch(LONG result) {
  const auto hr = static_cast<uint32_t>(result);
  if ((hr & 0xFFFF0000u) == 0x80090000u) return true;  // TRUST_E_BAD_DIGEST, NTE_*, CRYPT_E_*
  switch (hr) {
    case static_cast<uint32_t>(TRUST_E_NOSIGNATURE):
    case static_cast<uint32_t>(TRUST_E_SUBJECT_FORM_UNKNOWN):
    case static_cast<uint32_t>(TRUST_E_EXPLICIT_DISTRUST):
    case static_cast<uint32_t>(CERT_E_REVOKED):
      return true;
    default:
      return false;
  }
}

}  // namespace

SignatureVerdict VerifyFileSignature(const char* path) {
  const std::wstring wide = win32::WidePath(path);
  if (wide.empty()) return SignatureVerdict::kMismatch;
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = wide.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result =
      WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return SaysMismatch(result) ? SignatureVerdict::kMismatch : SignatureVerdict::kAccepted;
}

}  // namespace gp::platform
