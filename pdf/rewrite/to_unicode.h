// The /ToUnicode CMap of a font (ISO 32000-1, 9.10.3): which text each
// character code stands for. The text drawn visibly for an OCR layer takes
// its letters from here, so the letters shown are the letters a reader
// extracts.
#ifndef QUILLANE_PDF_REWRITE_TO_UNICODE_H_
#define QUILLANE_PDF_REWRITE_TO_UNICODE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillane {

class ToUnicodeMap {
 public:
  // Reads the decoded bytes of a CMap stream: its codespace ranges
  // (begincodespacerange), and its bfchar and bfrange mappings, whose
  // destinations are UTF-16BE (surrogate pairs joined). Entries that do not
  // read are passed over; a later mapping of a code wins. The reading is
  // linear in the data, and a range costs its one entry however many codes
  // it covers.
  static ToUnicodeMap Read(std::string_view cmap);

  // The code lengths of the codespace ranges, in bytes; {2} when the CMap
  // gives none (the Identity-H codes OCR layers draw with).
  const std::vector<std::size_t>& CodeLengths() const { return codeLengths_; }

  // The Unicode text of `code`, a code of `length` bytes read most
  // significant first; nothing when the CMap does not map it.
  std::optional<std::u32string> TextOf(std::uint32_t code, std::size_t length) const;

  // The codes that the string `bytes` of a show operator holds, as the
  // codespace cuts it (a code is taken with the first length whose range
  // holds it, else with the first length; bytes too few for a code at the
  // end are dropped), with their lengths.
  struct Code {
    std::uint32_t Value;
    std::size_t Length;
  };
  std::vector<Code> SplitCodes(std::string_view bytes) const;

  bool Empty() const { return ranges_.empty(); }

 private:
  // Codes [First, Last] of one length: bfchar gives First == Last; a bfrange
  // with one destination adds the code's distance from First to its last
  // character, one with an array of destinations lists them.
  struct Range {
    std::uint32_t First;
    std::uint32_t Last;
    std::size_t Length;
    std::u32string Destination;
    std::vector<std::u32string> Destinations;
    std::size_t Order;  // later mappings win
  };
  struct CodeSpace {
    std::uint32_t Low;
    std::uint32_t High;
    std::size_t Length;
  };
  std::vector<Range> ranges_;
  std::vector<CodeSpace> codeSpaces_;
  std::vector<std::size_t> codeLengths_;
};

}  // namespace quillane

#endif  // QUILLANE_PDF_REWRITE_TO_UNICODE_H_
