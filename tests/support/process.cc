// Child processes for whole-program tests: fork and exec on POSIX,
// CreateProcess on Windows.
#include "tests/support/process.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

ChildProcess::~ChildProcess() {
  if (m_bRunning) {
#if defined(_WIN32)
    kill();
#else
    ::kill(m_pid, SIGKILL);
#endif
    int nStatus;
    wait(5000, &nStatus);
  }
#if defined(_WIN32)
  if (m_hProcess != nullptr) CloseHandle(m_hProcess);
#endif
}

#if defined(_WIN32)

// One argument quoted as the C runtime's command-line reader expects.
static std::string quoteArgument(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t nBackslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      nBackslashes++;
      continue;
    }
    quoted.append(c == '"' ? 2 * nBackslashes + 1 : nBackslashes, '\\');
    nBackslashes = 0;
    quoted += c;
  }
  quoted.append(2 * nBackslashes, '\\');
  return quoted + "\"";
}

bool ChildProcess::start(const std::vector<std::string> &args,
                         const std::string &dir, const std::string &outputPath) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE hOut = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hOut == INVALID_HANDLE_VALUE) return false;
  std::string commandLine;
  for (const std::string &arg : args) commandLine += (commandLine.empty() ? "" : " ") + quoteArgument(arg);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = hOut;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi = {};
  BOOL bOk = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                            dir.empty() ? nullptr : dir.c_str(), &si, &pi);
  CloseHandle(hOut);
  if (!bOk) return false;
  CloseHandle(pi.hThread);
  m_hProcess = pi.hProcess;
  m_bRunning = true;
  return true;
}

bool ChildProcess::wait(int nMilliseconds, int *pnStatus) {
  if (m_hProcess == nullptr) return false;
  if (WaitForSingleObject(m_hProcess, (DWORD)nMilliseconds) != WAIT_OBJECT_0) return false;
  DWORD dwCode = 0;
  GetExitCodeProcess(m_hProcess, &dwCode);
  *pnStatus = (int)(dwCode & 0xFF);
  m_bRunning = false;
  return true;
}

void ChildProcess::kill() {
  if (m_bRunning) TerminateProcess(m_hProcess, 0xC000013A);  // as Ctrl+C ends it
}

#else

bool ChildProcess::start(const std::vector<std::string> &args,
                         const std::string &dir, const std::string &outputPath) {
  std::vector<char *> argv;
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  int fd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fd, 1);
    close(fd);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fd);
  if (pid < 0) return false;
  m_pid = pid;
  m_bRunning = true;
  return true;
}

bool ChildProcess::wait(int nMilliseconds, int *pnStatus) {
  if (!m_bRunning) return false;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
  for (;;) {
    int nRaw = 0;
    pid_t r = waitpid(m_pid, &nRaw, WNOHANG);
    if (r == m_pid) {
      *pnStatus = WIFEXITED(nRaw) ? WEXITSTATUS(nRaw) : 128 + WTERMSIG(nRaw);
      m_bRunning = false;
      return true;
    }
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::kill() {
  if (m_bRunning) ::kill(m_pid, SIGINT);
}

#endif

ProcessResult runProcess(const std::vector<std::string> &args,
                         const std::string &dir, int nMilliseconds) {
  std::string outputPath = (dir.empty() ? std::string(".") : dir) + "/run.out";
  ProcessResult result = {false, -1, ""};
  {
    ChildProcess child;
    if (!child.start(args, dir, outputPath)) return result;
    result.bFinished = child.wait(nMilliseconds, &result.nStatus);
  }
  result.output = readOutput(outputPath);
  return result;
}

std::string readOutput(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string lf;
  for (size_t i = 0; i < text.size(); i++)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
  return lf;
}
