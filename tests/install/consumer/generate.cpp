// Records a computation with the installed package, checks that its
// evaluation gives the Numeric result bit for bit, then writes one C file:
// the generated function plus a main() that runs it on the recorded inputs
// and compares each output bit for bit with the Numeric result. Building and
// running that file proves that generated code compiles and links against
// the installed runtime and kernel archives alone, and that the three paths
// agree under the consumer's compiler flags.
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

std::string hex(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: generate OUTPUT.c\n";
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

  // Evaluation, compiled into the library with its own flags, against
  // Numeric compiled here with the consumer's.
  ct::BindingSet bindings;
  for (std::size_t i = 0; i < kInputs; ++i) bindings.bind(names[i], kValues[i]);
  int mismatches = 0;
  for (std::size_t j = 0; j < expected.size(); ++j) {
    double evaluated = traced[j].evaluate(bindings);
    if (std::memcmp(&evaluated, &expected[j], sizeof(double)) != 0) {
      std::cerr << "output " << j << ": evaluation " << hex(evaluated) << ", Numeric "
                << hex(expected[j]) << "\n";
      ++mismatches;
    }
  }
  if (mismatches) return 1;

  std::ofstream file(argv[1]);
  file << ct::generateCFunction("consumer_generated", names, traced);
  file << "\n#include <stdio.h>\n#include <string.h>\n\nint main(void) {\n"
       << "  const double in[" << kInputs << "] = {";
  for (std::size_t i = 0; i < kInputs; ++i) file << (i ? ", " : "") << hex(kValues[i]);
  file << "};\n  const double expected[" << expected.size() << "] = {";
  for (std::size_t j = 0; j < expected.size(); ++j) file << (j ? ", " : "") << hex(expected[j]);
  file << "};\n  double out[" << expected.size() << "];\n  int failures = 0;\n"
       << "  consumer_generated(in, out);\n"
       << "  for (int j = 0; j < " << expected.size() << "; ++j) {\n"
       << "    if (memcmp(&out[j], &expected[j], sizeof(double)) != 0) {\n"
       << "      fprintf(stderr, \"output %d: %a, expected %a\\n\", j, out[j], expected[j]);\n"
       << "      ++failures;\n    }\n  }\n"
       << "  if (failures == 0) printf(\"generated code agrees with Numeric\\n\");\n"
       << "  return failures == 0 ? 0 : 1;\n}\n";
  return file ? 0 : 1;
}
