Vertex 1 170.165 183.873 197.096 {{uv=(-0.206940.43) target=(5 3 -0.20694)}}
Vertex 2 0 0 0 {normal=(-nan -nan -nan)}
Vertex 4611686018427387904 0 0 0
Vertex 3 1 0 0 {normal=(inf 0 0) uv=(0,1)} tail
Face 1 1099511627776 2 3
Face 2 1 2 3 {mat="x
  # indented comment
Corner 1 2 {normal=(NaN 1 0)}
Edge 2 3 {sharp}
