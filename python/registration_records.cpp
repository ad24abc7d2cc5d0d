// Shell classes: registered with their names, bases and constructor signatures; members come with their implementation.
#include "binding/types.h"
#include "classes.h"

namespace ombrix::py {
namespace {
PyTypeObject* build_feature_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.Feature", "Feature(other=None)\n--\n\n", b, false, true); }
PyTypeObject* build_icp_convergence_criteria_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.ICPConvergenceCriteria", "ICPConvergenceCriteria(relative_fitness=1e-6, relative_rmse=1e-6, max_iteration=30)\n--\n\n", b, false, true); }
PyTypeObject* build_ransac_convergence_criteria_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.RANSACConvergenceCriteria", "RANSACConvergenceCriteria(max_iteration=100000, confidence=0.999)\n--\n\n", b, false, true); }
PyTypeObject* build_registration_result_type() { PyTypeObject* b = nullptr; return plain_type("ombrix.cpu.pybind.pipelines.registration.RegistrationResult", "RegistrationResult()\n--\n\n", b, false, true); }
}  // namespace

OMBRIX_TYPE_GETTER(feature_type, build_feature_type)
OMBRIX_TYPE_GETTER(icp_convergence_criteria_type, build_icp_convergence_criteria_type)
OMBRIX_TYPE_GETTER(ransac_convergence_criteria_type, build_ransac_convergence_criteria_type)
OMBRIX_TYPE_GETTER(registration_result_type, build_registration_result_type)

}  // namespace ombrix::py
