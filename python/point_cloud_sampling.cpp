#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {

PyMethodDef point_cloud_sampling_methods[] = {
    OMBRIX_END,
};

}  // namespace ombrix::py
