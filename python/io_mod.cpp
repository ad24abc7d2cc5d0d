// The `io` module: reading and writing point clouds and meshes. Problems with
// a file never raise (readers return an empty geometry, writers False); only
// argument types do, and the byte writer for an unknown format name.
#include <string>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/ref.h"
#include "binding/types.h"
#include "classes.h"
#include "core/io/io.h"
#include "core/io/numparse.h"
#include "core/io/xyz.h"
#include "enums.h"
#include "geometry_objects.h"

namespace ombrix::py {

namespace {

// A str is used as is; anything else goes through os.fspath, whose result must
// be a str (its own exceptions propagate). The text becomes the file-system
// encoding of the path (undecodable bytes round-trip through surrogateescape).
bool path_from_any(PyObject* obj, std::string* out) {
    Ref text;
    if (PyUnicode_Check(obj)) {
        text = Ref::borrow(obj);
    } else {
        Ref os(PyImport_ImportModule("os"));
        if (!os) return false;
        Ref r(PyObject_CallMethod(os.get(), "fspath", "O", obj));
        if (!r) return false;
        if (!PyUnicode_Check(r.get())) {
            raise_arg_type("filename", "str", r.get());
            return false;
        }
        text = r;
    }
    Ref encoded(PyUnicode_EncodeFSDefault(text.get()));
    if (!encoded) {
        // Not encodable for the file system (a lone surrogate): no such file
        // can exist, but the name still selects the format, so it must not raise.
        PyErr_Clear();
        encoded = Ref(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass"));
        if (!encoded) return false;
    }
    out->assign(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
    return true;
}

bool to_flags(PyObject* const* a, const char* const* names, int from, int to) {
    for (int i = from; i < to; ++i) {
        bool ignored;
        if (a[i] && !to_bool(a[i], names[i], &ignored)) return false;
    }
    return true;
}

bool flag(PyObject* a, const char* name, bool* out) {
    *out = false;
    return !a || to_bool(a, name, out);
}

bool format_arg(PyObject* a, std::string* out) {
    *out = "auto";
    return !a || to_string(a, "format", out);
}

PyPointCloud* as_cloud(PyObject* o) { return reinterpret_cast<PyPointCloud*>(o); }
PyTriangleMesh* as_mesh(PyObject* o) { return reinterpret_cast<PyTriangleMesh*>(o); }

PyObject* read_file_geometry_type(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"filename"};
    PyObject* a[1];
    if (!parse_args("read_file_geometry_type", kNames, 1, 1, args, nargs, kwnames, a)) return nullptr;
    std::string path;
    if (!path_from_any(a[0], &path)) return nullptr;
    return new_file_geometry(static_cast<int32_t>(io::read_file_geometry_type(path)));
}

PyObject* read_point_cloud(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"filename", "format", "remove_nan_points", "remove_infinite_points",
                                         "print_progress"};
    PyObject* a[5];
    if (!parse_args("read_point_cloud", kNames, 5, 1, args, nargs, kwnames, a)) return nullptr;
    std::string format, path;
    bool remove_nan, remove_inf;
    if (!format_arg(a[1], &format) || !flag(a[2], kNames[2], &remove_nan) || !flag(a[3], kNames[3], &remove_inf) ||
        !to_flags(a, kNames, 4, 5))
        return nullptr;
    if (!path_from_any(a[0], &path)) return nullptr;
    PointCloud cloud;
    {
        ReleaseGil nogil;
        cloud = io::read_point_cloud(path, format, remove_nan, remove_inf);
    }
    return wrap_point_cloud(std::move(cloud));
}

PyObject* read_point_cloud_from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"bytes", "format", "remove_nan_points", "remove_infinite_points",
                                         "print_progress"};
    PyObject* a[5];
    if (!parse_args("read_point_cloud_from_bytes", kNames, 5, 1, args, nargs, kwnames, a)) return nullptr;
    std::string format;
    bool remove_nan, remove_inf;
    if (!PyBytes_Check(a[0])) {
        raise_arg_type("bytes", "bytes", a[0]);
        return nullptr;
    }
    if (!format_arg(a[1], &format) || !flag(a[2], kNames[2], &remove_nan) || !flag(a[3], kNames[3], &remove_inf) ||
        !to_flags(a, kNames, 4, 5))
        return nullptr;
    if (format != "mem::xyz") return wrap_point_cloud(PointCloud());
    std::string_view raw(PyBytes_AS_STRING(a[0]), static_cast<size_t>(PyBytes_GET_SIZE(a[0])));
    if (io::is_valid_utf8(raw)) return wrap_point_cloud(io::read_point_cloud_from_text(raw, remove_nan, remove_inf));
    // Invalid sequences become U+FFFD, so decoding never fails.
    Ref text(PyUnicode_DecodeUTF8(raw.data(), static_cast<Py_ssize_t>(raw.size()), "replace"));
    if (!text) return nullptr;
    Py_ssize_t n;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &n);
    if (!utf8) return nullptr;
    return wrap_point_cloud(
        io::read_point_cloud_from_text(std::string_view(utf8, static_cast<size_t>(n)), remove_nan, remove_inf));
}

PyObject* write_point_cloud(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"filename", "pointcloud", "format", "write_ascii", "compressed",
                                         "print_progress"};
    PyObject* a[6];
    if (!parse_args("write_point_cloud", kNames, 6, 2, args, nargs, kwnames, a)) return nullptr;
    std::string format, path;
    bool ascii;
    if (!check_instance(a[1], point_cloud_type(), "pointcloud") || !format_arg(a[2], &format) ||
        !flag(a[3], kNames[3], &ascii) || !to_flags(a, kNames, 4, 6))
        return nullptr;
    if (!path_from_any(a[0], &path)) return nullptr;
    PyPointCloud* pc = as_cloud(a[1]);
    // The cloud stays borrowed (shared) for the whole write, so no other
    // thread can change it while the GIL is released.
    ReadBorrow borrow(pc->flag);
    if (!borrow) return nullptr;
    bool ok;
    {
        ReleaseGil nogil;
        ok = io::write_point_cloud(path, pc->value, format, ascii);
    }
    return PyBool_FromLong(ok);
}

PyObject* write_point_cloud_to_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"pointcloud", "format", "write_ascii", "compressed", "print_progress"};
    PyObject* a[5];
    if (!parse_args("write_point_cloud_to_bytes", kNames, 5, 1, args, nargs, kwnames, a)) return nullptr;
    std::string format;
    if (!check_instance(a[0], point_cloud_type(), "pointcloud") || !format_arg(a[1], &format) ||
        !to_flags(a, kNames, 2, 5))
        return nullptr;
    if (format != "mem::xyz") {
        std::string msg = "unsupported byte format: " + format;
        PyErr_SetString(PyExc_ValueError, msg.c_str());
        return nullptr;
    }
    std::string text;
    {
        ReadBorrow borrow(as_cloud(a[0])->flag);
        if (!borrow) return nullptr;
        text = io::write_to_string(as_cloud(a[0])->value.points);
    }
    return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* read_triangle_mesh(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"filename", "enable_post_processing", "print_progress"};
    PyObject* a[3];
    if (!parse_args("read_triangle_mesh", kNames, 3, 1, args, nargs, kwnames, a)) return nullptr;
    std::string path;
    if (!to_flags(a, kNames, 1, 3) || !path_from_any(a[0], &path)) return nullptr;
    return wrap_triangle_mesh(io::read_triangle_mesh(path));
}

PyObject* write_triangle_mesh(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const kNames[] = {"filename",           "mesh",         "write_ascii",       "compressed",
                                         "write_vertex_normals", "write_vertex_colors", "write_triangle_uvs",
                                         "print_progress"};
    PyObject* a[8];
    if (!parse_args("write_triangle_mesh", kNames, 8, 2, args, nargs, kwnames, a)) return nullptr;
    std::string path;
    bool ascii, normals = true, colors;
    if (!check_instance(a[1], triangle_mesh_type(), "mesh") || !flag(a[2], kNames[2], &ascii) ||
        !to_flags(a, kNames, 3, 4) || (a[4] && !to_bool(a[4], kNames[4], &normals)) ||
        !flag(a[5], kNames[5], &colors) || !to_flags(a, kNames, 6, 8))
        return nullptr;
    if (!path_from_any(a[0], &path)) return nullptr;
    PyTriangleMesh* m = as_mesh(a[1]);
    ReadBorrow borrow(m->flag);
    if (!borrow) return nullptr;
    return PyBool_FromLong(io::write_triangle_mesh(path, m->value, ascii, normals, colors));
}

}  // namespace

PyMethodDef io_functions[] = {
    OMBRIX_METHOD("read_file_geometry_type", read_file_geometry_type, "read_file_geometry_type(filename)\n--\n\n"),
    OMBRIX_METHOD("read_point_cloud", read_point_cloud,
                  "read_point_cloud(filename, format=\"auto\", remove_nan_points=False, "
                  "remove_infinite_points=False, print_progress=False)\n--\n\n"),
    OMBRIX_METHOD("read_point_cloud_from_bytes", read_point_cloud_from_bytes,
                  "read_point_cloud_from_bytes(bytes, format=\"auto\", remove_nan_points=False, "
                  "remove_infinite_points=False, print_progress=False)\n--\n\n"),
    OMBRIX_METHOD("write_point_cloud", write_point_cloud,
                  "write_point_cloud(filename, pointcloud, format=\"auto\", write_ascii=False, compressed=False, "
                  "print_progress=False)\n--\n\n"),
    OMBRIX_METHOD("write_point_cloud_to_bytes", write_point_cloud_to_bytes,
                  "write_point_cloud_to_bytes(pointcloud, format=\"auto\", write_ascii=False, compressed=False, "
                  "print_progress=False)\n--\n\n"),
    OMBRIX_METHOD("read_triangle_mesh", read_triangle_mesh,
                  "read_triangle_mesh(filename, enable_post_processing=False, print_progress=False)\n--\n\n"),
    OMBRIX_METHOD("write_triangle_mesh", write_triangle_mesh,
                  "write_triangle_mesh(filename, mesh, write_ascii=False, compressed=False, "
                  "write_vertex_normals=True, write_vertex_colors=False, write_triangle_uvs=False, "
                  "print_progress=False)\n--\n\n"),
    OMBRIX_END,
};

}  // namespace ombrix::py
