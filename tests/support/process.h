// Starting the real programs in tests: a child with its own working
// directory, output captured to files, waited for with a time limit.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zk::test {

class Process {
public:
    // Starts `program` with `args` in `cwd`; stdout and stderr go to files
    // in `cwd` named after `tag`; `env` ("NAME=value") is added to the
    // child's environment.
    Process(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
            const std::string& tag = "proc", const std::vector<std::string>& env = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Exit code, or -1 when it did not end within `ms` (it is then killed),
    // or 128 + signal when a signal ended it.
    int wait(int ms);
    void signal(int sig);
    bool running();
    pid_t pid() const { return pid_; }
    std::string out() const;
    std::string err() const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string out_path_, err_path_;
};

// The environment a browser runs with in tests. Its leak check is off: with
// Mesa's threads still running at exit, the leak checker's own tracer now and
// then crashes, failing a run that leaked nothing. The modules' leaks are
// checked by the unit and window tests, which run in the test process.
std::vector<std::string> browser_env();

// The port a server's log announces as "<what> on 127.0.0.1:<port>", or 0.
uint16_t port_in_log(const std::string& log, const std::string& what);

// What a shell command prints on standard output.
std::string run_command(const std::string& command);

// zelnik-server (`binary`) with its demo worlds in `dir`, on ports the system
// picks; `universe` is its universe port once it runs, 0 when it did not
// start within the time limit.
struct DemoServer {
    std::unique_ptr<Process> process;
    uint16_t universe = 0;
};
DemoServer start_demo_server(const std::string& binary, const std::string& dir, const std::string& tag = "server",
                             const std::vector<std::string>& extra = {});

// The browser (`binary`) copied alone into `dir`/prog with a zelnik.ini that
// points at the universe on `universe_port` and then holds `settings`,
// started with nobody at the screen.
std::unique_ptr<Process> start_browser(const std::string& binary, const std::string& dir, uint16_t universe_port,
                                       const std::string& settings);

// Polls `done` until it answers true or `ms` pass.
bool wait_until(const std::function<bool()>& done, int ms);

// Polls `path` until it contains `text` or `ms` pass.
bool wait_for_text(const std::string& path, const std::string& text, int ms);

}  // namespace zk::test
