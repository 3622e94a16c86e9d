// Records a computation with the installed package and writes a C program:
// the generated function and a check that runs it on the recorded inputs
// and compares every output bit for bit with Numeric. Building and running
// it proves that generated code compiles and links against the installed
// runtime and kernel archives alone, and agrees under the consumer's flags.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>
#include <vela/math.hpp>

namespace {

namespace vm = vela::math;
namespace ct = kelm_math::comp_trace;
template <class Mode>
using V3 = math3d::Vector3_T<Mode>;

template <class S, class Values>
void append(std::vector<S>& out, Values const& v, int n) {
  out.insert(out.end(), v.values(), v.values() + n);
}

// Each kernel family whose lines call into a different archive, and inline
// header code of the consumer's own unit that a compiler would contract
// into FMA.
template <class Mode>
std::vector<vm::Scalar<Mode>> kernels(std::vector<vm::Scalar<Mode>> const& in) {
  using S = vm::Scalar<Mode>;
  S sum[3];
  vm::vectorAdd(3u, &in[0], &in[3], sum);  // runtime -> linalg
  std::vector<S> out(sum, sum + 3);
  out.push_back(vm::dotProduct(3u, &in[0], &in[6]));
  out.push_back(ct::ternary(vm::anyIsNaN(3u, sum), S(1.0), S(0.0)));  // ckernels
  std::vector<V3<Mode>> points;
  for (std::size_t p = 0; p < 3; ++p) points.emplace_back(in[3 * p], in[3 * p + 1], in[3 * p + 2]);
  V3<Mode> point, normal, principal;
  out.push_back(ct::ternary(vm::bestFitPlane3D(points, point, normal), S(1.0), S(0.0)));
  math3d::Quaternion_T<Mode> rotation;
  vm::compDiagonalization(points[0], points[1], principal, rotation);  // linalg by its full name
  V3<Mode> a(in[0], in[1], in[2]), b(in[3], in[4], in[5]);
  V3<Mode> moment = a.cross(b) + principal * a.dot(b);
  V3<Mode> moved = math3d::Transform3_T<Mode>(rotation, a).xformPoint(b) - moment.cross(a);
  math3d::Matrix3x3_T<Mode> turn(rotation);
  math3d::Quaternion_T<Mode> back(turn.compose(turn));
  for (V3<Mode> const& v : {point, normal, principal, moment, moved}) append(out, v, 3);
  append(out, rotation, 4), append(out, back, 4);
  // svd( and dotProduct( are routines a user program defines too (see
  // user_symbols.c): the model must call its own.
  S A[6] = {in[0], in[1], in[2], in[3], in[4], in[6]}, s[2], U[6], V[4];
  std::vector<S> work(static_cast<std::size_t>(kelm_math_lin_alg_svdReqdWorkSize(3, 2, 0)));
  vm::svd(3u, 2u, A, 0, s, U, V, work.data());
  out.insert(out.end(), s, s + 2);
  out.insert(out.end(), U, U + 6);
  vm::BezierCurve<Mode, math3d::Vector3_T> curve(points);  // C kernels by their full names
  append(out, curve.point(in[8]), 3), append(out, curve.tangent(in[3]), 3);
  // A closed spline at a traced parameter, and a walk from its segment.
  vm::InterpolatingCubicSpline<Mode, math3d::Vector3_T> const spline(
      {{0.0, 0.0, 0.0}, {1.0, 2.0, 0.5}, {3.0, 2.5, 1.0}, {4.0, 1.0, 0.5}, {6.0, 1.5, -0.5}}, true);
  V3<Mode> nearest;
  append(out, spline.point(in[8]), 3), append(out, spline.normal(in[8]), 3);
  out.push_back(spline.closestPoint(V3<Mode>(2.0, 3.0, 1.0), in[8], nearest));
  append(out, nearest, 3);
  // A body of traced point masses, the first with an inertia of its own.
  using Body = vm::LumpedDistribution<Mode>;
  Body body(true, in[6] * in[6] + 1.0, a, V3<Mode>(in[7], 1.0, 2.0), V3<Mode>(0.0, in[8], 0.0));
  body += Body(true, in[8] + 2.0, b, V3<Mode>(), V3<Mode>());
  body += Body(true, 1.5, moved, V3<Mode>(), V3<Mode>());
  append(out, body.center(), 3), append(out, body.principalMoments(), 3);
  append(out, body.guardedPrincipalToReferenceTransform().quaternion(), 4);
  return out;
}

std::string hex(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;  // usage: generate OUT.c
  std::vector<double> const in = {2.0, 3.0, 5.0, 0.25, -0.5, 0.75, 1.0, -2.0, 0.5};
  std::vector<std::string> names;
  std::vector<ct::TracedDouble> traced;
  for (std::size_t i = 0; i < in.size(); ++i) {
    names.push_back("x" + std::to_string(i));
    traced.push_back(ct::TracedDouble::input(names.back()));
  }
  std::vector<ct::TracedDouble> out = kernels<vm::Traced>(traced);
  std::string inputs, expected, n = std::to_string(out.size());
  for (double v : in) inputs += hex(v) + ", ";
  for (double v : kernels<vm::Numeric>(in)) expected += hex(v) + ", ";
  std::ofstream file(argv[1]);
  file << ct::generateCFunction("consumer_model", names, out)
       << "\n#include <stdio.h>\n#include <string.h>\n\nint main(void) {\n"
       << "  const double in[] = {" << inputs << "};\n  const double expected[] = {" << expected
       << "};\n  double out[" << n << "];\n  int failures = 0;\n  consumer_model(in, out);\n"
       << "  for (int j = 0; j < " << n << "; ++j) {\n"
       << "    if (memcmp(&out[j], &expected[j], sizeof(double)) != 0) {\n"
       << "      fprintf(stderr, \"output %d: %a, expected %a\\n\", j, out[j], expected[j]);\n"
       << "      ++failures;\n    }\n  }\n"
       << "  if (failures == 0) printf(\"generated C agrees with Numeric\\n\");\n"
       << "  return failures == 0 ? 0 : 1;\n}\n";
  return file ? 0 : 1;
}
