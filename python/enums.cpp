#include "enums.h"

#include <cstring>
#include <string>

#include "binding/args.h"
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {

namespace {

uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
    uint64_t v0 = 0x736f6d6570736575ULL, v1 = 0x646f72616e646f6dULL, v2 = 0x6c7967656e657261ULL,
             v3 = 0x7465646279746573ULL;  // key halves are zero
    void round() {
        v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
        v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
        v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
        v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
    }
};

uint64_t siphash13(const unsigned char* in, size_t len) {
    SipState s;
    size_t blocks = len / 8;
    for (size_t i = 0; i < blocks; ++i) {
        uint64_t m = 0;
        for (int k = 0; k < 8; ++k) m |= static_cast<uint64_t>(in[i * 8 + k]) << (8 * k);
        s.v3 ^= m;
        s.round();
        s.v0 ^= m;
    }
    uint64_t b = static_cast<uint64_t>(len) << 56;
    size_t rest = len % 8;
    for (size_t k = 0; k < rest; ++k) b |= static_cast<uint64_t>(in[blocks * 8 + k]) << (8 * k);
    s.v3 ^= b;
    s.round();
    s.v0 ^= b;
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

const char* name_for(const char* const* names, const int32_t* values, int count, int32_t v) {
    for (int i = 0; i < count; ++i)
        if (values[i] == v) return names[i];
    return "Unknown";
}

const char* const kGeomNames[] = {"Unspecified", "PointCloud", "VoxelGrid", "TriangleMesh", "AxisAlignedBoundingBox"};
const int32_t kGeomValues[] = {0, 1, 2, 6, 12};
const char* const kFileNames[] = {"CONTENTS_UNKNOWN", "CONTAINS_POINTS", "CONTAINS_LINES", "CONTAINS_TRIANGLES"};
const int32_t kFileValues[] = {0, 1, 2, 4};
const char* const kVerbNames[] = {"Error", "Warning", "Info", "Debug"};
const int32_t kVerbValues[] = {0, 1, 2, 3};

PyObject* alloc_enum(PyTypeObject* type, const char* name, int32_t value) {
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    EnumObj* e = reinterpret_cast<EnumObj*>(self);
    e->name = PyUnicode_FromString(name);
    e->value = value;
    if (!e->name) {
        Py_DECREF(self);
        return nullptr;
    }
    return self;
}

void enum_dealloc(PyObject* self) {
    Py_XDECREF(reinterpret_cast<EnumObj*>(self)->name);
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

const char* prefix_of(PyObject* self) {
    PyTypeObject* t = Py_TYPE(self);
    if (PyType_IsSubtype(t, geometry_type_type())) return "<Type.";
    if (PyType_IsSubtype(t, file_geometry_type())) return "<FileGeometry.";
    return "<VerbosityLevel.";
}

PyObject* enum_repr(PyObject* self) {
    EnumObj* e = reinterpret_cast<EnumObj*>(self);
    return PyUnicode_FromFormat("%s%U: %d>", prefix_of(self), e->name, static_cast<int>(e->value));
}

PyObject* enum_int(PyObject* self) { return PyLong_FromLong(reinterpret_cast<EnumObj*>(self)->value); }

Py_hash_t enum_hash_slot(PyObject* self) {
    EnumObj* e = reinterpret_cast<EnumObj*>(self);
    Py_ssize_t len = 0;
    const char* s = PyUnicode_AsUTF8AndSize(e->name, &len);
    if (!s) return -1;
    return static_cast<Py_hash_t>(enum_hash(e->value, s, static_cast<size_t>(len)));
}

PyObject* enum_richcompare(PyObject* a, PyObject* b, int op) {
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(b, Py_TYPE(a))) Py_RETURN_NOTIMPLEMENTED;
    EnumObj* x = reinterpret_cast<EnumObj*>(a);
    EnumObj* y = reinterpret_cast<EnumObj*>(b);
    int same_name = PyUnicode_Compare(x->name, y->name) == 0;
    if (PyErr_Occurred()) return nullptr;
    bool eq = same_name && x->value == y->value;
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

PyObject* enum_get_name(PyObject* self, void*) {
    PyObject* n = reinterpret_cast<EnumObj*>(self)->name;
    Py_INCREF(n);
    return n;
}

PyGetSetDef enum_getset[] = {
    {"name", enum_get_name, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Builds the class; `with_members` adds each member as a class attribute.
PyTypeObject* build_enum(const char* dotted, const char* const* names, const int32_t* values, int count,
                         bool with_members) {
    TypeDef d;
    d.name = dotted;
    d.constructible = false;
    d.basicsize = sizeof(EnumObj);
    d.slots = {
        {Py_tp_dealloc, reinterpret_cast<void*>(enum_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(enum_repr)},
        {Py_tp_str, reinterpret_cast<void*>(enum_repr)},
        {Py_tp_hash, reinterpret_cast<void*>(enum_hash_slot)},
        {Py_tp_richcompare, reinterpret_cast<void*>(enum_richcompare)},
        {Py_tp_getset, enum_getset},
        {Py_nb_int, reinterpret_cast<void*>(enum_int)},
        {Py_nb_index, reinterpret_cast<void*>(enum_int)},
    };
    PyTypeObject* t = make_type(d);
    if (!t || !with_members) return t;
    for (int i = 0; i < count; ++i) {
        PyObject* m = alloc_enum(t, names[i], values[i]);
        if (!m || PyObject_SetAttrString(reinterpret_cast<PyObject*>(t), names[i], m) < 0) {
            Py_XDECREF(m);
            Py_DECREF(t);
            return nullptr;
        }
        Py_DECREF(m);
    }
    return t;
}

PyTypeObject* build_geometry_type() {
    return build_enum("ombrix.cpu.pybind.geometry.GeometryType", kGeomNames, kGeomValues, 5, false);
}
PyTypeObject* build_file_geometry() {
    return build_enum("ombrix.cpu.pybind.io.FileGeometry", kFileNames, kFileValues, 4, true);
}
PyTypeObject* build_verbosity_level() {
    return build_enum("ombrix.cpu.pybind.utility.VerbosityLevel", kVerbNames, kVerbValues, 4, true);
}

}  // namespace

int64_t enum_hash(int32_t value, const char* name, size_t len) {
    std::string buf(4 + len + 1, '\0');
    uint32_t u = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k) buf[k] = static_cast<char>((u >> (8 * k)) & 0xff);
    std::memcpy(&buf[4], name, len);
    buf[4 + len] = static_cast<char>(0xff);
    uint64_t h = siphash13(reinterpret_cast<const unsigned char*>(buf.data()), buf.size());
    int64_t s = static_cast<int64_t>(h);
    return s == -1 ? -2 : s;
}

OMBRIX_TYPE_GETTER(geometry_type_type, build_geometry_type)
OMBRIX_TYPE_GETTER(file_geometry_type, build_file_geometry)
OMBRIX_TYPE_GETTER(verbosity_level_type, build_verbosity_level)

PyObject* new_geometry_type(int32_t v) {
    return alloc_enum(geometry_type_type(), name_for(kGeomNames, kGeomValues, 5, v), v);
}
PyObject* new_file_geometry(int32_t v) {
    return alloc_enum(file_geometry_type(), name_for(kFileNames, kFileValues, 4, v), v);
}
PyObject* new_verbosity_level(int32_t v) {
    return alloc_enum(verbosity_level_type(), name_for(kVerbNames, kVerbValues, 4, v), v);
}

bool is_enum_of(PyObject* o, PyTypeObject* type) { return type && PyObject_TypeCheck(o, type); }

}  // namespace ombrix::py
