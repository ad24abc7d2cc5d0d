#include "binding/types.h"

namespace ombrix::py {

PyTypeObject* make_type(TypeDef def) {
    std::vector<PyType_Slot> slots = def.slots;
    if (def.doc) slots.push_back({Py_tp_doc, const_cast<char*>(def.doc)});
    slots.push_back({0, nullptr});

    unsigned int flags = Py_TPFLAGS_DEFAULT;
    if (def.subclassable) flags |= Py_TPFLAGS_BASETYPE;
    if (!def.constructible) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;

    PyTypeObject* base = def.base ? def.base : &PyBaseObject_Type;
    PyType_Spec type_spec{};
    type_spec.name = def.name;
    type_spec.basicsize = static_cast<int>(def.basicsize ? def.basicsize : base->tp_basicsize);
    type_spec.itemsize = 0;
    type_spec.flags = flags;
    type_spec.slots = slots.data();
    PyObject* bases = PyTuple_Pack(1, reinterpret_cast<PyObject*>(base));
    if (!bases) return nullptr;
    PyObject* t = PyType_FromSpecWithBases(&type_spec, bases);
    Py_DECREF(bases);
    return reinterpret_cast<PyTypeObject*>(t);
}

}  // namespace ombrix::py
