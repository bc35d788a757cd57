// Whole-program tests: the built zvloader against the device simulator on
// loopback.  Console output and exit status are compared with golden files
// (tests/golden/NAME.out: "exit N" and the output, line ends as LF, the
// scratch directory as <dir>, debug times as DD hh:mm:ss); the simulator's
// report and memory dumps show what the device received.  Set
// ZV_UPDATE_GOLDEN=1 to write the golden files anew.
#include <gtest/gtest.h>

#include "image/hex_loader.h"
#include "image/image_store.h"
#include "tests/support/e2e_fixture.h"

namespace {

TEST_F(EndToEnd, CommandLineEndings) {
  struct Case {
    const char *pszGolden;
    std::vector<std::string> args;
  } cases[] = {
      {"cli_no_args", {}},
      {"cli_version_then_unknown", {"-v", "-x"}},
      {"cli_lower_case_password", {"-p", "x"}},
      {"cli_value_missing", {"-IP"}},
      {"cli_no_type", {"-NE", "-f", "x"}},
      {"cli_wrong_model", {"-NE", "-T", "M", "-M", "4"}},
      {"cli_file_name_too_long", {"-f", std::string(256, 'n')}},
  };
  for (const Case &c : cases) expectGolden(c.pszGolden, loader(c.args));
}

TEST_F(EndToEnd, BuildRoad) {
  struct Case {
    const char *pszGolden;
    std::vector<std::string> args;
    const char *pszOutput;
  } cases[] = {
      {"build_main", {"-NE", "-T", "M", "-M", "2", "-K", KEY, "-f", "firmware.hex"}, "main.enc"},
      {"build_main_all", {"-NE", "-EA", "-T", "M", "-M", "3", "-K", KEY, "-f", "firmware.hex"}, "main.enc"},
      {"build_logo", {"-NE", "-T", "L", "-K", KEY, "-f", "logo.bin", "-no"}, "logo.enc"},
      {"build_html", {"/ne", "-T", "H", "-k", KEY, "-f", "index.html"}, "html.enc"},
      {"build_missing_input", {"-NE", "-T", "L", "-K", KEY, "-f", "absent.bin"}, nullptr},
      {"build_without_ne", {"-T", "H", "-K", KEY, "-f", "index.html"}, nullptr},
  };
  for (const Case &c : cases) {
    ProcessResult r = loader(c.args);
    expectGolden(c.pszGolden, r, c.pszOutput ? fileLine(c.pszOutput) : "");
  }
}

// What the device stored for a transfer, as the simulator dumped it.
Bytes dump(const TempDir &dir, int n) { return readFile(dir.path("dev." + std::to_string(n) + ".bin")); }

TEST_F(EndToEnd, EncryptedUploads) {
  NEED_DEVICE();
  build({"-NE", "-T", "M", "-M", "1", "-f", "firmware.hex"});
  build({"-NE", "-T", "L", "-f", "logo.bin"});
  build({"-NE", "-T", "H", "-EA", "-f", "index.html"});
  struct Case {
    const char *pszGolden;
    const char *pszFile;
    int nCommits;
    size_t nPages;  // the transfer's fixed range; 0 for the image's own
  } cases[] = {
      {"upload_main_enc", "main.enc", 2, 0},
      {"upload_logo_enc", "logo.enc", 1, 16},
      {"upload_html_enc", "html.enc", 1, 845},
  };
  for (const Case &c : cases) {
    startDevice({"-P", "set-pw", "-c", std::to_string(c.nCommits)});
    ProcessResult r = loader({"-IP", DEVICE, "-P", "set-pw", "-f", c.pszFile});
    std::string report = deviceReport();
    expectGolden(c.pszGolden, r);
    EXPECT_EQ(std::string::npos, report.find(" bad")) << report;
    Bytes file = readFile(m_dir.path(c.pszFile));
    Bytes stored = dump(m_dir, c.nCommits);
    size_t nIdata = c.nCommits == 2 ? 0x7000 : 0;
    Bytes payload(file.begin() + 12, file.end() - (long)nIdata);
    // The device holds the payload as stored, then zeros to its range end.
    ASSERT_GE(stored.size(), payload.size()) << c.pszFile;
    if (c.nPages) {
      EXPECT_EQ(8 + 256 * c.nPages, stored.size()) << c.pszFile;
    }
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), stored.begin())) << c.pszFile;
    EXPECT_TRUE(std::all_of(stored.begin() + (long)payload.size(), stored.end(),
                            [](uint8_t b) { return b == 0; }));
    if (nIdata) {
      EXPECT_EQ(Bytes(file.end() - 0x7000, file.end()), dump(m_dir, 1));
    }
  }
}

TEST_F(EndToEnd, RawUploads) {
  NEED_DEVICE();
  struct Case {
    const char *pszGolden;
    std::vector<std::string> args;
    int nCommits;
  } cases[] = {
      {"upload_main_raw", {"-NE", "-T", "M", "-M", "1", "-f", "firmware.hex"}, 2},
      {"upload_html_raw", {"-NE", "-T", "H", "-f", "index.html"}, 1},
      {"upload_logo_raw", {"-NE", "-T", "L", "-f", "logo.bin"}, 1},  // last: checked below
  };
  for (const Case &c : cases) {
    startDevice({"-c", std::to_string(c.nCommits)});
    std::vector<std::string> args = {"-IP", DEVICE};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessResult r = loader(args);
    std::string report = deviceReport();
    expectGolden(c.pszGolden, r);
    EXPECT_EQ(std::string::npos, report.find(" bad")) << report;
  }
  // The raw logo went to the device behind its length.
  Bytes logo = readFile(m_dir.path("logo.bin"));
  Bytes stored = dump(m_dir, 1);
  ASSERT_GE(stored.size(), logo.size() + 2);
  EXPECT_EQ(logo.size(), getLe16(stored.data()));
  EXPECT_TRUE(std::equal(logo.begin(), logo.end(), stored.begin() + 2));
}

TEST_F(EndToEnd, RawMainImageMatchesTheHexFile) {
  NEED_DEVICE();
  startDevice({"-c", "2"});
  ProcessResult r = loader({"-IP", DEVICE, "-NE", "-T", "M", "-M", "1", "-f", "firmware.hex"});
  deviceReport();
  ASSERT_EQ(1, r.nStatus);
  ASSERT_EQ(1, readHexFile(m_dir.path("firmware.hex").c_str()));
  EXPECT_EQ(Bytes(g_abIdata, g_abIdata + IDATA_SIZE), dump(m_dir, 1));
  Bytes stored = dump(m_dir, 2);
  ASSERT_EQ(nMaxHexAddress, stored.size());
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), g_abImage));
}

TEST_F(EndToEnd, DeviceReactions) {
  NEED_DEVICE();
  build({"-NE", "-T", "M", "-M", "1", "-f", "firmware.hex"});
  build({"-NE", "-T", "L", "-f", "logo.bin"});
  struct Case {
    const char *pszGolden;
    const char *pszFile;
    std::vector<std::string> device;
  } cases[] = {
      {"reaction_wrong_password", "main.enc", {"-P", "other"}},
      {"reaction_wrong_model", "main.enc", {"-m", "2"}},
      {"reaction_model_reply_short", "main.enc", {"-at", "1:len:22"}},
      {"reaction_nack_unknown_model", "main.enc", {"-at", "1:nack:1", "-c", "2"}},
      {"reaction_bad_crc_pages", "main.enc", {"-at", "3:nack:6"}},
      {"reaction_bad_version_pages", "logo.enc", {"-at", "2:nack:8"}},
      {"reaction_bad_crc_commit", "logo.enc", {"-at", "5:nack:6"}},
      {"reaction_stray_replies_resend", "logo.enc", {"-at", "2:stray:15", "-c", "1"}},
      {"reaction_wrong_lengths_resend", "logo.enc",
       {"-at", "3:len:22", "-at", "3:stray:14", "-c", "1"}},
      {"reaction_reply_too_long", "logo.enc", {"-at", "2:len:3000"}},
      {"reaction_clearing_reply_short", "main.enc", {"-at", "55:len:24"}},
      {"reaction_reply_from_other_sender", "logo.enc", {"-at", "1:other", "-c", "1"}},
  };
  for (const Case &c : cases) {
    startDevice(c.device);
    ProcessResult r = loader({"-IP", DEVICE, "-f", c.pszFile}, 30000);
    deviceReport();
    expectGolden(c.pszGolden, r);
  }
}

TEST_F(EndToEnd, DebugMessagesDuringAnUpload) {
  NEED_DEVICE();
  build({"-NE", "-T", "L", "-f", "logo.bin"});
  startDevice({"-c", "1", "-dbg", "boot 50% %s", "-dbg-hex", "41004200", "-dbg", std::string(256, 'w')});
  ProcessResult r = loader({"-IP", DEVICE, "-f", "logo.enc"});
  deviceReport();
  EXPECT_EQ(1, r.nStatus);
  std::string output = normalised(r.output, m_dir.path(""));
  char szSender[32];
  ASSERT_EQ(1, platAddressText(seenSenderOf(DEVICE_ADDR), szSender, sizeof(szSender)));
  std::string prefix = std::string("Dbg>DD hh:mm:ss ") + szSender + ": ";
  std::vector<std::string> lines = {prefix + "boot 50% %s\n", prefix + "A\n",
                                    prefix + std::string(256, 'w') + "\n"};
  for (const std::string &line : lines)
    EXPECT_NE(std::string::npos, output.find(line)) << output;
}

TEST_F(EndToEnd, ListenOnlyAndTakenDebugPort) {
  NEED_DEVICE();
  ChildProcess listener;
  ASSERT_TRUE(listener.start({ZV_LOADER, "-no"}, m_dir.path(""), m_dir.path("listen.out")));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  LoopbackPeer peer;
  peer.sendTo(9029, {'u', 'p'});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // A second copy cannot take the port: it reports and the upload goes on.
  build({"-NE", "-T", "L", "-f", "logo.bin"});
  startDevice({"-c", "1"});
  ProcessResult r = loader({"-IP", DEVICE, "-f", "logo.enc"});
  deviceReport();
  int nStatus;
  EXPECT_FALSE(listener.wait(0, &nStatus));  // -no never ends by itself
  listener.kill();
  listener.wait(5000, &nStatus);
  EXPECT_EQ("Dbg>DD hh:mm:ss 127.0.0.1: up\n", normalised(readOutput(m_dir.path("listen.out")), ""));
  EXPECT_EQ(1, r.nStatus);
  // The listener's report is a line of its own, before or after the
  // update's first lines.
  size_t nReport = r.output.find("System Error: ");
  ASSERT_NE(std::string::npos, nReport) << r.output;
  EXPECT_TRUE(nReport == 0 || r.output[nReport - 1] == '\n') << r.output;
  EXPECT_NE(std::string::npos,
            r.output.find(" User Message: bind:\nCould not bind to the debug port:9029 check to make "
                          "sure there isn't another copy of this program running\n"));
  EXPECT_NE(std::string::npos, r.output.find("File Transfered\n"));
}

// Waits out the 45-second resend cycle once: a lost request is sent again
// and the update completes.
TEST_F(EndToEnd, LongLostRequestIsSentAgain) {
  NEED_DEVICE();
  build({"-NE", "-T", "L", "-f", "logo.bin"});
  startDevice({"-c", "1", "-t", "60", "-at", "3:drop"});
  ProcessResult r = loader({"-IP", DEVICE, "-f", "logo.enc"}, 90000);
  deviceReport();
  expectGolden("long_lost_request", r);
}

}  // namespace
