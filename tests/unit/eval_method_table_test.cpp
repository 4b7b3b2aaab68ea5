// The method tables' lookup: every row is found by its whole name and by nothing else, in every
// table, and the count rule picks the table's codes.
#include <gtest/gtest.h>

#include <string>

#include "eval/method_table.h"
#include "eval/plugins.h"
#include "store/names.h"

namespace {

struct Named {
  const char* label;
  const MethodTable* table;
};

const Named TABLES[] = {
    {"String", &string_methods}, {"Array", &array_methods},   {"Keyed", &keyed_methods},
    {"Date", &date_methods},     {"Object", &object_methods}, {"RegExp", &regexp_methods},
    {"Math", &math_methods},     {"Number", &number_methods}, {"Object.", &object_statics},
    {"Date.", &date_statics},    {"String.", &string_statics},
};

TEST(MethodTable, EveryRowIsFoundByItsNameAndNearMissesAreNot) {
  for (const Named& n : TABLES) {
    const MethodTable& t = *n.table;
    for (int i = 0; i < t.count; i++) {
      const MethodRow& r = t.rows[i];
      std::string name(r.name);
      EXPECT_EQ(method_lookup(t, r.name), &r) << n.label << " " << name;
      std::string upper = name;
      upper[0] = static_cast<char>(upper[0] ^ 0x20);
      for (const std::string& miss : {name + "s", name.substr(0, name.size() - 1), upper, std::string(" ") + name,
                                      name.substr(0, name.size() - 1) + '\0'})
        EXPECT_EQ(method_lookup(t, miss), nullptr) << n.label << " '" << miss << "'";
    }
    // Names of the other tables are found only where they are rows.
    for (const Named& other : TABLES)
      for (int i = 0; i < other.table->count; i++) {
        std::string_view name = other.table->rows[i].name;
        const MethodRow* found = method_lookup(t, name);
        EXPECT_TRUE(!found || found->name == name) << n.label << " " << name;
      }
    EXPECT_EQ(method_lookup(t, ""), nullptr) << n.label;
  }
}

}  // namespace

// Rows found by name index are kept per table, and only while an index names the same text.
TEST(MethodTable, ResolvingByIndexFollowsTheTableAndTheNameTable) {
  name_table_reset();
  uint32_t push = name_intern_text("push", 4);
  uint32_t index_of = name_intern_text("indexOf", 7);
  for (int round = 0; round < 2; round++) {
    EXPECT_EQ(method_resolve(array_methods, push, 1).name, "push");
    EXPECT_EQ(&method_resolve(array_methods, index_of, 1), method_lookup(array_methods, "indexOf"));
    EXPECT_EQ(&method_resolve(string_methods, index_of, 1), method_lookup(string_methods, "indexOf"));
  }
  // After a reset the same index names another method.
  name_table_reset();
  uint32_t includes = name_intern_text("includes", 8);
  ASSERT_EQ(includes, push);
  EXPECT_EQ(method_resolve(array_methods, includes, 1).name, "includes");
  name_table_reset();
}
