// Reader discovery: works out the command that opens a PDF document in the
// user's own PDF reader from the system's ".pdf" association, as the platform's
// document opener reports it (platform/platform.h). The last command found is
// cached in the configuration key, so that when the association points back at
// Quillane itself the reader found before is used instead of starting
// ourselves.
#ifndef QUILLANE_READER_DISCOVERY_H_
#define QUILLANE_READER_DISCOVERY_H_

#include "base/text.h"

namespace quillane {

// The registry key that holds Quillane's settings, under HKEY_CURRENT_USER.
inline constexpr char kConfigurationKey[] = "Software\\Bramblecote Software\\quillane";

// The ProgID (or application name) the current user has associated with ".pdf":
// platform::DocumentOpenerProgId(), that is the "Progid" of the FileExts
// ".pdf\UserChoice" key when it is non-empty (on POSIX, when the registry file
// holds none, the desktop's default application for PDF documents), otherwise
// the FileExts ".pdf" key's "Progid", replaced by its "Application" when that
// value exists. Only the current user's association is consulted; empty when
// it gives nothing. Reads only.
// Throws Error("Invalid data type for '<name>'") for a value that is not text.
Text GetPdfProgId();

// The command template (the reader's command with "%1" where the document path
// goes) for `progId`, or empty when nothing is known. A command deduced from the
// ProgID's default shell verb (platform::DocumentOpenerVerb) is used unless
// the custom flag `CustomPdfReadCmd` is set; otherwise, and for Quillane's own
// identifiers "quillane.pdfdoc", "quillane.exe", "quillane.desktop" (its
// desktop entry on Linux), which are not looked up, and the verb
// "quillane_main", whose command is not read, the cached `PdfReadCmd` is
// returned.
// The configuration key's values win over those of the legacy key, which is
// only ever read.
// Side effects: creates the configuration key when missing, and writes a
// deduced command to its `PdfReadCmd` when it differs from the cached one.
// Throws the registry errors: "Invalid data type for '<name>'" for a value of
// the wrong type, "Failed to get data for '<name>'" for an over-long flag,
// "Failed to set data for 'PdfReadCmd'" when the cache cannot be written.
// REQUIRES: `progId` is non-empty.
Text DeducePdfReadCommand(const Text& progId);

}  // namespace quillane

#endif  // QUILLANE_READER_DISCOVERY_H_
