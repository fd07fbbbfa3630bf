// An STL's facet normals describe its faces, not its corners. A facet normal that agrees with
// its face's winding says nothing the winding does not; one that is zero, not finite, or points
// another way than the winding is not used either, and is counted for the converter's warning.
#pragma once

#include <cstddef>

struct FacetCounts {
    std::size_t facets = 0;
    std::size_t unusable = 0;    // zero, or not three finite numbers
    std::size_t disagreeing = 0; // turned from the winding's normal by more than rounding explains
};

// A facet normal agrees when it lies within this angle of its face's winding, or within what
// the rounding of the face's positions to single precision allows for a small or thin face.
const double facet_agreement_degrees = 10;

// Counts the facet normal `facet` of the triangle a, b, c. A face without area agrees with any.
void judge_facet(const float facet[3], const float a[3], const float b[3], const float c[3], FacetCounts& counts);
