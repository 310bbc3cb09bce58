// The comparison every benchmark scenario makes: library and baseline rounds alternate (and
// which of the two goes first alternates too, so that neither always follows the other), and
// the medians of their figures are printed side by side with a line
// "RATIO <name> <library/baseline>".
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace vesk::bench {

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs `rounds` rounds of each side; each call returns its figure for the round. Returns the
// library's median.
inline double Compare(const char* name, const char* unit, int rounds,
                      const std::function<double()>& library,
                      const std::function<double()>& baseline) {
  std::vector<double> lib, base;
  for (int i = 0; i < rounds; ++i) {
    if (i % 2 == 0) {
      lib.push_back(library());
      base.push_back(baseline());
    } else {
      base.push_back(baseline());
      lib.push_back(library());
    }
  }
  const double l = Median(lib), b = Median(base);
  std::printf("%-12s library %12.4g %-9s baseline %12.4g %-9s (median of %d)\n", name, l, unit, b,
              unit, rounds);
  std::printf("RATIO %s %.3f\n", name, l / b);
  std::fflush(stdout);
  return l;
}

// A figure shown for reference beside a comparison, with no ratio: the median of `rounds`
// rounds, labelled with what was measured.
inline void Reference(const char* name, const char* unit, const char* label, int rounds,
                      const std::function<double()>& measure) {
  std::vector<double> figures;
  for (int i = 0; i < rounds; ++i) figures.push_back(measure());
  std::printf("%-12s reference %10.4g %-9s %s (median of %d; no ratio)\n", name, Median(figures),
              unit, label, rounds);
  std::fflush(stdout);
}

}  // namespace vesk::bench
