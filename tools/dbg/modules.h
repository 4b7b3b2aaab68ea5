// The module folder that the debug front end serves: names confined to it, sources and compiled
// images, source lines, and the names a function declares.
#pragma once
#include <map>
#include <string>
#include <vector>

class ModuleFolder {
 public:
  explicit ModuleFolder(std::string root);
  const std::string& root() const { return root_; }
  // A module name from the program is a relative path inside the folder: not empty, no NUL, not
  // absolute, no ".." part (backslashes count as "/").
  static bool name_allowed(const std::string& name);
  // The file behind a name, empty when the name is not allowed or leaves the folder.
  std::string path_of(const std::string& name) const;
  // The first reply of a module fetch: "s" + source, "o" + Base64 of the compiled image when
  // only a .jo exists, "&&&&" when the folder has neither.
  std::string fetch_reply(const std::string& name) const;
  // The module's source lines (without line feeds); empty when there is no source.
  const std::vector<std::string>& lines(const std::string& name);
  // Parameters, then declared names, of a function of the module (the empty name: the module's
  // top-level declarations), read from the source.
  std::vector<std::string> declared_names(const std::string& name, const std::string& function);
  // A module name for a path under the root (absolute or relative to it); empty when outside.
  std::string name_for_path(const std::string& path) const;

 private:
  std::string root_;
  std::string real_root_;
  std::map<std::string, std::vector<std::string>> lines_;
};

std::string base64_encode(const std::string& bytes);
