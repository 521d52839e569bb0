// The 3D view of the main window: an OpenGL widget that owns the GL
// context, installs the rendering library's device, shows the camera's
// image and passes mouse clicks to the viewport module.
#pragma once

#include <QOpenGLWidget>
#include <memory>

namespace zk {

class ViewportDevice;

class ViewportWidget : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit ViewportWidget(QWidget* parent);
    ~ViewportWidget() override;

    // False until the GL context is up and the shaders are built.
    bool device_ready() const { return ready_; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<ViewportDevice> device_;
    bool ready_ = false;
    QMetaObject::Connection context_gone_;
};

}  // namespace zk
