// One console print with the console full (30,000 characters held, so that
// every print also drops the oldest line), through the main window's real
// text pane, shown, against the same prints with no pane (the module's own
// share). Needs a display for the window (scripts/bench runs under Xvfb);
// without one the pane is not shown.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <string>

#include "people/console.h"
#include "platform/ui.h"
#include "results.h"
#include "shell/qt/qt_ui.h"

using namespace zk;

namespace {

constexpr int kPrints = 2000;

// Microseconds a print, with the console filled first.
double per_print() {
    console_term();
    const std::string line = "Somebody: a line of chat about as long as people type them, no more";
    int i = 0;
    while (console_count() <= kConsoleTrimAt) console_print(i++ % 5, line);
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < kPrints; ++n) console_print(n % 5, line + " " + std::to_string(n));
    // What the pane put off until the loop runs (layout, the repaint).
    QApplication::processEvents();
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    return took.count() / kPrints;
}

class NoPane : public QtUi {
public:
    void console_append(const std::string&, uint32_t, bool, bool) override {}
    void console_remove(int) override {}
};

}  // namespace

int main(int argc, char** argv) {
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (!display) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QtUi ui;
    ui_set_port(&ui);
    if (!ui.main_window_create("console bench", WindowPlacement{})) return 1;
    if (display) ui.main_window_show(false);
    const double pane = per_print();
    NoPane bare;
    ui_set_port(&bare);
    const double module = per_print();
    ui_set_port(&ui);
    std::printf("console print, 30000 characters held: %.1f us (module alone %.2f us)\n", pane, module);
    bench_result("console print, 30000 characters held", pane, "us", "module alone", module, "<= 1000");
    ui.main_window_destroy();
    ui_set_port(nullptr);
    return 0;
}
