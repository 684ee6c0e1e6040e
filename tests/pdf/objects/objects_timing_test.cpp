// Timings of the object layer on a real file, for the figures of the report:
// reading the cross-reference, the walk over what the pages draw (with the
// image objects known beforehand, as the run knows them from the image
// walk), and the reachable objects, each the median of several runs beside
// the median of `cp` of the same file; and the peak memory of the process.
// Runs only when QUILLANE_OBJECTS_TIMING names a PDF (it is no check: the
// release build's figures are what count), e.g. the shared generator's
//   makepdf.py --mb 200 --images 20000 --xref stream --objstm
//       --smask-every 5 --indirect-length-every 3 --form-every 7 out.pdf
// timed by
//   QUILLANE_OBJECTS_TIMING=out.pdf quillane_tests --gtest_filter='ObjectsTiming.*'
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "fileaccess/fileaccess.h"
#include "pdf/objects/document_walk.h"
#include "pdf/raw/image_walk.h"
#include "support/test_util.h"

namespace quillane::test {
namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The process's peak resident memory so far, in KiB (Linux).
long PeakKibibytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

TEST(ObjectsTiming, ReadWalkAndReach) {
  const char* path = std::getenv("QUILLANE_OBJECTS_TIMING");
  if (path == nullptr) GTEST_SKIP() << "set QUILLANE_OBJECTS_TIMING to a PDF to time";
  const int rounds = 9;
  const long before = PeakKibibytes();

  std::set<ObjectKey> images;
  {
    WindowedFileAccess source;
    source.Load(path);
    for (const ObjectKey key : FindImageObjects(source, {})) images.insert(key);
  }
  WalkOptions options;
  options.IsKnownImage = [&images](ObjectKey key) { return images.count(key) != 0; };

  ScratchDir dir;
  std::vector<double> copy, read, walk, reach, walkAll;
  std::size_t entries = 0, drawn = 0, reached = 0, pages = 0, decoded = 0;
  for (int round = 0; round < rounds; ++round) {
    const std::string target = dir.File("copy.pdf");
    auto start = Clock::now();
    ASSERT_EQ(RunProcess({"cp", path, target}).exit_status, 0);
    copy.push_back(Milliseconds(Clock::now() - start));
    std::filesystem::remove(target);

    WindowedFileAccess source;
    source.Load(path);
    start = Clock::now();
    CrossReferenceReading reading = CrossReference::Read(source);
    read.push_back(Milliseconds(Clock::now() - start));
    ASSERT_TRUE(reading.Xref) << reading.Reason;
    entries = reading.Xref->EntryCount();
    const Document document(source, std::move(*reading.Xref));
    start = Clock::now();

    const DrawnStreams streams = WalkDrawnStreams(document, options, {});
    walk.push_back(Milliseconds(Clock::now() - start));
    drawn = streams.Streams.size();
    pages = static_cast<std::size_t>(streams.Pages);
    decoded = document.ObjectStreamsDecoded();

    const Document fresh(source, CrossReference::Read(source).Xref.value());
    start = Clock::now();
    WalkDrawnStreams(fresh, WalkOptions{}, {});
    walkAll.push_back(Milliseconds(Clock::now() - start));

    const Document another(source, CrossReference::Read(source).Xref.value());
    start = Clock::now();
    reached = ReachableObjects(another).size();
    reach.push_back(Milliseconds(Clock::now() - start));
  }
  std::printf(
      "%s: %zu entries, %zu pages, %zu drawn streams, %zu object streams decoded, %zu reachable\n"
      "medians of %d: cp %.1f ms; cross-reference %.2f ms; walk %.2f ms (%.2f us a page); "
      "walk reading every XObject %.2f ms; reachable objects %.1f ms\n"
      "peak resident memory: %ld KiB before, %ld KiB after\n",
      path, entries, pages, drawn, decoded, reached, rounds, Median(copy), Median(read),
      Median(walk), 1000 * Median(walk) / static_cast<double>(std::max<std::size_t>(pages, 1)),
      Median(walkAll), Median(reach), before, PeakKibibytes());
}

}  // namespace
}  // namespace quillane::test
