// The module folder: confinement of names, reading sources and images, source lines and the
// names declared by functions.
#include "tools/dbg/modules.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <cctype>
#include <sstream>

namespace {
bool read_file(const std::string& path, std::string* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  *out = s.str();
  return true;
}

std::string real_path(const std::string& p) {
  char buf[PATH_MAX];
  return realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

std::string normalise(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}
}  // namespace

std::string base64_encode(const std::string& bytes) {
  static constexpr char A[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += A[v >> 18];
    out += A[(v >> 12) & 63];
    out += A[(v >> 6) & 63];
    out += A[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += A[v >> 18];
    out += A[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? A[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

ModuleFolder::ModuleFolder(std::string root) : root_(std::move(root)) {
  if (root_.empty()) root_ = ".";
  real_root_ = real_path(root_);
}

bool ModuleFolder::name_allowed(const std::string& raw) {
  if (raw.empty() || raw.find('\0') != std::string::npos) return false;
  std::string name = normalise(raw);
  if (name[0] == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

std::string ModuleFolder::path_of(const std::string& raw) const {
  if (!name_allowed(raw)) return {};
  std::string path = root_ + "/" + normalise(raw);
  // A link inside the folder may still point out of it.
  std::string real = real_path(path);
  if (!real.empty() && !real_root_.empty() && real.compare(0, real_root_.size() + 1, real_root_ + "/") != 0)
    return {};
  return path;
}

std::string ModuleFolder::fetch_reply(const std::string& name) const {
  auto ends_with = [](const std::string& s, const char* suffix) {
    size_t n = std::char_traits<char>::length(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
  };
  std::string bytes;
  if (ends_with(name, ".jo") || ends_with(name, ".JO")) {
    std::string path = path_of(name);
    if (!path.empty() && read_file(path, &bytes)) return "o" + base64_encode(bytes);
    return "&&&&";
  }
  std::string path = path_of(name);
  if (!path.empty() && read_file(path, &bytes)) return "s" + bytes;
  // Only the compiled image is there: it is sent instead.
  if (name.size() > 3) {
    std::string image = path_of(name.substr(0, name.size() - 3) + ".jo");
    if (!image.empty() && read_file(image, &bytes)) return "o" + base64_encode(bytes);
  }
  return "&&&&";
}

const std::vector<std::string>& ModuleFolder::lines(const std::string& name) {
  auto it = lines_.find(name);
  if (it != lines_.end()) return it->second;
  std::vector<std::string> out;
  std::string path = path_of(name), text;
  if (!path.empty() && read_file(path, &text)) {
    std::istringstream s(text);
    std::string line;
    while (std::getline(s, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out.push_back(line);
    }
  }
  return lines_[name] = std::move(out);
}

std::string ModuleFolder::name_for_path(const std::string& path) const {
  std::string real = real_path(path);
  if (real.empty()) {
    // Not there (yet): judge the text itself.
    if (!path.empty() && path[0] != '/') return name_allowed(path) ? normalise(path) : std::string();
    std::string prefix = real_root_ + "/";
    if (!real_root_.empty() && path.compare(0, prefix.size(), prefix) == 0) return path.substr(prefix.size());
    return {};
  }
  std::string prefix = real_root_ + "/";
  if (real_root_.empty() || real.compare(0, prefix.size(), prefix) != 0) return {};
  return real.substr(prefix.size());
}

namespace {
bool ident_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

// The identifier starting at or after i (blanks skipped); empty when something else comes.
std::string ident_at(const std::string& t, size_t* i) {
  while (*i < t.size() && std::isspace(static_cast<unsigned char>(t[*i]))) ++*i;
  size_t start = *i;
  if (start >= t.size() || std::isdigit(static_cast<unsigned char>(t[start])) || !ident_char(t[start])) return {};
  while (*i < t.size() && ident_char(t[*i])) ++*i;
  return t.substr(start, *i - start);
}

// Position of word w at a word boundary from pos on, npos when none.
size_t find_word(const std::string& t, const std::string& w, size_t pos) {
  for (size_t at = t.find(w, pos); at != std::string::npos; at = t.find(w, at + 1)) {
    bool before = at == 0 || !ident_char(t[at - 1]);
    bool after = at + w.size() >= t.size() || !ident_char(t[at + w.size()]);
    if (before && after) return at;
  }
  return std::string::npos;
}
}  // namespace

std::vector<std::string> ModuleFolder::declared_names(const std::string& name, const std::string& function) {
  const auto& ls = lines(name);
  std::string text;
  for (const auto& l : ls) text += l + "\n";
  std::vector<std::string> out;
  auto add = [&out](const std::string& n) {
    if (n.empty()) return;
    for (const auto& o : out)
      if (o == n) return;
    out.push_back(n);
  };
  size_t bodyStart = 0, bodyEnd = text.size();
  if (!function.empty()) {
    // "function NAME (params) {": the parameters, then the body up to its closing brace.
    size_t at = 0, open = std::string::npos;
    while ((at = find_word(text, "function", at)) != std::string::npos) {
      size_t i = at + 8;
      if (ident_at(text, &i) == function) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
        if (i < text.size() && text[i] == '(') {
          size_t close = text.find(')', i);
          if (close == std::string::npos) return out;
          std::string params = text.substr(i + 1, close - i - 1);
          size_t p = 0;
          while (p < params.size()) {
            size_t comma = params.find(',', p);
            if (comma == std::string::npos) comma = params.size();
            std::string one = params.substr(p, comma - p);
            size_t k = 0;
            add(ident_at(one, &k));
            p = comma + 1;
          }
          open = text.find('{', close);
          break;
        }
      }
      at += 8;
    }
    if (open == std::string::npos) return out;
    int depth = 0;
    size_t i = open;
    for (; i < text.size(); i++) {
      if (text[i] == '{') depth++;
      else if (text[i] == '}' && --depth == 0) break;
    }
    bodyStart = open;
    bodyEnd = i;
  }
  std::string body = text.substr(bodyStart, bodyEnd - bodyStart);
  if (function.empty()) {
    // Top level: declarations outside every function body.
    std::string flat;
    int depth = 0;
    for (char c : body) {
      if (c == '{') depth++;
      if (depth == 0) flat += c;
      if (c == '}' && depth > 0) depth--;
    }
    body = flat;
  }
  for (size_t at = 0; at < body.size(); at++) {
    for (const char* kw : {"var", "let", "const"}) {
      size_t n = std::char_traits<char>::length(kw);
      if (body.compare(at, n, kw) == 0 && (at == 0 || !ident_char(body[at - 1])) && at + n < body.size() &&
          std::isspace(static_cast<unsigned char>(body[at + n]))) {
        size_t i = at + n;
        add(ident_at(body, &i));
      }
    }
  }
  return out;
}
