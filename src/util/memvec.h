// Memory moves and swaps, item reversal, and plane-vector arithmetic on
// pairs of single-precision reals (angles in radians).
#pragma once

#include <cstddef>
#include <cstdint>

namespace teilimp::util {

// Moves n bytes from src to dst; overlapping areas are handled.
void umsp(int64_t n, const void* src, void* dst);
// Exchanges two n-byte areas (n <= 0: nothing).
void taupp(int64_t n, void* a, void* b);
// Reverses `count` items of `size` bytes in place.
void revitems(void* array, int16_t size, int16_t count);
void revitems4(void* array, int32_t size, int32_t count);

struct Vec2 { float x = 0, y = 0; };

void vk4mul(const Vec2& a, const Vec2& b, Vec2& out);   // complex product
void vk4rel(const Vec2& a, const Vec2& b, Vec2& out);   // a * conj(b), (1,0) if a == b
void wsum(float alpha, float beta, float& out);         // alpha + beta in -pi..pi
void wdiff(float alpha, float beta, float& out);        // alpha - beta in -pi..pi
float atan2pi(float y, float x);                        // (-pi, pi], +pi on the -x axis
void vk4left(const Vec2& a, Vec2& out);                 // turned by +90 degrees
void vk4right(const Vec2& a, Vec2& out);                // turned by -90 degrees
void vk4turn(const Vec2& p, const Vec2& q, float t, Vec2& out);
void vk4mirr(const Vec2& p, const Vec2& q, Vec2& out);
void vk4norm(Vec2& v);

}  // namespace teilimp::util
