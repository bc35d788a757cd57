// SPDX-License-Identifier: Apache-2.0
// Each companion's option table against its manual page and its bash
// completion: an option, a range or a default named in one and not the
// others fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tools/zvdevsim/options.h"
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
