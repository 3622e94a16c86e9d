# Checks the tour's SVG picture: one svg element with a viewBox matching its
# size, a title, a background, the two curves, the seven data points, a
# legend naming what is drawn, the closest-point query (a segment from the
# query point to the nearest point) and only finite coordinates.
if(NOT EXISTS "${PICTURE}")
  message(FATAL_ERROR "no picture at '${PICTURE}'")
endif()
file(READ "${PICTURE}" svg)
string(STRIP "${svg}" svg)

if(NOT svg MATCHES "^<svg [^>]*>" OR NOT svg MATCHES "</svg>$")
  message(FATAL_ERROR "'${PICTURE}' does not open with <svg ...> and close with </svg>")
endif()
string(REGEX MATCHALL "<svg[ >]" opened "${svg}")
string(REGEX MATCHALL "</svg>" closed "${svg}")
list(LENGTH opened opened)
list(LENGTH closed closed)
string(REGEX MATCHALL "<circle class=\"data\"" circles "${svg}")
list(LENGTH circles circles)
string(REGEX MATCHALL "<polyline class=\"curve\"" curves "${svg}")
list(LENGTH curves curves)
string(REGEX MATCHALL "<title>[^<]+</title>" titles "${svg}")
list(LENGTH titles titles)
if(NOT opened EQUAL 1 OR NOT closed EQUAL 1 OR NOT circles EQUAL 7 OR NOT curves EQUAL 2
   OR NOT titles EQUAL 1)
  message(FATAL_ERROR "'${PICTURE}': ${opened} <svg>, ${closed} </svg>, ${circles} data points, "
                      "${curves} curves, ${titles} titles; expected 1, 1, 7, 2 and 1")
endif()
if(NOT svg MATCHES "^<svg [^>]*width=\"([0-9.]+)\" height=\"([0-9.]+)\" viewBox=\"0 0 ([0-9.]+) ([0-9.]+)\""
   OR NOT CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_3 OR NOT CMAKE_MATCH_2 STREQUAL CMAKE_MATCH_4)
  message(FATAL_ERROR "'${PICTURE}': no viewBox 0 0 width height on the <svg> element")
endif()
if(NOT svg MATCHES "<rect class=\"background\" width=\"100%\" height=\"100%\" fill=\"[^\"]+\"")
  message(FATAL_ERROR "'${PICTURE}': no background covering the picture")
endif()
if(NOT svg MATCHES "<g class=\"legend\"[^>]*>(.*)</g>")
  message(FATAL_ERROR "'${PICTURE}': no legend")
endif()
set(legend "${CMAKE_MATCH_1}")
foreach(label "cubic spline" "PCHIP" "control polygon" "ticks: normal" "data points" "query point"
              "nearest point")
  if(NOT legend MATCHES ">[^<]*${label}[^<]*</text>")
    message(FATAL_ERROR "'${PICTURE}': the legend does not name the ${label}")
  endif()
endforeach()

# The segment runs from the query point's centre to the nearest point's.
set(centre "cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\"")
if(NOT svg MATCHES "<circle class=\"query\" ${centre}")
  message(FATAL_ERROR "'${PICTURE}': no query point")
endif()
set(query "${CMAKE_MATCH_1},${CMAKE_MATCH_2}")
if(NOT svg MATCHES "<circle class=\"closest\" ${centre}")
  message(FATAL_ERROR "'${PICTURE}': no closest point")
endif()
set(closest "${CMAKE_MATCH_1},${CMAKE_MATCH_2}")
if(NOT svg MATCHES "<polyline class=\"closest-segment\"[^>]* points=\"${query} ${closest} \"")
  message(FATAL_ERROR "'${PICTURE}': no segment from the query point ${query} to the closest "
                      "point ${closest}")
endif()
if(svg MATCHES "nan|inf")
  message(FATAL_ERROR "'${PICTURE}' has a coordinate that is not finite")
endif()
message(STATUS "'${PICTURE}' looks like the tour's picture")
