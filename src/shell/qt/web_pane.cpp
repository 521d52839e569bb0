#include "shell/qt/web_pane.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "shell/web.h"

namespace zk {

namespace {

// A click counts for the navigation that follows it this long.
constexpr qint64 kInputMs = 2000;

// The page asks the web module before it follows a link. Qt WebEngine asks
// after the call that started a move has returned, so the moves the pane
// makes itself (loads the web module decided on, history moves, reloads)
// pass here rather than through the module's own_move flag.
class PanePage : public QWebEnginePage {
public:
    PanePage(QWebEngineProfile* profile, WebPane* pane) : QWebEnginePage(profile, pane), pane_(pane) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool main_frame) override {
        bool allowed = main_frame && (type == NavigationTypeTyped || type == NavigationTypeBackForward ||
                                      type == NavigationTypeReload);
        if (!allowed) {
            const bool clicked = main_frame && type == NavigationTypeLinkClicked && pane_->take_user_input();
            allowed = web_navigation(url.toString(QUrl::FullyEncoded).toStdString(), clicked, main_frame) ==
                      WebVerdict::allow;
        }
        if (allowed && main_frame) {
            pane_->set_busy();
            // Only the program's own pages (the only files the web module
            // lets through) may follow links to each other.
            settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, url.isLocalFile());
        }
        return allowed;
    }
    // Pages open no windows.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    WebPane* pane_;
};

}  // namespace

WebPane::WebPane(QWidget* parent) : QFrame(parent) {
    setObjectName("web_pane");
    setWindowTitle("Quorvane Web Browser");
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    hide();
    clock_.start();
}

WebPane::~WebPane() { destroy_control(); }

bool WebPane::create_control() {
    if (view_) return true;
    if (!profile_) {
        // Nothing a page leaves behind outlives the program: no disk cache,
        // no cookies on disk.
        profile_ = new QWebEngineProfile(this);
        QWebEngineSettings* s = profile_->settings();
        // Pages come from strangers: they reach no local file, run no
        // plugin, open no window and take no focus from the 3D view.
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
        s->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
        s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
        s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
        s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
        s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
        s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
        s->setAttribute(QWebEngineSettings::WebGLEnabled, false);
        s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        connect(profile_, &QWebEngineProfile::downloadRequested, this,
                [](QWebEngineDownloadRequest* download) { download->cancel(); });
    }
    view_ = new QWebEngineView(this);
    view_->setObjectName("web_view");
    auto* page = new PanePage(profile_, this);
    page->setParent(view_);
    view_->setPage(page);
    connect(page, &QWebEnginePage::featurePermissionRequested, page,
            [page](const QUrl& origin, QWebEnginePage::Feature feature) {
                page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
    connect(page, &QWebEnginePage::fileSystemAccessRequested, page,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    connect(page, &QWebEnginePage::fullScreenRequested, page,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(page, &QWebEnginePage::loadStarted, this, [this] { busy_ = true; });
    connect(page, &QWebEnginePage::loadProgress, this,
            [](int percent) { web_status("Opening page... " + std::to_string(percent) + "%"); });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        busy_ = false;
        web_status(ok ? "Done" : "");
    });
    connect(page, &QWebEnginePage::linkHovered, this,
            [](const QString& url) { web_status(url.toStdString()); });
    view_->setGeometry(contentsRect());
    view_->show();
    busy_ = false;
    input_at_ = -1;
    qApp->installEventFilter(this);
    return true;
}

void WebPane::destroy_control() {
    if (!view_) return;
    qApp->removeEventFilter(this);
    delete view_;  // and its page, before the profile
    view_ = nullptr;
    busy_ = false;
}

void WebPane::navigate(const std::string& address) {
    if (!view_) return;
    busy_ = true;
    view_->page()->load(QUrl(QString::fromStdString(address), QUrl::StrictMode));
}

void WebPane::back() {
    if (view_) view_->page()->triggerAction(QWebEnginePage::Back);
}

void WebPane::forward() {
    if (view_) view_->page()->triggerAction(QWebEnginePage::Forward);
}

void WebPane::stop() {
    if (view_) view_->page()->triggerAction(QWebEnginePage::Stop);
}

void WebPane::reload() {
    if (view_) view_->page()->triggerAction(QWebEnginePage::Reload);
}

bool WebPane::take_user_input() {
    const bool recent = input_at_ >= 0 && clock_.elapsed() - input_at_ <= kInputMs;
    input_at_ = -1;
    return recent;
}

bool WebPane::eventFilter(QObject* watched, QEvent* event) {
    // The user's own clicks and keys in the page: the view's inner widgets
    // get them, so they are watched for on their way.
    const QEvent::Type type = event->type();
    if (view_ && (type == QEvent::MouseButtonRelease || type == QEvent::KeyPress) && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        bool user = type == QEvent::MouseButtonRelease
                        ? static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton
                        : static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                              static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter ||
                              static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space;
        if (user && (widget == view_ || view_->isAncestorOf(widget))) input_at_ = clock_.elapsed();
    }
    return QFrame::eventFilter(watched, event);
}

void WebPane::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    if (view_) view_->setGeometry(contentsRect());
}

bool web_location_dialog(QWidget* parent, std::string& address) {
    QDialog d(parent);
    d.setObjectName("open_web_location");
    d.setWindowTitle("Open Web Location");
    auto* layout = new QVBoxLayout(&d);
    auto* label = new QLabel("Type the address of a web page:", &d);
    auto* edit = new QLineEdit(QString::fromStdString(address), &d);
    edit->setObjectName("location");
    edit->setMaxLength(2048);
    edit->setMinimumWidth(320);
    edit->selectAll();
    label->setBuddy(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(buttons);
    if (d.exec() != QDialog::Accepted) return false;
    address = edit->text().trimmed().toStdString();
    return true;
}

}  // namespace zk
