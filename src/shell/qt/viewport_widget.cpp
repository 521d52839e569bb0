#include <epoxy/gl.h>  // before Qt's GL headers

#include "shell/qt/viewport_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QPainter>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <link.h>

#include "common/messages.h"
#include "people/balloon.h"
#include "render/gl/gl_device.h"
#include "shell/qt/main_window.h"
#include "view/camera.h"
#include "view/viewport.h"

namespace zk {

// The device makes the widget's context current before touching GL, and
// asks for a repaint when a camera image is shown.
class ViewportDevice : public GlDevice {
public:
    explicit ViewportDevice(QOpenGLWidget* w) : widget_(w) {}

protected:
    void make_current() override { widget_->makeCurrent(); }
    void shown() override { widget_->update(); }

private:
    QOpenGLWidget* widget_;
};

namespace {

// Mesa unloads its driver with the last context, at exit, and what the
// driver still held then shows up as anonymous leaks under the sanitizers.
// Keeping the driver loaded for the life of the process costs nothing.
void keep_gl_driver_loaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "_dri.so"))
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

}  // namespace

ViewportWidget::ViewportWidget(QWidget* parent) : QOpenGLWidget(parent) {
    setObjectName("view_area");
    setWindowTitle(QString(load_message(8)) + " Viewport");
    setFocusPolicy(Qt::StrongFocus);
    QSurfaceFormat f = format();
    f.setVersion(3, 3);
    f.setProfile(QSurfaceFormat::CoreProfile);
    f.setSwapInterval(1);  // paced to the display
    setFormat(f);
    device_ = std::make_unique<ViewportDevice>(this);
}

ViewportWidget::~ViewportWidget() {
    // The context goes after this object; its farewell must not reach us.
    QObject::disconnect(context_gone_);
    if (ready_) {
        if (rw_device() == device_.get()) rw_set_device(nullptr);
        device_->release();
        doneCurrent();
    }
}

void ViewportWidget::initializeGL() {
    // The context is made anew when the widget moves to another native
    // window; everything the device kept belongs to the old one.
    QObject::disconnect(context_gone_);
    context_gone_ = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        if (rw_device() == device_.get()) rw_set_device(nullptr);
        makeCurrent();
        device_->release();
        doneCurrent();
        ready_ = false;
    });
    keep_gl_driver_loaded();
    ready_ = device_->initialize();
    if (ready_) rw_set_device(device_.get());
    else std::fputs("zelnik: OpenGL 3.3 shaders could not be built; the 3D view stays empty\n", stderr);
}

void ViewportWidget::resizeGL(int w, int h) {
    // The cameras keep a 2-pixel frame on each side out of their viewport;
    // the viewport is this widget's whole area.
    const qreal r = devicePixelRatioF();
    if (w > 0 && h > 0) camera_resize(int(w * r) + 4, int(h * r) + 4);
}

void ViewportWidget::paintGL() {
    const qreal r = devicePixelRatioF();
    const int w = int(width() * r), h = int(height() * r);
    if (!ready_ || !device_->present(defaultFramebufferObject(), w, h)) {
        // Nothing drawn yet: the background colour alone.
        const RwCamera* c = camera_main();
        glClearColor(c ? c->bg_r : 0, c ? c->bg_g : 0, c ? c->bg_b : 0.7f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    if (!balloons_.empty()) paint_balloons();
}

void ViewportWidget::set_balloons(const std::vector<BalloonDraw>& balloons) {
    balloons_ = balloons;
    update();
}

// Each text centred in its rectangle and broken between words, not clipped,
// in white with a black shadow below right.
void ViewportWidget::paint_balloons() {
    // The painter uploads its glyphs in rows of whole words; the rendering
    // library leaves byte rows set.
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    QPainter painter(this);
    painter.setFont(font());
    const qreal r = devicePixelRatioF();
    const int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap | Qt::TextDontClip;
    for (const BalloonDraw& b : balloons_) {
        const QRectF box(b.left / r, b.top / r, kBalloonWidth / r, kBalloonHeight / r);
        const QString text = QString::fromUtf8(b.text.data(), qsizetype(b.text.size()));
        painter.setPen(Qt::black);
        painter.drawText(box, flags, text);
        painter.setPen(Qt::white);
        painter.drawText(box.translated(-1, -1), flags, text);
    }
    painter.end();
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}

void ViewportWidget::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        viewport_left_down(p.x(), p.y());
        // The main window sees the press as well, as it did before.
        event->ignore();
        return;
    }
    if (event->button() == Qt::RightButton) {
        viewport_right_down(p.x(), p.y());
        return;
    }
    event->ignore();
}

// Movement keys act while the view has the focus; others go up to the
// main window.
void ViewportWidget::keyPressEvent(QKeyEvent* event) {
    if (!shell_movement_key(event, true)) event->ignore();
}

void ViewportWidget::keyReleaseEvent(QKeyEvent* event) {
    if (!shell_movement_key(event, false)) event->ignore();
}

}  // namespace zk
