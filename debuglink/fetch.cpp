// The module fetch: the front end may supply a module's source or compiled image, and its debug
// tables; when it does not, or the link fails, the module is read from its file.
#include <cstdlib>
#include <cstring>

#include "debuglink/link.h"
#include "driver/compiled_module.h"
#include "driver/config.h"
#include "driver/debughooks.h"
#include "driver/errors.h"
#include "store/byte_text.h"

static LinkMessage module_text, module_tables_text;
static unsigned char* image;

// Sends "M" + name and reads the two replies; false when the link failed.
static bool ask(int module) {
  exchange_active = true;
  if (sigsetjmp(exchange_env, 0)) {
    exchange_active = false;
    return false;
  }
  const char* name = module_name(module);
  if (!link_send_kind('M', name, std::strlen(name))) return false;
  if (!link_receive(&module_text, STOP_WAIT_MS)) return false;
  if (!link_receive(&module_tables_text, STOP_WAIT_MS)) return false;
  exchange_active = false;
  return true;
}

bool debug_fetch_module(int module, StatementList* list) {
  if (!link_up()) return false;
  bool got = ask(module);
  if (!got) {
    message_free(&module_text);
    message_free(&module_tables_text);
    return false;
  }
  tables_set_all(module, module_tables_text.data, module_tables_text.len);
  message_free(&module_tables_text);
  const char* p = module_text.data;
  size_t n = module_text.len;
  if (n == 4 && std::memcmp(p, "&&&&", 4) == 0) {
    message_free(&module_text);
    return false;
  }
  if (n > 0 && p[0] == 'o') {
    std::free(image);
    image = static_cast<unsigned char*>(std::malloc(n));
    if (!image) raise_eval_error(1400, "メモリ領域を取得できません");
    size_t size = base64_decode(p + 1, n - 1, image, n);
    message_free(&module_text);
    // The installer raises the store floors itself once the image has passed its checks.
    parse_module = module;
    parse_line = 0;
    install_compiled_module(image, size, module, list);
    std::free(image);
    image = nullptr;
    return true;
  }
  if (n == 0) {
    // An empty message carries no text at all: the module is empty.
    static char empty[1] = "";
    parse_module_text(empty, module, list);
  } else {
    parse_module_text(module_text.data + 1, module, list);
  }
  message_free(&module_text);
  return true;
}
