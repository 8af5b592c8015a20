#include "foundation/vector_types.h"

#include <cmath>

const kivVector kivVector::origin(0.0f, 0.0f, 0.0f);

float kivVector::rangle(const kivVector& w) const {
    double c = static_cast<double>(*this * w) / static_cast<double>(w.length() * length());
    if (c > 1.0) c = 1.0;
    if (c < -1.0) c = -1.0;
    return static_cast<float>(std::acos(c));
}
