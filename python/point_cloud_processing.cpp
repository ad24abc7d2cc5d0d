#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {

PyMethodDef point_cloud_processing_methods[] = {
    OMBRIX_END,
};

}  // namespace ombrix::py
