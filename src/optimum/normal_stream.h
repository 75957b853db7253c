// Standard normal numbers from a std::mt19937_64 stream by the polar
// method over the engine's raw output. The engine's output is fixed by the
// C++ standard and std::normal_distribution's is not, so this stream is the
// same for a seed wherever the math library rounds log and sqrt alike.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace tavrin::optimum {

class NormalStream {
 public:
  // The stream of replicate `replicate` under `seed`: one engine per
  // replicate, so replicates can be drawn in any order on any thread.
  NormalStream(std::uint64_t seed, std::uint64_t replicate) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           static_cast<std::uint32_t>(replicate), static_cast<std::uint32_t>(replicate >> 32)};
    engine_.seed(sequence);
  }

  double next() {
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    double u = 0.0;
    double v = 0.0;
    double s = 0.0;
    do {
      u = uniform();
      v = uniform();
      s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double factor = std::sqrt(-2.0 * std::log(s) / s);
    spare_ = v * factor;
    hasSpare_ = true;
    return u * factor;
  }

 private:
  static_assert(std::mt19937_64::max() == ~std::uint64_t{0} && std::mt19937_64::min() == 0);

  // Uniform on [-1, 1) with 53 random bits.
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1p-52 - 1.0; }

  std::mt19937_64 engine_;
  double spare_ = 0.0;
  bool hasSpare_ = false;
};

}  // namespace tavrin::optimum
