// Cosine and sine computed the same way on every system and compiler, so
// that results that end up in stored files do not depend on the math
// library: each is the double nearest to the exact value (the argument is
// reduced and the series summed in double-double arithmetic, some 100
// bits), as a correctly rounding library gives it.
#pragma once

namespace teilimp::util {

// cos(r) and sin(r) for |r| <= 8.
void cos_sin(double r, double& c, double& s);

}  // namespace teilimp::util
