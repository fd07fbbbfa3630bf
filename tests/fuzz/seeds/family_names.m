# comment
Vertex 10 0 0 0
Vertex 24 1 0 0 {uv=(0 1) normal=(0,0,1)}
Vertex 3 0 1 0
Face 0 10 24 3 {rgb=(1 0 0)}
Corner 3 0 {normal=(1 0 0)}
Edge 10 24 {sharp}
