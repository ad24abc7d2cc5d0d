// geometry.AxisAlignedBoundingBox seen from other binding files.
#pragma once
#include "binding/common.h"
#include "binding/types.h"
#include "core/geometry/bounding_volume.h"

namespace ombrix::py {

using PyAxisAlignedBoundingBox = Obj<AxisAlignedBoundingBox>;

// A new AxisAlignedBoundingBox object holding a copy of `box` (what every
// geometry's get_axis_aligned_bounding_box returns).
PyObject* wrap_axis_aligned_bounding_box(const AxisAlignedBoundingBox& box);

}  // namespace ombrix::py
