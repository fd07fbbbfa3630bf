// The mesh in its drawing styles. Faces through missing or non-finite vertices are left out.
#pragma once

void draw_wireframe();
void draw_shaded(); // flat or smooth, as the viewer state's display mode says
