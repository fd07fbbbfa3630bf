// The display handler: one whole frame from the viewer state and the mesh.
#pragma once

void display();
