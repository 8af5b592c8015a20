#include "foundation/fscale.h"

kivFscale::kivFscale(float n_low, float n_high, float r_low, float r_high)
    : scale((r_high - r_low) / (n_high - n_low)),
      rlow(r_low),
      rhigh(r_high),
      nlow(n_low),
      nhigh(n_high) {}
