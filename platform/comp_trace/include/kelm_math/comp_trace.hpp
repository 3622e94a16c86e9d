#pragma once

/// \file
/// The computation-trace library: traced scalars, graph nodes, evaluation
/// against bindings and generation of C source.

#include "kelm_math/comp_trace/CodeGeneration.hpp"
#include "kelm_math/comp_trace/CollectOp.hpp"
#include "kelm_math/comp_trace/DerivativeRule.hpp"
#include "kelm_math/comp_trace/Derivatives.hpp"
#include "kelm_math/comp_trace/Evaluation.hpp"
#include "kelm_math/comp_trace/Functions.hpp"
#include "kelm_math/comp_trace/GenerateCFunction.hpp"
#include "kelm_math/comp_trace/ModeTypes.hpp"
#include "kelm_math/comp_trace/Modes.hpp"
#include "kelm_math/comp_trace/NodeValues.hpp"
#include "kelm_math/comp_trace/Operation.hpp"
#include "kelm_math/comp_trace/Tape.hpp"
#include "kelm_math/comp_trace/TracedValue.hpp"
#include "kelm_math/comp_trace/Values.hpp"
