// Scratch directories and file helpers for the tests.
#include "tests/support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>

TempDir::TempDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    m_dir = base / ("zvtest-" + std::to_string(rd()));
    if (std::filesystem::create_directory(m_dir)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!m_previous.empty()) std::filesystem::current_path(m_previous, ec);
  std::filesystem::remove_all(m_dir, ec);
}

std::string TempDir::path(const std::string &name) const {
  return (m_dir / name).string();
}

void TempDir::enter() {
  m_previous = std::filesystem::current_path();
  std::filesystem::current_path(m_dir);
}

void writeFile(const std::string &path, const Bytes &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data.data()),
            static_cast<std::streamsize>(data.size()));
}

void writeText(const std::string &path, const std::string &text) {
  writeFile(path, Bytes(text.begin(), text.end()));
}

Bytes readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
}

bool fileExists(const std::string &path) {
  return std::filesystem::exists(path);
}
