#include "codec/range_coder.h"

namespace gp::codec {

Logistic::Logistic() {
  // The inverse of Squash: for each probability the stretched value whose squash is the
  // largest not above it.
  int x = -2047;
  stretch_[0] = -2047;
  for (int p = 1; p < kProbabilityOne; ++p) {
    while (x < 2047 && Squash(x + 1) <= p) ++x;
    stretch_[static_cast<size_t>(p)] = static_cast<int16_t>(x);
  }
}

const Logistic& LogisticTables() {
  static const Logistic tables;
  return tables;
}

}  // namespace gp::codec
