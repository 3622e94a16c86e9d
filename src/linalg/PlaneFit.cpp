#include <algorithm>
#include <vector>

#include "frame/TracedCall.hpp"
#include "linalg/PlaneFitOps.hpp"
#include "vela/math/dense_kernels.hpp"
#include "zeph_core/ckernels.h"

namespace vela::math {
namespace {
// A point list is read as one array of coordinates.
static_assert(sizeof(math3d::Vector3_T<Numeric>) == 3 * sizeof(double));
static_assert(sizeof(math3d::Vector3_T<Traced>) == 3 * sizeof(TracedValue<double>));
}  // namespace

bool bestFitPlane3D(std::vector<math3d::Vector3_T<Numeric>> const& points,
                    math3d::Vector3_T<Numeric>& point, math3d::Vector3_T<Numeric>& normal) {
  double centroid[3], unit[3];
  double const* xyz = points.empty() ? nullptr : points.front().values();
  if (!zeph_core_math_bestFitPlane3D(points.size(), xyz, centroid, unit)) return false;
  point.values(centroid);
  normal.values(unit);
  return true;
}

TracedValue<bool> bestFitPlane3D(std::vector<math3d::Vector3_T<Traced>> const& points,
                                 math3d::Vector3_T<Traced>& point,
                                 math3d::Vector3_T<Traced>& normal) {
  auto coordinates = static_cast<unsigned>(3 * points.size());
  TracedValue<bool> flag;
  // A fold writes all three outputs, so a failed constant fit gives zeros.
  frame::TracedCall<BestFitPlane3dOp> call(BestFitPlane3D{points.size()});
  call.array(points.empty() ? nullptr : points.front().values(), coordinates, coordinates);
  call.output(&flag, 1, 1).output(point.values(), 3, 3).output(normal.values(), 3, 3);
  call.run();
  return flag;
}

void BestFitPlane3D::compute(frame::Args& args) const {
  unsigned long available = std::min<unsigned long>(count, args.count(0) / 3);
  double const* xyz = args.doubles(0);
  std::vector<math3d::Vector3_T<Numeric>> points;
  points.reserve(available);
  for (unsigned long i = 0; i < available; ++i) points.emplace_back(xyz + 3 * i);
  math3d::Vector3_T<Numeric> point, normal;
  args.boolOutput(1)[0] = bestFitPlane3D(points, point, normal) ? 1 : 0;
  point.getValues(args.output(3));
  normal.getValues(args.output(3));
}

void BestFitPlane3D::code(frame::Code& code) const {
  std::string flag = code.outputValue(ct::ScalarType::Bool);
  std::string point = code.output(ct::ScalarType::Double, 3);
  std::string normal = code.output(ct::ScalarType::Double, 3);
  code.line(flag + " = zeph_core_math_bestFitPlane3D(" + frame::Code::decimal(count) + ", " +
            code.array(0) + ", " + point + ", " + normal + ");");
  // A failed fit leaves the centroid, or nothing, in fresh storage; its
  // evaluation gives zero vectors.
  code.line("if (!" + flag + ") {");
  code.line("  memset(" + point + ", 0, 3 * sizeof(double));");
  code.line("  memset(" + normal + ", 0, 3 * sizeof(double));");
  code.line("}");
}

}  // namespace vela::math
