// The Settings sheet: six pages (Performance, Disk Usage, Proxy, Sound,
// Downloads, Advanced) with OK, Cancel and Apply. Each page shows what its
// module answers and hands the values back to it; no setting is decided here.
#pragma once

#include <QDialog>

#include <functional>
#include <vector>

class QDialogButtonBox;
class QTabWidget;

namespace zk {

class SettingsSheet : public QDialog {
public:
    explicit SettingsSheet(QWidget* parent = nullptr);

    // Applies the pages whose controls were touched. False, with nothing
    // applied, when the proxy port is not a port number.
    bool apply();

    // A page's builder makes its controls on `page`, calls `touched` when
    // the user changes one, and answers the page's Apply (false: refused,
    // nothing changed).
    using Builder = std::function<bool()> (*)(QWidget* page, const std::function<void()>& touched);

private:
    struct Page {
        bool touched = false;
        std::function<bool()> apply;
    };
    int add_page(const QString& title, Builder build);

    QTabWidget* tabs_;
    QDialogButtonBox* buttons_;
    std::vector<Page> pages_;
    int proxy_page_ = -1;
};

// Runs the sheet modally over `parent`.
void settings_sheet_exec(QWidget* parent);

}  // namespace zk
