#include "signalfixture.h"

#include <cmath>

std::vector<int16_t> MakeChirp(uint32_t rate, uint64_t frames, double f0, double f1,
                               double amplitude) {
  std::vector<int16_t> out(frames);
  const double duration = static_cast<double>(frames) / rate;
  for (uint64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2.0 * M_PI * (f0 * t + (f1 - f0) * t * t / (2.0 * duration));
    out[i] = static_cast<int16_t>(std::lrint(amplitude * 32767.0 * std::sin(phase)));
  }
  return out;
}

std::vector<int16_t> InterleaveStereo(const std::vector<int16_t>& left,
                                      const std::vector<int16_t>& right) {
  std::vector<int16_t> out(left.size() * 2);
  for (size_t i = 0; i < left.size(); ++i) {
    out[2 * i] = left[i];
    out[2 * i + 1] = i < right.size() ? right[i] : 0;
  }
  return out;
}

TLag BestLag(const std::vector<int16_t>& reference, uint16_t refChannels, uint16_t refChannel,
             const std::vector<int16_t>& decoded, uint16_t decChannels, uint16_t decChannel,
             uint64_t from, uint64_t count, int maxLag) {
  TLag best;
  best.correlation = -2.0;
  const int64_t decFrames = decChannels ? static_cast<int64_t>(decoded.size() / decChannels) : 0;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double ab = 0, aa = 0, bb = 0;
    for (uint64_t i = from; i < from + count; ++i) {
      const int64_t j = static_cast<int64_t>(i) + lag;
      if (j < 0 || j >= decFrames || (i + 1) * refChannels > reference.size()) continue;
      const double a = reference[i * refChannels + refChannel];
      const double b = decoded[static_cast<size_t>(j) * decChannels + decChannel];
      ab += a * b;
      aa += a * a;
      bb += b * b;
    }
    const double c = (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0.0;
    if (c > best.correlation) {
      best.correlation = c;
      best.lag = lag;
    }
  }
  return best;
}
