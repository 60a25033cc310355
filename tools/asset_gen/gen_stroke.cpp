#include "tools/asset_gen/gen_stroke.h"

#include <algorithm>
#include <cmath>

namespace lq::gen {

namespace {
constexpr float kPi = 3.14159265358979f;

float Taper(float t, float span, float power) {
  if (span <= 0) return t >= 0 ? 1.0f : 0.0f;
  if (t <= 0) return 0;
  if (t >= span) return 1;
  return std::pow(std::sin(0.5f * kPi * t / span), power);
}
}  // namespace

float StrokeHalfWidth(const StrokeShape& st, float s) {
  if (s < 0 || s > 1) return 0;
  float w = st.halfWidth * (1 + st.widthSlope * (s - 0.5f));
  return w * Taper(s, st.taperStart, st.taperPower) * Taper(1 - s, st.taperEnd, st.taperPower);
}

StrokeCoord MapStroke(const StrokeShape& st, float x, float y) {
  float dx = x - st.cx, dy = y - st.cy;
  float c = std::cos(st.angle), sn = std::sin(st.angle);
  float px = dx * c + dy * sn;   // along the direction of travel
  float py = -dx * sn + dy * c;  // across, positive to the right of travel
  float a, l;
  if (std::fabs(st.curvature) < 1e-5f) {
    a = px;
    l = py;
  } else {
    // Arc through the origin, tangent to the travel direction, its centre at
    // (0, R); a bend the other way is the mirror image.
    float R = 1.0f / st.curvature;
    float sign = R > 0 ? 1.0f : -1.0f;
    R *= sign;
    float qy = py * sign;
    float ddx = px, ddy = qy - R;
    float phi = std::atan2(ddx, -ddy);
    if (std::fabs(phi) > 0.9f * kPi) return {};
    a = R * phi;
    l = (R - std::sqrt(ddx * ddx + ddy * ddy)) * sign;
  }
  StrokeCoord out;
  out.s = a / st.length + 0.5f;
  if (st.wobbleAmp != 0) l -= st.wobbleAmp * std::sin(2 * kPi * st.wobbleFreq * out.s + st.wobblePhase);
  out.l = l;
  out.hw = StrokeHalfWidth(st, out.s);
  out.valid = out.hw > 0.25f;
  return out;
}

float BristleAlpha(const StrokeShape& st, const BristleStyle& b, float x, float y) {
  StrokeCoord c = MapStroke(st, x, y);
  if (!c.valid) return 0;
  const float L = st.length;
  const float s = c.s;
  const float v = c.l / c.hw;
  const uint32_t seed = b.seed * 0x51ed27u;

  // Ragged edges: each side wanders on its own, at two scales.
  uint32_t side = v < 0 ? 101u : 202u;
  float edge = 1 + b.edgeRough * (2 * Noise1(s * L / 11, seed + side) - 1) +
               0.5f * b.edgeRough * (2 * Noise1(s * L / 3, seed + side + 7) - 1);
  float av = std::fabs(v);
  float bristle = (v + 1) * 0.5f * b.bristles;

  // A few stray hairs splay beyond the edge.
  if (av > edge) {
    if (b.strayHairs <= 0 || av > edge + 0.18f) return 0;
    int hair = int(std::floor(bristle * 1.7f));
    if (Hash01(hair, 5, seed) < 0.9f) return 0;
    float f = bristle * 1.7f - float(hair) - 0.5f;
    float across = std::exp(-f * f * 18);
    float endHair = 0.35f + 0.5f * Hash01(hair, 6, seed);
    float along = Smoothstep(0.02f, 0.08f, s) * (1 - Smoothstep(endHair - 0.1f, endHair, s));
    return Clamp01(b.strayHairs * 0.45f * across * along * (1 - (av - edge) / 0.18f));
  }

  // Bristle ends: each bristle starts and runs dry at its own place.
  float endS = 1 - b.endRagged * std::pow(Noise1(bristle * 0.45f, seed + 11), 1.4f) -
               0.03f * Hash01(int(std::floor(bristle)), 1, seed);
  float startS = b.startRagged * Noise1(bristle * 0.6f, seed + 13);
  float fadeIn = Smoothstep(startS, startS + 2.0f / L, s);
  float fadeOut = 1 - Smoothstep(endS - 0.07f, endS + 0.004f, s);
  if (fadeIn <= 0 || fadeOut <= 0) return 0;

  // Streaks: single bristles and clumps carry different amounts of paint.
  float fine = Noise1(bristle, seed + 17);
  float clumpV = Noise1(bristle / 7, seed + 19);
  float load = 1 - b.streak * (1 - fine) - b.clump * (1 - clumpV);

  // Dry brush: towards the end the paint breaks up, weak bristles first.
  float dry = b.dryAmount * Smoothstep(b.dryStart, 1.0f, s);
  float keep = 1;
  if (dry > 0) {
    float n = 0.5f + 0.5f * Noise(s * L / 6.0f, bristle * 0.8f, seed + 23);
    float tooth = 0.5f + 0.5f * Noise(x / 1.7f, y / 1.7f, seed + 29);
    float m = (0.65f * n + 0.35f * tooth) * (0.55f + 0.45f * load);
    keep = Smoothstep(dry - 0.14f, dry + 0.14f, m);
  }

  float aa = std::min(0.5f, 1.4f / c.hw);
  float edgeFade = Smoothstep(edge, edge - aa, av);
  float alpha = b.load * load * keep * fadeIn * fadeOut * edgeFade;
  float blob = b.startBlob * (1 - Smoothstep(0.0f, 0.2f, s)) * edgeFade * fadeIn;
  alpha += blob * (1 - alpha);
  return Clamp01(alpha);
}

}  // namespace lq::gen
