// The generated module both parse benchmarks read: realistic script, one function at a time.
#pragma once
#include <algorithm>
#include <cstdio>
#include <string>

// Appends function n of the module (n makes names and literals differ); with_pattern gives its
// state object a regular expression member. Returns the number of lines appended.
inline int append_sample_function(std::string& s, int n, bool with_pattern) {
  char buf[4096];
  int len = std::snprintf(buf, sizeof buf,
                "/* Handler %d: reads the rows of the request and sums them.\n"
                "   Returns the configuration object, or null when nothing was summed. */\n"
                "function handler_%d(req, opts = {}) {\n"
                "  var total = 0, name = \"item_%d\", list = [1, 2, 3, %d];\n"
                "  let rows = select(conn, \"SELECT id, name FROM items WHERE id = \" + %d);\n"
                "  for (var i = 0; i < list.length; i++) {\n"
                "    if (list[i] %% 2 == 0 && i > 0) { total += list[i] * 2; } else { total -= 1; }\n"
                "  }\n"
                "  // configuration of this handler\n"
                "  var cfg = {key: \"k%d\", value: total, enabled: true, tags: [\"a\", 'b', `c${total}`]};\n"
                "  switch (opts.mode) {\n"
                "    case 1: total = total + 1; break;\n"
                "    case 2: total = Math.max(total, 10); break;\n"
                "    default: total = 0;\n"
                "  }\n"
                "  try {\n"
                "    cfg.value = parseInt(req.params.count) + helper_%d(total, name.length, rows[0].id);\n"
                "  } catch (e) {\n"
                "    console.log(\"error in handler %d: \" + e.message);\n"
                "  }\n"
                "  while (total > 100) total = total / 2;\n"
                "  return total > 0 ? cfg : null;\n"
                "}\n"
                "var state_%d = {count: %d, ratio: %d.5, label: 'state %d'%s};\n\n",
                n, n, n, n, n, n, n % 50, n, n, n, n, n, with_pattern ? ", pattern: /item_(\\d+)/g" : "");
  s.append(buf, static_cast<size_t>(len));
  return static_cast<int>(std::count(buf, buf + len, '\n'));
}
