# a comment line
graph [
  comment "quotes &quot; &amp; &bogus; &#1234;"
  node [ id 0 label "Z&#252;rich" graphics [ x 1.5 y -2 ] ]
  node [ id 1 label 12 ]
  edge [ source 0 target 1 p inf ]
]
