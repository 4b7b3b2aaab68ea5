// Module names that stay inside the module directory.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "driver/config.h"
#include "driver/loader.h"

namespace {

TEST(ModuleNames, Confined) {
  using namespace std::string_literals;
  struct Case {
    std::string name;
    bool confined;
  } cases[] = {
      {"m.js", true},
      {"sub/m.js", true},
      {"./m.js", true},
      {"a..b.js", true},             // dots inside a component
      {"...js", true},               // "..." is no parent
      {"sub//m.js", true},
      {"", false},
      {"..", false},
      {"../m.js", false},
      {"sub/../../m.js", false},
      {"sub/..", false},
      {"sub\\..\\m.js", false},      // a backslash separates too
      {"..\\m.js", false},
      {"/etc/passwd", false},
      {"\\m.js", false},
      {"m.js\0/../../x.js"s, false},  // a zero byte
      {std::string(MODULE_NAME_MAX, 'a'), true},
      {std::string(MODULE_NAME_MAX + 1, 'a'), false},
  };
  config_reset();
  for (const Case& c : cases) EXPECT_EQ(module_name_confined(c.name), c.confined) << c.name;
}

}  // namespace
