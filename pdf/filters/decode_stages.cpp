#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "base/byte_classes.h"
#include "pdf/filters/decode_stage.h"

namespace quillane {

namespace {

constexpr std::string_view kFlateDamaged = "Flate data damaged";
constexpr std::string_view kFlateCutShort = "Flate data cut short";
constexpr std::string_view kLzwDamaged = "LZW data damaged";
constexpr std::string_view kRunLengthCutShort = "RunLength data cut short";
constexpr std::string_view kHexDamaged = "ASCIIHex data damaged";
constexpr std::string_view k85Damaged = "ASCII85 data damaged";
constexpr std::string_view kRowsDamaged = "predictor rows damaged";
// A predictor row buffer larger than this is given back once its stream is
// over.
constexpr std::size_t kKeptRow = std::size_t{64} << 10;

// zlib's memory through these, so that MemoryHeld counts it: each block
// carries its size in front of it.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

voidpf CountedAlloc(voidpf opaque, uInt items, uInt size) {
  const std::size_t bytes = std::size_t{items} * size;
  void* block = std::malloc(bytes + kBlockHeader);
  if (block == nullptr) return Z_NULL;
  std::memcpy(block, &bytes, sizeof bytes);
  *static_cast<std::size_t*>(opaque) += bytes;
  return static_cast<char*>(block) + kBlockHeader;
}

void CountedFree(voidpf opaque, voidpf address) {
  if (address == Z_NULL) return;
  char* block = static_cast<char*>(address) - kBlockHeader;
  std::size_t bytes = 0;
  std::memcpy(&bytes, block, sizeof bytes);
  *static_cast<std::size_t*>(opaque) -= bytes;
  std::free(block);
}

// ISO 32000-1, 7.4.4: a zlib stream (RFC 1950) that must reach its end, with
// a correct checksum; the bytes after it are not read.
class FlateStage final : public DecodeStage {
 public:
  FlateStage() : DecodeStage(kFlate) {}
  ~FlateStage() override {
    if (initialized_) inflateEnd(&stream_);
  }
  FlateStage(const FlateStage&) = delete;
  FlateStage& operator=(const FlateStage&) = delete;

 protected:
  void Restart(const StreamFilter& /*filter*/) override {
    // One inflate state for every stream this stage decodes: inflateReset
    // keeps its window, which a new inflateInit would allocate again.
    if (!initialized_) {
      stream_ = z_stream{};
      stream_.zalloc = CountedAlloc;
      stream_.zfree = CountedFree;
      stream_.opaque = &zlibHeld_;
      if (inflateInit(&stream_) != Z_OK) throw std::bad_alloc();
      initialized_ = true;
    } else if (inflateReset(&stream_) != Z_OK) {
      throw std::bad_alloc();
    }
  }

  std::size_t Produce(char* out, std::size_t capacity) override {
    // zlib counts in 32 bits; the input pieces are far below that already.
    const auto room = static_cast<uInt>(std::min<std::size_t>(capacity, uInt{1} << 30));
    stream_.next_out = reinterpret_cast<Bytef*>(out);
    stream_.avail_out = room;
    while (stream_.avail_out > 0) {
      // Without input left zlib may still have output to give (the rest of
      // a match, or the end after the last bytes were taken in).
      const bool input = Fill();
      // zlib does not write through next_in; its type lacks the const only.
      stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next_));
      stream_.avail_in = input ? static_cast<uInt>(end_ - next_) : 0;
      const uInt before = stream_.avail_out;
      const int status = inflate(&stream_, Z_NO_FLUSH);
      if (input) next_ = reinterpret_cast<const char*>(stream_.next_in);
      if (status == Z_STREAM_END) {
        End();
        break;
      }
      if (status == Z_DATA_ERROR || status == Z_NEED_DICT) {
        Fail(kFlateDamaged);
        break;
      }
      if (status == Z_MEM_ERROR) throw std::bad_alloc();
      // All input given and no progress: the data stops before its end.
      if (!input && stream_.avail_out == before) {
        Fail(kFlateCutShort);
        break;
      }
    }
    return room - stream_.avail_out;
  }

  std::size_t Held() const override { return zlibHeld_; }

 private:
  z_stream stream_{};
  bool initialized_ = false;
  std::size_t zlibHeld_ = 0;
};

// ISO 32000-1, 7.4.4.2: codes of 9 to 12 bits, most significant bit first;
// 256 clears the table, 257 ends the data, 258 up are table entries, each one
// the string of the code before extended by the first byte of the next. With
// /EarlyChange 1 (the default) the code width grows one code early. Data
// that stops without 257 ends there, as readers take it; a code beyond the
// table is damage.
class LzwStage final : public DecodeStage {
 public:
  LzwStage() : DecodeStage(kLzw) {
    for (std::size_t c = 0; c < 256; ++c) {
      table_[c] = {0, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c), 1};
    }
  }

 protected:
  void Restart(const StreamFilter& filter) override {
    earlyChange_ = filter.EarlyChange == 0 ? 0 : 1;
    ClearTable();
    bits_ = 0;
    bitCount_ = 0;
    pendingAt_ = pendingEnd_ = 0;
    endSeen_ = false;
  }

  std::size_t Produce(char* out, std::size_t capacity) override {
    std::size_t written = 0;
    while (written < capacity) {
      if (pendingAt_ < pendingEnd_) {
        const std::size_t count = std::min(capacity - written, pendingEnd_ - pendingAt_);
        std::memcpy(out + written, pending_.data() + pendingAt_, count);
        pendingAt_ += count;
        written += count;
        continue;
      }
      if (endSeen_) {
        End();
        break;
      }
      // The next code; the bits left over at the end of the data are no code.
      while (bitCount_ < codeWidth_) {
        if (!Fill()) {
          End();
          return written;
        }
        bits_ = (bits_ << 8) | static_cast<std::uint8_t>(*next_++);
        bitCount_ += 8;
      }
      bitCount_ -= codeWidth_;
      const auto code = static_cast<std::uint16_t>((bits_ >> bitCount_) & ((1u << codeWidth_) - 1));
      bits_ &= (1u << bitCount_) - 1;
      if (code == kClear) {
        ClearTable();
        continue;
      }
      if (code == kEnd) {
        endSeen_ = true;
        continue;
      }
      // A code may name an entry of the table or, as the entry about to be
      // added, the previous string extended by its own first byte.
      const bool known = code < nextCode_;
      if (!known && (code != nextCode_ || previous_ < 0)) {
        Fail(kLzwDamaged);
        break;
      }
      if (previous_ >= 0 && nextCode_ < kTableSize) {
        const Entry& before = table_[static_cast<std::size_t>(previous_)];
        const std::uint8_t first = known ? table_[code].First : before.First;
        table_[nextCode_] = {static_cast<std::uint16_t>(previous_), first, before.First,
                             static_cast<std::uint16_t>(before.Length + 1)};
        ++nextCode_;
        if (nextCode_ + earlyChange_ >= (1u << codeWidth_) && codeWidth_ < kMaxWidth) {
          ++codeWidth_;
        }
      }
      previous_ = code;
      written += Emit(code, out + written, capacity - written);
    }
    return written;
  }

  std::size_t Held() const override { return sizeof table_ + sizeof pending_; }

 private:
  static constexpr std::uint16_t kClear = 256;
  static constexpr std::uint16_t kEnd = 257;
  static constexpr std::uint16_t kFirstCode = 258;
  static constexpr std::uint16_t kTableSize = 4096;
  static constexpr unsigned kMaxWidth = 12;

  // A string of the table: its code before and its last byte, its first
  // byte and its length.
  struct Entry {
    std::uint16_t Prefix;
    std::uint8_t Last;
    std::uint8_t First;
    std::uint16_t Length;
  };

  void ClearTable() {
    nextCode_ = kFirstCode;
    codeWidth_ = 9;
    previous_ = -1;
  }

  // Writes the string of `code` into `out` when it fits there, else into
  // the pending buffer; returns the bytes written into `out`.
  std::size_t Emit(std::uint16_t code, char* out, std::size_t room) {
    const std::size_t length = table_[code].Length;
    char* at = length <= room ? out : pending_.data();
    // The string is spelled backwards along its prefixes.
    std::uint16_t c = code;
    for (std::size_t i = length; i-- > 0;) {
      at[i] = static_cast<char>(table_[c].Last);
      c = table_[c].Prefix;
    }
    if (length <= room) return length;
    pendingAt_ = 0;
    pendingEnd_ = length;
    return 0;
  }

  std::array<Entry, kTableSize> table_{};
  // A string is at most kTableSize - kFirstCode + 1 bytes long.
  std::array<char, kTableSize> pending_{};
  std::size_t pendingAt_ = 0;
  std::size_t pendingEnd_ = 0;
  std::uint32_t bits_ = 0;
  unsigned bitCount_ = 0;
  unsigned codeWidth_ = 9;
  unsigned earlyChange_ = 1;
  std::uint16_t nextCode_ = kFirstCode;
  int previous_ = -1;
  bool endSeen_ = false;
};

// ISO 32000-1, 7.4.5: a length byte 0 to 127 is followed by that many plus
// one bytes to copy, 129 to 255 by one byte to repeat 257 minus it times, and
// 128 ends the data. Data that stops between runs ends there; a run cut off
// would have to be guessed.
class RunLengthStage final : public DecodeStage {
 public:
  RunLengthStage() : DecodeStage(kRunLength) {}

 protected:
  void Restart(const StreamFilter& /*filter*/) override {
    mode_ = Mode::kLength;
    left_ = 0;
  }

  std::size_t Produce(char* out, std::size_t capacity) override {
    std::size_t written = 0;
    while (written < capacity) {
      if (mode_ == Mode::kRepeat) {
        const std::size_t count = std::min(capacity - written, left_);
        std::memset(out + written, repeated_, count);
        written += count;
        left_ -= count;
        if (left_ == 0) mode_ = Mode::kLength;
        continue;
      }
      if (!Fill()) {
        if (mode_ == Mode::kLength) {
          End();
        } else {
          Fail(kRunLengthCutShort);
        }
        break;
      }
      if (mode_ == Mode::kLength) {
        const auto length = static_cast<std::uint8_t>(*next_++);
        if (length == 128) {
          End();
          break;
        }
        mode_ = length < 128 ? Mode::kCopy : Mode::kRepeatByte;
        left_ = length < 128 ? std::size_t{length} + 1 : 257 - std::size_t{length};
      } else if (mode_ == Mode::kRepeatByte) {
        repeated_ = static_cast<std::uint8_t>(*next_++);
        mode_ = Mode::kRepeat;
      } else {
        const std::size_t count = std::min({capacity - written, left_, std::size_t(end_ - next_)});
        std::memcpy(out + written, next_, count);
        next_ += count;
        written += count;
        left_ -= count;
        if (left_ == 0) mode_ = Mode::kLength;
      }
    }
    return written;
  }

 private:
  enum class Mode : std::uint8_t { kLength, kCopy, kRepeatByte, kRepeat };
  Mode mode_ = Mode::kLength;
  std::size_t left_ = 0;
  std::uint8_t repeated_ = 0;
};

// ISO 32000-1, 7.4.2: pairs of hexadecimal digits up to ">", white space
// ignored, a last odd digit completed with 0. The end of the data stands for
// a missing ">".
class AsciiHexStage final : public DecodeStage {
 public:
  AsciiHexStage() : DecodeStage(kAsciiHex) {}

 protected:
  void Restart(const StreamFilter& /*filter*/) override { high_ = -1; }

  std::size_t Produce(char* out, std::size_t capacity) override {
    std::size_t written = 0;
    while (written < capacity) {
      if (!Fill()) {
        Finish(out, written);
        break;
      }
      const char c = *next_++;
      if (c == '>') {
        Finish(out, written);
        break;
      }
      if (IsWhiteSpace(static_cast<std::uint8_t>(c))) continue;
      const int digit = HexDigitValue(c);
      if (digit < 0) {
        Fail(kHexDamaged);
        break;
      }
      if (high_ < 0) {
        high_ = digit;
      } else {
        out[written++] = static_cast<char>(high_ * 16 + digit);
        high_ = -1;
      }
    }
    return written;
  }

 private:
  // The end: a digit left over is the high half of one more byte, for
  // which the loop above always leaves room.
  void Finish(char* out, std::size_t& written) {
    if (high_ >= 0) out[written++] = static_cast<char>(high_ * 16);
    End();
  }

  int high_ = -1;
};

// ISO 32000-1, 7.4.3: groups of five characters "!" to "u" give four bytes,
// "z" four zero bytes, "~>" ends the data; a last group of n characters
// (2 to 4) gives n - 1 bytes. The end of the data stands for a missing "~>";
// a "~" must be followed by ">" at once.
class Ascii85Stage final : public DecodeStage {
 public:
  Ascii85Stage() : DecodeStage(kAscii85) {}

 protected:
  void Restart(const StreamFilter& /*filter*/) override {
    group_ = 0;
    count_ = 0;
    tilde_ = false;
    ending_ = false;
    pendingAt_ = pendingEnd_ = 0;
  }

  std::size_t Produce(char* out, std::size_t capacity) override {
    std::size_t written = 0;
    while (written < capacity) {
      if (pendingAt_ < pendingEnd_) {
        out[written++] = pending_[pendingAt_++];
        continue;
      }
      if (ending_) {
        End();
        break;
      }
      if (!Fill()) {
        if (!LastGroup()) break;
        continue;
      }
      const char c = *next_++;
      if (tilde_) {
        if (c != '>') {
          Fail(k85Damaged);
          break;
        }
        if (!LastGroup()) break;
        continue;
      }
      if (c == '~') {
        tilde_ = true;
        continue;
      }
      if (IsWhiteSpace(static_cast<std::uint8_t>(c))) continue;
      if (c == 'z' && count_ == 0) {
        Put(0, 4);
        continue;
      }
      if (c < '!' || c > 'u') {
        Fail(k85Damaged);
        break;
      }
      group_ = group_ * 85 + static_cast<std::uint64_t>(c - '!');
      if (++count_ == 5) {
        if (group_ > 0xFFFFFFFFu) {
          Fail(k85Damaged);
          break;
        }
        Put(group_, 4);
        group_ = 0;
        count_ = 0;
      }
    }
    return written;
  }

 private:
  // The first `bytes` bytes of the 32-bit `value`, high byte first.
  void Put(std::uint64_t value, int bytes) {
    pendingAt_ = 0;
    pendingEnd_ = 0;
    for (int i = 0; i < bytes; ++i) {
      pending_[pendingEnd_++] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
    }
  }

  // The end of the data: a partial group is completed with "u" (84), and
  // gives one byte less than it has characters; false when it cannot.
  bool LastGroup() {
    ending_ = true;
    if (count_ == 1) {
      Fail(k85Damaged);
      return false;
    }
    if (count_ > 1) {
      for (int i = count_; i < 5; ++i) group_ = group_ * 85 + 84;
      if (group_ > 0xFFFFFFFFu) {
        Fail(k85Damaged);
        return false;
      }
      Put(group_, count_ - 1);
    }
    return true;
  }

  std::uint64_t group_ = 0;
  int count_ = 0;
  bool tilde_ = false;
  bool ending_ = false;
  std::array<char, 4> pending_{};
  std::size_t pendingAt_ = 0;
  std::size_t pendingEnd_ = 0;
};

// The row sizes of a predictor's parameters (ISO 32000-1, Table 8).
std::size_t RowBytes(const StreamFilter& f) {
  return static_cast<std::size_t>((f.Colors * f.BitsPerComponent * f.Columns + 7) / 8);
}
std::size_t PixelBytes(const StreamFilter& f) {
  return static_cast<std::size_t>((f.Colors * f.BitsPerComponent + 7) / 8);
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// ISO 32000-1, 7.4.4.4 and PNG (RFC 2083): every row starts with its own
// filter type byte (0 None, 1 Sub, 2 Up, 3 Average, 4 Paeth); the data must
// be whole rows. One row buffer holds the row above and is overwritten by
// the current row as it decodes; the bytes of the row above that Paeth still
// needs (one pixel back) are kept aside in `above_`.
class PngStage final : public DecodeStage {
 public:
  PngStage() : DecodeStage(kPng) {}

 protected:
  void Restart(const StreamFilter& filter) override {
    rowBytes_ = RowBytes(filter);
    pixelBytes_ = PixelBytes(filter);
    // The row above the first is zeros; the buffer grows with the first row
    // rather than being allocated for the widest row at once.
    row_.clear();
    at_ = 0;
    type_ = -1;
  }

  std::size_t Produce(char* out, std::size_t capacity) override {
    std::size_t written = 0;
    while (written < capacity) {
      if (!Fill()) {
        if (type_ >= 0) {
          Fail(kRowsDamaged);
        } else {
          End();
        }
        break;
      }
      if (type_ < 0) {
        type_ = static_cast<std::uint8_t>(*next_++);
        if (type_ > 4) {
          Fail(kRowsDamaged);
          break;
        }
        continue;
      }
      const std::size_t count =
          std::min({capacity - written, rowBytes_ - at_, std::size_t(end_ - next_)});
      if (row_.size() < at_ + count) {
        row_.resize(std::min(rowBytes_, std::max(at_ + count, 2 * row_.size())));
      }
      DecodeRun(reinterpret_cast<const std::uint8_t*>(next_), count,
                reinterpret_cast<std::uint8_t*>(out + written));
      next_ += count;
      written += count;
      at_ += count;
      if (at_ == rowBytes_) {
        at_ = 0;
        type_ = -1;
      }
    }
    return written;
  }

  std::size_t Held() const override { return row_.capacity(); }
  void Release() override {
    if (row_.capacity() > kKeptRow) std::vector<std::uint8_t>().swap(row_);
  }

 private:
  // Decodes `count` bytes of the current row from position at_ on.
  void DecodeRun(const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    std::uint8_t* row = row_.data();
    const std::size_t bpp = pixelBytes_;
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t i = at_ + k;
      const int x = in[k];
      const int b = row[i];
      const int a = i >= bpp ? row[i - bpp] : 0;
      int value = x;
      switch (type_) {
        case 1:
          value = x + a;
          break;
        case 2:
          value = x + b;
          break;
        case 3:
          value = x + (a + b) / 2;
          break;
        case 4: {
          // above_ holds the row above from one pixel back: the byte at
          // i - bpp of the row above, saved before the current row took it.
          std::uint8_t& saved = above_[i % bpp];
          const int c = i >= bpp ? saved : 0;
          saved = static_cast<std::uint8_t>(b);
          value = x + Paeth(a, b, c);
          break;
        }
        default:
          break;
      }
      row[i] = static_cast<std::uint8_t>(value & 0xFF);
      out[k] = row[i];
    }
  }

  std::size_t rowBytes_ = 1;
  std::size_t pixelBytes_ = 1;
  std::vector<std::uint8_t> row_;
  // A pixel is at most 64 colours of 16 bits.
  std::array<std::uint8_t, 128> above_{};
  std::size_t at_ = 0;
  int type_ = -1;  // the current row's filter type; -1 before its type byte
};

// ISO 32000-1, 7.4.4.4, Predictor 2 (TIFF): each sample is stored as its
// difference to the sample of the same colour component one pixel to the
// left, within the row; the data must be whole rows. Samples of 1, 2 and 4
// bits share bytes (most significant first, the row padded to a byte),
// 16-bit samples are two bytes, high first. `left_` holds the decoded
// samples of the last pixel.
class TiffStage final : public DecodeStage {
 public:
  TiffStage() : DecodeStage(kTiff) {}

 protected:
  void Restart(const StreamFilter& filter) override {
    bits_ = static_cast<unsigned>(filter.BitsPerComponent);
    colors_ = static_cast<std::size_t>(filter.Colors);
    samples_ = static_cast<std::size_t>(filter.Columns) * colors_;
    rowBytes_ = RowBytes(filter);
    at_ = 0;
    sample_ = 0;
    high_ = -1;
    pending_ = -1;
  }

  std::size_t Produce(char* out, std::size_t capacity) override {
    std::size_t written = 0;
    while (written < capacity) {
      if (pending_ >= 0) {
        out[written++] = static_cast<char>(pending_);
        pending_ = -1;
        continue;
      }
      if (!Fill()) {
        if (at_ != 0) {
          Fail(kRowsDamaged);
        } else {
          End();
        }
        break;
      }
      const auto byte = static_cast<std::uint8_t>(*next_++);
      if (++at_ == rowBytes_) at_ = 0;
      if (bits_ == 16) {
        if (high_ < 0) {
          high_ = byte;
          continue;
        }
        const std::uint32_t value = Next((static_cast<std::uint32_t>(high_) << 8) | byte, 0xFFFF);
        high_ = -1;
        out[written++] = static_cast<char>(value >> 8);
        pending_ = static_cast<int>(value & 0xFF);
      } else if (bits_ == 8) {
        out[written++] = static_cast<char>(Next(byte, 0xFF));
      } else {
        out[written++] = static_cast<char>(DecodePackedByte(byte));
      }
      // A row starts afresh: its first pixel is stored as it is.
      if (at_ == 0) sample_ = 0;
    }
    return written;
  }

 private:
  // The decoded value of the next sample of the row, stored as `stored`.
  std::uint32_t Next(std::uint32_t stored, std::uint32_t mask) {
    std::uint16_t& left = left_[sample_ % colors_];
    const std::uint32_t value = sample_ >= colors_ ? (stored + left) & mask : stored;
    left = static_cast<std::uint16_t>(value);
    ++sample_;
    return value;
  }

  // A byte of samples below 8 bits; the padding bits after the row's last
  // sample stay as they are.
  std::uint8_t DecodePackedByte(std::uint8_t byte) {
    const std::uint32_t mask = (1u << bits_) - 1;
    std::uint32_t result = byte;
    for (unsigned shift = 8; shift >= bits_; shift -= bits_) {
      if (sample_ >= samples_) break;
      const unsigned at = shift - bits_;
      const std::uint32_t value = Next((std::uint32_t{byte} >> at) & mask, mask);
      result = (result & ~(mask << at)) | (value << at);
    }
    return static_cast<std::uint8_t>(result);
  }

  unsigned bits_ = 8;
  std::size_t colors_ = 1;
  std::size_t samples_ = 1;
  std::size_t rowBytes_ = 1;
  std::size_t at_ = 0;      // the byte of the row next
  std::size_t sample_ = 0;  // the sample of the row next
  std::array<std::uint16_t, 64> left_{};
  int high_ = -1;     // the high byte of a 16-bit sample, until its low byte
  int pending_ = -1;  // the low byte of a 16-bit sample the reader had no room for
};

}  // namespace

std::unique_ptr<DecodeStage> MakeDecodeStage(int kind) {
  switch (kind) {
    case DecodeStage::kFlate:
      return std::make_unique<FlateStage>();
    case DecodeStage::kLzw:
      return std::make_unique<LzwStage>();
    case DecodeStage::kRunLength:
      return std::make_unique<RunLengthStage>();
    case DecodeStage::kAsciiHex:
      return std::make_unique<AsciiHexStage>();
    case DecodeStage::kAscii85:
      return std::make_unique<Ascii85Stage>();
    case DecodeStage::kPng:
      return std::make_unique<PngStage>();
    default:
      return std::make_unique<TiffStage>();
  }
}

int DecodeStageKindOf(const Text& name) {
  if (name == "FlateDecode") return DecodeStage::kFlate;
  if (name == "LZWDecode") return DecodeStage::kLzw;
  if (name == "RunLengthDecode") return DecodeStage::kRunLength;
  if (name == "ASCIIHexDecode") return DecodeStage::kAsciiHex;
  if (name == "ASCII85Decode") return DecodeStage::kAscii85;
  return -1;
}

}  // namespace quillane
