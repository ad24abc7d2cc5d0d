#include "core/geometry/geometry3d.h"

#include <cmath>
#include <limits>

namespace ombrix {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void sincos_pair(double t, double* s, double* c) { ::sincos(t, s, c); }
}  // namespace

Mat3 rotation_x(double t) {
    double s, c;
    sincos_pair(t, &s, &c);
    return {1, 0, 0, 0, c, -s, 0, s, c};
}
Mat3 rotation_y(double t) {
    double s, c;
    sincos_pair(t, &s, &c);
    return {c, 0, s, 0, 1, 0, -s, 0, c};
}
Mat3 rotation_z(double t) {
    double s, c;
    sincos_pair(t, &s, &c);
    return {c, -s, 0, s, c, 0, 0, 0, 1};
}

Mat3 rotation_from_euler(const char* axes, const Vec3& r) {
    Mat3 f[3];
    for (int k = 0; k < 3; ++k) {
        switch (axes[k]) {
            case 'x': f[k] = rotation_x(r[k]); break;
            case 'y': f[k] = rotation_y(r[k]); break;
            default: f[k] = rotation_z(r[k]); break;
        }
    }
    return mul3(mul3(f[0], f[1]), f[2]);
}

Mat3 rotation_from_axis_angle(const Vec3& r) {
    double theta = std::sqrt((r[0] * r[0] + r[1] * r[1]) + r[2] * r[2]);
    if (!(theta > 1e-12)) return mat3_identity();
    double kx = r[0] / theta, ky = r[1] / theta, kz = r[2] / theta;
    double s, c;
    sincos_pair(theta, &s, &c);
    double t = 1.0 - c;
    return {(t * kx) * kx + c,      (t * kx) * ky - kz * s, (t * kx) * kz + ky * s,
            (t * kx) * ky + kz * s, (t * ky) * ky + c,      (t * ky) * kz - kx * s,
            (t * kx) * kz - ky * s, (t * ky) * kz + kx * s, (t * kz) * kz + c};
}

Result<Mat3> rotation_from_quaternion(const Vec4& q) {
    double w = q[0], x = q[1], y = q[2], z = q[3];
    double n2 = (y * y + w * w) + (x * x + z * z);
    if (n2 == 0.0 || !std::isfinite(n2)) return fail("quaternion must be finite and have non-zero norm");
    double n = std::sqrt(n2);
    w /= n;
    x /= n;
    y /= n;
    z /= n;
    double X = 2 * x, Y = 2 * y, Z = 2 * z;
    return Mat3{1 - (Y * y + z * Z), x * Y - Z * w,       x * Z + Y * w,
                x * Y + Z * w,       1 - (z * Z + x * X), y * Z - w * X,
                x * Z - Y * w,       w * X + y * Z,       1 - (x * X + Y * y)};
}

Vec3 mean_of(const std::vector<Vec3>& pts) {
    Vec3 m{0.0, 0.0, 0.0};
    if (pts.empty()) return m;
    for (const Vec3& p : pts) {
        m[0] += p[0];
        m[1] += p[1];
        m[2] += p[2];
    }
    double n = static_cast<double>(pts.size());
    return {m[0] / n, m[1] / n, m[2] / n};
}

Vec3 min_bound_of(const std::vector<Vec3>& pts) {
    Vec3 b{kNaN, kNaN, kNaN};
    for (const Vec3& p : pts)
        for (int k = 0; k < 3; ++k) b[k] = std::fmin(b[k], p[k]);
    return b;
}

Vec3 max_bound_of(const std::vector<Vec3>& pts) {
    Vec3 b{kNaN, kNaN, kNaN};
    for (const Vec3& p : pts)
        for (int k = 0; k < 3; ++k) b[k] = std::fmax(b[k], p[k]);
    return b;
}

void translate_points(std::vector<Vec3>& pts, const Vec3& t, bool relative) {
    if (pts.empty()) return;
    Vec3 d = t;
    if (!relative) {
        Vec3 m = mean_of(pts);
        d = {t[0] - m[0], t[1] - m[1], t[2] - m[2]};
    }
    for (Vec3& p : pts) {
        p[0] += d[0];
        p[1] += d[1];
        p[2] += d[2];
    }
}

void scale_points(std::vector<Vec3>& pts, double scale, const Vec3& c) {
    for (Vec3& p : pts)
        for (int k = 0; k < 3; ++k) p[k] = (p[k] - c[k]) * scale + c[k];
}

void rotate_points(std::vector<Vec3>& pts, const Mat3& m, const Vec3& c) {
    for (Vec3& p : pts) {
        Vec3 e = apply3(m, {p[0] - c[0], p[1] - c[1], p[2] - c[2]});
        p = {e[0] + c[0], e[1] + c[1], e[2] + c[2]};
    }
}

void rotate_vectors(std::vector<Vec3>& vs, const Mat3& m) {
    for (Vec3& v : vs) v = apply3(m, v);
}

void transform_points(std::vector<Vec3>& pts, const Mat4& T) {
    for (Vec3& p : pts) {
        double x = p[0], y = p[1], z = p[2];
        double w = ((T[12] * x + T[13] * y) + T[14] * z) + T[15];
        if (std::fabs(w) > 1e-9) {
            Vec3 q;
            for (int i = 0; i < 3; ++i) q[i] = ((T[i * 4 + 0] * x + T[i * 4 + 1] * y) + T[i * 4 + 2] * z) + T[i * 4 + 3];
            p = {q[0] / w, q[1] / w, q[2] / w};
        } else {
            p = {kNaN, kNaN, kNaN};
        }
    }
}

void transform_normals(std::vector<Vec3>& normals, const Mat4& T) {
    double a = T[0], b = T[1], c = T[2];
    double d = T[4], e = T[5], f = T[6];
    double g = T[8], h = T[9], i = T[10];
    double det = (a * (e * i - h * f) + d * (c * h - b * i)) + g * (b * f - c * e);
    Mat3 inv = mat3_identity();
    if (std::fabs(det) > 1e-12) {
        double rho = 1.0 / det;
        inv = {(e * i - h * f) * rho, (c * h - b * i) * rho, (b * f - c * e) * rho,
               (f * g - d * i) * rho, (a * i - c * g) * rho, (c * d - a * f) * rho,
               (d * h - e * g) * rho, (b * g - a * h) * rho, (a * e - b * d) * rho};
    }
    Mat3 m = transpose3(inv);
    for (Vec3& n : normals) n = stable_normalize(apply3(m, n), kZeroFallback);
}

Vec3 stable_normalize(const Vec3& v, const Vec3& fallback) {
    // Largest absolute component, ignoring NaN components.
    double H = kNaN;
    for (int k = 0; k < 3; ++k) H = std::fmax(H, std::fabs(v[k]));
    double x = v[0] / H, y = v[1] / H, z = v[2] / H;
    double s = (x * x + y * y) + z * z;
    if (s > 0) {
        double d = std::sqrt(s) * H;
        Vec3 r{v[0] / d, v[1] / d, v[2] / d};
        if (std::isnan(r[0])) return fallback;
        return r;
    }
    if (std::isnan(v[0])) return fallback;
    return v;
}

}  // namespace ombrix
