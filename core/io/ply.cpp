#include "core/io/ply.h"

#include "core/numtext.h"

#include <algorithm>
#include <charconv>

namespace ombrix::io {

namespace {

// Decodes the code point ending at s[end-1] (valid UTF-8 assumed); returns its byte length.
size_t last_code_point(std::string_view s, uint32_t* cp) {
    size_t i = s.size() - 1, len = 1;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80 && len < 4) --i, ++len;
    const auto* u = reinterpret_cast<const unsigned char*>(s.data() + i);
    if (len == 1) *cp = u[0];
    else if (len == 2) *cp = ((u[0] & 0x1Fu) << 6) | (u[1] & 0x3Fu);
    else if (len == 3) *cp = ((u[0] & 0x0Fu) << 12) | ((u[1] & 0x3Fu) << 6) | (u[2] & 0x3Fu);
    else *cp = ((u[0] & 0x07u) << 18) | ((u[1] & 0x3Fu) << 12) | ((u[2] & 0x3Fu) << 6) | (u[3] & 0x3Fu);
    return len;
}

size_t first_code_point(std::string_view s, uint32_t* cp) {
    const auto* u = reinterpret_cast<const unsigned char*>(s.data());
    if (u[0] < 0x80) {
        *cp = u[0];
        return 1;
    }
    if (u[0] < 0xE0) {
        *cp = ((u[0] & 0x1Fu) << 6) | (u[1] & 0x3Fu);
        return 2;
    }
    if (u[0] < 0xF0) {
        *cp = ((u[0] & 0x0Fu) << 12) | ((u[1] & 0x3Fu) << 6) | (u[2] & 0x3Fu);
        return 3;
    }
    *cp = ((u[0] & 0x07u) << 18) | ((u[1] & 0x3Fu) << 12) | ((u[2] & 0x3Fu) << 6) | (u[3] & 0x3Fu);
    return 4;
}

// Unicode White_Space.
bool is_white_space(uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_white_space(std::string_view s) {
    uint32_t cp;
    while (!s.empty()) {
        size_t n = first_code_point(s, &cp);
        if (!is_white_space(cp)) break;
        s.remove_prefix(n);
    }
    while (!s.empty()) {
        size_t n = last_code_point(s, &cp);
        if (!is_white_space(cp)) break;
        s.remove_suffix(n);
    }
    return s;
}

// Splits a header line into at most `max` tokens; returns how many.
size_t split_tokens(std::string_view line, std::string_view* tok, size_t max) {
    size_t n = 0, i = 0;
    while (n < max) {
        while (i < line.size() && is_separator(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        size_t s = i;
        while (i < line.size() && !is_separator(static_cast<unsigned char>(line[i]))) ++i;
        tok[n++] = line.substr(s, i - s);
    }
    return n;
}

// Unsigned decimal of at most 64 bits with an optional leading "+".
bool parse_count(std::string_view t, uint64_t* out) {
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    if (t.empty()) return false;
    uint64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
        if (__builtin_mul_overflow(v, 10u, &v) || __builtin_add_overflow(v, static_cast<uint64_t>(c - '0'), &v))
            return false;
    }
    *out = v;
    return true;
}

// Saturating helpers for the size bound.
uint64_t sat_add(uint64_t a, uint64_t b) {
    uint64_t r;
    return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}
uint64_t sat_mul(uint64_t a, uint64_t b) {
    uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

template <class T>
inline T load_value(const unsigned char* p, bool le) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    if constexpr (sizeof(T) > 1) {
        if (!le) {
            unsigned char b[sizeof(T)];
            std::memcpy(b, p, sizeof(T));
            std::reverse(b, b + sizeof(T));
            std::memcpy(&v, b, sizeof(T));
        }
    }
    return v;
}

template <class T>
void decode_typed(bool colour, double* dst, const unsigned char* src, size_t n, size_t stride, bool le) {
    for (size_t i = 0; i < n; ++i, src += stride, dst += 3) {
        double v = static_cast<double>(load_value<T>(src, le));
        *dst = colour ? v / 255.0 : v;
    }
}

// n values of one property, `stride` bytes apart, into every third double of dst.
void decode_column(PlyType t, bool colour, double* dst, const unsigned char* src, size_t n, size_t stride, bool le) {
    switch (t) {
        case PlyType::Int8: return decode_typed<int8_t>(colour, dst, src, n, stride, le);
        case PlyType::UInt8: return decode_typed<uint8_t>(colour, dst, src, n, stride, le);
        case PlyType::Int16: return decode_typed<int16_t>(colour, dst, src, n, stride, le);
        case PlyType::UInt16: return decode_typed<uint16_t>(colour, dst, src, n, stride, le);
        case PlyType::Int32: return decode_typed<int32_t>(colour, dst, src, n, stride, le);
        case PlyType::UInt32: return decode_typed<uint32_t>(colour, dst, src, n, stride, le);
        case PlyType::Float32: return decode_typed<float>(colour, dst, src, n, stride, le);
        case PlyType::Float64: return decode_typed<double>(colour, dst, src, n, stride, le);
    }
}

// Where vertex properties go: kind 0 none, 1 position, 2 normal, 3 colour.
struct VertexTarget {
    uint8_t kind = 0;
    uint8_t comp = 0;
};

// Fills positions, normals and colours of the chosen vertex element. A binary
// element of fixed-size rows is decoded row by row into reserved arrays (no
// zero fill, one pass); otherwise the arrays start zeroed and take values one
// at a time.
struct VertexSink {
    size_t element = SIZE_MAX;
    std::vector<VertexTarget> targets;
    std::vector<Vec3>* arrays[4] = {nullptr, nullptr, nullptr, nullptr};
    double* bases[4] = {nullptr, nullptr, nullptr, nullptr};
    bool row_mode = false;
    const PlyElement* el = nullptr;

    // Chooses the vertex element and sizes the arrays; false when unusable.
    bool setup(const PlyHeader& h, std::vector<Vec3>& points, std::vector<Vec3>& normals, std::vector<Vec3>& colors) {
        auto e = find_element(h, "vertex");
        if (!e) return false;
        el = &h.elements[*e];
        if (!find_prop(el->properties, "x") || el->count == 0) return false;
        element = *e;
        arrays[1] = &points;
        if (find_prop(el->properties, "nx")) arrays[2] = &normals;
        if (find_prop(el->properties, "red")) arrays[3] = &colors;
        row_mode = !h.ascii;
        for (const PlyProperty& p : el->properties)
            if (p.is_list) row_mode = false;
        for (int k = 1; k < 4; ++k) {
            if (!arrays[k]) continue;
            if (row_mode) {
                arrays[k]->clear();
                arrays[k]->reserve(el->count);
            } else {
                arrays[k]->assign(el->count, Vec3{0.0, 0.0, 0.0});
                bases[k] = arrays[k]->data()->data();
            }
        }
        static const char* const names[3][3] = {{"x", "y", "z"}, {"nx", "ny", "nz"}, {"red", "green", "blue"}};
        targets.resize(el->properties.size());
        for (size_t k = 0; k < el->properties.size(); ++k) {
            for (uint8_t kind = 0; kind < 3; ++kind)
                for (uint8_t c = 0; c < 3; ++c)
                    if (el->properties[k].name == names[kind][c] && arrays[kind + 1])
                        targets[k] = {uint8_t(kind + 1), c};
        }
        return true;
    }

    inline void store(uint64_t row, size_t prop, double v) const {
        const VertexTarget t = targets[prop];
        if (t.kind == 0) return;
        if (t.kind == 3) v = v / 255.0;
        bases[t.kind][row * 3 + t.comp] = v;
    }

    // Decodes `count` rows of the vertex element starting at `u` (bounds
    // already checked by the walker). Rows go through a small block buffer one
    // property at a time, so the type dispatch happens once per block, and are
    // then appended to the reserved arrays.
    bool fixed_rows(size_t e, const unsigned char* u, uint64_t count, bool le) const {
        if (e != element || !row_mode) return false;
        struct Op {
            size_t offset;
            PlyType type;
            VertexTarget t;
        };
        std::vector<Op> ops;
        size_t stride = 0;
        for (size_t k = 0; k < el->properties.size(); ++k) {
            const PlyType type = el->properties[k].value_type;
            if (targets[k].kind) ops.push_back({stride, type, targets[k]});
            stride += ply_type_size(type);
        }
        constexpr size_t kBlock = 256;
        std::vector<Vec3> block(3 * kBlock);
        for (uint64_t start = 0; start < count; start += kBlock) {
            const size_t nb = static_cast<size_t>(std::min<uint64_t>(kBlock, count - start));
            std::fill(block.begin(), block.end(), Vec3{0.0, 0.0, 0.0});
            const unsigned char* rows = u + start * stride;
            for (const Op& op : ops) {
                double* dst = block[(op.t.kind - 1) * kBlock].data() + op.t.comp;
                decode_column(op.type, op.t.kind == 3, dst, rows + op.offset, nb, stride, le);
            }
            for (int k = 1; k < 4; ++k)
                if (arrays[k]) {
                    const Vec3* b = block.data() + (k - 1) * kBlock;
                    arrays[k]->insert(arrays[k]->end(), b, b + nb);
                }
        }
        return true;
    }
};

// Reads the header and the vertex arrays common to both readers.
bool prepare_vertices(std::string_view bytes, const PlyHeader& h, VertexSink& sink, std::vector<Vec3>& points,
                      std::vector<Vec3>& normals, std::vector<Vec3>& colors) {
    // The arrays are sized from the declared count only once the body is known
    // to be large enough to hold every declared value.
    if (!ply_body_may_fit(bytes, h)) return false;
    return sink.setup(h, points, normals, colors);
}

}  // namespace

std::optional<PlyType> ply_type_from_name(std::string_view n) {
    if (n == "char" || n == "int8") return PlyType::Int8;
    if (n == "uchar" || n == "uint8") return PlyType::UInt8;
    if (n == "short" || n == "int16") return PlyType::Int16;
    if (n == "ushort" || n == "uint16") return PlyType::UInt16;
    if (n == "int" || n == "int32") return PlyType::Int32;
    if (n == "uint" || n == "uint32") return PlyType::UInt32;
    if (n == "float" || n == "float32") return PlyType::Float32;
    if (n == "double" || n == "float64") return PlyType::Float64;
    return std::nullopt;
}

Result<PlyHeader> parse_header(std::string_view bytes) {
    PlyHeader h;
    bool have_format = false;
    size_t pos = 0;
    bool first = true;
    for (;;) {
        size_t lf = bytes.find('\n', pos);
        if (lf == std::string_view::npos) return fail("missing line feed in header");
        std::string_view line = bytes.substr(pos, lf - pos);
        pos = lf + 1;
        if (!is_valid_utf8(line)) return fail("header line is not UTF-8");
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            if (trim_white_space(line) != "ply") return fail("not a PLY file");
            first = false;
            continue;
        }
        std::string_view tok[5];
        size_t n = split_tokens(line, tok, 5);
        if (n == 0) continue;
        const std::string_view kw = tok[0];
        if (kw == "format") {
            if (n < 2) return fail("missing format");
            if (tok[1] == "ascii") {
                h.ascii = true;
                h.little_endian = true;
            } else if (tok[1] == "binary_little_endian") {
                h.ascii = false;
                h.little_endian = true;
            } else if (tok[1] == "binary_big_endian") {
                h.ascii = false;
                h.little_endian = false;
            } else {
                return fail("bad format");
            }
            have_format = true;
        } else if (kw == "element") {
            if (n < 3) return fail("missing element tokens");
            PlyElement el;
            el.name = std::string(tok[1]);
            if (!parse_count(tok[2], &el.count)) return fail("invalid element count");
            h.elements.push_back(std::move(el));
        } else if (kw == "property") {
            if (h.elements.empty()) return fail("property before any element");
            PlyProperty pr;
            if (n >= 2 && tok[1] == "list") {
                if (n < 5) return fail("missing property tokens");
                auto ct = ply_type_from_name(tok[2]);
                auto vt = ply_type_from_name(tok[3]);
                if (!ct || !vt) return fail("bad type name");
                pr.is_list = true;
                pr.count_type = *ct;
                pr.value_type = *vt;
                pr.name = std::string(tok[4]);
            } else {
                if (n < 3) return fail("missing property tokens");
                auto vt = ply_type_from_name(tok[1]);
                if (!vt) return fail("bad type name");
                pr.value_type = *vt;
                pr.name = std::string(tok[2]);
            }
            h.elements.back().properties.push_back(std::move(pr));
        } else if (kw == "end_header") {
            if (!have_format) return fail("end_header without format");
            h.body_offset = pos;
            return h;
        }
        // "comment", "obj_info" and unknown keywords: ignored.
    }
}

std::optional<size_t> find_prop(const std::vector<PlyProperty>& properties, std::string_view name) {
    for (size_t i = 0; i < properties.size(); ++i)
        if (properties[i].name == name) return i;
    return std::nullopt;
}

std::optional<size_t> find_element(const PlyHeader& header, std::string_view name) {
    for (size_t i = 0; i < header.elements.size(); ++i)
        if (header.elements[i].name == name) return i;
    return std::nullopt;
}

bool ply_body_may_fit(std::string_view bytes, const PlyHeader& h) {
    if (h.body_offset > bytes.size()) return false;
    const uint64_t body = bytes.size() - h.body_offset;
    uint64_t need = 0;
    for (const PlyElement& el : h.elements) {
        if (el.count == 0 || el.properties.empty()) continue;
        uint64_t row = 0;
        for (const PlyProperty& p : el.properties) {
            if (h.ascii) row += 2;  // a token and a separator
            else row += ply_type_size(p.is_list ? p.count_type : p.value_type);
        }
        need = sat_add(need, sat_mul(el.count, row));
    }
    if (h.ascii && need > 0) need -= 1;  // the last token needs no separator
    return need <= body;
}

Result<PointCloud> read_point_cloud_from_ply_file(std::string_view bytes) {
    auto hr = parse_header(bytes);
    if (!hr) return fail(hr.error());
    const PlyHeader& h = *hr;
    PointCloud cloud;
    VertexSink sink;
    if (!prepare_vertices(bytes, h, sink, cloud.points, cloud.normals, cloud.colors)) return fail("no usable vertices");
    struct Consumer {
        const VertexSink& s;
        bool wants(size_t e) const { return e == s.element; }
        bool fixed_rows(size_t e, const unsigned char* u, uint64_t n, bool le) const {
            return s.fixed_rows(e, u, n, le);
        }
        bool operator()(size_t e, uint64_t row, size_t prop, uint64_t, uint64_t, double v) const {
            s.store(row, prop, v);
            return true;
        }
    } consumer{sink};
    if (!read_ply_data(bytes, h, consumer)) return fail("invalid PLY body");
    return cloud;
}

Result<TriangleMesh> read_triangle_mesh_from_ply_file(std::string_view bytes) {
    auto hr = parse_header(bytes);
    if (!hr) return fail(hr.error());
    const PlyHeader& h = *hr;
    TriangleMesh mesh;
    VertexSink sink;
    if (!prepare_vertices(bytes, h, sink, mesh.vertices, mesh.vertex_normals, mesh.vertex_colors))
        return fail("no usable vertices");
    size_t face_el = SIZE_MAX, face_prop = SIZE_MAX;
    if (auto f = find_element(h, "face")) {
        auto p = find_prop(h.elements[*f].properties, "vertex_indices");
        if (!p) p = find_prop(h.elements[*f].properties, "vertex_index");
        if (p) {
            face_el = *f;
            face_prop = *p;
        }
    }
    // Polygons kept flat: corners of all polygons, and where each one ends.
    std::vector<uint32_t> corners;
    std::vector<size_t> ends;
    struct Consumer {
        const VertexSink& s;
        size_t face_el, face_prop;
        std::vector<uint32_t>& corners;
        std::vector<size_t>& ends;
        bool wants(size_t e) const { return e == s.element || e == face_el; }
        bool fixed_rows(size_t e, const unsigned char* u, uint64_t n, bool le) const {
            return s.fixed_rows(e, u, n, le);
        }
        bool operator()(size_t e, uint64_t row, size_t prop, uint64_t item, uint64_t len, double v) {
            if (e == s.element) s.store(row, prop, v);
            if (e != face_el || prop != face_prop) return true;
            if (item == 0) {
                corners.resize(ends.empty() ? 0 : ends.back());
                return true;
            }
            // Finite, not negative (negative zero is fine), whole, 32-bit.
            if (!(v >= 0.0 && v <= 4294967295.0) || std::trunc(v) != v) return false;
            corners.push_back(static_cast<uint32_t>(v));
            if (item == len) ends.push_back(corners.size());
            return true;
        }
    } consumer{sink, face_el, face_prop, corners, ends};
    if (!read_ply_data(bytes, h, consumer)) return fail("invalid PLY body");
    // Ear tests allowed for the whole read: generous for real meshes, and a
    // bound on the time a hostile polygon can take.
    uint64_t budget = (uint64_t{1} << 27) + 128 * static_cast<uint64_t>(bytes.size());
    size_t start = 0;
    mesh.triangles.reserve(ends.size());
    for (size_t end : ends) {
        if (!triangulate_polygon(corners.data() + start, end - start, mesh.vertices, mesh.triangles, budget))
            return fail("polygon cannot be triangulated");
        start = end;
    }
    return mesh;
}

namespace {

Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 cross(const Vec3& u, const Vec3& v) {
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

// Crossing-number test in the x-y plane against the triangle's three edges.
bool inside_xy(const Vec3& V, const Vec3& a, const Vec3& b, const Vec3& c) {
    const Vec3* edges[3][2] = {{&a, &b}, {&b, &c}, {&c, &a}};
    bool odd = false;
    for (auto& e : edges) {
        const Vec3& U = *e[0];
        const Vec3& W = *e[1];
        if (((U[1] <= V[1] && V[1] < W[1]) || (W[1] <= V[1] && V[1] < U[1])) &&
            V[0] > ((V[1] - U[1]) * (W[0] - U[0])) / (W[1] - U[1]) + U[0])
            odd = !odd;
    }
    return odd;
}

Vec3i tri(uint32_t a, uint32_t b, uint32_t c) {
    return {static_cast<int32_t>(a), static_cast<int32_t>(b), static_cast<int32_t>(c)};
}

}  // namespace

bool triangulate_polygon(const uint32_t* corners, size_t m, const std::vector<Vec3>& P, std::vector<Vec3i>& out,
                         uint64_t& budget) {
    if (m < 3) return false;
    for (size_t k = 0; k < m; ++k)
        if (corners[k] >= P.size()) return false;
    if (m == 3) {
        out.push_back(tri(corners[0], corners[1], corners[2]));
        return true;
    }
    std::vector<uint32_t> q(corners, corners + m);
    Vec3 N{0.0, 0.0, 0.0};
    for (size_t k = 1; k <= m; ++k) {
        const Vec3& A = P[q[k - 1]];
        const Vec3& B = P[q[k % m]];
        const Vec3& C = P[q[(k + 1) % m]];
        Vec3 t = cross(sub(B, A), sub(C, B));
        N[0] += t[0];
        N[1] += t[1];
        N[2] += t[2];
    }
    double s = (N[0] * N[0] + N[1] * N[1]) + N[2] * N[2];
    double root = std::sqrt(s);
    if (s == 0.0 || std::isinf(root) || std::isnan(root)) return false;
    double inv = 1.0 / root;
    N = {N[0] * inv, N[1] * inv, N[2] * inv};
    for (;;) {
        bool found = false;
        for (size_t i = 1; i + 1 < m; ++i) {
            if (budget == 0) return false;
            --budget;
            const uint32_t a = q[i - 1], b = q[i], c = q[i + 1];
            const Vec3 &Pa = P[a], &Pb = P[b], &Pc = P[c];
            Vec3 t = cross(sub(Pb, Pa), sub(Pc, Pb));
            double d = (t[0] * N[0] + t[1] * N[1]) + t[2] * N[2];
            if (!(d > 0)) continue;
            bool blocked = false;
            for (size_t j = 0; j < m && !blocked; ++j) {
                if (j + 1 == i || j == i || j == i + 1) continue;
                if (budget == 0) return false;
                --budget;
                blocked = inside_xy(P[q[j]], Pa, Pb, Pc);
            }
            if (blocked) continue;
            out.push_back(tri(a, b, c));
            q.erase(q.begin() + static_cast<std::ptrdiff_t>(i));
            --m;
            if (m == 3) {
                out.push_back(tri(q[0], q[1], q[2]));
                return true;
            }
            found = true;
            break;
        }
        if (!found) return false;
    }
}

void PlyWriter::ascii_double(double v, bool last) {
    append_format_g(out_, v);
    end_value(last);
}

void PlyWriter::ascii_uint(uint32_t v, bool last) {
    char b[12];
    auto r = std::to_chars(b, b + sizeof(b), v);
    out_.append(b, r.ptr);
    end_value(last);
}

namespace {


void write_header(std::string& out, bool ascii, size_t nv, bool normals, bool colors, const size_t* ntri) {
    out += "ply\n";
    out += ascii ? "format ascii 1.0\n" : "format binary_little_endian 1.0\n";
    out += "comment Created by ombrix\n";
    out += "element vertex " + std::to_string(nv) + "\n";
    out += "property double x\nproperty double y\nproperty double z\n";
    if (normals) out += "property double nx\nproperty double ny\nproperty double nz\n";
    if (colors) out += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    if (ntri) {
        out += "element face " + std::to_string(*ntri) + "\n";
        out += "property list uchar uint vertex_indices\n";
    }
    out += "end_header\n";
}

void write_vertices(PlyWriter& w, bool ascii, std::string& out, const std::vector<Vec3>& pts,
                    const std::vector<Vec3>* normals, const std::vector<Vec3>* colors) {
    if (!ascii) {
        // Binary rows are assembled whole (the same bytes the writer's
        // per-value calls produce) and appended once each.
        char row[51];
        for (size_t i = 0; i < pts.size(); ++i) {
            size_t n = 24;
            std::memcpy(row, pts[i].data(), 24);
            if (normals) {
                std::memcpy(row + n, (*normals)[i].data(), 24);
                n += 24;
            }
            if (colors) {
                const Vec3& c = (*colors)[i];
                for (int k = 0; k < 3; ++k) row[n++] = static_cast<char>(ply_color_byte(c[k]));
            }
            out.append(row, n);
        }
        return;
    }
    for (size_t i = 0; i < pts.size(); ++i) {
        const Vec3& p = pts[i];
        w.write_double(p[0], false);
        w.write_double(p[1], false);
        w.write_double(p[2], !normals && !colors);
        if (normals) {
            const Vec3& n = (*normals)[i];
            w.write_double(n[0], false);
            w.write_double(n[1], false);
            w.write_double(n[2], !colors);
        }
        if (colors) {
            const Vec3& c = (*colors)[i];
            w.write_uchar(ply_color_byte(c[0]), false);
            w.write_uchar(ply_color_byte(c[1]), false);
            w.write_uchar(ply_color_byte(c[2]), true);
        }
    }
}

size_t reserve_size(bool ascii, size_t nv, bool normals, bool colors, size_t ntri) {
    size_t per_vertex = ascii ? 80 : 24 + (normals ? 24 : 0) + (colors ? 3 : 0);
    return per_vertex * nv + 16 * ntri + 64 + 256;  // + header
}

}  // namespace

std::string write_point_cloud_to_ply(const PointCloud& cloud, bool ascii) {
    const size_t n = cloud.points.size();
    const bool normals = n > 0 && cloud.normals.size() == n;
    const bool colors = n > 0 && cloud.colors.size() == n;
    std::string out;
    out.reserve(reserve_size(ascii, n, normals, colors, 0));
    write_header(out, ascii, n, normals, colors, nullptr);
    PlyWriter w(out, ascii);
    write_vertices(w, ascii, out, cloud.points, normals ? &cloud.normals : nullptr, colors ? &cloud.colors : nullptr);
    return out;
}

std::string write_triangle_mesh_to_ply(const TriangleMesh& mesh, bool ascii, bool write_normals, bool write_colors) {
    const size_t n = mesh.vertices.size();
    const bool normals = write_normals && mesh.vertex_normals.size() == n;
    const bool colors = write_colors && mesh.vertex_colors.size() == n;
    const size_t nt = mesh.triangles.size();
    std::string out;
    out.reserve(reserve_size(ascii, n, normals, colors, nt));
    write_header(out, ascii, n, normals, colors, &nt);
    PlyWriter w(out, ascii);
    write_vertices(w, ascii, out, mesh.vertices, normals ? &mesh.vertex_normals : nullptr,
                   colors ? &mesh.vertex_colors : nullptr);
    for (const Vec3i& t : mesh.triangles) {
        w.write_uchar(3, false);
        w.write_uint(static_cast<uint32_t>(t[0]), false);
        w.write_uint(static_cast<uint32_t>(t[1]), false);
        w.write_uint(static_cast<uint32_t>(t[2]), true);
    }
    return out;
}

}  // namespace ombrix::io
