// A scratch directory for one test, removed with everything in it when the
// test ends; the test may work inside it (the builder writes to the
// current directory).  Also small file helpers.
#ifndef ZV_TEMP_DIR_H
#define ZV_TEMP_DIR_H

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string path(const std::string &name) const;
  // Makes the directory the current one until the object goes.
  void enter();

 private:
  std::filesystem::path m_dir;
  std::filesystem::path m_previous;
};

void writeFile(const std::string &path, const Bytes &data);
void writeText(const std::string &path, const std::string &text);
Bytes readFile(const std::string &path);
bool fileExists(const std::string &path);

#endif
