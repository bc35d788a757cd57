// Runs the built programs for whole-program tests: a child process with
// its standard output in a file, waited for with a time limit, or killed.
#ifndef ZV_PROCESS_H
#define ZV_PROCESS_H

#include <string>
#include <vector>

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  // Starts args[0] with the arguments, in the directory (empty: the
  // current one), standard output to the file.  Returns false on failure.
  bool start(const std::vector<std::string> &args, const std::string &dir,
             const std::string &outputPath);
  // Waits at most nMilliseconds; returns true and the exit status's low
  // eight bits once the process has ended.
  bool wait(int nMilliseconds, int *pnStatus);
  // Ends the process at once (as a console's Ctrl+C or a task kill would).
  void kill();

 private:
  bool m_bRunning = false;
  void *m_hProcess = nullptr;  // Windows: the process handle
  int m_pid = -1;              // POSIX: the process id
};

struct ProcessResult {
  bool bFinished;
  int nStatus;
  std::string output;  // line ends as LF
};

// Runs a program to its end (killed after nMilliseconds).
ProcessResult runProcess(const std::vector<std::string> &args,
                         const std::string &dir, int nMilliseconds);

// The file's text with CR LF line ends turned into LF.
std::string readOutput(const std::string &path);

#endif
