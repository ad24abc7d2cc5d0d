// Putative correspondences from features: every source feature paired with
// its nearest target feature (1-NN in feature space), optionally keeping only
// mutual nearest neighbours when enough of them exist.
#pragma once
#include <cstdint>

#include "core/registration/records.h"

namespace ombrix {

// The smallest mutual-pair count for which the mutual list is returned:
// ratio × n_source in single precision, truncated to int32 (NaN gives 0,
// values from 2147483520 up saturate).
int32_t mutual_threshold(float ratio, uint64_t n_source);

// Pairs (source index, target index) in ascending source order. Empty when
// either feature is empty or the dimensions differ.
CorrespondenceSet correspondences_from_features(const Feature& source, const Feature& target, bool mutual_filter,
                                                float mutual_consistency_ratio);

}  // namespace ombrix
