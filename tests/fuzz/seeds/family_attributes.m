Vertex 1 0 0 0 {uv=(0 0) normal=(0,0,1)}
Vertex 2 2 0 0 {normal=(0 0 1) uv=(1 0)}
Vertex 3 2 1 0
Vertex 4 1 1 0
Vertex 5 1 2 0
Vertex 6 0 2 0 {rgb=(1 0 0)}
Face 0 1 2 3 4 5 6 {mat="Material.007" groups="default" rgb=(1 0 0)}
Face 9 1 2 99
Corner 3 0 {normal=(1 0 0)}
Edge 1 2 {sharp}
bogus line
