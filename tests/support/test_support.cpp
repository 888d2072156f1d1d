#include "support/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace testing_support {

int reapStatus(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  return pid > 0 && r == pid ? status : -1;
}

void setExit(RunResult* r, int status) {
  if (status != -1 && WIFEXITED(status)) r->exitCode = WEXITSTATUS(status);
  if (status != -1 && WIFSIGNALED(status)) r->signal = WTERMSIG(status);
}

pid_t forkQuietly() {
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    struct rlimit noCore {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
  }
  return pid;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/korvelle-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void assignEnv(const std::string& name, const char* value) {
  if (value) {
    setenv(name.c_str(), value, 1);
  } else {
    unsetenv(name.c_str());
  }
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    hadOld_ = true;
    old_ = old;
  }
  assignEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { assignEnv(name_, hadOld_ ? old_.c_str() : nullptr); }

RunResult runProcess(const std::vector<std::string>& argv) {
  RunResult result;
  if (argv.empty()) return result;
  // Output goes through files, so no full pipe can stall the child.
  const TempDir dir;
  const int status = reapStatus(spawnProcess(argv, {}, dir.file("out"), dir.file("err")));
  result.out = readFile(dir.file("out"));
  result.err = readFile(dir.file("err"));
  setExit(&result, status);
  return result;
}

pid_t spawnProcess(const std::vector<std::string>& argv, const ProcessEnv& env, const std::string& outPath,
                   const std::string& errPath, int keepFd) {
  // Built before the fork: after it only async-signal-safe calls (the test program may have threads).
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool keep = true;
    for (const std::string& prefix : env.drop) keep = keep && entry.rfind(prefix, 0) != 0;
    if (keep) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : env.set) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  const char* out = outPath.empty() ? "/dev/null" : outPath.c_str();
  const char* err = errPath.empty() ? "/dev/null" : errPath.c_str();
  const bool shared = outPath == errPath;

  const pid_t parent = getpid();
  const pid_t pid = forkQuietly();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  const int outFd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int errFd = shared ? outFd : open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int inFd = open("/dev/null", O_RDONLY);
  if (outFd < 0 || errFd < 0 || inFd < 0) _exit(127);
  dup2(inFd, 0);
  dup2(outFd, 1);
  dup2(errFd, 2);
  if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execvpe(argp[0], argp.data(), envp.data());
  _exit(127);
}

int waitProcess(pid_t pid) {
  const int status = reapStatus(pid);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

RunResult runShell(const std::string& command) {
  return runProcess({"/bin/sh", "-c", command});
}

bool waitUntil(const std::function<bool()>& cond, double timeoutSeconds, double pollSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::duration<double>(pollSeconds));
  }
  return true;
}

bool haveTool(const std::string& name) {
  return runShell("command -v '" + name + "' >/dev/null 2>&1").exitCode == 0;
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  if (part.empty()) return 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

std::string fixture(const std::string& name) {
  return std::string(KORVELLE_FIXTURES_DIR) + "/" + name;
}

std::string korvelleExe() { return KORVELLE_EXE; }

}  // namespace testing_support
