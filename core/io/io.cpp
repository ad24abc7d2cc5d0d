#include "core/io/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/io/numparse.h"
#include "core/io/ply.h"
#include "core/io/xyz.h"

namespace ombrix::io {

std::string format_from_filename(std::string_view filename, std::string_view format) {
    if (format != "auto") return std::string(format);
    size_t dot = filename.rfind('.');
    if (dot == std::string_view::npos) return std::string();
    std::string ext(filename.substr(dot + 1));
    // Lower-casing only ASCII letters is enough: the result is only ever
    // compared with the format names, and no other character lower-cases
    // to a letter of those names.
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return ext;
}

void postprocess_cloud(PointCloud& cloud, bool remove_nan, bool remove_infinite) {
    if ((!remove_nan && !remove_infinite) || cloud.points.empty()) return;
    const size_t n = cloud.points.size();
    const bool move_normals = cloud.normals.size() == n;
    const bool move_colors = cloud.colors.size() == n;
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        const Vec3& p = cloud.points[i];
        bool drop = false;
        for (int k = 0; k < 3; ++k) {
            if (remove_nan && std::isnan(p[k])) drop = true;
            if (remove_infinite && std::isinf(p[k])) drop = true;
        }
        if (drop) continue;
        cloud.points[kept] = cloud.points[i];
        if (move_normals) cloud.normals[kept] = cloud.normals[i];
        if (move_colors) cloud.colors[kept] = cloud.colors[i];
        ++kept;
    }
    cloud.points.resize(kept);
    if (move_normals) cloud.normals.resize(kept);
    if (move_colors) cloud.colors.resize(kept);
}

Result<FileBytes> read_whole_file(const std::string& path) {
    if (path.find('\0') != std::string::npos) return fail("path contains a NUL character");
    // Non-blocking open so that a FIFO without a writer cannot stall the call;
    // only regular files are read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail("cannot open");
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("not a regular file");
    }
    size_t cap = static_cast<size_t>(st.st_size) + 1;  // one spare byte detects growth
    std::unique_ptr<char[]> buf(new (std::nothrow) char[cap]);
    if (!buf) {
        ::close(fd);
        return fail("out of memory");
    }
    size_t size = 0;
    for (;;) {
        if (size == cap) {
            size_t ncap = cap * 2;
            std::unique_ptr<char[]> nb(new (std::nothrow) char[ncap]);
            if (!nb) {
                ::close(fd);
                return fail("out of memory");
            }
            std::memcpy(nb.get(), buf.get(), size);
            buf = std::move(nb);
            cap = ncap;
        }
        ssize_t r = ::read(fd, buf.get() + size, cap - size);
        if (r < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return fail("read error");
        }
        if (r == 0) break;
        size += static_cast<size_t>(r);
    }
    ::close(fd);
    FileBytes fb;
    fb.data_ = std::move(buf);
    fb.size_ = size;
    return fb;
}

bool write_whole_file(const std::string& path, std::string_view data) {
    if (path.find('\0') != std::string::npos) return false;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t w = ::write(fd, p, left);
        if (w < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return false;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    return ::close(fd) == 0;
}

PointCloud read_point_cloud_from_text(std::string_view text, bool remove_nan, bool remove_infinite) {
    PointCloud cloud;
    read_from_lines(text, cloud);
    postprocess_cloud(cloud, remove_nan, remove_infinite);
    return cloud;
}

PointCloud read_point_cloud(const std::string& path, const std::string& format, bool remove_nan,
                            bool remove_infinite) {
    const std::string fmt = format_from_filename(path, format);
    if (fmt == "xyz") {
        auto bytes = read_whole_file(path);
        if (!bytes || !is_valid_utf8(bytes->view())) return PointCloud();
        return read_point_cloud_from_text(bytes->view(), remove_nan, remove_infinite);
    }
    if (fmt == "ply") {
        auto bytes = read_whole_file(path);
        if (!bytes) return PointCloud();
        auto cloud = read_point_cloud_from_ply_file(bytes->view());
        if (!cloud) return PointCloud();
        postprocess_cloud(*cloud, remove_nan, remove_infinite);
        return std::move(*cloud);
    }
    return PointCloud();
}

bool write_point_cloud(const std::string& path, const PointCloud& cloud, const std::string& format,
                       bool write_ascii) {
    const std::string fmt = format_from_filename(path, format);
    if (fmt == "xyz") return write_whole_file(path, write_to_string(cloud.points));
    if (fmt == "ply") {
        if (cloud.points.empty()) return false;
        return write_whole_file(path, write_point_cloud_to_ply(cloud, write_ascii));
    }
    return false;
}

TriangleMesh read_triangle_mesh(const std::string& path) {
    if (format_from_filename(path, "auto") != "ply") return TriangleMesh();
    auto bytes = read_whole_file(path);
    if (!bytes) return TriangleMesh();
    auto mesh = read_triangle_mesh_from_ply_file(bytes->view());
    if (!mesh) return TriangleMesh();
    return std::move(*mesh);
}

bool write_triangle_mesh(const std::string& path, const TriangleMesh& mesh, bool write_ascii, bool write_normals,
                         bool write_colors) {
    if (format_from_filename(path, "auto") != "ply" || mesh.vertices.empty()) return false;
    return write_whole_file(path, write_triangle_mesh_to_ply(mesh, write_ascii, write_normals, write_colors));
}

FileGeometry read_file_geometry_type(const std::string& path) {
    const std::string fmt = format_from_filename(path, "auto");
    if (fmt == "xyz") return FileGeometry::ContainsPoints;
    if (fmt != "ply") return FileGeometry::ContentsUnknown;
    auto bytes = read_whole_file(path);
    if (!bytes) return FileGeometry::ContentsUnknown;
    auto h = parse_header(bytes->view());
    if (!h) return FileGeometry::ContentsUnknown;
    FileGeometry g = FileGeometry::ContentsUnknown;
    if (auto v = find_element(*h, "vertex"); v && h->elements[*v].count > 0) g = FileGeometry::ContainsPoints;
    if (auto f = find_element(*h, "face")) {
        const PlyElement& el = h->elements[*f];
        if (el.count > 0 && (find_prop(el.properties, "vertex_indices") || find_prop(el.properties, "vertex_index")))
            g = FileGeometry::ContainsTriangles;
    }
    return g;
}

}  // namespace ombrix::io
