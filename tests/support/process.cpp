#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <regex>
#include <thread>

#include "support/temp_dir.h"

namespace zk::test {

Process::Process(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                 const std::string& tag, const std::vector<std::string>& env)
    : out_path_(cwd + "/" + tag + ".out"), err_path_(cwd + "/" + tag + ".err") {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> vars = env;
    pid_ = fork();
    if (pid_ == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (auto& v : vars) putenv(v.data());
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

// A child still running at the end is killed.
Process::~Process() { wait(0); }

bool Process::running() {
    if (pid_ <= 0 || status_ != -1) return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = st;
        return false;
    }
    return r == 0;
}

int Process::wait(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        return -1;
    }
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
    return -1;
}

void Process::signal(int sig) {
    if (running()) kill(pid_, sig);
}

std::string Process::out() const { return read_file(out_path_); }
std::string Process::err() const { return read_file(err_path_); }

uint16_t port_in_log(const std::string& log, const std::string& what) {
    std::smatch m;
    if (!std::regex_search(log, m, std::regex(what + " on 127\\.0\\.0\\.1:(\\d+)"))) return 0;
    return static_cast<uint16_t>(std::stoi(m[1]));
}

std::string run_command(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

DemoServer start_demo_server(const std::string& binary, const std::string& dir, const std::string& tag,
                             const std::vector<std::string>& extra) {
    DemoServer s;
    std::vector<std::string> args{"--data", dir + "/data", "--demo", "--universe-port", "0", "--http-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    s.process = std::make_unique<Process>(binary, args, dir, tag);
    if (wait_until([&] { return port_in_log(s.process->err(), "world lagoon") != 0; }, 20000))
        s.universe = port_in_log(s.process->err(), "universe server");
    return s;
}

std::vector<std::string> browser_env() {
    const char* lsan = std::getenv("LSAN_OPTIONS");
    const std::string options = lsan ? lsan : "";
    return {"LSAN_OPTIONS=" + options + (options.empty() ? "" : ":") + "detect_leaks=0"};
}

std::unique_ptr<Process> start_browser(const std::string& binary, const std::string& dir, uint16_t universe_port,
                                       const std::string& settings) {
    const std::string prog = dir + "/prog";
    std::filesystem::create_directories(prog);
    std::filesystem::copy_file(binary, prog + "/zelnik", std::filesystem::copy_options::overwrite_existing);
    write_file(prog + "/zelnik.ini",
               "[universe]\nhost=127.0.0.1\nport=" + std::to_string(universe_port) + "\n" + settings);
    setenv("ZELNIK_UNATTENDED", "1", 1);
    return std::make_unique<Process>(prog + "/zelnik", std::vector<std::string>{}, prog, "browser", browser_env());
}

bool wait_until(const std::function<bool()>& done, int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

bool wait_for_text(const std::string& path, const std::string& text, int ms) {
    return wait_until([&] { return read_file(path).find(text) != std::string::npos; }, ms);
}

}  // namespace zk::test
