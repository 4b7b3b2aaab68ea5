// The module folder: confinement of names, reading sources and images, source lines and the
// names declared by functions.
#include "tools/dbg/modules.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <regex>
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

std::vector<std::string> ModuleFolder::declared_names(const std::string& name, const std::string& function) {
  const auto& ls = lines(name);
  std::string text;
  for (const auto& l : ls) text += l + "\n";
  std::vector<std::string> out;
  auto add = [&out](const std::string& n) {
    for (const auto& o : out)
      if (o == n) return;
    out.push_back(n);
  };
  static const std::regex decl(R"(\b(?:var|let|const)\s+([A-Za-z_$][\w$]*))");
  size_t bodyStart = 0, bodyEnd = text.size();
  if (!function.empty()) {
    std::string escaped;
    for (char c : function) {
      if (c == '$') escaped += '\\';
      escaped += c;
    }
    std::regex head("\\bfunction\\s+" + escaped + "\\s*\\(([^)]*)\\)");
    std::smatch m;
    if (!std::regex_search(text, m, head)) return out;
    std::string params = m[1];
    static const std::regex ident(R"([A-Za-z_$][\w$]*)");
    // Each parameter's name is the identifier before any "=" default.
    std::stringstream ps(params);
    std::string p;
    while (std::getline(ps, p, ',')) {
      std::smatch pm;
      if (std::regex_search(p, pm, ident)) add(pm[0]);
    }
    size_t open = text.find('{', static_cast<size_t>(m.position(0) + m.length(0)));
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
  for (std::sregex_iterator it(body.begin(), body.end(), decl), end; it != end; ++it) add((*it)[1]);
  return out;
}
