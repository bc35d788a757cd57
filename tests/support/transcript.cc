// SPDX-License-Identifier: Apache-2.0
// The transcript of a run, and file helpers (see transcript.h).
#include "tests/support/transcript.h"

#include <stdio.h>

#include <algorithm>
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

// What a terminal shows after the text: the cursor-up, erase-line and
// erase-below sequences of zvfleet's live table are carried out.
std::string screenText(const std::string &raw) {
  std::string text;
  std::vector<std::string> rows(1);
  size_t row = 0, col = 0;
  for (size_t i = 0; i < raw.size(); i++) {
    if (raw.compare(i, 2, "\x1b[") == 0) {
      size_t end = raw.find_first_not_of("0123456789", i + 2);
      if (end == std::string::npos) break;
      size_t n = end > i + 2 ? std::stoul(raw.substr(i + 2, end - i - 2)) : 1;
      if (raw[end] == 'A') row -= std::min(n, row);
      if (raw[end] == 'K' || raw[end] == 'J') rows[row].resize(std::min(col, rows[row].size()));
      if (raw[end] == 'J') rows.resize(row + 1);
      i = end;
    } else if (raw[i] == '\r') {
      col = 0;
    } else if (raw[i] == '\n') {
      col = 0;
      if (++row == rows.size()) rows.emplace_back();
    } else {
      if (rows[row].size() <= col) rows[row].resize(col + 1, ' ');
      rows[row][col++] = raw[i];
    }
  }
  if (rows.back().empty()) rows.pop_back();  // the line after the last line end
  for (const std::string &row : rows) text += row + "\n";
  return text;
}
