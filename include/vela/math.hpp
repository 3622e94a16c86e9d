#pragma once

/// \file
/// The whole public interface of vela::math, the trace library included.

#include "kelm_math/comp_trace.hpp"
#include "math3d/math3d.hpp"
#include "vela/Exception.hpp"
#include "vela/Matrix"
#include "vela/codegen_runtime_scalar.h"
#include "vela/math/AugmentedSpatialVector.hpp"
#include "vela/math/BeamSectionalProperties.hpp"
#include "vela/math/BezierCurve.hpp"
#include "vela/math/Errors.hpp"
#include "vela/math/GaussQuadrature.hpp"
#include "vela/math/InterpolatingCubicSpline.hpp"
#include "vela/math/InterpolatingCubicSpline3DWrapper.hpp"
#include "vela/math/InterpolatingPchip.hpp"
#include "vela/math/InterpolatingSpline.hpp"
#include "vela/math/LumpedDistribution.hpp"
#include "vela/math/SymmetricAugmentedSpatialMatrix.hpp"
#include "vela/math/dense_kernels.hpp"
#include "vela/math/modes.hpp"
#include "vela/math/names.hpp"
#include "vela/stdStringify.hpp"
