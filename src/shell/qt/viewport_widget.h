// The 3D view of the main window: an OpenGL widget that owns the GL
// context, installs the rendering library's device, shows the camera's
// image with the balloons over it and passes mouse clicks to the viewport
// module.
#pragma once

#include <QOpenGLWidget>
#include <memory>
#include <vector>

#include "platform/ui.h"

namespace zk {

class ViewportDevice;

class ViewportWidget : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit ViewportWidget(QWidget* parent);
    ~ViewportWidget() override;

    // False until the GL context is up and the shaders are built.
    bool device_ready() const { return ready_; }
    // Balloons painted over the camera's image from now on.
    void set_balloons(const std::vector<BalloonDraw>& balloons);

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void paint_balloons();

    std::unique_ptr<ViewportDevice> device_;
    std::vector<BalloonDraw> balloons_;
    bool ready_ = false;
    QMetaObject::Connection context_gone_;
};

}  // namespace zk
