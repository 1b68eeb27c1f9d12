graph [
  Network "Example"
  label "Example"
  node [
    id 0
    label "New York"
    Longitude -74.00597
    Internal 1
  ]
  node [
    id 1
    label "Chicago"
    Longitude -87.65005
  ]
  node [
    id 2
    label ""
    hyperedge 1
  ]
  edge [
    source 0
    target 1
    LinkLabel "OC-192"
    p 0.9
  ]
  edge [
    source 1
    target 2
    id "e1"
  ]
  edge [
    source 0
    target 1
    p "0.95"
  ]
]
