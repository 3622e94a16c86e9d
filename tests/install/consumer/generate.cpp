// Records computations with the installed package, checks that evaluation
// gives the Numeric results bit for bit, and writes one C program: each
// generated function and a check that runs it on the recorded inputs and
// compares every output bit for bit with Numeric. Building and running it
// proves that generated code compiles and links against the installed
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
  return out;
}

// Curves from numeric points, so that only the work on the parameter t is
// recorded: the segment lookup (with the wrap of a closed curve) and the
// evaluations, and a walk from t's segment whose start is a traced int.
template <class Mode>
using Spline = vm::InterpolatingCubicSpline<Mode, math3d::Vector3_T>;
template <class Mode>
using Pchip = vm::InterpolatingPchip<Mode, math3d::Vector2_T>;
std::vector<V3<vm::Numeric>> const kSpace = {{0, 0, 0},   {1, 2, 0.5},    {3, 2.5, 1},
                                             {4, 1, 0.5}, {6, 1.5, -0.5}, {5, 4, 0}};
std::vector<math3d::Vector2_T<vm::Numeric>> const kPlane = {{0, 0},   {1, 2}, {3, 2.5}, {4, 1},
                                                            {6, 1.5}, {5, 4}, {2, 4.5}};

template <class Mode>
std::vector<vm::Scalar<Mode>> curves(std::vector<vm::Scalar<Mode>> const& in) {
  Spline<Mode> const spline(kSpace, true);
  Pchip<Mode> const pchip(kPlane, false);
  std::vector<vm::Scalar<Mode>> out;
  V3<Mode> nearest;
  out.push_back(spline.closestPoint(V3<Mode>(2.0, 3.0, 1.0), in[0], nearest));
  for (auto const& v : {spline.point(in[0]), spline.tangent(in[0]), spline.normal(in[0]), nearest})
    append(out, v, 3);
  append(out, pchip.point(in[0]), 2), append(out, pchip.tangent(in[0]), 2);
  return out;
}

// Four point masses (m, x, y, z), the first with central moments and
// products of its own: every division by the total mass is guarded.
template <class Mode>
std::vector<vm::Scalar<Mode>> mass(std::vector<vm::Scalar<Mode>> const& in) {
  using Body = vm::LumpedDistribution<Mode>;
  Body body(true, in[0], V3<Mode>(in[1], in[2], in[3]), V3<Mode>(in[16], in[17], in[18]),
            V3<Mode>(in[19], in[20], in[21]));
  for (std::size_t k = 4; k < 16; k += 4)
    body += Body(true, in[k], V3<Mode>(in[k + 1], in[k + 2], in[k + 3]), V3<Mode>(), V3<Mode>());
  std::vector<vm::Scalar<Mode>> out = {body.total()};
  for (auto const& v :
       {body.center(), body.centerMoments(), body.centerProducts(), body.principalMoments()})
    append(out, v, 3);
  append(out, body.guardedPrincipalToReferenceTransform().quaternion(), 4);
  return out;
}

std::string hex(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

// Writes the function generated from the traced form and its inputs and
// Numeric results; returns the C call that checks them.
template <class Numeric, class Traced>
std::string emit(std::ostream& file, std::string const& name, Numeric numeric, Traced traced,
                 std::vector<std::vector<double>> const& rows) {
  std::vector<std::string> names;
  std::vector<ct::TracedDouble> in;
  for (std::size_t i = 0; i < rows[0].size(); ++i) {
    names.push_back("x" + std::to_string(i));
    in.push_back(ct::TracedDouble::input(names.back()));
  }
  std::vector<ct::TracedDouble> out = traced(in);
  std::string inputs, expected, m = std::to_string(out.size());
  for (auto const& row : rows) {
    for (double v : row) inputs += hex(v) + ", ";
    for (double v : numeric(row)) expected += hex(v) + ", ";
  }
  file << ct::generateCFunction(name, names, out) << "\nstatic const double " << name << "_in[] = {"
       << inputs << "};\nstatic const double " << name << "_expected[] = {" << expected
       << "};\nstatic double " << name << "_out[" << m << "];\n";
  return "check(\"" + name + "\", " + name + ", " + std::to_string(rows.size()) + ", " +
         std::to_string(names.size()) + ", " + m + ", " + name + "_in, " + name + "_expected, " +
         name + "_out)";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;  // usage: generate OUT.c
  std::ofstream file(argv[1]);
  file << "#include <stdio.h>\n#include <string.h>\n\n"
          "static int check(const char* name, void (*f)(const double*, double*), int rows, int n,\n"
          "                 int m, const double* in, const double* expected, double* out) {\n"
          "  int failures = 0;\n"
          "  for (int r = 0; r < rows; ++r) {\n"
          "    f(&in[r * n], out);\n"
          "    for (int j = 0; j < m; ++j) {\n"
          "      if (memcmp(&out[j], &expected[r * m + j], sizeof(double)) != 0) {\n"
          "        fprintf(stderr, \"%s run %d, output %d: %a, expected %a\\n\", name, r, j, "
          "out[j],\n"
          "                expected[r * m + j]);\n"
          "        ++failures;\n"
          "      }\n    }\n  }\n  return failures;\n}\n\n";
  // Curve parameters inside segments, on interior knots of either curve, at
  // both ends and beyond them, where the closed curve wraps and the open one
  // extrapolates.
  double const splineKnot = Spline<vm::Numeric>(kSpace, true).knots()[2],
               pchipKnot = Pchip<vm::Numeric>(kPlane, false).knots()[3];
  std::vector<std::vector<double>> params = {{0.3}, {splineKnot}, {pchipKnot}, {0.0},
                                             {1.0}, {1.25},       {-0.25},     {0.9}};
  // Bodies: a generic one; one without mass, with only the first point's own
  // inertia; a massless point among massive ones; collinear points, whose
  // equal principal moments leave the axes to the tie rules; the empty body.
  std::vector<std::vector<double>> bodies = {
      {2, 0.5, -1, 0.25, 0.5, 1.5, 0.75, -0.5, 1.25, -0.75, 0.25,
       2, 3,   0,  -1.5, 1,   0.3, 0.4,  0.5,  0.01, -0.02, 0.03},
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.3, 0.4, 0.5, 0.05, 0, -0.1},
      {0, 0, 0, 0, 1.5, 1, 2, -1, 0.5, -2, 0.5, 0.25, 2.5, 0, -1, 3, 0, 0, 0, 0, 0, 0},
      {1, 1, 2, 3, 2, -1, -2, -3, 0.5, 2, 4, 6, 0.25, 0.5, 1, 1.5, 0, 0, 0, 0, 0, 0},
      std::vector<double>(22, 0.0)};
  std::string calls =
      emit(file, "consumer_kernels", kernels<vm::Numeric>, kernels<vm::Traced>,
           {{2.0, 3.0, 5.0, 0.25, -0.5, 0.75, 1.0, -2.0, 0.5}}) +
      " + " + emit(file, "consumer_curves", curves<vm::Numeric>, curves<vm::Traced>, params) +
      " + " + emit(file, "consumer_mass", mass<vm::Numeric>, mass<vm::Traced>, bodies);
  file << "\nint main(void) {\n  int failures = " << calls
       << ";\n  if (failures == 0) printf(\"generated C agrees with Numeric\\n\");\n"
       << "  return failures == 0 ? 0 : 1;\n}\n";
  return file ? 0 : 1;
}
