// The compact file: a new, complete PDF instead of the input and an update.
// It holds the header, every object the document still uses, each copied
// byte for byte from the input (from the first digit of "N G obj" to
// "endobj"), except that each image is its placeholder and each rewritten
// object its new version, then the new objects, one complete
// cross-reference section (xref_section.h) and the end block. Pictures'
// data is never read: the images are found through the cross-reference, as
// image XObjects the document reaches.
//
// Object streams (ISO 32000-1, 7.5.7) that hold a kept object are kept
// whole, byte for byte, also when they hold objects nothing uses any more:
// they hold no stream data, only small dictionaries and arrays, so what is
// left in them costs little, whereas writing their kept objects out would
// mean decoding them and giving up the byte-for-byte copy. The section
// lists only the kept objects in them.
#ifndef QUILLANE_PDF_UPDATE_COMPACT_WRITER_H_
#define QUILLANE_PDF_UPDATE_COMPACT_WRITER_H_

#include <cstdint>
#include <vector>

#include "fileaccess/fileaccess.h"
#include "pdf/objects/document.h"
#include "pdf/update/templates.h"
#include "pdf/update/update_writer.h"

namespace quillane {

// What the compact file keeps of a document.
struct KeptObjects {
  // Every object reachable from the trailer's /Root and /Info through
  // references, in the newest revision, in the order reached; the object
  // streams that hold one of them; the objects `rewrittenObjects` refer to.
  // References out of an image XObject are not followed: its placeholder
  // refers to none of them (its soft mask, color space, /Length object).
  std::vector<ObjectKey> Keys;
  // Where each of Keys lies, parallel to it (Document::Location, found
  // while walking, so that nothing is read twice); an image's End is its
  // Start (its data is never looked at).
  std::vector<ObjectLocation> Locations;
  // The bytes of small objects in the file, parallel to Keys, taken while
  // the walk has them at hand, up to a bound on their sum; empty for the
  // others, which are read again when written.
  std::vector<Text> Bytes;
  // Those of Keys that are image XObjects (streams with /Subtype /Image),
  // in the order reached.
  std::vector<ObjectKey> Images;
  // Signature dictionaries kept (dictionaries with /ByteRange): the
  // signatures no longer cover the new file.
  std::int64_t Signatures = 0;
};

// Walks `document` from its trailer and from the references in the
// dictionaries of `rewrittenObjects` (new versions and new objects, whose
// texts may name objects the old versions did not). Reads each object once,
// a stream's dictionary only. Never throws for damaged input; an object that
// cannot be read is left out.
KeptObjects FindKeptObjects(const Document& document,
                            const std::vector<RewrittenObject>& rewrittenObjects = {});

struct CompactFile {
  // Objects the section lists in use, the cross-reference stream included.
  std::int64_t Listed = 0;
  // Objects copied from the input, and placeholders written.
  std::int64_t Copied = 0;
  std::int64_t Placeholders = 0;
};

// Appends the compact file to `output`, which holds nothing yet: the input's
// header line and a binary comment; each of `kept.Keys` in the order of the
// file (those in object streams with their stream), as a placeholder built
// from `templates` when it is in `imageKeys`, left out when
// `rewrittenObjects` has a new version of it, copied otherwise, with "endobj"
// added where the input lacks it; then `rewrittenObjects` in their order; the
// extra object when the templates have one (number 9999, generation 1, or
// one past the document's numbers); then a complete section in the form of
// the input's newest one, or a stream when an object lies in an object
// stream, whose trailer has /Root, /Info when it is kept, and /ID with the
// input's first part and a new second; then the end block. Offsets count
// from `output`'s first byte. Copies go through spills of `output`, so
// memory does not grow with the file. Throws as CompleteTable does, and the
// file errors of `document`'s source and of the spills.
// REQUIRES: `output` is empty; `kept` as FindKeptObjects gave it for
// `document`; `imageKeys` holds every key of kept.Images;
// the spills of `rewrittenObjects` were made by a FileAccess of `output`'s
// kind.
CompactFile WriteCompactFile(const Document& document, const KeptObjects& kept,
                             const std::vector<ObjectKey>& imageKeys,
                             const PlaceholderTemplates& templates,
                             const std::vector<RewrittenObject>& rewrittenObjects,
                             FileAccess& output);

}  // namespace quillane

#endif  // QUILLANE_PDF_UPDATE_COMPACT_WRITER_H_
