#include "FunctionName.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "kelm_math/comp_trace/GenerateCFunction.hpp"

namespace kelm_math::comp_trace::detail {
namespace {

// Keywords of C99 to C23, so the unit compiles under any dialect.
char const* const kKeywords[] = {
    "auto",    "break",  "case",          "char",   "const",    "continue",      "default",
    "do",      "double", "else",          "enum",   "extern",   "float",         "for",
    "goto",    "if",     "inline",        "int",    "long",     "register",      "restrict",
    "return",  "short",  "signed",        "sizeof", "static",   "struct",        "switch",
    "typedef", "union",  "unsigned",      "void",   "volatile", "while",         "alignas",
    "alignof", "bool",   "constexpr",     "false",  "nullptr",  "static_assert", "thread_local",
    "true",    "typeof", "typeof_unqual", "asm",    "fortran"};

// Functions and macros of the C standard library (C11), and main.
char const* const kLibrary[] = {
    "main",
    // <assert.h>, <errno.h>, <stddef.h>, <limits.h>, <setjmp.h>, <stdarg.h>
    "assert", "errno", "EDOM", "ERANGE", "EILSEQ", "NULL", "offsetof", "size_t", "ptrdiff_t",
    "wchar_t", "max_align_t", "CHAR_BIT", "SCHAR_MIN", "SCHAR_MAX", "UCHAR_MAX", "CHAR_MIN",
    "CHAR_MAX", "MB_LEN_MAX", "SHRT_MIN", "SHRT_MAX", "USHRT_MAX", "INT_MIN", "INT_MAX", "UINT_MAX",
    "LONG_MIN", "LONG_MAX", "ULONG_MAX", "LLONG_MIN", "LLONG_MAX", "ULLONG_MAX", "setjmp",
    "longjmp", "jmp_buf", "va_start", "va_arg", "va_end", "va_copy", "va_list",
    // <math.h>
    "acos", "asin", "atan", "atan2", "cos", "sin", "tan", "acosh", "asinh", "atanh", "cosh", "sinh",
    "tanh", "exp", "exp2", "expm1", "frexp", "ilogb", "ldexp", "log", "log10", "log1p", "log2",
    "logb", "modf", "scalbn", "scalbln", "cbrt", "fabs", "hypot", "pow", "sqrt", "erf", "erfc",
    "lgamma", "tgamma", "ceil", "floor", "nearbyint", "rint", "lrint", "llrint", "round", "lround",
    "llround", "trunc", "fmod", "remainder", "remquo", "copysign", "nan", "nextafter", "nexttoward",
    "fdim", "fmax", "fmin", "fma", "fpclassify", "isfinite", "isinf", "isnan", "isnormal",
    "signbit", "isgreater", "isgreaterequal", "isless", "islessequal", "islessgreater",
    "isunordered", "HUGE_VAL", "HUGE_VALF", "HUGE_VALL", "INFINITY", "NAN", "FP_INFINITE", "FP_NAN",
    "FP_NORMAL", "FP_SUBNORMAL", "FP_ZERO", "FP_FAST_FMA", "FP_FAST_FMAF", "FP_FAST_FMAL",
    "FP_ILOGB0", "FP_ILOGBNAN", "MATH_ERRNO", "MATH_ERREXCEPT", "math_errhandling", "float_t",
    "double_t",
    // <string.h>
    "memcpy", "memmove", "memset", "memcmp", "memchr", "strcpy", "strncpy", "strcat", "strncat",
    "strcmp", "strncmp", "strcoll", "strxfrm", "strchr", "strrchr", "strspn", "strcspn", "strpbrk",
    "strstr", "strtok", "strerror", "strlen",
    // <stdlib.h>
    "atof", "atoi", "atol", "atoll", "strtod", "strtof", "strtold", "strtol", "strtoll", "strtoul",
    "strtoull", "rand", "srand", "aligned_alloc", "calloc", "free", "malloc", "realloc", "abort",
    "atexit", "at_quick_exit", "exit", "_Exit", "quick_exit", "getenv", "system", "bsearch",
    "qsort", "abs", "labs", "llabs", "div", "ldiv", "lldiv", "mblen", "mbtowc", "wctomb",
    "mbstowcs", "wcstombs", "EXIT_SUCCESS", "EXIT_FAILURE", "RAND_MAX",
    // <stdio.h>
    "remove", "rename", "tmpfile", "tmpnam", "fclose", "fflush", "fopen", "freopen", "setbuf",
    "setvbuf", "fprintf", "fscanf", "printf", "scanf", "snprintf", "sprintf", "sscanf", "vfprintf",
    "vfscanf", "vprintf", "vscanf", "vsnprintf", "vsprintf", "vsscanf", "fgetc", "fgets", "fputc",
    "fputs", "getc", "getchar", "putc", "putchar", "puts", "ungetc", "fread", "fwrite", "fgetpos",
    "fseek", "fsetpos", "ftell", "rewind", "clearerr", "feof", "ferror", "perror", "stdin",
    "stdout", "stderr", "EOF", "FILE", "fpos_t",
    // <ctype.h>
    "isalnum", "isalpha", "isblank", "iscntrl", "isdigit", "isgraph", "islower", "isprint",
    "ispunct", "isspace", "isupper", "isxdigit", "tolower", "toupper",
    // <time.h>, <signal.h>, <locale.h>
    "clock", "difftime", "mktime", "time", "timespec_get", "asctime", "ctime", "gmtime",
    "localtime", "strftime", "signal", "raise", "setlocale", "localeconv",
    // <fenv.h>
    "feclearexcept", "fegetexceptflag", "feraiseexcept", "fesetexceptflag", "fetestexcept",
    "fegetround", "fesetround", "fegetenv", "feholdexcept", "fesetenv", "feupdateenv"};

// The runtime's short routine names and macros.
char const* const kRuntime[] = {"vectorAdd",
                                "vectorSubtract",
                                "vectorScale",
                                "vectorNegate",
                                "transposeColMajor",
                                "matrixTransposeAdd",
                                "matrixTransposeSubtract",
                                "shiftColumns",
                                "scaleColumns",
                                "inverseScaleColumns",
                                "scaleRows",
                                "inverseScaleRows",
                                "zeroMajor",
                                "reduceMatrix",
                                "expandVector",
                                "submatrixAssign",
                                "matrixMultiply",
                                "matrixTransposeMultiply",
                                "matrixMultiplyTranspose",
                                "matrixMultiplyStrided",
                                "matrixVectorMultiply",
                                "matrixTransposeVectorMultiply",
                                "addMatrixVectorProduct",
                                "addMatrixTransposeVectorProduct",
                                "subtractMatrixVectorProduct",
                                "subtractMatrixTransposeVectorProduct",
                                "dotProduct",
                                "computeQuadraticTerm",
                                "hasUniqueRows",
                                "geSolve2x2",
                                "factorSymmetricPosDef",
                                "solveSymmetricPosDef",
                                "factorAndSolveSymmetric",
                                "factorAndSolveWide",
                                "eig",
                                "orthonormalizeRealEigenvectorsWrtSpdB",
                                "svd",
                                "svdSolve",
                                "svdSolveFromFactorization",
                                "svdComputeRank",
                                "TRUE",
                                "FALSE"};

// Prefixes of the runtime's helpers and macros and of the libraries
// generated code links.
char const* const kReservedPrefixes[] = {"vela_", "VELA_", "kelm_", "kelmf_", "zeph_", "_"};

bool isIdentifier(std::string const& name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
}

template <std::size_t N>
bool listed(char const* const (&names)[N], std::string const& name) {
  return std::any_of(std::begin(names), std::end(names), [&](char const* n) { return name == n; });
}

// The C library's float and long double variants (sinf, sqrtl, ...).
bool isLibraryName(std::string const& name) {
  if (listed(kLibrary, name)) return true;
  char last = name.empty() ? '\0' : name.back();
  return (last == 'f' || last == 'l') && listed(kLibrary, name.substr(0, name.size() - 1));
}

// f_part0 and f_work_size are defined beside a function f: two functions
// generated into one file must not be able to collide through them.
bool isCompanionName(std::string_view name) {
  constexpr std::string_view kWork = "_work_size";
  if (name.size() > kWork.size() && name.substr(name.size() - kWork.size()) == kWork) return true;
  std::size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  constexpr std::string_view kPart = "_part";
  return digits < name.size() && digits > kPart.size() &&
         name.substr(digits - kPart.size(), kPart.size()) == kPart;
}

}  // namespace

void checkFunctionName(std::string const& name) {
  auto reject = [&](char const* why) {
    throw InvalidFunctionName("generateCFunction: \"" + name + "\" " + why);
  };
  if (!isIdentifier(name)) reject("is not a C identifier");
  if (listed(kKeywords, name) ||
      (name.size() > 1 && name[0] == '_' && std::isupper(static_cast<unsigned char>(name[1]))))
    reject("is a C keyword or reserved to the compiler");
  if (isLibraryName(name)) reject("is a name of the C library");
  if (listed(kRuntime, name)) reject("is a routine of the generated code's runtime");
  for (char const* prefix : kReservedPrefixes)
    if (std::string_view(name).substr(0, std::string_view(prefix).size()) == prefix)
      reject("uses a prefix reserved to the runtime and the libraries it links");
  if (isCompanionName(name))
    reject("ends like the functions generated beside another (_partN, _work_size)");
}

}  // namespace kelm_math::comp_trace::detail
