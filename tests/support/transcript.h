// SPDX-License-Identifier: Apache-2.0
// The transcript of a run, which the golden files of the cases hold, and small file helpers.  No
// test framework here: fuzzers use it too.
#ifndef ZV_TRANSCRIPT_H
#define ZV_TRANSCRIPT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A transcript: console output as it came, with its control bytes and bytes above 0x7E written \xHH
// (and \ as \\), and the driver's own lines, each on a line of its own; console output that stopped
// without a line end is marked so.
class Transcript {
 public:
  void console(const char *pText, size_t nLength);
  void line(const std::string &text);
  const std::string &text();
  // The console output as it came, since the last forgetConsole.
  const std::string &rawConsole() const { return m_raw; }
  void forgetConsole() { m_raw.clear(); }

 private:
  std::string m_text, m_raw;
  bool m_bMidLine = false;
};

// What a terminal shows after the text: the cursor-up, erase-line and erase-below sequences of
// zvfleet's live table carried out.
std::string screenText(const std::string &raw);

Bytes readFile(const std::string &path);
void writeFile(const std::string &path, const Bytes &data);

#endif
