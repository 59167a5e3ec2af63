#include "app/extraction.h"

#include <cstring>
#include <memory>
#include <new>

#include "app/package_loader.h"
#include "base/texts.h"
#include "format/header_layout.h"
#include "format/options_stream.h"
#include "format/trailer.h"
#include "codec/compact_payload.h"
#include "codec/payload_expander.h"
#include "format/compact.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "storage/work_docfile.h"
#include "ui/host.h"
#include "update/package_tables.h"
#include "update/run_context.h"

namespace gp {

namespace {

constexpr uint32_t kCopyBlock = 1u << 20;  // payload copy block: 1 MiB
constexpr uint32_t kRootLimit = 256;      // limit given to the folder queries

// The options stream's texts, in order, and the slots they replace.
constexpr TextSlot kOptionSlots[format::kOptionsTextCount] = {kSlotProjectComment, kSlotFailureText,
                                      kSlotCompletionText, kSlotMissingFileText,
                                      kSlotUpToDateText,   kSlotMessageCaption};

void ShowExtractionMessage(ui::Host& host, const char* text) {
  host.MessageBox(nullptr, text, texts::kCaptionExtractionError, ui::kMbOk);
}

// Fills a 260-byte root folder from a query given a 256-byte limit; a folder that does not fit
// leaves it empty.
template <typename Query>
void FillRoot(char* root, Query query) {
  std::memset(root, 0, layout::kPathBufferSize);
  const uint32_t n = query(root, kRootLimit);
  if (n == 0 || n >= kRootLimit) std::memset(root, 0, layout::kPathBufferSize);
}

// Copies the payload out of the program's own file into a new "DIF" temporary file, which
// becomes the work docfile's path. Returns false after a failure; *message is the text to show,
// or null for none.
// The package executable: program_path, or the running program's own file when null (its path
// goes to own). Null when the own path cannot be had.
const char* PackagePath(const char* program_path, char (&own)[layout::kPathBufferSize]) {
  if (program_path != nullptr) return program_path;
  const uint32_t own_length = platform::ModuleFilePath(own, sizeof(own));
  if (own_length == 0 || own_length >= sizeof(own)) return nullptr;
  return own;
}

// The payload of a compact package, checked and expanded straight from the package file into
// a new temporary file, which becomes the work docfile's path. The program's own file ends
// before its certificate table when it is signed.
bool ExpandCompactPackage(WorkDocfileState& work, const char* package_path, bool own_file) {
  platform::File package;
  uint64_t file_size = 0;
  uint8_t tail[format::kCompactTrailerSize];
  uint32_t done = 0;
  format::CompactLayout where;
  format::PackageEnd package_end;
  if (package_path == nullptr ||
      !package.Open(package_path, platform::kAccessRead, platform::kShareRead,
                    platform::Disposition::kOpenExisting) ||
      !package.Size(&file_size)) {
    return false;
  }
  package_end.end = file_size;
  if (own_file && LocateExecutablePackageEnd(package, file_size, &package_end) ==
                      format::PackageEndStatus::kDamaged) {
    return false;
  }
  const uint64_t end = package_end.end;
  if (end < sizeof tail ||
      !package.Seek(static_cast<int64_t>(end - sizeof tail), platform::Origin::kBegin) ||
      !package.Read(tail, sizeof tail, &done) || done != sizeof tail ||
      format::ReadCompactTrailer(tail, end, &where) != format::CompactTrailerStatus::kOk) {
    return false;
  }
  package.Close();
  OwnedString result;
  if (!ExpandCompactPayload(package_path, where.payload_offset, where.payload_length,
                            where.payload_crc, &result)) {
    return false;
  }
  work.path.Assign(result);
  return true;
}

bool CopyOwnPayload(WorkDocfileState& work, const char* program_path, const char** message) {
  *message = texts::kTextCannotExtract;
  char own[layout::kPathBufferSize] = {};
  program_path = PackagePath(program_path, own);
  if (program_path == nullptr) return false;
  platform::File package;
  if (!package.Open(program_path, platform::kAccessRead, platform::kShareRead,
                    platform::Disposition::kOpenExisting, platform::Hint::kRandomAccess)) {
    return false;
  }
  uint8_t trailer[format::kExecutableTrailerSize];
  uint32_t done = 0;
  uint64_t file_size = 0;
  format::PackageEnd package_end;
  if (!package.Size(&file_size)) {
    *message = nullptr;
    return false;
  }
  // Before the certificate table of a signed executable (the loader has refused a damaged one).
  const bool table_fits = LocateExecutablePackageEnd(package, file_size, &package_end) !=
                          format::PackageEndStatus::kDamaged;
  const uint64_t end = package_end.end;
  if (end < format::kExecutableTrailerSize ||
      !package.Seek(static_cast<int64_t>(end - format::kExecutableTrailerSize),
                    platform::Origin::kBegin) ||
      !package.Read(trailer, sizeof trailer, &done) || done != sizeof trailer) {
    *message = nullptr;
    return false;
  }
  format::PackageLayout where;
  const bool fits = table_fits && format::ReadTrailer(format::PackageForm::kExecutable, trailer,
                                                      end, &where) == format::TrailerStatus::kOk;

  char folder[layout::kPathBufferSize] = {};
  char name[layout::kPathBufferSize] = {};
  const uint32_t folder_length = platform::TempFolder(folder, sizeof(folder));
  if (folder_length == 0 || folder_length >= sizeof(folder) ||
      platform::MakeTempFileName(folder, "DIF", 0, name) == 0) {
    return false;
  }
  work.path.Assign(name);  // from now on deleted at exit, whatever happens

  // A trailer without the magic, or a payload that does not fit before the header, is not a
  // payload of this file (the loader has refused a missing magic before).
  if (!fits) {
    *message = texts::kTextNotProductFile;
    return false;
  }
  const int64_t start = static_cast<int64_t>(where.payload_offset);
  platform::File out;
  if (!package.Seek(start, platform::Origin::kBegin) ||
      !out.Open(name, platform::kAccessWrite, platform::kShareRead,
                platform::Disposition::kOpenAlways, platform::Hint::kSequentialScan)) {
    return false;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBlock]);
  *message = nullptr;  // short reads and writes fail without a message
  if (!buffer) return false;
  uint64_t remaining = where.payload_length;
  while (remaining > 0) {
    platform::DispatchPendingMessages();
    const uint32_t n = remaining < kCopyBlock ? static_cast<uint32_t>(remaining) : kCopyBlock;
    uint32_t got = 0;
    uint32_t put = 0;
    if (!package.Read(buffer.get(), n, &got) || got < n) return false;
    if (!out.Write(buffer.get(), n, &put) || put < n) return false;
    remaining -= n;
  }
  return true;
}

}  // namespace

bool ExtractPayload(RunContext& context, const char* argument) {
  return ExtractPayloadFrom(context, argument, nullptr);
}

bool ExtractPayloadFrom(RunContext& context, const char* argument, const char* program_path) {
  ui::Host& host = context.host;
  ui::Window status = host.CreateModeless(ui::kDialogStatus, nullptr);
  host.CenterOnScreen(status);
  host.Show(status);
  host.SetItemText(status, ui::kStatusText, texts::kTextPleaseWait);
  host.Paint(status);
  auto fail = [&](const char* message) {
    host.Destroy(status);
    if (message != nullptr) ShowExtractionMessage(host, message);
    return false;
  };

  WorkDocfileState& work = context.work_docfile;
  const bool own_file = argument == nullptr || argument[0] == '\0';
  if (context.package.compact) {
    // Damage anywhere in a compact payload is found here, before anything else happens.
    char own[layout::kPathBufferSize] = {};
    if (!ExpandCompactPackage(work, own_file ? PackagePath(program_path, own) : argument, own_file)) {
      return fail(texts::kTextNotProductFile);
    }
  } else if (own_file) {
    const char* message = nullptr;
    if (!CopyOwnPayload(work, program_path, &message)) return fail(message);
  }

  work.DestroyAccess();
  work.access = new (std::nothrow) DocfileAccess();
  if (work.access == nullptr) return fail(texts::kTextNotProductFile);

  PackageTables& package = context.package;
  FillRoot(package.destination_folder.get(), platform::CurrentFolder);
  FillRoot(package.windows_folder.get(), platform::WindowsFolder);
  FillRoot(package.system_folder.get(), platform::SystemFolder);

  // Expand the payload when it carries the payload magic; otherwise it is the docfile itself.
  const char* source = work.path.empty() ? argument : work.path.c_str();
  {
    platform::File file;
    if (!file.Open(source, platform::kAccessRead, platform::kShareRead,
                   platform::Disposition::kOpenExisting)) {
      return fail(texts::kTextNotProductFile);
    }
    uint8_t head[texts::kPayloadMagicSize] = {};
    uint32_t got = 0;
    const bool read = file.Read(head, sizeof(head), &got) && got == sizeof(head);
    file.Close();
    if (read && std::memcmp(head, texts::kPayloadMagic, sizeof(head)) == 0) {
      const int keep_input = work.path.empty() ? 1 : 0;
      OwnedString result;
      if (ExpandPayload(source, &result, keep_input) == 0) {
        return fail(texts::kTextNotProductFile);
      }
      if (keep_input) work.path.Assign(result);
    }
  }

  const char* docfile = work.path.empty() ? argument : work.path.c_str();
  if (!work.access->OpenDocfile(docfile)) {
    host.Destroy(status);
    ShowExtractionMessage(host, texts::kTextNotProductFile);
    work.DestroyAccess();
    return false;
  }

  // The options texts. A docfile without them is not a package.
  DocfileAccess& access = *work.access;
  if (!access.OpenStreamByPath(format::kOptionsStreamPath)) {
    host.Destroy(status);
    ShowExtractionMessage(host, texts::kTextNotProductFile);
    work.DestroyAccess();
    return false;
  }
  for (TextSlot slot : kOptionSlots) {
    char* text = package.Text(slot);
    std::memset(text, 0, layout::kTextSlotSize);
    uint8_t length = 0;
    if (access.Read(&length, 1) != 1) length = 0;
    if (length != 0) {
      const uint32_t got = access.Read(text, length);
      if (got == length && text[length - 1] != '\0') text[length] = '\0';
    }
  }
  access.CloseStream();
  host.Destroy(status);
  return true;
}

}  // namespace gp
