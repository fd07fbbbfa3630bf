// The scene guides, drawn in model space under the mesh's own transform.
#pragma once

void draw_ground();       // grey grid of 82 lines from -10 to 10 in the Z = 0 plane
void draw_axes();         // unit axes: X blue, Y green, Z yellow
void draw_bounding_box(); // the finite vertices' extents, light blue; nothing when there are none
