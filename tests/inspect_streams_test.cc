// SPDX-License-Identifier: Apache-2.0
// zvinspect as a whole program on inputs that can be read only once: a named FIFO, a pipe,
// /dev/stdin and "-" give the report of the file, also as the --against source; and --extract never
// writes over its input, named as standard input or through a hard link.  Run through a POSIX
// shell, skipped where there is none.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/case_file.h"
#include "tests/support/programs.h"

namespace {

class InspectStreams : public testing::Test {
 protected:
  void SetUp() override {
    PlatChild shell;
    if (!startProgram({"/bin/sh", "-c", "exit 0"}, "sh.out", &shell) || finishProgram(shell) != 0)
      GTEST_SKIP() << "no POSIX shell here";
    writeFile("fw.hex", readFile(ZV_SOURCE_DIR "/samples/firmware.hex"));
    writeFile("index.html", readFile(ZV_SOURCE_DIR "/samples/index.html"));
  }
  // The shell command's output (zvinspect's status last, as "exit N").
  std::string shell(const std::string &command) {
    PlatChild child;
    std::string line = command + "; echo exit $?";
    EXPECT_TRUE(startProgram({"/bin/sh", "-c", line}, "shell.out", &child));
    EXPECT_EQ(0, finishProgram(child));
    return readOutput("shell.out");
  }
  ScratchDir m_scratch;
};

const std::string INSPECT = ZV_INSPECT;

// The report without its first line, which names the input.
std::string body(const std::string &report) { return report.substr(report.find('\n') + 1); }

TEST_F(InspectStreams, FifoPipeAndStandardInputGiveTheFilesReport) {
  std::string file = shell(INSPECT + " fw.hex");
  ASSERT_NE(std::string::npos, file.find("zvloader reads the whole file")) << file;
  EXPECT_EQ(file, "fw.hex" + shell("mkfifo f && { cat fw.hex > f & } && " + INSPECT + " f").substr(1));
  EXPECT_EQ(body(file), body(shell("cat fw.hex | " + INSPECT + " /dev/stdin")));
  EXPECT_EQ(body(file), body(shell("cat fw.hex | " + INSPECT + " -")));
  EXPECT_EQ(body(file), body(shell(INSPECT + " - < fw.hex")));
}

TEST_F(InspectStreams, AgainstAFifoOrAPipe) {
  PlatChild build;
  ASSERT_TRUE(startProgram({"zvloader", "-NE", "-T", "M", "-M", "1", "-K", "Zelva-K1", "-f",
                            "fw.hex"}, "build.out", &build));
  ASSERT_EQ(1, finishProgram(build));
  std::string against = " -K Zelva-K1 main.enc --against ";
  std::string file = shell(INSPECT + against + "fw.hex");
  ASSERT_NE(std::string::npos, file.find("exactly the build of fw.hex")) << file;
  std::string fifo = shell("mkfifo f && { cat fw.hex > f & } && " + INSPECT + against + "f");
  EXPECT_NE(std::string::npos, fifo.find("exactly the build of f ")) << fifo;
  std::string pipe = shell("cat fw.hex | " + INSPECT + against + "-");
  EXPECT_NE(std::string::npos, pipe.find("exactly the build of - ")) << pipe;
  // A FIFO that differs from the file ends too, with the difference and its line, in a run of
  // records that a blank line broke.
  std::string other = shell("mkfifo g && { sed -e '146s/^\\(.\\{49\\}\\)A/\\13/' -e '145a\\\\' fw.hex > g & } && " +
                            INSPECT + against + "g");
  EXPECT_NE(std::string::npos, other.find("differs first at device address 0x01234 (line 147 of g)"))
      << other;
  // Standard input from a file, read already past a first line: the line that differs is sought
  // from where zvinspect began to read.
  other = shell("{ echo x; sed 1s/3CA3/3DA3/ fw.hex; } > h && { read -r x; " + INSPECT + against +
                "-; } < h");
  EXPECT_NE(std::string::npos, other.find("differs first at device address 0x00000 (line 1 of -)"))
      << other;
}

TEST_F(InspectStreams, ExtractNeverWritesOverItsInput) {
  PlatChild build;
  ASSERT_TRUE(startProgram({"zvloader", "-NE", "-T", "H", "-K", "Zelva-K1", "-f", "index.html"},
                           "build.out", &build));
  ASSERT_EQ(1, finishProgram(build));
  Bytes enc = readFile("html.enc");
  std::string out = shell(INSPECT + " -K Zelva-K1 --extract html.enc - < html.enc");
  EXPECT_NE(std::string::npos, out.find("extraction failed: nothing written to html.enc: it is a "
                                        "file that this run reads")) << out;
  EXPECT_NE(std::string::npos, out.find("exit 2")) << out;
  EXPECT_EQ(enc, readFile("html.enc"));
  out = shell("ln html.enc copy.enc && " + INSPECT + " -K Zelva-K1 --extract copy.enc html.enc");
  EXPECT_NE(std::string::npos, out.find("it is a file that this run reads")) << out;
  EXPECT_EQ(enc, readFile("html.enc"));
  // Through a pipe there is no file to keep: the extraction is written.
  out = shell("cat html.enc | " + INSPECT + " -K Zelva-K1 --extract page.html -");
  EXPECT_EQ(readFile("index.html"), readFile("page.html")) << out;
}

}  // namespace
