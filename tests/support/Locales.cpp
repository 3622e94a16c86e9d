#include "support/Locales.hpp"

#include <cstdlib>
#include <filesystem>

namespace vela::test {

std::string provideLocale(std::string const& name) {
  namespace fs = std::filesystem;
  fs::path const root = fs::path(VELA_TEST_WORK_DIR) / "locales";
  fs::path const target = root / name;
  if (!fs::exists(target)) {
    std::string::size_type dot = name.find('.');
    if (dot == std::string::npos) return "locale name without a charset: " + name;
    fs::create_directories(root);
    std::string const command = "localedef -i " + name.substr(0, dot) + " -f " +
                                name.substr(dot + 1) + " " + target.string() + " > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || !fs::exists(target)) {
      fs::remove_all(target);
      return "localedef could not build " + name;
    }
  }
  ::setenv("LOCPATH", root.c_str(), 1);
  return {};
}

}  // namespace vela::test
