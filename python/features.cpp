#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {

PyMethodDef feature_functions[] = {
    OMBRIX_END,
};

}  // namespace ombrix::py
