// SPDX-License-Identifier: Apache-2.0
// The transcript of a run, and file helpers (see transcript.h).
#include "tests/support/transcript.h"

#include <stdio.h>

#include <fstream>
#include <iterator>

Bytes readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const Bytes &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data.data()), (std::streamsize)data.size());
}

void Transcript::console(const char *pText, size_t nLength) {
  m_raw.append(pText, nLength);
  for (size_t i = 0; i < nLength; i++) {
    unsigned char c = (unsigned char)pText[i];
    if (c == '\\') {
      m_text += "\\\\";
    } else if (c == '\n' || (c >= 0x20 && c < 0x7F)) {
      m_text += (char)c;
    } else {
      char sz[8];
      snprintf(sz, sizeof(sz), "\\x%02X", c);
      m_text += sz;
    }
    m_bMidLine = c != '\n';
  }
}

void Transcript::line(const std::string &text) {
  if (m_bMidLine) m_text += "[no line end]\n";
  m_bMidLine = false;
  m_text += text + "\n";
}

const std::string &Transcript::text() {
  if (m_bMidLine) m_text += "[no line end]\n";
  m_bMidLine = false;
  return m_text;
}

