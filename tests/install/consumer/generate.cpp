// Records computations with the installed package, checks that their
// evaluation gives the Numeric results bit for bit, then writes one C file
// per computation: the generated function plus a main() that runs it on the
// recorded inputs and compares each output bit for bit with the Numeric
// result. The first computation runs once; the second, curves evaluated at
// a traced parameter, runs at several parameters; the third, the mass
// properties of a few traced point masses, runs on several bodies, one of
// them massless so that the guarded divisions by the mass are taken.
// Building and running those files proves that generated code compiles and
// links against the installed runtime and kernel archives alone, and that
// the three paths agree under the consumer's compiler flags.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>
#include <vela/math.hpp>

namespace {

namespace vm = vela::math;
namespace ct = kelm_math::comp_trace;

constexpr std::size_t kInputs = 9;
double const kValues[kInputs] = {2.0, 3.0, 5.0, 0.25, -0.5, 0.75, 1.0, -2.0, 0.5};

// Data points of the curves, off any plane and off any line.
std::vector<math3d::Vector3_T<vm::Numeric>> const kSpacePoints = {
    {0.0, 0.0, 0.0}, {1.0, 2.0, 0.5},  {3.0, 2.5, 1.0},
    {4.0, 1.0, 0.5}, {6.0, 1.5, -0.5}, {5.0, 4.0, 0.0}};
std::vector<math3d::Vector2_T<vm::Numeric>> const kPlanePoints = {
    {0.0, 0.0}, {1.0, 2.0}, {3.0, 2.5}, {4.0, 1.0}, {6.0, 1.5}, {5.0, 4.0}, {2.0, 4.5}};

// The computation, written once over the mode. Each kernel family whose
// lines call into a different archive contributes outputs.
template <class Mode>
std::vector<vm::Scalar<Mode>> compute(std::vector<vm::Scalar<Mode>> const& in) {
  using S = vm::Scalar<Mode>;
  std::vector<S> out;
  S sum[3];
  vm::vectorAdd(3u, &in[0], &in[3], sum);  // runtime -> linalg
  out.insert(out.end(), sum, sum + 3);
  out.push_back(vm::dotProduct(3u, &in[0], &in[6]));
  // ckernels
  out.push_back(ct::ternary(vm::anyIsNaN(3u, sum), S(1.0), S(0.0)));
  std::vector<math3d::Vector3_T<Mode>> points;
  for (std::size_t p = 0; p < 3; ++p) points.emplace_back(in[3 * p], in[3 * p + 1], in[3 * p + 2]);
  math3d::Vector3_T<Mode> point, normal;
  out.push_back(ct::ternary(vm::bestFitPlane3D(points, point, normal), S(1.0), S(0.0)));
  out.insert(out.end(), point.values(), point.values() + 3);
  out.insert(out.end(), normal.values(), normal.values() + 3);
  // linalg, called by its full name
  math3d::Vector3_T<Mode> principal;
  math3d::Quaternion_T<Mode> rotation;
  vm::compDiagonalization(points[0], points[1], principal, rotation);
  out.insert(out.end(), principal.values(), principal.values() + 3);
  out.insert(out.end(), rotation.values(), rotation.values() + 4);
  // Inline header code of the consumer's own translation unit: products and
  // sums that a compiler would contract into FMA.
  math3d::Vector3_T<Mode> a(in[0], in[1], in[2]), b(in[3], in[4], in[5]);
  math3d::Vector3_T<Mode> moment = a.cross(b) + principal * a.dot(b);
  math3d::Transform3_T<Mode> pose(rotation, a);
  math3d::Vector3_T<Mode> moved = pose.xformPoint(b) - moment.cross(a);
  math3d::Matrix3x3_T<Mode> turn(rotation);
  math3d::Quaternion_T<Mode> back(turn.compose(turn));
  out.insert(out.end(), moment.values(), moment.values() + 3);
  out.insert(out.end(), moved.values(), moved.values() + 3);
  out.insert(out.end(), back.values(), back.values() + 4);
  // svd( and dotProduct( are routines a user program defines too (see
  // user_symbols.c): the model must call its own.
  S A[6] = {in[0], in[1], in[2], in[3], in[4], in[6]}, s[2], U[6], V[4];
  std::vector<S> work(static_cast<std::size_t>(kelm_math_lin_alg_svdReqdWorkSize(3, 2, 0)));
  vm::svd(3u, 2u, A, 0, s, U, V, work.data());
  out.insert(out.end(), s, s + 2);
  out.insert(out.end(), U, U + 6);
  // A curve: its lines call the C kernels by their full names.
  vm::BezierCurve<Mode, math3d::Vector3_T> curve(points);
  math3d::Vector3_T<Mode> onCurve = curve.point(in[8]), along = curve.tangent(in[3]);
  out.insert(out.end(), onCurve.values(), onCurve.values() + 3);
  out.insert(out.end(), along.values(), along.values() + 3);
  return out;
}

// Closed and open curves built from numeric points, so that only the work
// that depends on the parameter t is recorded: the segment lookup (with the
// wrap of a closed curve) and the evaluations.
template <class Mode>
std::vector<vm::Scalar<Mode>> curvesAt(vm::Scalar<Mode> const& t) {
  vm::InterpolatingCubicSpline<Mode, math3d::Vector3_T> const spline(kSpacePoints, true);
  vm::InterpolatingPchip<Mode, math3d::Vector2_T> const pchip(kPlanePoints, false);
  std::vector<vm::Scalar<Mode>> out;
  for (auto const& v : {spline.point(t), spline.tangent(t), spline.normal(t)})
    out.insert(out.end(), v.values(), v.values() + 3);
  for (auto const& v : {pchip.point(t), pchip.tangent(t)})
    out.insert(out.end(), v.values(), v.values() + 2);
  // A walk from the segment of t: its start index is a traced int in C.
  math3d::Vector3_T<Mode> nearest;
  out.push_back(spline.closestPoint(math3d::Vector3_T<Mode>(2.0, 3.0, 1.0), t, nearest));
  out.insert(out.end(), nearest.values(), nearest.values() + 3);
  return out;
}

// Point masses (m, x, y, z), the first also carrying central moments and
// products of inertia of its own (the last six inputs).
constexpr std::size_t kPointMasses = 4;
constexpr std::size_t kMassInputs = 4 * kPointMasses + 6;

// The inputs of one body: its point masses, then the first one's own inertia.
std::vector<double> massInputs(double const (&points)[kPointMasses][4], double const (&own)[6]) {
  std::vector<double> in;
  for (auto const& p : points) in.insert(in.end(), p, p + 4);
  in.insert(in.end(), own, own + 6);
  return in;
}

// Their sum as one distribution, then its central quantities, principal
// moments and principal axes: every division by the total mass is guarded.
template <class Mode>
std::vector<vm::Scalar<Mode>> massProperties(std::vector<vm::Scalar<Mode>> const& in) {
  using V = math3d::Vector3_T<Mode>;
  using Body = vm::LumpedDistribution<Mode>;
  std::size_t const own = 4 * kPointMasses;
  Body body(true, in[0], V(in[1], in[2], in[3]), V(in[own], in[own + 1], in[own + 2]),
            V(in[own + 3], in[own + 4], in[own + 5]));
  for (std::size_t k = 1; k < kPointMasses; ++k)
    body += Body(true, in[4 * k], V(in[4 * k + 1], in[4 * k + 2], in[4 * k + 3]), V(), V());
  std::vector<vm::Scalar<Mode>> out = {body.total()};
  for (V const& v :
       {body.center(), body.centerMoments(), body.centerProducts(), body.principalMoments()})
    out.insert(out.end(), v.values(), v.values() + 3);
  math3d::Quaternion_T<Mode> const axes = body.guardedPrincipalToReferenceTransform().quaternion();
  out.insert(out.end(), axes.values(), axes.values() + 4);
  return out;
}

std::string hex(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

// Evaluation, compiled into the library with its own flags, against Numeric
// compiled here with the consumer's: the number of outputs that differ.
int mismatches(std::vector<std::string> const& names, std::vector<double> const& in,
               std::vector<ct::TracedDouble> const& traced, std::vector<double> const& expected) {
  ct::BindingSet bindings;
  for (std::size_t i = 0; i < names.size(); ++i) bindings.bind(names[i], in[i]);
  int count = 0;
  for (std::size_t j = 0; j < expected.size(); ++j) {
    double evaluated = traced[j].evaluate(bindings);
    if (std::memcmp(&evaluated, &expected[j], sizeof(double)) != 0) {
      std::cerr << "output " << j << " at " << hex(in[0]) << ": evaluation " << hex(evaluated)
                << ", Numeric " << hex(expected[j]) << "\n";
      ++count;
    }
  }
  return count;
}

// A C array initializer of the values, in hexadecimal.
std::string initializer(std::vector<double> const& values) {
  std::string text = "{";
  for (std::size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + hex(values[i]);
  return text + "}";
}

// One C program: the function generated from traced, plus a main() that calls
// it on each row of inputs and compares every output bit for bit with the
// same row of expected.
bool writeProgram(char const* path, std::string const& function,
                  std::vector<std::string> const& names,
                  std::vector<ct::TracedDouble> const& traced,
                  std::vector<std::vector<double>> const& inputs,
                  std::vector<std::vector<double>> const& expected) {
  std::size_t const rows = inputs.size(), outputs = traced.size();
  std::ofstream file(path);
  file << ct::generateCFunction(function, names, traced);
  file << "\n#include <stdio.h>\n#include <string.h>\n\nint main(void) {\n"
       << "  const double in[" << rows << "][" << names.size() << "] = {";
  for (std::size_t r = 0; r < rows; ++r) file << (r ? ", " : "") << initializer(inputs[r]);
  file << "};\n  const double expected[" << rows << "][" << outputs << "] = {";
  for (std::size_t r = 0; r < rows; ++r) file << (r ? ",\n    " : "") << initializer(expected[r]);
  file << "};\n  double out[" << outputs << "];\n  int failures = 0;\n"
       << "  for (int r = 0; r < " << rows << "; ++r) {\n"
       << "    " << function << "(in[r], out);\n"
       << "    for (int j = 0; j < " << outputs << "; ++j) {\n"
       << "      if (memcmp(&out[j], &expected[r][j], sizeof(double)) != 0) {\n"
       << "        fprintf(stderr, \"" << function
       << " run %d, output %d: %a, expected %a\\n\", r, j, out[j], expected[r][j]);\n"
       << "        ++failures;\n      }\n    }\n  }\n"
       << "  if (failures == 0) printf(\"" << function << " agrees with Numeric in " << rows
       << " runs\\n\");\n"
       << "  return failures == 0 ? 0 : 1;\n}\n";
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: generate CHECK.c CURVES.c MASS.c\n";
    return 2;
  }
  std::vector<double> numericIn(kValues, kValues + kInputs);
  std::vector<double> expected = compute<vm::Numeric>(numericIn);
  std::vector<std::string> names;
  std::vector<ct::TracedDouble> tracedIn;
  for (std::size_t i = 0; i < kInputs; ++i) {
    names.push_back("x" + std::to_string(i));
    tracedIn.push_back(ct::TracedDouble::input(names.back()));
  }
  std::vector<ct::TracedDouble> traced = compute<vm::Traced>(tracedIn);
  if (mismatches(names, numericIn, traced, expected)) return 1;
  if (!writeProgram(argv[1], "consumer_generated", names, traced, {numericIn}, {expected}))
    return 1;

  // Parameters inside segments, on interior knots of either curve, at both
  // ends and beyond them, where the closed curve wraps and the open one
  // extrapolates.
  double const splineKnot =
      vm::InterpolatingCubicSpline<vm::Numeric, math3d::Vector3_T>(kSpacePoints, true).knots()[2];
  double const pchipKnot =
      vm::InterpolatingPchip<vm::Numeric, math3d::Vector2_T>(kPlanePoints, false).knots()[3];
  std::vector<std::vector<double>> params = {{0.3}, {splineKnot}, {pchipKnot}, {0.0},
                                             {1.0}, {1.25},       {-0.25},     {0.9}};
  std::vector<ct::TracedDouble> curves = curvesAt<vm::Traced>(ct::TracedDouble::input("t"));
  std::vector<std::vector<double>> curvesExpected;
  int curveMismatches = 0;
  for (auto const& t : params) {
    curvesExpected.push_back(curvesAt<vm::Numeric>(t[0]));
    curveMismatches += mismatches({"t"}, t, curves, curvesExpected.back());
  }
  if (curveMismatches) return 1;
  if (!writeProgram(argv[2], "consumer_curves", {"t"}, curves, params, curvesExpected)) return 1;

  // Bodies: a generic one; one without mass, its points at the origin and
  // only the first point's own inertia left; one with a massless point at
  // the origin among massive ones; collinear points, whose equal principal
  // moments leave the axes to the tie rules; and the empty body.
  std::vector<std::vector<double>> bodies = {
      massInputs({{2.0, 0.5, -1.0, 0.25},
                  {0.5, 1.5, 0.75, -0.5},
                  {1.25, -0.75, 0.25, 2.0},
                  {3.0, 0.0, -1.5, 1.0}},
                 {0.3, 0.4, 0.5, 0.01, -0.02, 0.03}),
      massInputs(
          {{0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 0.0}},
          {0.3, 0.4, 0.5, 0.05, 0.0, -0.1}),
      massInputs({{0.0, 0.0, 0.0, 0.0},
                  {1.5, 1.0, 2.0, -1.0},
                  {0.5, -2.0, 0.5, 0.25},
                  {2.5, 0.0, -1.0, 3.0}},
                 {}),
      massInputs({{1.0, 1.0, 2.0, 3.0},
                  {2.0, -1.0, -2.0, -3.0},
                  {0.5, 2.0, 4.0, 6.0},
                  {0.25, 0.5, 1.0, 1.5}},
                 {}),
      std::vector<double>(kMassInputs, 0.0)};
  std::vector<std::string> massNames;
  std::vector<ct::TracedDouble> massIn;
  for (std::size_t i = 0; i < kMassInputs; ++i) {
    massNames.push_back("u" + std::to_string(i));
    massIn.push_back(ct::TracedDouble::input(massNames.back()));
  }
  std::vector<ct::TracedDouble> mass = massProperties<vm::Traced>(massIn);
  std::vector<std::vector<double>> massExpected;
  int massMismatches = 0;
  for (auto const& row : bodies) {
    massExpected.push_back(massProperties<vm::Numeric>(row));
    massMismatches += mismatches(massNames, row, mass, massExpected.back());
  }
  if (massMismatches) return 1;
  return writeProgram(argv[3], "consumer_mass", massNames, mass, bodies, massExpected) ? 0 : 1;
}
