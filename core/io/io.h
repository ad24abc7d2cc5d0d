// File I/O entry points: format selection, whole-file reads and writes, and
// the post-processing of clouds that were read. Problems with a file never
// raise: readers give an empty geometry, writers false.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/geometry/mesh.h"
#include "core/geometry/point_cloud.h"
#include "core/result.h"

namespace ombrix::io {

enum class FileGeometry : int32_t {
    ContentsUnknown = 0,
    ContainsPoints = 1,
    ContainsLines = 2,
    ContainsTriangles = 4,
};

// `format` unless it is exactly "auto"; then the lower-cased text after the
// last "." of the whole path ("" when there is none).
std::string format_from_filename(std::string_view filename, std::string_view format);

// Drops points with a NaN (remove_nan) or infinite (remove_infinite)
// coordinate, keeping order; normals and colours follow when there is one per point.
void postprocess_cloud(PointCloud& cloud, bool remove_nan, bool remove_infinite);

// Whole contents of a regular file; fails for anything else (missing, a
// directory, a device or pipe, a path with a NUL character).
class FileBytes {
public:
    std::string_view view() const { return {data_.get(), size_}; }

private:
    friend Result<FileBytes> read_whole_file(const std::string& path);
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
};
Result<FileBytes> read_whole_file(const std::string& path);

// Creates or truncates the file and writes all of `data`; false on any error.
bool write_whole_file(const std::string& path, std::string_view data);

PointCloud read_point_cloud(const std::string& path, const std::string& format, bool remove_nan, bool remove_infinite);
bool write_point_cloud(const std::string& path, const PointCloud& cloud, const std::string& format, bool write_ascii);
TriangleMesh read_triangle_mesh(const std::string& path);
bool write_triangle_mesh(const std::string& path, const TriangleMesh& mesh, bool write_ascii, bool write_normals,
                         bool write_colors);
FileGeometry read_file_geometry_type(const std::string& path);

// The byte-buffer variants ("mem::xyz" is the only byte format).
PointCloud read_point_cloud_from_text(std::string_view utf8_text, bool remove_nan, bool remove_infinite);

}  // namespace ombrix::io
