#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {

CliRun run_cli(const std::vector<std::string>& arguments, const CliOptions& options) {
  TempDir capture;
  const auto out_path = capture / "stdout";
  const auto err_path = capture / "stderr";
  int broken_pipe[2] = {-1, -1};
  if (options.close_stdout) {
    if (::pipe(broken_pipe) != 0) throw std::runtime_error("pipe failed");
    ::close(broken_pipe[0]);  // no reader anywhere: every write fails with EPIPE
  }

  const std::filesystem::path program =
      options.executable.empty() ? std::filesystem::path(KESTREL_CLI_PATH) : options.executable;
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    int out_fd = -1;
    if (options.close_stdout) {
      out_fd = broken_pipe[1];
    } else {
      const auto& target = options.stdout_file.empty() ? out_path : options.stdout_file;
      out_fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd < 0 || err_fd < 0) ::_exit(127);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    for (const auto& [name, value] : options.environment) {
      if (::setenv(name.c_str(), value.c_str(), 1) != 0) ::_exit(124);
    }
    if (!options.working_directory.empty() && ::chdir(options.working_directory.c_str()) != 0) {
      ::_exit(126);
    }
    std::vector<char*> argv;
    std::string program_text = program.string();
    argv.push_back(program_text.data());
    std::vector<std::string> copies = arguments;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program_text.c_str(), argv.data());
    ::_exit(125);
  }
  if (options.close_stdout) ::close(broken_pipe[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  CliRun run;
  run.out = read_file(out_path);
  run.err = read_file(err_path);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace kestrel::testing
