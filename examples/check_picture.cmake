# Checks the tour's SVG picture: one svg element around the two curves, the
# seven data points and only finite coordinates.
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
string(REGEX MATCHALL "<circle [^>]*/>" circles "${svg}")
list(LENGTH circles circles)
# Two curves at 2 pixels wide, the control polygons and normals thinner.
string(REGEX MATCHALL "stroke-width=\"2\"" curves "${svg}")
list(LENGTH curves curves)
if(NOT opened EQUAL 1 OR NOT closed EQUAL 1 OR NOT circles EQUAL 7 OR NOT curves EQUAL 2)
  message(FATAL_ERROR "'${PICTURE}': ${opened} <svg>, ${closed} </svg>, ${circles} circles, "
                      "${curves} curves; expected 1, 1, 7 and 2")
endif()
if(svg MATCHES "nan|inf")
  message(FATAL_ERROR "'${PICTURE}' has a coordinate that is not finite")
endif()
message(STATUS "'${PICTURE}' looks like the tour's picture")
