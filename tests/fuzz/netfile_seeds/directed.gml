graph [ directed 1
  node [ id 7 label "a" ] node [ id -3 label "a" ] node [ id 2000000000 ]
  edge [ source 7 target -3 p 1e-5 ] edge [ source -3 target -3 ]
  edge [ source 2000000000 target 7 weight 2 ]
]
