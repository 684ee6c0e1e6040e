// What the POSIX registry keeps for the whole process: the registry file is
// read at the first key open and kept, together with the process's own
// writes, so that no key open reads it again. Changes that another program
// makes to the file afterwards are not seen by key opens; a write reads the
// file again, so it does not undo them.
#ifndef QUILLANE_PLATFORM_POSIX_REGISTRY_H_
#define QUILLANE_PLATFORM_POSIX_REGISTRY_H_

namespace quillane::platform::posix {

// Drops what was kept, so that the next key open reads the file again. The
// program never needs it; tests that change the file between key opens in one
// process do.
void ForgetRegistryReads();

}  // namespace quillane::platform::posix

#endif  // QUILLANE_PLATFORM_POSIX_REGISTRY_H_
