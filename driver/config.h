// Process-wide settings made at start-up from the command line, the environment and the
// configuration file, and the start-up sequence that makes them.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int MODULE_LIMIT = 127;         // listed modules (the module number has 7 bits)
constexpr int TOP_FUNCTION_MAX = 255;
constexpr int CONFIG_LINE_MAX = 4095;
constexpr int TOKEN_KEY_MAX = 64;
constexpr int JOURNAL_PATH_MAX = 255;
constexpr int MODULE_DIR_MAX = 511;
constexpr int DEBUG_PORT_MAX = 19;
constexpr int CLIENT_TEXT_MAX = 79;

extern char exe_dir[4096];             // ends with '/'
extern char client_ip_text[CLIENT_TEXT_MAX + 1];
extern uint32_t client_addr;           // 0: unknown
extern uint8_t client_octets[4];       // a, b, c, d
extern bool cmdline_mode;              // -e
extern const char* top_function;       // -e name (or the request's call text)
extern int top_function_len;
extern int prog_argc;
extern char** prog_argv;

extern char token_key[TOKEN_KEY_MAX + 1];
extern int32_t time_interval;
extern char journal_path[JOURNAL_PATH_MAX + 1];   // empty: no journal
extern char module_dir[MODULE_DIR_MAX + 1];
extern char debug_port[DEBUG_PORT_MAX + 1];
extern char start_time[40];

// Module list: texts in a growable pool; module_last is the index of the last entry, -1 when
// empty. module_add takes no limit (callers check MODULE_LIMIT with their own error).
extern int module_last;
int module_add(const char* name, size_t len);
// The listed name, or the empty text for a number with no module behind it.
const char* module_name(int index);

// Variable list: 'name':'value' texts.
extern int var_count;
int var_add(const char* text, size_t len);
const char* var_text(int index);

// Debugger client list (CLIENT key, scriptcgi-debug only).
extern uint32_t* client_list;
extern int client_count;
extern bool client_list_present;

// Reads a dotted address at *p: skips to the first digit (none: returns 0, no address), reads four
// numbers 0-255 separated by "." (anything else: returns -1), then skips one separator character.
// Returns 1 with *addr set on success; *p is left after what was read.
int parse_dotted(const char** p, uint32_t* addr);

// Start-up pieces, in order.
void set_exe_dir(const char* argv0);
void set_client_address();
// Returns false when the program ends (usage line or a too long -e name).
bool read_command_line(int argc, char** argv);
void make_start_time();
const char* start_time_text();   // start_time, written from the start clock on first use
void find_and_read_config();
void read_config_file(const char* path);
void apply_config_line(char* line);
// The whole start-up; false when the program ends without a run.
bool startup(int argc, char** argv);
// Back to the state at process start (tests).
void config_reset();
