// utility module members: verbosity level functions and context manager, random seed.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {

namespace {
PyTypeObject* build_verbosity_context_manager() {
    return plain_type("ombrix.cpu.pybind.utility.VerbosityContextManager", "VerbosityContextManager(level)\n--\n\n",
                      nullptr, false, true);
}
}  // namespace

OMBRIX_TYPE_GETTER(verbosity_context_manager_type, build_verbosity_context_manager)

PyMethodDef utility_functions[] = {
    OMBRIX_END,
};

}  // namespace ombrix::py
