// SPDX-License-Identifier: Apache-2.0
// Each companion's option table against its manual page and its bash completion: an option, a range
// or a default named in one and not the others fails here.  So does an exit status or a limit that
// a manual page states otherwise than the program's help and constants.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/settings.h"
#include "image/hex_verdict.h"
#include "image/image_store.h"
#include "net/packet.h"
#include "net/receive_channel.h"
#include "net/transfer.h"
#include "tools/zvdevsim/faults.h"
#include "tools/zvdevsim/options.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/options.h"
#include "tools/zvinspect/options.h"

// The options named in the first group of every match of the pattern.
static std::set<std::string> names(const std::string &text, const char *pszPattern = "(.*)") {
  std::set<std::string> found;
  std::regex pattern(pszPattern), name("(?:^|[^-\\w])(--?[A-Za-z][-\\w]*)");
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
    std::string part = (*it)[1];
    for (std::sregex_iterator n(part.begin(), part.end(), name); n != end; ++n) found.insert((*n)[1]);
  }
  return found;
}

static std::string fileText(const std::string &path) {
  std::stringstream text;
  text << std::ifstream(ZV_SOURCE_DIR "/" + path).rdbuf();
  return text.str();
}

TEST(OptionTables, AgreeWithManualPagesAndCompletions) {
  for (const CliProgram *pProgram : {&g_simCommandLine, &g_inspectCommandLine, &g_fleetCommandLine}) {
    const CliProgram &program = *pProgram;
    SCOPED_TRACE(program.pszName);
    std::string page = fileText(std::string("doc/man/") + program.pszName + ".1.scd");
    std::string completion = fileText(std::string("contrib/bash-completion/") + program.pszName);
    page.erase(std::remove(page.begin(), page.end(), '*'), page.end());
    std::set<std::string> all = names(program.pszMoreUsage ? program.pszMoreUsage : "");
    std::set<std::string> awaited = names(completion, "\n\\s*(-[^)\n]*)\\)");
    for (int k = 0; k < program.nOptions + 2; k++) {
      const CliOption &option =
          k < program.nOptions ? program.pOptions[k] : g_aCliStandardOptions[k - program.nOptions];
      std::string range = std::to_string(option.ulMin) + " to " + std::to_string(option.ulMax);
      std::string value = option.pszDefault ? std::string("default ") + option.pszDefault : "";
      // A flag takes no value, so it has no value name, range or default either.
      EXPECT_TRUE(option.nKind != CLI_FLAG || (!option.pszArg && option.ulMin == 0 && option.ulMax == 0 &&
                                               !option.pszDefault)) << option.pszNames;
      for (const std::string &name : names(option.pszNames)) {
        all.insert(name);
        // Its paragraph in the page: its line of names, then indented lines.
        std::smatch head;
        ASSERT_TRUE(regex_search(page, head, std::regex("\n(" + name + "|-.*, " + name + ")[ ,\n]")))
            << name;
        size_t nEnd = page.find('\n', head.position(0) + 1);
        while (page.compare(nEnd, 2, "\n\t") == 0) nEnd = page.find('\n', nEnd + 1);
        std::string paragraph = page.substr(head.position(0), nEnd - head.position(0));
        EXPECT_TRUE(option.nKind != CLI_NUMBER || paragraph.find(range) != std::string::npos)
            << name << " " << range;
        EXPECT_NE(paragraph.find(value), std::string::npos) << name << ": " << value;
        EXPECT_TRUE(option.nKind == CLI_FLAG || awaited.count(name)) << name << " takes a value";
      }
    }
    // The page's synopsis and options, and the completion, name no other option.
    for (size_t nAt : {page.find("# SYNOPSIS\n"), page.find("# OPTIONS\n")})
      for (const std::string &name : names(page.substr(nAt, page.find("\n# ", nAt) - nAt)))
        EXPECT_TRUE(all.count(name)) << name;
    EXPECT_EQ(all, names(completion, "compgen -W '([^']*)'"));
  }
}

// The text without markup, each run of blanks and line ends one blank.
static std::string flat(const std::string &text) {
  return std::regex_replace(std::regex_replace(text, std::regex("\\*"), ""), std::regex("\\s+"), " ");
}

TEST(OptionTables, ExitStatusesAndLimitsAgreeWithManualPages) {
  std::regex number("\\b([0-9]+)\\b"), heading("\n\\*([0-9]+)\\*\n");
  for (const CliProgram *pProgram : {&g_simCommandLine, &g_inspectCommandLine, &g_fleetCommandLine}) {
    SCOPED_TRACE(pProgram->pszName);
    std::string page = fileText(std::string("doc/man/") + pProgram->pszName + ".1.scd");
    std::string help = pProgram->pszMore;
    size_t nAt = page.find("# EXIT STATUS\n"), nHelp = help.find("Exit status:");
    ASSERT_NE(std::string::npos, nAt);
    ASSERT_NE(std::string::npos, nHelp);
    std::string section = page.substr(nAt, page.find("\n# ", nAt + 1) - nAt), tail = help.substr(nHelp);
    std::set<std::string> inPage, inHelp;
    for (std::sregex_iterator it(section.begin(), section.end(), heading), end; it != end; ++it)
      inPage.insert((*it)[1]);
    for (std::sregex_iterator it(tail.begin(), tail.end(), number), end; it != end; ++it)
      inHelp.insert((*it)[1]);
    EXPECT_EQ(inPage, inHelp);
    if (pProgram != &g_fleetCommandLine) continue;
    // zvfleet's own statuses, each in the page's paragraph of its number.
    for (auto status : {std::make_pair(FLEET_EXIT_NOT_BACK_ONLINE, "not back online"),
                        std::make_pair(FLEET_EXIT_REPORT_FAILED, "report could not be written"),
                        std::make_pair(FLEET_EXIT_ALL_READY, "preflight")}) {
      std::string head = "*" + std::to_string(status.first) + "*\n";
      size_t nPara = section.find(head);
      ASSERT_NE(std::string::npos, nPara) << head;
      EXPECT_NE(std::string::npos, section.substr(nPara, section.find("\n\n", nPara) - nPara).find(status.second))
          << head;
    }
  }
  // The tool's limits as zvloader(1) states them, from its constants.
  std::string page = flat(fileText("doc/man/zvloader.1.scd"));
  auto n = [](unsigned long ul) { return std::to_string(ul); };
  for (const std::string &fact :
       {"fit the " + n(HEX_LINE_SIZE) + "-character line buffer (more than " + n(HEX_LINE_SIZE - 2) +
            " characters before its line feed, or " + n(HEX_LINE_SIZE - 3) +
            " before a CR LF; a last line without a line end may hold " + n(HEX_LINE_SIZE - 1) + ")",
        "a byte count above " + n(HEX_MAX_COUNT), "more than " + n(HEX_FILE_LIMIT >> 20) + " MiB is refused",
        "too large for the " + n(IMAGE_SIZE >> 10) + " KiB image store",
        "too long for its " + n(SETTING_TEXT_SIZE) + "-character field",
        "first " + n(PASSWORD_FIELD_SIZE) + " characters travel", "at most " + n(SETTING_KEY_SIZE) + " characters",
        "(" + n(RECV_TIMEOUT_MS / 1000) + " s per wait, a resend after " + n(UPDATE_WAITS) + " waits)",
        "listens " + n(COMMIT_LISTEN_MS) + " ms more"})
    EXPECT_NE(std::string::npos, page.find(fact)) << fact;
}

// zvdevsim takes the values its page states and refuses the rest with status 2: hex of whole bytes
// up to a datagram, an address other than the broadcast one, a fault of a request from 1 on.
TEST(OptionTables, SimulatorValues) {
  std::string whole(2 * SIM_MAX_DATAGRAM, '0');
  struct Case {
    std::vector<std::string> args;
    int nStatus;
  } const cases[] = {{{"-dbg-hex", "4a"}, CLI_RUN},        {{"-dbg-hex", "4a0"}, 2},
                     {{"-dbg-hex", "4g"}, 2},              {{"-dbg-hex", "g4"}, 2},
                     {{"-dbg-hex", whole}, CLI_RUN},       {{"-dbg-hex", whole + "00"}, 2},
                     {{"-a", "10.0.0.1"}, CLI_RUN},        {{"-a", "255.255.255.255"}, 2},
                     {{"-dbg-to", "10.0.0.x"}, 2},         {{"-at", "1:drop"}, CLI_RUN},
                     {{"-at", "0:drop"}, 2},               {{"-at", "1:nosuch"}, 2},
                     {{"-q", "-EA", "-html-not-logo"}, CLI_RUN}};
  for (const Case &c : cases) {
    std::vector<char *> argv;
    for (const std::string &arg : c.args) argv.push_back(const_cast<char *>(arg.c_str()));
    SimOptions options;
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.nStatus, simParseOptions((int)argv.size(), argv.data(), &options)) << c.args[0] << " " << c.args[1].substr(0, 8);
    testing::internal::GetCapturedStderr();
    if (c.args[0] == "-q") {
      EXPECT_TRUE(options.bQuiet && options.bAllEncrypted && options.bHtmlNotLogo);
    } else if (c.args[0] == "-dbg-hex" && c.nStatus == CLI_RUN) {
      EXPECT_EQ(c.args[1].size() / 2, options.debugMessages.back().size());
    }
  }
  // Each fault's value up to the limit the page states, and no further.
  std::string page = flat(fileText("doc/man/zvdevsim.1.scd"));
  for (auto limit : std::vector<std::pair<std::string, uint32_t> >{{"nack", 255}, {"cmd", 255}, {"model", 255},
       {"ackmodel", 255}, {"len", SIM_MAX_DATAGRAM}, {"stray", SIM_MAX_STRAY}, {"delay", SIM_MAX_DELAY_MS}, {"ackfirst", 65535}}) {
    SimFault fault;
    EXPECT_NE(std::string::npos, page.find("to " + std::to_string(limit.second) + " (")) << limit.first;
    EXPECT_TRUE(simParseFault(("1:" + limit.first + ":" + std::to_string(limit.second)).c_str(), &fault));
    EXPECT_EQ(limit.second, fault.ulValue);
    EXPECT_FALSE(simParseFault(("1:" + limit.first + ":" + std::to_string(limit.second + 1)).c_str(), &fault)) << limit.first;
    EXPECT_FALSE(simParseFault(("1:" + limit.first).c_str(), &fault)) << limit.first << " without its value";
  }
  SimFault fault;
  EXPECT_FALSE(simParseFault("1:dup:1", &fault));
}
