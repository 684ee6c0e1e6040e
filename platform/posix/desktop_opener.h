// What the POSIX document opener keeps for the whole process: the desktop's
// association (the default application for application/pdf and every
// mimeapps.list and desktop entry read for it) is worked out at the first
// question and kept for the XDG folders it was read from, so that no file is
// read twice. Changes made to those files afterwards are not seen.
#ifndef QUILLANE_PLATFORM_POSIX_DESKTOP_OPENER_H_
#define QUILLANE_PLATFORM_POSIX_DESKTOP_OPENER_H_

namespace quillane::platform::posix {

// Drops what was kept, so that the next question reads the files again. The
// program never needs it; tests that change those files between questions in
// one process do.
void ForgetDesktopReads();

}  // namespace quillane::platform::posix

#endif  // QUILLANE_PLATFORM_POSIX_DESKTOP_OPENER_H_
