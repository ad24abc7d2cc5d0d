// PLY: header parsing, the body walker, point-cloud and mesh readers (with
// ear-clipping triangulation of polygons) and the writers.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/geometry/mesh.h"
#include "core/geometry/point_cloud.h"
#include "core/io/numparse.h"
#include "core/result.h"

namespace ombrix::io {

enum class PlyType : uint8_t { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };

// "char"/"int8", "uchar"/"uint8", ... "double"/"float64"; nothing else.
std::optional<PlyType> ply_type_from_name(std::string_view name);

inline size_t ply_type_size(PlyType t) {
    static constexpr uint8_t sizes[] = {1, 1, 2, 2, 4, 4, 4, 8};
    return sizes[static_cast<int>(t)];
}

// Decodes one value from the front of `p` (at least ply_type_size(t) bytes),
// swapping the byte order for big-endian files.
inline double ply_read_binary(PlyType t, const unsigned char* p, bool little_endian) {
    auto load = [&](auto v) {
        std::memcpy(&v, p, sizeof(v));
        if (!little_endian) {
            if constexpr (sizeof(v) == 2) v = static_cast<decltype(v)>(__builtin_bswap16(static_cast<uint16_t>(v)));
            if constexpr (sizeof(v) == 4) v = static_cast<decltype(v)>(__builtin_bswap32(static_cast<uint32_t>(v)));
            if constexpr (sizeof(v) == 8) v = static_cast<decltype(v)>(__builtin_bswap64(static_cast<uint64_t>(v)));
        }
        return v;
    };
    switch (t) {
        case PlyType::Int8: return static_cast<int8_t>(p[0]);
        case PlyType::UInt8: return p[0];
        case PlyType::Int16: return static_cast<int16_t>(load(uint16_t{}));
        case PlyType::UInt16: return load(uint16_t{});
        case PlyType::Int32: return static_cast<int32_t>(load(uint32_t{}));
        case PlyType::UInt32: return load(uint32_t{});
        case PlyType::Float32: {
            uint32_t u = load(uint32_t{});
            float f;
            std::memcpy(&f, &u, 4);
            return f;
        }
        case PlyType::Float64: {
            uint64_t u = load(uint64_t{});
            double d;
            std::memcpy(&d, &u, 8);
            return d;
        }
    }
    return 0.0;
}

struct PlyProperty {
    std::string name;
    bool is_list = false;
    PlyType value_type = PlyType::UInt8;  // for a list: the item type
    PlyType count_type = PlyType::UInt8;  // for a list: the length prefix type
};

struct PlyElement {
    std::string name;
    std::vector<PlyProperty> properties;
    uint64_t count = 0;
};

struct PlyHeader {
    std::vector<PlyElement> elements;
    size_t body_offset = 0;
    bool ascii = false;
    bool little_endian = true;
};

Result<PlyHeader> parse_header(std::string_view bytes);

std::optional<size_t> find_prop(const std::vector<PlyProperty>& properties, std::string_view name);
// First element with that name.
std::optional<size_t> find_element(const PlyHeader& header, std::string_view name);

// A list length from its decoded value: truncation toward zero, negative and
// NaN give 0, values beyond the 64-bit range saturate.
inline uint64_t ply_list_length(double v) {
    if (!(v > 0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(v);
}

// Whether the body can possibly hold every declared value (each binary value
// takes its size, each ASCII token at least one byte plus a separator).
// Checked before anything is sized from the declared counts.
bool ply_body_may_fit(std::string_view bytes, const PlyHeader& header);

// Walks every value of the body in file order and hands it to the consumer:
//   consumer(element, row, property, item, list_length, value) -> bool
// (false stops the walk as a failure). Scalars come with item 0 and length 0;
// a list comes first as item 0 carrying its length, then items 1..length.
// consumer.wants(element) == false lets a binary element of fixed-size rows be
// skipped without decoding (an ASCII body is still checked token by token).
// A consumer may also offer fixed_rows(element, bytes, count, little_endian)
// -> bool to take a binary element of fixed-size rows in one go (false: it
// declines, and the values come one by one).
// True when every declared value was read.
template <class Consumer>
bool read_ply_data(std::string_view bytes, const PlyHeader& h, Consumer& consumer) {
    if (h.body_offset > bytes.size()) return false;
    if (!ply_body_may_fit(bytes, h)) return false;
    const char* p = bytes.data() + h.body_offset;
    const char* end = bytes.data() + bytes.size();
    if (h.ascii) {
        if (!is_valid_utf8(std::string_view(p, static_cast<size_t>(end - p)))) return false;
        auto next = [&](double* v) {
            while (p < end && is_separator(static_cast<unsigned char>(*p))) ++p;
            if (p >= end) return false;
            const char* s = p;
            while (p < end && !is_separator(static_cast<unsigned char>(*p))) ++p;
            return parse_standard_number(std::string_view(s, static_cast<size_t>(p - s)), v);
        };
        for (size_t e = 0; e < h.elements.size(); ++e) {
            const PlyElement& el = h.elements[e];
            if (el.count == 0 || el.properties.empty()) continue;
            const bool wanted = consumer.wants(e);
            for (uint64_t r = 0; r < el.count; ++r) {
                for (size_t k = 0; k < el.properties.size(); ++k) {
                    double v;
                    if (!next(&v)) return false;
                    if (!el.properties[k].is_list) {
                        if (wanted && !consumer(e, r, k, 0, 0, v)) return false;
                        continue;
                    }
                    const uint64_t len = ply_list_length(v);
                    if (wanted && !consumer(e, r, k, 0, len, v)) return false;
                    for (uint64_t i = 1; i <= len && i != 0; ++i) {
                        if (!next(&v)) return false;
                        if (wanted && !consumer(e, r, k, i, len, v)) return false;
                    }
                }
            }
        }
        return true;
    }
    const bool le = h.little_endian;
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const auto* uend = reinterpret_cast<const unsigned char*>(end);
    for (size_t e = 0; e < h.elements.size(); ++e) {
        const PlyElement& el = h.elements[e];
        if (el.count == 0 || el.properties.empty()) continue;
        bool fixed = true;
        size_t stride = 0;
        for (const PlyProperty& pr : el.properties) {
            if (pr.is_list) fixed = false;
            stride += ply_type_size(pr.value_type);
        }
        const bool wanted = consumer.wants(e);
        if (fixed) {
            // Rows of fixed size: one bounds check for the whole element.
            const uint64_t avail = static_cast<uint64_t>(uend - u);
            if (el.count > avail / stride) return false;
            if (!wanted) {
                u += el.count * stride;
                continue;
            }
            if constexpr (requires { consumer.fixed_rows(e, u, el.count, le); }) {
                // The consumer decodes whole rows itself (same values, same order).
                if (consumer.fixed_rows(e, u, el.count, le)) {
                    u += el.count * stride;
                    continue;
                }
            }
            for (uint64_t r = 0; r < el.count; ++r) {
                for (size_t k = 0; k < el.properties.size(); ++k) {
                    const PlyType t = el.properties[k].value_type;
                    if (!consumer(e, r, k, 0, 0, ply_read_binary(t, u, le))) return false;
                    u += ply_type_size(t);
                }
            }
            continue;
        }
        for (uint64_t r = 0; r < el.count; ++r) {
            for (size_t k = 0; k < el.properties.size(); ++k) {
                const PlyProperty& pr = el.properties[k];
                if (!pr.is_list) {
                    const size_t sz = ply_type_size(pr.value_type);
                    if (static_cast<size_t>(uend - u) < sz) return false;
                    double v = ply_read_binary(pr.value_type, u, le);
                    u += sz;
                    if (wanted && !consumer(e, r, k, 0, 0, v)) return false;
                    continue;
                }
                const size_t csz = ply_type_size(pr.count_type);
                if (static_cast<size_t>(uend - u) < csz) return false;
                double lv = ply_read_binary(pr.count_type, u, le);
                u += csz;
                const uint64_t len = ply_list_length(lv);
                if (wanted && !consumer(e, r, k, 0, len, lv)) return false;
                const size_t isz = ply_type_size(pr.value_type);
                // The items must all be present; checked before walking them.
                if (len > static_cast<uint64_t>(uend - u) / isz) return false;
                for (uint64_t i = 1; i <= len; ++i) {
                    double v = ply_read_binary(pr.value_type, u, le);
                    u += isz;
                    if (wanted && !consumer(e, r, k, i, len, v)) return false;
                }
            }
        }
    }
    return true;
}

Result<PointCloud> read_point_cloud_from_ply_file(std::string_view bytes);
Result<TriangleMesh> read_triangle_mesh_from_ply_file(std::string_view bytes);

// Appends values to an output buffer: ASCII (format_g text, decimal integers,
// one space between values, a line feed after the last of a row) or binary
// little-endian.
class PlyWriter {
public:
    PlyWriter(std::string& out, bool ascii) : out_(out), ascii_(ascii) {}
    void write_double(double v, bool last) {
        if (ascii_) return ascii_double(v, last);
        append_raw(&v, 8);
    }
    void write_uchar(uint8_t v, bool last) {
        if (ascii_) return ascii_uint(v, last);
        out_.push_back(static_cast<char>(v));
    }
    void write_uint(uint32_t v, bool last) {
        if (ascii_) return ascii_uint(v, last);
        append_raw(&v, 4);
    }

private:
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "binary values are stored in host order");
    void append_raw(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
    void end_value(bool last) { out_.push_back(last ? '\n' : ' '); }
    void ascii_double(double v, bool last);
    void ascii_uint(uint32_t v, bool last);
    std::string& out_;
    bool ascii_;
};

// Colour component to byte: clamp to [0, 1], times 255, round half away from
// zero; NaN gives 0.
inline uint8_t ply_color_byte(double c) {
    if (!(c > 0.0)) return 0;  // NaN too
    if (c > 1.0) c = 1.0;
    const double x = c * 255.0;  // in [0, 255]
    const int i = static_cast<int>(x);
    // x - i is exact, so the tie goes up exactly when the fraction is one half.
    return static_cast<uint8_t>(x - i >= 0.5 ? i + 1 : i);
}

// Complete file images.
std::string write_point_cloud_to_ply(const PointCloud& cloud, bool ascii);
std::string write_triangle_mesh_to_ply(const TriangleMesh& mesh, bool ascii, bool write_normals, bool write_colors);

// Splits one polygon (corner indices into `vertices`) into triangles appended
// to `out`. Fails for fewer than three corners, an index out of range, a
// degenerate polygon normal, a polygon without an ear, or when `budget` (a
// count of elementary ear tests, shared across a whole read) runs out.
bool triangulate_polygon(const uint32_t* corners, size_t m, const std::vector<Vec3>& vertices,
                         std::vector<Vec3i>& out, uint64_t& budget);

}  // namespace ombrix::io
