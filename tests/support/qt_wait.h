// Runs the Qt event loop until `done` answers true or `ms` pass.
#pragma once

#include <QApplication>
#include <QElapsedTimer>

#include <functional>

namespace zk::test {

inline bool spin_until(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

}  // namespace zk::test
