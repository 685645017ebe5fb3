// Cosine and sine computed the same way on every system and compiler, so
// that results that end up in stored files do not depend on the math
// library: each is the double nearest to the exact value (the argument is
// reduced and the series summed in double-double arithmetic, some 100
// bits), as a correctly rounding library gives it.
#pragma once

namespace teilimp::util {

// cos(r) and sin(r) for |r| <= 8.
void cos_sin(double r, double& c, double& s);

// The same rounded to float: exactly the floats of cos_sin's results, found
// mostly by a plain double evaluation whose error is bounded far below
// the gap between floats; only where that bound reaches across a
// rounding boundary of the floats is cos_sin itself asked.
void cos_sin_float(double r, float& c, float& s);

}  // namespace teilimp::util
