#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {

PyMethodDef ransac_functions[] = {
    OMBRIX_END,
};

}  // namespace ombrix::py
