// A guided run through vela::math: one step of a spinning rigid body,
// written once over the mode, computed on plain doubles, recorded as a graph
// from traced inputs, evaluated against bindings, and turned into C that is
// compiled, loaded and run. Then two curves through the same points are
// drawn as an SVG picture, written to the path given as the only argument
// (tour-curves.svg in the current directory without one). Exits non-zero
// when a step fails or the results differ in a single bit.

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vela/math.hpp"

namespace {

namespace fs = std::filesystem;

// A body of mass 2 whose centre of mass sits at c in its own frame, with
// inertia I about that centre (kg m^2; body frame, positive definite). It
// turns about the world z axis through the point (0, 0, 1) and feels the
// torque tau.
double const kMass = 2.0;
double const kCenter[3] = {0.5, 0.0, 0.25};
double const kInertiaDiagonal[3] = {0.3, 0.4, 0.5};
double const kInertiaOffDiagonal[3] = {0.02, -0.01, 0.05};  // yz, zx, xy
double const kTorque[3] = {0.0, 0.1, 0.2};

// The body at angle theta (rad) turning at rate omega (rad/s), in the world
// frame: its momentum h = M V about its centre (M the spatial inertia, V the
// twist (w, w x c)), and the angular acceleration alpha from Euler's
// equation I alpha = tau - w x (I w), solved by Cholesky. Outputs h (6),
// alpha (3) and the flag of the factorization (0 when it worked).
template <class Mode>
std::vector<vela::math::Scalar<Mode>> rigidBodyStep(vela::math::Scalar<Mode> const& theta,
                                                    vela::math::Scalar<Mode> const& omega) {
  using Real = vela::math::Scalar<Mode>;
  using Vector = vela::math::Vector3_T<Mode>;
  using Matrix = vela::math::Matrix3x3_T<Mode>;
  auto constant = [](double const* v) { return Vector(v[0], v[1], v[2]); };

  // The turn by theta about z, as a quaternion and as a matrix R.
  Real half = theta * 0.5;
  vela::math::Quaternion_T<Mode> turn(vela::math::cos(half), 0.0, 0.0, vela::math::sin(half));
  vela::math::Transform3_T<Mode> pose(turn, Vector(0.0, 0.0, 1.0));
  Matrix rotation(turn);
  Matrix bodyInertia(constant(kInertiaDiagonal), constant(kInertiaOffDiagonal));
  Matrix inertia = rotation.compose(bodyInertia).composeTranspose(rotation);  // R I R^T
  Vector center = pose.xformPoint(constant(kCenter));
  Vector w(0.0, 0.0, omega);

  vela::math::SymmetricSpatialMatrix_T<Mode> spatialInertia(inertia, Matrix(),
                                                            Matrix::identity() * kMass);
  vela::math::SpatialVector_T<Mode> twist(w, w.cross(center));
  vela::math::SpatialVector_T<Mode> momentum = spatialInertia.xform(twist);

  Vector rhs = constant(kTorque) - w.cross(inertia * w);
  Real factor[9], work[3], alpha[3];
  std::copy(inertia.values(), inertia.values() + 9, factor);
  auto failed = vela::math::factorSymmetricPosDef(factor, 3u, work);
  vela::math::solveSymmetricPosDef(factor, rhs.values(), 3u, 1u, alpha, work);

  std::vector<Real> out(momentum.values(), momentum.values() + 6);
  out.insert(out.end(), alpha, alpha + 3);
  out.push_back(Real(failed));
  return out;
}

constexpr std::size_t kOutputs = 10;
char const* const kOutputNames[kOutputs] = {"h[0]", "h[1]",     "h[2]",     "h[3]",     "h[4]",
                                            "h[5]", "alpha[0]", "alpha[1]", "alpha[2]", "failed"};
double const kTheta = 0.7, kOmega = 2.5;
char const* const kFunctionName = "tour_rigid_body";

void section(char const* title) { std::printf("\n== %s ==\n", title); }

void printOutputs(std::vector<double> const& v) {
  for (std::size_t i = 0; i < v.size(); ++i) std::printf("  %-8s = %.17g\n", kOutputNames[i], v[i]);
}

bool sameBits(std::vector<double> const& x, std::vector<double> const& y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
}

// The first lines of text, and how many more there are.
void printHead(std::string const& text, int lines) {
  std::size_t end = 0;
  for (int i = 0; i < lines && end != std::string::npos; ++i) end = text.find('\n', end + 1);
  std::printf("----- generated C -----\n%s\n", text.substr(0, end).c_str());
  if (end != std::string::npos)
    std::printf("  ... %td more lines\n", std::count(text.begin() + end + 1, text.end(), '\n'));
}

char const* yesNo(bool b) { return b ? "yes" : "no"; }

std::string quoted(std::string const& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A fresh directory, removed with its contents at scope exit.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = (fs::temp_directory_path() / "vela-tour-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TemporaryDirectory(TemporaryDirectory const&) = delete;
  TemporaryDirectory& operator=(TemporaryDirectory const&) = delete;
  fs::path const& path() const { return path_; }

 private:
  fs::path path_;
};

// Compiles source as a shared object, loads it and calls the function once.
bool compileAndRun(std::string const& source, double const* in, double* out) {
  TemporaryDirectory dir;
  if (dir.path().empty()) {
    std::perror("  mkdtemp");
    return false;
  }
  fs::path const c = dir.path() / (std::string(kFunctionName) + ".c");
  fs::path const so = dir.path() / (std::string(kFunctionName) + ".so");
  if (!(std::ofstream(c) << source)) {
    std::printf("  cannot write %s\n", c.c_str());
    return false;
  }
  std::string const extraFlags =
      *VELA_TOUR_EXTRA_CFLAGS ? std::string(" ") + VELA_TOUR_EXTRA_CFLAGS : std::string();
  std::string const command =
      quoted(VELA_TOUR_CC) + " -std=c99 -O2 -ffp-contract=off -Wall -Wextra -Werror -fPIC -shared" +
      extraFlags + " -I" + quoted(VELA_TOUR_RUNTIME_INCLUDE) + " -I" +
      quoted(VELA_TOUR_CKERNELS_INCLUDE) + " -I" + quoted(VELA_TOUR_LINALG_INCLUDE) + " " +
      quoted(c) + " " + quoted(VELA_TOUR_CKERNELS_ARCHIVE) + " " +
      quoted(VELA_TOUR_LINALG_ARCHIVE) + " " + quoted(VELA_TOUR_FOUNDATION_ARCHIVE) + " " +
      VELA_TOUR_LAPACK_LIBRARIES + " -lm -o " + quoted(so);
  std::printf("  $ %s\n", command.c_str());
  std::fflush(stdout);
  int const status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("  the C compiler failed (status %d)\n", status);
    return false;
  }
  void* library = dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::printf("  dlopen: %s\n", dlerror());
    return false;
  }
  using Function = void (*)(double const*, double*);
  auto function = reinterpret_cast<Function>(dlsym(library, kFunctionName));
  if (function == nullptr) {
    std::printf("  dlsym: %s\n", dlerror());
    dlclose(library);
    return false;
  }
  function(in, out);
  dlclose(library);
  std::printf("  loaded and called %s(in, out)\n", kFunctionName);
  return true;
}

bool compare(std::vector<double> const& numeric, std::vector<double> const& evaluated,
             std::vector<double> const& generated) {
  std::printf("  %-8s  %-24s %-24s %s\n", "", "Numeric", "evaluated", "generated C");
  for (std::size_t i = 0; i < kOutputs; ++i)
    std::printf("  %-8s  %-24.17g %-24.17g %.17g\n", kOutputNames[i], numeric[i], evaluated[i],
                generated[i]);
  bool const agree = sameBits(numeric, evaluated) && sameBits(numeric, generated);
  std::printf("  all three agree bit for bit: %s\n", yesNo(agree));
  return agree;
}

// ---- The curve picture ----

using Point2 = math3d::Vector2_T<vela::math::Numeric>;

// One thing drawn: a dot at points[0], or a polyline through the points.
struct SvgShape {
  std::vector<Point2> points;
  std::string style;
  bool dot = false;
};

// Pixel coordinates with two decimals, the same under every locale.
std::string svgNumber(double v) {
  char text[64];
  auto const result = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 2);
  return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("nan");
}

// Writes the shapes fitted into an 800-pixel-wide viewport, y pointing up.
bool writeSvg(fs::path const& path, std::vector<SvgShape> const& shapes) {
  double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
  for (auto const& shape : shapes)
    for (auto const& p : shape.points)
      for (int k = 0; k < 2; ++k)
        lo[k] = std::min(lo[k], p.values()[k]), hi[k] = std::max(hi[k], p.values()[k]);
  double const margin = 20.0, width = 800.0;
  double const scale = (width - 2 * margin) / std::max(hi[0] - lo[0], 1e-300);
  double const height = 2 * margin + scale * (hi[1] - lo[1]);
  auto x = [&](Point2 const& p) { return svgNumber(margin + scale * (p.x() - lo[0])); };
  auto y = [&](Point2 const& p) { return svgNumber(height - margin - scale * (p.y() - lo[1])); };
  std::ofstream out(path);
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << svgNumber(width) << "\" height=\""
      << svgNumber(height) << "\">\n";
  for (auto const& shape : shapes) {
    if (shape.dot) {
      out << "  <circle cx=\"" << x(shape.points[0]) << "\" cy=\"" << y(shape.points[0])
          << "\" r=\"4\" " << shape.style << "/>\n";
      continue;
    }
    out << "  <polyline fill=\"none\" " << shape.style << " points=\"";
    for (auto const& p : shape.points) out << x(p) << ',' << y(p) << ' ';
    out << "\"/>\n";
  }
  out << "</svg>\n";
  out.close();
  return !out.fail();
}

// The curve sampled along a polyline, each segment's control polygon, and
// normals of a fixed drawn length at a few parameters.
void drawCurve(vela::math::InterpolatingSpline<vela::math::Numeric, math3d::Vector2_T> const& curve,
               std::string const& colour, double normalLength, std::vector<SvgShape>& shapes) {
  for (std::size_t i = 0; i < curve.numBezierCurves(); ++i)
    shapes.push_back({curve.bezierCurve(i).controlPoints(),
                      "stroke=\"" + colour + "\" stroke-width=\"0.7\" stroke-dasharray=\"4 3\""});
  shapes.push_back({curve.polyline(400), "stroke=\"" + colour + "\" stroke-width=\"2\""});
  // normal(t) is the derivative of the unit tangent: only its direction is drawn.
  for (int k = 0; k < 12; ++k) {
    double const t = (k + 0.5) / 12;
    Point2 const at = curve.point(t), n = curve.normal(t);
    shapes.push_back({{at, at + n * (normalLength / n.norm())},
                      "stroke=\"" + colour + "\" stroke-width=\"1.2\""});
  }
}

bool drawCurves(fs::path const& path) {
  using vela::math::Numeric;
  std::vector<Point2> const points = {{0.0, 0.0}, {1.0, 2.0}, {3.0, 2.5}, {4.0, 1.0},
                                      {6.0, 1.5}, {5.0, 4.0}, {2.0, 4.5}};
  vela::math::InterpolatingCubicSpline<Numeric, math3d::Vector2_T> const spline(points, true);
  vela::math::InterpolatingPchip<Numeric, math3d::Vector2_T> const pchip(points, false);
  std::printf("  closed cubic spline: %zu segments; open PCHIP curve: %zu segments\n",
              spline.numBezierCurves(), pchip.numBezierCurves());

  std::vector<SvgShape> shapes;
  drawCurve(spline, "#1f5fbf", 0.4, shapes);
  drawCurve(pchip, "#d9731a", 0.4, shapes);
  for (auto const& p : points) shapes.push_back({{p}, "fill=\"black\"", true});
  if (!writeSvg(path, shapes)) {
    std::printf("  cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("  wrote %s\n", fs::absolute(path).c_str());
  return true;
}

// d h / d theta and d alpha / d theta (outputs 0 to 8; alpha through the
// Cholesky factor and solve) evaluated, compiled and run, against a central
// difference of the Numeric step.
bool tourDerivatives(std::vector<vela::math::TracedDouble> const& traced,
                     vela::math::TracedDouble const& theta) {
  std::size_t const n = 9;
  std::vector<vela::math::TracedDouble> const jacobian =
      vela::math::jacobian({traced.begin(), traced.begin() + n}, {theta});
  vela::math::BindingSet bindings;
  bindings.bind("theta", kTheta);
  bindings.bind("omega", kOmega);
  std::vector<double> evaluated, generated(n);
  for (auto const& value : jacobian) evaluated.push_back(value.evaluate(bindings));
  double const in[2] = {kTheta, kOmega};
  std::string const source =
      vela::math::generateCFunction(kFunctionName, {"theta", "omega"}, jacobian);
  if (!compileAndRun(source, in, generated.data())) return false;
  double const h = 1e-6;
  std::vector<double> const plus = rigidBodyStep<vela::math::Numeric>(kTheta + h, kOmega);
  std::vector<double> const minus = rigidBodyStep<vela::math::Numeric>(kTheta - h, kOmega);
  std::printf("  %-8s  %-24s %-24s %s\n", "d/dtheta", "evaluated", "generated C",
              "central difference");
  bool close = true;
  for (std::size_t i = 0; i < n; ++i) {
    double const difference = (plus[i] - minus[i]) / (2 * h);
    close = close && std::fabs(difference - evaluated[i]) <= 1e-7 * (1 + std::fabs(difference));
    std::printf("  %-8s  %-24.17g %-24.17g %.17g\n", kOutputNames[i], evaluated[i], generated[i],
                difference);
  }
  bool const same = sameBits(evaluated, generated);
  std::printf("  evaluated and generated C agree bit for bit: %s\n", yesNo(same));
  std::printf("  within 1e-7 of the central difference: %s\n", yesNo(close));
  return same && close;
}

bool runTour(fs::path const& svgPath) {
  using vela::math::TracedDouble;

  section("(a) Numeric: the step on plain doubles");
  std::printf("  theta = %g rad, omega = %g rad/s\n", kTheta, kOmega);
  std::vector<double> const numeric = rigidBodyStep<vela::math::Numeric>(kTheta, kOmega);
  printOutputs(numeric);

  section("(b) Traced: the same code records a graph from the inputs theta and omega");
  TracedDouble const theta = TracedDouble::input("theta"), omega = TracedDouble::input("omega");
  std::vector<TracedDouble> const traced = rigidBodyStep<vela::math::Traced>(theta, omega);
  std::printf("  %zu outputs; the half-angle sine reads %s\n", traced.size(),
              vela::math::stringify(vela::math::sin(theta * 0.5)).c_str());
  double folded = 0.0;
  bool const folds = vela::math::sin(TracedDouble(kTheta * 0.5)).getConstant(folded);
  std::printf("  with a constant angle it folds at once: %s\n", yesNo(folds));

  section("(c) The graph evaluated with the numbers of (a)");
  vela::math::BindingSet bindings;
  bindings.bind("theta", kTheta);
  bindings.bind("omega", kOmega);
  std::vector<double> evaluated;
  for (auto const& value : traced) evaluated.push_back(value.evaluate(bindings));
  printOutputs(evaluated);

  section("(d) The graph as C: generated, compiled, loaded, run");
  std::string const source =
      vela::math::generateCFunction(kFunctionName, {"theta", "omega"}, traced);
  printHead(source, 16);
  double const in[2] = {kTheta, kOmega};
  std::vector<double> generated(kOutputs);
  if (!compileAndRun(source, in, generated.data())) return false;
  printOutputs(generated);

  section("Results side by side");
  bool const agree = folds && compare(numeric, evaluated, generated);

  section("(e) Derivatives: the Jacobian of h and alpha with respect to theta, as a graph");
  bool const derivativesAgree = tourDerivatives(traced, theta);

  section("Curves: a closed cubic spline and an open PCHIP curve through the same points");
  return drawCurves(svgPath) && agree && derivativesAgree;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::printf("usage: tour [PICTURE.svg]\n");
    return 2;
  }
  try {
    if (runTour(argc == 2 ? argv[1] : "tour-curves.svg")) return 0;
    std::printf("\ntour: FAILED\n");
  } catch (std::exception const& e) {
    std::printf("\ntour: FAILED with exception: %s\n", e.what());
  }
  return 1;
}
