// scriptcgi-compile SOURCE.js [-o OUT.jo]: writes the compiled module of a source module.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/compile/image_writer.h"

static bool read_whole(const char* path, std::string* out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return false;
  }
  out->resize(static_cast<size_t>(st.st_size));
  size_t got = out->empty() ? 0 : std::fread(out->data(), 1, out->size(), f);
  std::fclose(f);
  out->resize(got);
  return true;
}

int main(int argc, char** argv) {
  const char* source = nullptr;
  std::string output;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) output = argv[++i];
    else if (!source && argv[i][0] != '-') source = argv[i];
    else source = nullptr, i = argc;
  }
  if (!source) {
    std::fprintf(stderr, "usage: scriptcgi-compile SOURCE.js [-o OUT.jo]\n");
    return 2;
  }
  if (output.empty()) {
    output = source;
    size_t slash = output.rfind('/');
    size_t dot = output.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) output.resize(dot);
    output += ".jo";
  }
  std::string text;
  if (!read_whole(source, &text)) {
    std::fprintf(stderr, "PARSE ERROR 1165 (%s:0) : ファイルオープン不正 '%s'\n", source, source);
    std::remove(output.c_str());
    return 1;
  }
  // Messages name the module as the engine would: the file name as given.
  std::vector<uint8_t> image;
  std::string error;
  if (!build_image(text.data(), text.size(), source, &image, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    // An image of an older version of the module must not stay behind to be deployed.
    std::remove(output.c_str());
    return 1;
  }
  // Written beside the target and renamed into place, so that a failed write leaves no file.
  std::string tmp = output + ".tmp" + std::to_string(getpid());
  FILE* f = std::fopen(tmp.c_str(), "wb");
  bool ok = f && std::fwrite(image.data(), 1, image.size(), f) == image.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok || std::rename(tmp.c_str(), output.c_str()) != 0) {
    std::remove(tmp.c_str());
    std::fprintf(stderr, "scriptcgi-compile: cannot write %s\n", output.c_str());
    return 1;
  }
  return 0;
}
