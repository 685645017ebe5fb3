// Memory moves and swaps, item reversal, and plane-vector arithmetic.
//
// The vector routines work in single precision: every product and every sum
// is rounded to float on its own (separate statements, no fused
// multiply-add), so results are the same on every machine.
#include "util/memvec.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "util/text.h"

namespace teilimp::util {

namespace {

constexpr float kPi = 3.14159265358979323846f;

// Exchanges the `size`-byte items at byte offsets front and back, stepping
// towards the middle; (count + 1) / 2 exchanges, the middle item of an odd
// count with itself.
void reverse_items(unsigned char* base, int64_t size, int64_t count) {
    if (size <= 0 || count <= 0) return;
    int64_t front = 0;
    int64_t back = (count - 1) * size;
    for (int64_t i = 0; i < (count + 1) / 2; ++i) {
        taupp(size, base + front, base + back);
        front += size;
        back -= size;
    }
}

}  // namespace

void umsp(int64_t n, const void* src, void* dst) {
    if (n <= 0) return;
    std::memmove(dst, src, static_cast<size_t>(n));
}

void taupp(int64_t n, void* a, void* b) {
    if (n <= 0) return;
    // Small areas (control records, table entries) go through the stack.
    unsigned char small[512];
    std::unique_ptr<unsigned char[]> heap;
    unsigned char* tmp = small;
    if (n > static_cast<int64_t>(sizeof small)) {
        heap.reset(new (std::nothrow) unsigned char[static_cast<size_t>(n)]);
        if (!heap) {
            liberr("taupp-1");
            return;  // both areas stay as they were
        }
        tmp = heap.get();
    }
    const size_t len = static_cast<size_t>(n);
    std::memmove(tmp, b, len);
    std::memmove(b, a, len);
    std::memmove(a, tmp, len);
}

// Offsets are computed in 64-bit arithmetic, so arrays of any size that the
// counts can describe are reversed correctly.
void revitems(void* array, int16_t size, int16_t count) {
    reverse_items(static_cast<unsigned char*>(array), size, count);
}

void revitems4(void* array, int32_t size, int32_t count) {
    reverse_items(static_cast<unsigned char*>(array), size, count);
}

void vk4mul(const Vec2& a, const Vec2& b, Vec2& out) {
    const float xx = a.x * b.x;
    const float yy = a.y * b.y;
    const float yx = a.y * b.x;
    const float xy = a.x * b.y;
    const float rx = xx - yy;
    const float ry = yx + xy;
    out.x = rx;
    out.y = ry;
}

void vk4rel(const Vec2& a, const Vec2& b, Vec2& out) {
    if (a.x == b.x && a.y == b.y) {
        out.x = 1.0f;
        out.y = 0.0f;
        return;
    }
    const float xx = a.x * b.x;
    const float yy = a.y * b.y;
    const float yx = a.y * b.x;
    const float xy = a.x * b.y;
    const float rx = xx + yy;
    const float ry = yx - xy;
    out.x = rx;
    out.y = ry;
}

void wsum(float alpha, float beta, float& out) {
    const Vec2 a{std::cos(alpha), std::sin(alpha)};
    const Vec2 b{std::cos(beta), std::sin(beta)};
    Vec2 r;
    vk4mul(a, b, r);
    out = std::atan2(r.y, r.x);
}

void wdiff(float alpha, float beta, float& out) {
    const Vec2 a{std::cos(alpha), std::sin(alpha)};
    const Vec2 b{std::cos(beta), -std::sin(beta)};  // conjugate
    Vec2 r;
    vk4mul(a, b, r);
    out = std::atan2(r.y, r.x);
}

float atan2pi(float y, float x) {
    // On the negative x axis the angle is +pi, also for a y of -0 or a tiny
    // negative y.
    if (std::fabs(y) < 1e-10f && x < -1e-10f) return kPi;
    return std::atan2(y, x);
}

void vk4left(const Vec2& a, Vec2& out) {
    const float x = -a.y;
    const float y = a.x;
    out.x = x;
    out.y = y;
}

void vk4right(const Vec2& a, Vec2& out) {
    const float x = a.y;
    const float y = -a.x;
    out.x = x;
    out.y = y;
}

void vk4turn(const Vec2& p, const Vec2& q, float t, Vec2& out) {
    Vec2 rel;
    vk4rel(q, p, rel);
    const float phi = atan2pi(rel.y, rel.x);
    const float angle = t * phi;
    const Vec2 turn{std::cos(angle), std::sin(angle)};
    vk4mul(p, turn, out);
}

void vk4mirr(const Vec2& p, const Vec2& q, Vec2& out) {
    Vec2 g;
    vk4rel(p, q, g);
    g.y = -g.y;
    vk4mul(g, q, out);
}

void vk4norm(Vec2& v) {
    const float xx = v.x * v.x;
    const float yy = v.y * v.y;
    const float sum = xx + yy;
    const float length = std::sqrt(sum);
    if (length > 0.001f) {
        v.x = v.x / length;
        v.y = v.y / length;
        return;
    }
    v.x = 0.0f;
    v.y = 1.0f;
    liberr("vk4norm", 8);
}

}  // namespace teilimp::util
