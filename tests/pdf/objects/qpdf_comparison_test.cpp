// The object layer against qpdf, a reader of its own: for every corpus file
// qpdf reads without a warning, the index must list the live objects qpdf
// lists at the same places (qpdf --show-xref), and every object must read
// as the same value (qpdf --json, compared by kinds, names, numbers,
// references, keys and array lengths, so that formatting does not matter).
// The same over documents of kinds the corpus may lack, made at test time by
// qpdf itself (object streams generated, QDF form) and by the shared
// generator. Skips without qpdf or the corpus, fails under CI=true.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pdf/objects/document.h"
#include "support/memory_file_access.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// A small JSON reader, for qpdf's output.

struct Json {
  enum class Kind : std::uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  std::string text;  // a string's value, a number as written, "true"/"false"
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Member(const std::string& key) const {
    for (const auto& [name, value] : members) {
      if (name == key) return &value;
    }
    return nullptr;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  std::optional<Json> Read() {
    std::optional<Json> value = Value();
    Skip();
    if (!value || p_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void Skip() {
    while (p_ < text_.size() &&
           (text_[p_] == ' ' || text_[p_] == '\n' || text_[p_] == '\r' || text_[p_] == '\t')) {
      ++p_;
    }
  }

  std::optional<std::string> String() {
    if (text_[p_] != '"') return std::nullopt;
    std::string out;
    for (++p_; p_ < text_.size(); ++p_) {
      const char c = text_[p_];
      if (c == '"') {
        ++p_;
        return out;
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (++p_ >= text_.size()) return std::nullopt;
      const char e = text_[p_];
      if (e == 'u') {
        if (p_ + 4 >= text_.size()) return std::nullopt;
        const unsigned code =
            static_cast<unsigned>(std::stoul(text_.substr(p_ + 1, 4), nullptr, 16));
        p_ += 4;
        // Kept as UTF-8; only the kind of a string is compared.
        if (code < 0x80) {
          out += static_cast<char>(code);
        } else {
          out += '?';
        }
      } else {
        const std::string from = "\"\\/bfnrt";
        const std::string to = "\"\\/\b\f\n\r\t";
        const std::size_t k = from.find(e);
        if (k == std::string::npos) return std::nullopt;
        out += to[k];
      }
    }
    return std::nullopt;
  }

  std::optional<Json> Value() {
    Skip();
    if (p_ >= text_.size()) return std::nullopt;
    Json value;
    const char c = text_[p_];
    if (c == '{') {
      value.kind = Json::Kind::kObject;
      ++p_;
      Skip();
      if (p_ < text_.size() && text_[p_] == '}') {
        ++p_;
        return value;
      }
      for (;;) {
        Skip();
        std::optional<std::string> key = String();
        Skip();
        if (!key || p_ >= text_.size() || text_[p_++] != ':') return std::nullopt;
        std::optional<Json> member = Value();
        if (!member) return std::nullopt;
        value.members.emplace_back(std::move(*key), std::move(*member));
        Skip();
        if (p_ < text_.size() && text_[p_] == ',') {
          ++p_;
          continue;
        }
        if (p_ < text_.size() && text_[p_] == '}') {
          ++p_;
          return value;
        }
        return std::nullopt;
      }
    }
    if (c == '[') {
      value.kind = Json::Kind::kArray;
      ++p_;
      Skip();
      if (p_ < text_.size() && text_[p_] == ']') {
        ++p_;
        return value;
      }
      for (;;) {
        std::optional<Json> item = Value();
        if (!item) return std::nullopt;
        value.items.push_back(std::move(*item));
        Skip();
        if (p_ < text_.size() && text_[p_] == ',') {
          ++p_;
          continue;
        }
        if (p_ < text_.size() && text_[p_] == ']') {
          ++p_;
          return value;
        }
        return std::nullopt;
      }
    }
    if (c == '"') {
      std::optional<std::string> text = String();
      if (!text) return std::nullopt;
      value.kind = Json::Kind::kString;
      value.text = std::move(*text);
      return value;
    }
    for (const char* word : {"true", "false", "null"}) {
      if (text_.compare(p_, std::strlen(word), word) == 0) {
        p_ += std::strlen(word);
        value.kind = word[0] == 'n' ? Json::Kind::kNull : Json::Kind::kBool;
        value.text = word;
        return value;
      }
    }
    const std::size_t start = p_;
    while (p_ < text_.size() &&
           std::string("+-0123456789.eE").find(text_[p_]) != std::string::npos) {
      ++p_;
    }
    if (p_ == start) return std::nullopt;
    value.kind = Json::Kind::kNumber;
    value.text = text_.substr(start, p_ - start);
    return value;
  }

  const std::string& text_;
  std::size_t p_ = 0;
};

// ---------------------------------------------------------------------------
// Comparing values

bool IsReferenceText(const std::string& text, std::int64_t& number, std::int64_t& generation) {
  std::istringstream in(text);
  std::string r;
  if (!(in >> number >> generation >> r) || r != "R") return false;
  std::string rest;
  return !(in >> rest);
}

bool IsNull(const PdfObject* value) {
  return value == nullptr || value->Kind == PdfObject::Type::kNull;
}

// qpdf reads a reference to an object that is not there as null, and drops
// a dictionary entry with that value; so do we, through the document.
bool ReadsAsNull(const Document& document, const PdfObject* value) {
  if (IsNull(value)) return true;
  if (value->Kind != PdfObject::Type::kReference) return false;
  const std::optional<XrefEntry> entry = document.Xref().Find(value->Number);
  return !entry || !entry->Live() || entry->Generation != value->Generation;
}

// Empty when `ours` reads as qpdf's `theirs`; otherwise what differs, with
// the path to it.
std::string Compare(const Document& document, const PdfObject& ours, const Json& theirs,
                    const std::string& path) {
  const auto differ = [&path](const std::string& what) { return path + ": " + what; };
  using Type = PdfObject::Type;
  switch (theirs.kind) {
    case Json::Kind::kNull:
      return ReadsAsNull(document, &ours) ? "" : differ("qpdf null");
    case Json::Kind::kBool:
      return ours.Kind == Type::kBoolean && ours.Value == theirs.text
                 ? ""
                 : differ("qpdf " + theirs.text);
    case Json::Kind::kNumber: {
      if (ours.Kind != Type::kNumber) return differ("qpdf number " + theirs.text);
      const double a = std::strtod(ours.Value.c_str(), nullptr);
      const double b = std::strtod(theirs.text.c_str(), nullptr);
      const double scale = std::max(1.0, std::max(std::abs(a), std::abs(b)));
      return std::abs(a - b) <= 1e-6 * scale ? "" : differ(ours.Value + " vs qpdf " + theirs.text);
    }
    case Json::Kind::kString: {
      const std::string& text = theirs.text;
      std::int64_t number = 0;
      std::int64_t generation = 0;
      if (text.rfind("u:", 0) == 0 || text.rfind("b:", 0) == 0) {
        return ours.Kind == Type::kString ? "" : differ("qpdf string");
      }
      if (!text.empty() && text[0] == '/') {
        if (ours.Kind != Type::kName) return differ("qpdf name " + text);
        // qpdf writes a name holding "#" and two hexadecimal digits without
        // escaping the "#" ("/#23d0" comes out as "/#d0"): either reading.
        return ours.Value == DecodeName(text.substr(1)) || ours.Value == text.substr(1)
                   ? ""
                   : differ("/" + ours.Value + " vs qpdf " + text);
      }
      if (IsReferenceText(text, number, generation)) {
        return ours.Kind == Type::kReference && ours.Number == number &&
                       ours.Generation == generation
                   ? ""
                   : differ("qpdf reference " + text);
      }
      return differ("qpdf string of unknown form " + text);
    }
    case Json::Kind::kArray: {
      if (ours.Kind != Type::kArray || ours.Items.size() != theirs.items.size()) {
        return differ("qpdf array of " + std::to_string(theirs.items.size()));
      }
      for (std::size_t i = 0; i < ours.Items.size(); ++i) {
        std::string difference =
            Compare(document, ours.Items[i], theirs.items[i], path + "[" + std::to_string(i) + "]");
        if (!difference.empty()) return difference;
      }
      return "";
    }
    case Json::Kind::kObject: {
      if (ours.Kind != Type::kDictionary) return differ("qpdf dictionary");
      std::size_t theirsCount = 0;
      for (const auto& [key, value] : theirs.members) {
        if (value.kind == Json::Kind::kNull) continue;
        ++theirsCount;
        // The key as qpdf writes names (see above), in either reading.
        const PdfObject* mine = ours.Find(DecodeName(key.substr(1)));
        if (mine == nullptr) mine = ours.Find(key.substr(1));
        if (IsNull(mine)) return differ("no " + key);
        std::string difference = Compare(document, *mine, value, path + key);
        if (!difference.empty()) return difference;
      }
      std::size_t oursCount = 0;
      for (std::size_t i = 0; i < ours.Keys.size(); ++i) {
        // The first of two entries with one key is the one Find gives.
        if (!ReadsAsNull(document, &ours.Items[i]) && ours.Find(ours.Keys[i]) == &ours.Items[i]) {
          ++oursCount;
        }
      }
      return oursCount == theirsCount ? ""
                                      : differ(std::to_string(oursCount) + " keys vs qpdf " +
                                               std::to_string(theirsCount));
    }
  }
  return differ("?");
}

// ---------------------------------------------------------------------------
// One file against qpdf

struct Figures {
  int files = 0;
  std::int64_t entries = 0;
  std::int64_t objects = 0;
  std::vector<std::string> mismatches;
};

// Compares `path` and adds to `figures`; false when qpdf does not read it
// cleanly (it is then not compared).
bool CompareFile(const std::string& path, Figures& figures) {
  // qpdf reads the file without a warning (its status is 3 after one) and
  // it is not encrypted (the strings and streams of an encrypted file are
  // not what the file holds).
  const ProcessResult json =
      RunProcess({"qpdf", "--json", "--json-key=qpdf", "--json-key=encrypt", path});
  if (json.exit_status != 0 || json.out.find("\"encrypted\": false") == std::string::npos) {
    return false;
  }
  const ProcessResult xrefs = RunProcess({"qpdf", "--show-xref", path});
  if (xrefs.exit_status != 0) return false;
  ++figures.files;
  const std::string name = fs::path(path).filename().string();
  const auto mismatch = [&figures, &name](const std::string& what) {
    figures.mismatches.push_back(name + ": " + what);
  };

  MemoryFileAccess source(ReadFileBytes(path));
  CrossReferenceReading reading = CrossReference::Read(source);
  if (!reading.Xref) {
    mismatch("cross-reference not read: " + reading.Reason);
    return true;
  }
  const Document document(source, std::move(*reading.Xref));

  // The index: "N/G: uncompressed; offset = X" or "N/G: compressed; stream
  // = S, index = I", one line an object. qpdf keeps an older entry of a
  // number beside a newer one of another generation; the newest wins here,
  // so a number's entry matches any of its lines. qpdf counts offsets from
  // the header "%PDF-" when junk stands before it; the index counts from the
  // file's first byte.
  const std::size_t header = ReadFileBytes(path).substr(0, 1024).find("%PDF-");
  const auto shift = static_cast<std::int64_t>(header == std::string::npos ? 0 : header);
  std::map<std::int64_t, std::vector<std::string>> theirs;
  std::istringstream lines(xrefs.out);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    theirs[std::stoll(line.substr(0, slash))].push_back(line);
  }
  std::map<std::int64_t, std::string> ours;
  document.Xref().ForEachLiveEntry([&ours, shift](const XrefEntry& entry) {
    ours[entry.Number] = std::to_string(entry.Number) + "/" + std::to_string(entry.Generation) +
                         (entry.Type == XrefEntryType::kInUse
                              ? ": uncompressed; offset = " + std::to_string(entry.Offset - shift)
                              : ": compressed; stream = " + std::to_string(entry.StreamNumber) +
                                    ", index = " + std::to_string(entry.StreamIndex));
  });
  for (const auto& [number, candidates] : theirs) {
    const auto found = ours.find(number);
    if (found == ours.end()) {
      mismatch("missing " + candidates.back());
    } else if (std::find(candidates.begin(), candidates.end(), found->second) == candidates.end()) {
      mismatch(found->second + " vs qpdf " + candidates.back());
    }
  }
  for (const auto& [number, line] : ours) {
    if (theirs.count(number) == 0) mismatch("extra " + line);
  }
  figures.entries += static_cast<std::int64_t>(theirs.size());

  // The objects: "obj:N G R" with "value" or "stream": {"dict"}.
  const std::optional<Json> parsed = JsonReader(json.out).Read();
  const Json* list = parsed ? parsed->Member("qpdf") : nullptr;
  if (list == nullptr || list->items.size() < 2) {
    mismatch("qpdf --json unreadable");
    return true;
  }
  for (const auto& [key, entry] : list->items[1].members) {
    std::int64_t number = 0;
    std::int64_t generation = 0;
    if (key.rfind("obj:", 0) != 0 || !IsReferenceText(key.substr(4), number, generation)) continue;
    const Json* value = entry.Member("value");
    const Json* stream = entry.Member("stream");
    // qpdf also lists an older generation of a renewed number, and the
    // cross-reference streams it read, whose own entries may be wrong
    // (it holds them from reading the section, not through the index).
    const std::optional<XrefEntry> current = document.Xref().Find(number);
    if (!current || current->Generation != generation) continue;
    const Json* dictionary = stream != nullptr ? stream->Member("dict") : nullptr;
    const Json* type = dictionary != nullptr ? dictionary->Member("/Type") : nullptr;
    if (type != nullptr && type->text == "/XRef") continue;
    ++figures.objects;
    const ObjectLookup lookup = document.Lookup(MakeObjectKey(number, generation));
    if (!lookup.Object) {
      if (value != nullptr && value->kind == Json::Kind::kNull) continue;
      mismatch(key + " not read: " + lookup.Reason);
      continue;
    }
    std::string difference;
    if (stream != nullptr) {
      difference = !lookup.Object->IsStream ? key + ": qpdf stream"
                   : dictionary == nullptr
                       ? key + ": qpdf stream without dict"
                       : Compare(document, lookup.Object->Value, *dictionary, key);
    } else if (value != nullptr) {
      difference = lookup.Object->IsStream ? key + ": a stream, qpdf not"
                                           : Compare(document, lookup.Object->Value, *value, key);
    }
    if (!difference.empty()) mismatch(difference);
  }
  return true;
}

// CompareFile over `files` on two threads (qpdf's runs are most of the
// time), the figures added up in file order; `unread` counts the files qpdf
// did not read cleanly.
Figures CompareFiles(const std::vector<std::string>& files, int& unread) {
  std::vector<Figures> each(files.size());
  std::vector<char> compared(files.size(), 0);
  std::atomic<std::size_t> next{0};
  const auto work = [&]() {
    for (std::size_t i = next++; i < files.size(); i = next++) {
      compared[i] = CompareFile(files[i], each[i]) ? 1 : 0;
    }
  };
  std::thread helper(work);
  work();
  helper.join();
  Figures total;
  unread = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    unread += compared[i] != 0 ? 0 : 1;
    total.files += each[i].files;
    total.entries += each[i].entries;
    total.objects += each[i].objects;
    total.mismatches.insert(total.mismatches.end(), each[i].mismatches.begin(),
                            each[i].mismatches.end());
  }
  return total;
}

std::string Report(const Figures& figures) {
  std::string text = std::to_string(figures.files) + " files, " + std::to_string(figures.entries) +
                     " entries, " + std::to_string(figures.objects) + " objects compared, " +
                     std::to_string(figures.mismatches.size()) + " mismatches";
  for (std::size_t i = 0; i < figures.mismatches.size() && i < 40; ++i) {
    text += "\n  " + figures.mismatches[i];
  }
  return text;
}

bool CorpusAvailable(const fs::path& corpus) {
  if (fs::exists(corpus / "MANIFEST.tsv")) return true;
  const char* ci = std::getenv("CI");
  if (ci != nullptr && std::string(ci) == "true") {
    ADD_FAILURE() << "corpus not found at " << corpus << ", and CI=true requires it";
  }
  return false;
}

std::vector<fs::path> CorpusFiles(const fs::path& corpus) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    if (entry.is_regular_file() && entry.path().extension() == ".pdf")
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(QpdfComparison, CorpusIndexAndObjectsMatchQpdf) {
  if (!ProgramAvailable("qpdf")) GTEST_SKIP() << "qpdf not installed";
  const fs::path corpus = QUILLANE_CORPUS_DIR;
  if (!CorpusAvailable(corpus)) GTEST_SKIP() << "corpus not found at " << corpus;
  std::vector<std::string> files;
  for (const fs::path& file : CorpusFiles(corpus)) files.push_back(file.string());
  int skipped = 0;
  const Figures figures = CompareFiles(files, skipped);
  std::printf("qpdf comparison over the corpus: %s; %d files not clean for qpdf\n",
              Report(figures).c_str(), skipped);
  EXPECT_GT(figures.files, 0);
  EXPECT_TRUE(figures.mismatches.empty()) << Report(figures);
}

// Documents of kinds the corpus may lack: every corpus file qpdf reads
// cleanly, rewritten by qpdf with object streams generated and in QDF form
// (a sample of files, to keep the time short), and the shared generator's
// documents in each of its forms.
TEST(QpdfComparison, DocumentsMadeAtTestTimeMatchQpdf) {
  if (!ProgramAvailable("qpdf")) GTEST_SKIP() << "qpdf not installed";
  ScratchDir dir;
  std::vector<std::string> made;
  const fs::path corpus = QUILLANE_CORPUS_DIR;
  std::vector<fs::path> inputs = {
      fs::path(QUILLANE_SOURCE_DIR) / "samples" / "sample.pdf",
      fs::path(QUILLANE_SOURCE_DIR) / "samples" / "sample-xrefstream.pdf"};
  if (CorpusAvailable(corpus)) {
    const std::vector<fs::path> files = CorpusFiles(corpus);
    for (std::size_t i = 0; i < files.size(); i += 30) inputs.push_back(files[i]);
  }
  int n = 0;
  for (const fs::path& input : inputs) {
    for (const std::vector<std::string>& flags :
         {std::vector<std::string>{"--object-streams=generate"}, std::vector<std::string>{"--qdf"},
          std::vector<std::string>{"--object-streams=generate", "--compress-streams=n"}}) {
      const std::string out = dir.File("made-" + std::to_string(n++) + ".pdf");
      std::vector<std::string> argv{"qpdf"};
      argv.insert(argv.end(), flags.begin(), flags.end());
      argv.insert(argv.end(), {input.string(), out});
      if (RunProcess(argv).exit_status == 0) made.push_back(out);
    }
  }
  const fs::path generator =
      fs::path(QUILLANE_SOURCE_DIR) / ".." / "shared" / "bench" / "makepdf.py";
  if (fs::exists(generator)) {
    for (const std::vector<std::string>& flags :
         {std::vector<std::string>{"--xref", "table"},
          std::vector<std::string>{"--xref", "stream", "--objstm"},
          std::vector<std::string>{"--xref", "stream", "--objstm", "--smask-every", "3",
                                   "--indirect-length-every", "2", "--form-every", "2", "--updates",
                                   "3"},
          std::vector<std::string>{"--xref", "table", "--updates", "2", "--data", "flate"}}) {
      const std::string out = dir.File("generated-" + std::to_string(n++) + ".pdf");
      std::vector<std::string> argv{"python3", generator.string(), "--mb", "1", "--images", "30"};
      argv.insert(argv.end(), flags.begin(), flags.end());
      argv.push_back(out);
      const ProcessResult result = RunProcess(argv);
      ASSERT_EQ(result.exit_status, 0) << result.err;
      made.push_back(out);
    }
  }
  int unread = 0;
  const Figures figures = CompareFiles(made, unread);
  std::printf("qpdf comparison over documents made at test time: %s\n", Report(figures).c_str());
  EXPECT_GT(figures.files, 10);
  EXPECT_TRUE(figures.mismatches.empty()) << Report(figures);
}

}  // namespace
}  // namespace quillane::test
