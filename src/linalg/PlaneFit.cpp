#include <algorithm>
#include <array>
#include <vector>

#include "frame/TracedCall.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "kelmf/foundation.h"
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

// ---------------------------------------------------------------------------
// Derivative rules
// ---------------------------------------------------------------------------
// The fit fixes component a of u to 1 and solves the block B_a of the scatter
// M (rows and columns other than a) for the others: (M u)_i = 0 for i != a,
// N = u / |u|. So B_a dv = -(dM N) on those rows, dv_a = 0, and
// dN = dv - N (N . dv), with dM N = sum over points of dp (d . N) + d (dp . N)
// (d the deviations from the centroid, whose own derivative drops out). The
// axis is recomputed as the kernel chooses it, from M computed as it does.

namespace {

using Array = ct::TracedArray;
using ct::TracedDouble;

struct PlaneFitParts {
  std::size_t count;
  Array deviations;             // 3 per point
  std::array<Array, 3> block;   // B_a column-major
  ct::TracedBool pick1, pick2;  // the axis: 2 if pick2, else 1 if pick1, else 0
  Array normal, projections;    // N; d . N per point
  TracedDouble fitted;          // 1 when the fit succeeded, else 0

  PlaneFitParts(ct::RuleArgs const& d, unsigned long maxCount) {
    Array xyz = d.array(0);
    count = std::min<std::size_t>(maxCount, xyz.size() / 3);
    normal = d.output(2, 3);
    TracedDouble c[3] = {TracedDouble(0.0), TracedDouble(0.0), TracedDouble(0.0)};
    for (std::size_t p = 0; p < count; ++p)
      for (int i = 0; i < 3; ++i) c[i] = c[i] + xyz[3 * p + i];
    for (auto& ci : c) ci = ci / static_cast<double>(count);
    TracedDouble M[3][3];
    for (auto& row : M)
      for (auto& v : row) v = TracedDouble(0.0);
    for (std::size_t p = 0; p < count; ++p) {
      TracedDouble dev[3];
      for (int i = 0; i < 3; ++i) deviations.push_back(dev[i] = xyz[3 * p + i] - c[i]);
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) M[i][j] = M[i][j] + dev[i] * dev[j];
      projections.push_back(dev[0] * normal[0] + dev[1] * normal[1] + dev[2] * normal[2]);
    }
    TracedDouble ratio[3];
    for (int a = 0; a < 3; ++a) {
      int i = (a + 1) % 3, j = (a + 2) % 3;
      block[a] = {M[i][i], M[j][i], M[i][j], M[j][j]};
      ratio[a] = blockRatio(M[i][i], M[i][j], M[j][j]);
    }
    pick1 = ratio[1] < ratio[0];
    pick2 = ratio[2] < ct::ternary(pick1, ratio[1], ratio[0]);
    fitted =
        ct::ternary(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2] > 0.5,
                    TracedDouble(1.0), TracedDouble(0.0));
  }

  // The kernel's condition ratio of [a b; b d], operation for operation.
  static TracedDouble blockRatio(TracedDouble const& a, TracedDouble const& b,
                                 TracedDouble const& d) {
    TracedDouble s = a + d, r = ct::sqrt((a - d) * (a - d) + 4.0 * b * b);
    TracedDouble x = ct::abs(s - r), y = ct::abs(s + r);
    TracedDouble hi = ct::ternary(x > y, x, y), lo = ct::ternary(x > y, y, x);
    return ct::ternary(lo == 0.0, TracedDouble(kelmf_get_real_max()), hi / lo);
  }

  // B_a^{-1} applied to rows other than a of g, embedded with a zero at a,
  // for the chosen axis.
  Array blockSolve(Array const& g) const {
    Array out(3, TracedDouble(0.0)), candidate[3];
    for (int a = 0; a < 3; ++a) {
      int i = (a + 1) % 3, j = (a + 2) % 3;
      TracedDouble rhs[2] = {g[i], g[j]}, v[2];
      geSolve2x2(block[a].data(), rhs, v);
      candidate[a] = Array(3, TracedDouble(0.0));
      candidate[a][i] = v[0];
      candidate[a][j] = v[1];
    }
    for (int k = 0; k < 3; ++k)
      out[k] =
          ct::ternary(pick2, candidate[2][k], ct::ternary(pick1, candidate[1][k], candidate[0][k]));
    return out;
  }

  // v - N (N . v), times the success indicator.
  Array project(Array const& v) const {
    TracedDouble along = normal[0] * v[0] + normal[1] * v[1] + normal[2] * v[2];
    Array out(3);
    for (int k = 0; k < 3; ++k) out[k] = fitted * (v[k] - normal[k] * along);
    return out;
  }
};

}  // namespace

void BestFitPlane3D::jvp(ct::ForwardArgs& d) const {
  if (d.isZero(0)) return;
  PlaneFitParts p(d, count);
  if (p.count == 0) return;
  Array dp = d.tangent(0), g(3, TracedDouble(0.0)), dc(3, TracedDouble(0.0));
  for (std::size_t q = 0; q < p.count; ++q) {
    TracedDouble dpN(0.0);
    for (int i = 0; i < 3; ++i) dpN = dpN + dp[3 * q + i] * p.normal[i];
    for (int i = 0; i < 3; ++i) {
      g[i] = g[i] - (dp[3 * q + i] * p.projections[q] + p.deviations[3 * q + i] * dpN);
      dc[i] = dc[i] + dp[3 * q + i];
    }
  }
  TracedDouble* centroid = d.outputTangent(1, 3);
  for (int i = 0; i < 3; ++i) centroid[i] = p.fitted * (dc[i] / static_cast<double>(p.count));
  Array dN = p.project(p.blockSolve(g));
  std::copy(dN.begin(), dN.end(), d.outputTangent(2, 3));
}

void BestFitPlane3D::vjp(ct::ReverseArgs& d) const {
  if (d.isZeroCotangent(1) && d.isZeroCotangent(2)) return;
  PlaneFitParts p(d, count);
  if (p.count == 0) return;
  // The maps above are symmetric in turn (the projection, the block's
  // inverse), so the adjoint runs them backwards.
  Array gBar = p.blockSolve(p.project(d.cotangent(2, 3))), cBar = d.cotangent(1, 3);
  Array xyzBar(3 * count, TracedDouble(0.0));
  for (std::size_t q = 0; q < p.count; ++q) {
    TracedDouble devG(0.0);
    for (int i = 0; i < 3; ++i) devG = devG + p.deviations[3 * q + i] * gBar[i];
    for (int i = 0; i < 3; ++i)
      xyzBar[3 * q + i] = p.fitted * (cBar[i] / static_cast<double>(p.count)) -
                          (gBar[i] * p.projections[q] + p.normal[i] * devG);
  }
  d.add(0, xyzBar);
}

}  // namespace vela::math
