// utility.random module functions.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {

PyMethodDef random_functions[] = {
    OMBRIX_END,
};

}  // namespace ombrix::py
