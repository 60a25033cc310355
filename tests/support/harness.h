// Helpers shared by the tests: fixtures, photographs, and running effects
// through the driver of a HeadlessHost.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/headless_host.h"

namespace lq::test {

// Absolute path of a file in the source tree.
std::string SourcePath(const std::string& relative);
// One of the bundled photographs: "coffee", "chelsea", "astronaut".
Image LoadPhoto(const std::string& name);

Image Solid(int w, int h, TAlphaColor c);
// Opaque, smooth colour ramps with a few hard edges: exercises both flat and
// edge paths of an effect.
Image TestPattern(int w, int h);
bool WritePng(const Image& img, const std::string& path);

// Runs the routine directly on a fresh transparent surface of src's size, on
// this thread, as a preview or as a synchronous run. A HeadlessHost must exist.
Image RunRoutine(int number, const Image& src, std::array<int, 5> p, bool preview);
// The same through the driver's synchronous entry point.
Image RunSync(HeadlessHost& host, int number, const Image& src, std::array<int, 5> p);

struct CancelResult {
  bool sawProgress = false;
  EffectHost::Outcome outcome = EffectHost::Outcome::Dropped;
  double msFromCancelToEnd = 0;
};
// Starts a full run, sets Cancel right after its first progress report and
// measures how long the run takes to end.
CancelResult CancelAfterFirstProgress(HeadlessHost& host, int number, const Image& src, std::array<int, 5> p,
                                      int timeoutMs = 20000);

// Largest per-channel difference between two images of the same size (-1 if sizes differ).
int MaxChannelDiff(const Image& a, const Image& b);
// True when every pixel satisfies R, G, B <= A.
bool AllPremultipliedValid(const Image& img);

}  // namespace lq::test
