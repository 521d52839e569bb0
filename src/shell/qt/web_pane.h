// The web pane: a frame right of the 3D view that holds a Qt WebEngine view
// while it is shown. The engine starts only when the pane first opens, and
// the view (with its renderer) goes when the pane is hidden.
#pragma once

#include <QElapsedTimer>
#include <QFrame>
#include <string>

class QWebEngineProfile;
class QWebEngineView;

namespace zk {

class WebPane : public QFrame {
    Q_OBJECT
public:
    explicit WebPane(QWidget* parent);
    ~WebPane() override;

    // Makes the view (false when it could not be made) or drops it.
    bool create_control();
    void destroy_control();
    QWebEngineView* view() const { return view_; }

    void navigate(const std::string& address);
    void back();
    void forward();
    void stop();
    void reload();
    bool busy() const { return busy_; }
    void set_busy() { busy_ = true; }
    // Whether the user clicked or pressed a key in the page a moment ago;
    // a navigation takes that input once.
    bool take_user_input();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWebEngineProfile* profile_ = nullptr;
    QWebEngineView* view_ = nullptr;
    bool busy_ = false;
    QElapsedTimer clock_;
    qint64 input_at_ = -1;
};

// "Open Web Location": the edit starts with `address`; true on OK with the
// typed address in it.
bool web_location_dialog(QWidget* parent, std::string& address);

}  // namespace zk
