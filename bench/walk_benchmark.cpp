// Micro-benchmarks of the image walk alone, in bytes per second, on documents
// held in memory: the bulk of a scanned document (image samples, where a "/"
// falls about every 256 bytes) and text dense with dictionary names, the
// walk's slowest kind of input. Built only with the benchmark option on.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fileaccess/fileaccess.h"
#include "pdf/raw/image_walk.h"

namespace quillane {
namespace {

constexpr std::size_t kDocumentBytes = std::size_t{64} << 20;

// One image object every `spacing` bytes, its samples random bytes.
std::string SampleDocument(std::size_t spacing) {
  std::mt19937_64 random(7);
  std::string document = "%PDF-1.7\n";
  for (int number = 1; document.size() < kDocumentBytes; ++number) {
    document += std::to_string(number) +
                " 0 obj\n<</Type/XObject/Subtype/Image/Width 100/Height 100"
                "/ColorSpace/DeviceGray/BitsPerComponent 8>>\nstream\n";
    for (std::size_t i = 0; i < spacing / 8; ++i) {
      const std::uint64_t bits = random();
      document.append(reinterpret_cast<const char*>(&bits), sizeof bits);
    }
    document += "\nendstream\nendobj\n";
  }
  return document;
}

// Page and font dictionaries, nothing but names and numbers.
std::string NameDenseDocument() {
  const std::string object =
      "<</Type/Page/Parent 2 0 R/Resources<</Font<</F1 5 0 R/F2 6 0 R>>"
      "/ProcSet[/PDF/Text/ImageB/ImageC]>>/MediaBox[0 0 612 792]/Contents 9 0 R>>\n";
  std::string document = "%PDF-1.7\n";
  for (int number = 1; document.size() < kDocumentBytes; ++number) {
    document += std::to_string(number) + " 0 obj\n" + object + "endobj\n";
  }
  return document;
}

// Writes `document` to a temporary file and loads it, as a run does.
class LoadedDocument {
 public:
  explicit LoadedDocument(const std::string& document) {
    path_ = std::filesystem::temp_directory_path() /
            ("quillane-walk-benchmark-" + std::to_string(std::random_device{}()) + ".pdf");
    std::ofstream(path_, std::ios::binary) << document;
    source_.Load(path_.string());
  }
  ~LoadedDocument() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  FileAccess& Source() { return source_; }

 private:
  std::filesystem::path path_;
  WindowedFileAccess source_;
};

void Walk(benchmark::State& state, const std::string& document) {
  LoadedDocument loaded(document);
  const LogHook noLog;
  std::vector<ObjectKey> keys;
  for (auto _ : state) {
    keys = FindImageObjects(loaded.Source(), noLog);
    benchmark::DoNotOptimize(keys.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * loaded.Source().Size());
  state.counters["images"] = static_cast<double>(keys.size());
}

void BM_WalkImageSamples(benchmark::State& state) {
  Walk(state, SampleDocument(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_WalkImageSamples)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_WalkNameDenseText(benchmark::State& state) { Walk(state, NameDenseDocument()); }
BENCHMARK(BM_WalkNameDenseText)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillane

BENCHMARK_MAIN();
