// Records a computation with the installed package, then writes one C file:
// the generated function plus a main() that runs it on the recorded inputs
// and compares each output bit for bit with the Numeric result. Building and
// running that file proves that generated code compiles and links against
// the installed runtime and kernel archives alone.
#include <cstdio>
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
